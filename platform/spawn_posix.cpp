// POSIX side of the process, thread and interrupt services (the Linux port): programs started with
// their output into a pipe that a thread drains, detached threads, and the interrupt signals handed
// to a watcher thread. The commands through the shell are in commands_posix.cpp.
#include "child_process.h"
#include "pipe_lines.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char **environ;

// ---- Processes and threads ----

namespace {

// Splits a command line into words: blanks separate, double quotes group and are dropped.
std::vector<std::string> split_command_line(const char *line)
{
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (const char *p = line; *p != '\0'; p++) {
        if (*p == '"') {
            quoted = !quoted;
            in_word = true;
        } else if ((*p == ' ' || *p == '\t') && !quoted) {
            if (in_word)
                words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += *p;
            in_word = true;
        }
    }
    if (in_word)
        words.push_back(word);
    return words;
}

// The read end of a started program's pipe, with the lines read from it so far.
struct pipe_drain {
    int read_end;
    pipe_lines lines;
};

// Reads a pipe until every writer has closed it, then closes it.
void drain_pipe(void *argument)
{
    auto *drain = static_cast<pipe_drain *>(argument);
    char chunk[4096];
    for (;;) {
        ssize_t n = read(drain->read_end, chunk, sizeof chunk);
        if (n > 0)
            pipe_lines_feed(&drain->lines, chunk, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(drain->read_end);
    delete drain;
}

// Hands the read end to a draining thread; closes it when no thread can be started.
void start_draining(int read_end, spawn_line_hook on_line, void *context)
{
    auto *drain = new pipe_drain{read_end, {on_line, context, {}, 0}};
    if (platform_thread_start(drain_pipe, drain) == 0) {
        close(read_end);
        delete drain;
    }
}

// The caller's environment for a program, with entry ("NAME=value") in place of any entry of the
// same name when given. The texts stay the caller's.
std::vector<char *> environment_with(const char *entry)
{
    std::vector<char *> env;
    size_t name_len = entry != nullptr ? std::strcspn(entry, "=") + 1 : 0;  // "NAME="
    for (char **e = environ; *e != nullptr; e++)
        if (entry == nullptr || std::strncmp(*e, entry, name_len) != 0)
            env.push_back(*e);
    if (entry != nullptr)
        env.push_back(const_cast<char *>(entry));
    env.push_back(nullptr);
    return env;
}

int spawn_into_pipe(char *command_line, int write_end, const char *env_entry)
{
    std::vector<std::string> words = split_command_line(command_line);
    if (words.empty())
        return -2;
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, write_end, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, write_end, STDERR_FILENO);
    pid_t pid;
    std::vector<char *> env = environment_with(env_entry);
    int rc = spawn_in_own_group(&pid, argv[0], &actions, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? 0 : -2;
}

} // namespace

int platform_spawn_piped(const char *dir, char *command_line, spawn_line_hook on_line, void *context,
                         const char *env_entry)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return -1;

    char saved[PATH_MAX];
    bool moved = false;
    if (dir != nullptr && getcwd(saved, sizeof saved) != nullptr)
        moved = chdir(dir) == 0;
    int rc = spawn_into_pipe(command_line, ends[1], env_entry);
    if (moved && chdir(saved) != 0)
        std::perror("chdir");

    close(ends[1]);
    if (rc != 0)
        close(ends[0]);
    else
        start_draining(ends[0], on_line, context);
    return rc;
}

namespace {

struct thread_start {
    void (*body)(void *);
    void *argument;
};

void *thread_trampoline(void *p)
{
    auto *given = static_cast<thread_start *>(p);
    thread_start start = *given;
    delete given;
    start.body(start.argument);
    return nullptr;
}

} // namespace

unsigned long platform_thread_start(void (*body)(void *), void *argument)
{
    auto *start = new thread_start{body, argument};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, thread_trampoline, start) != 0) {
        delete start;
        return 0;
    }
    pthread_detach(thread);
    return static_cast<unsigned long>(thread);
}

// ---- Interrupts: a self-pipe read by a watcher thread ----

namespace {

// The pipe from the signal handler to the watcher thread; made once per process.
int g_interrupt_pipe[2] = {-1, -1};
std::atomic<interrupt_hook> g_interrupt_hook{nullptr};
const int INTERRUPT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

const char *signal_name(int sig)
{
    switch (sig) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    }
    return "signal";
}

// Only what is safe in a signal handler: one write, errno kept. A full pipe drops the byte.
void on_interrupt_signal(int sig)
{
    int saved = errno;
    unsigned char number = static_cast<unsigned char>(sig);
    ssize_t written = write(g_interrupt_pipe[1], &number, 1);
    (void)written;
    errno = saved;
}

// The watcher thread: hands each signal read from the pipe to the hook, which ends the process.
void watch_interrupt_pipe(void *)
{
    for (;;) {
        unsigned char number;
        ssize_t n = read(g_interrupt_pipe[0], &number, 1);
        if (n == 1) {
            interrupt_hook hook = g_interrupt_hook.load();
            if (hook != nullptr)
                hook(number, signal_name(number));
        } else if (n == 0 || errno != EINTR) {
            return;
        }
    }
}

} // namespace

int platform_watch_interrupts(interrupt_hook hook)
{
    g_interrupt_hook.store(hook);
    if (g_interrupt_pipe[0] >= 0)
        return 0;  // the watcher is in place already
    // Close-on-exec: no program the tool starts holds the pipe. The handler's end never blocks.
    if (pipe2(g_interrupt_pipe, O_CLOEXEC) != 0 || fcntl(g_interrupt_pipe[1], F_SETFL, O_NONBLOCK) != 0 ||
        platform_thread_start(watch_interrupt_pipe, nullptr) == 0) {
        close(g_interrupt_pipe[0]);
        close(g_interrupt_pipe[1]);
        g_interrupt_pipe[0] = g_interrupt_pipe[1] = -1;
        return -1;
    }
    struct sigaction action = {};
    action.sa_handler = on_interrupt_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A signal ignored at start stays ignored: the tool runs under nohup, or as a background job of
    // a shell, which ignores the terminal's Ctrl+C for it.
    for (int sig : INTERRUPT_SIGNALS) {
        struct sigaction inherited = {};
        if (sigaction(sig, nullptr, &inherited) != 0 || inherited.sa_handler != SIG_IGN)
            sigaction(sig, &action, nullptr);
    }
    return 0;
}

void platform_end_interrupted(int code)
{
    std::fflush(stdout);
    std::signal(code, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, code);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(code);
    _exit(128 + code);  // a signal whose default action does not end the process
}
