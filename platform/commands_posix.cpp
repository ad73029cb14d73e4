// POSIX side of the commands run through the command interpreter (sh -c), each in a process group
// of its own (child_process.h), its output or input through a pipe as popen gives it.
#include "child_process.h"
#include "command_streams.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// The wait status of the ended process, or -1.
int wait_for_end(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

} // namespace

int spawn_in_own_group(pid_t *pid, const char *program, const posix_spawn_file_actions_t *actions,
                       char *const argv[], char *const envp[])
{
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    int rc = posix_spawn(pid, program, actions, &attributes, argv, envp);
    posix_spawnattr_destroy(&attributes);
    return rc;
}

FILE *platform_popen(const char *command, const char *mode)
{
    bool reading = mode[0] == 'r';
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)  // close-on-exec: no other program the tool starts holds it
        return nullptr;
    int mine = reading ? ends[0] : ends[1], theirs = reading ? ends[1] : ends[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs, reading ? STDOUT_FILENO : STDIN_FILENO);
    // Outside the terminal's foreground group a read of the terminal would stop the command.
    if (reading)
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    char shell[] = "sh", option[] = "-c";
    char *argv[] = {shell, option, const_cast<char *>(command), nullptr};
    pid_t pid = 0;
    int rc = spawn_in_own_group(&pid, "/bin/sh", &actions, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(theirs);
    FILE *stream = rc == 0 ? fdopen(mine, reading ? "r" : "w") : nullptr;
    if (stream == nullptr) {
        close(mine);
        if (rc == 0)
            wait_for_end(pid);
        return nullptr;
    }
    command_streams_add(stream, pid);
    return stream;
}

int platform_pclose(FILE *stream)
{
    intptr_t pid = 0;
    if (!command_streams_take(stream, &pid))
        return -1;
    std::fclose(stream);
    return wait_for_end(static_cast<pid_t>(pid));
}
