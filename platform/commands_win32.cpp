// Win32 side of the commands run through the command interpreter ("cmd.exe /c"), each started as
// the tool starts every program (child_process.h): without the tool's console, so that its Ctrl+C,
// Ctrl+Break and close never reach the command. The stream the caller reads or writes is a pipe, as
// _popen gives it (text mode); what the command prints for the console comes through a pipe of its own, which
// a thread drains onto the tool's standard output or error.
#include "child_process.h"
#include "command_streams.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Prints one line of a command's console output on the tool's stream given as the context.
void print_line(const char *line, void *context)
{
    FILE *out = static_cast<FILE *>(context);
    std::fprintf(out, "%s\n", line);
    std::fflush(out);
}

// "cmd.exe /c command", as _popen composes it (COMSPEC names the interpreter when set).
std::string interpreter_line(const char *command)
{
    const char *comspec = std::getenv("COMSPEC");
    std::string line = comspec != nullptr && comspec[0] != '\0' ? comspec : "cmd.exe";
    return line + " /c " + command;
}

// The pipe ends of a command, the caller's first: for "r" its output, for "w" its input; and the
// read end of what it prints for the console, with the command's write end of it.
struct command_pipes {
    HANDLE mine = nullptr, theirs = nullptr;
    HANDLE console_read = nullptr, console_write = nullptr;
};

// Makes both pipes, only the command's ends inheritable. False (nothing left open) when one fails.
bool make_pipes(command_pipes &pipes, bool reading)
{
    SECURITY_ATTRIBUTES inherit = {};
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    HANDLE read_end, write_end;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0))
        return false;
    if (!CreatePipe(&pipes.console_read, &pipes.console_write, &inherit, 0)) {
        CloseHandle(read_end);
        CloseHandle(write_end);
        return false;
    }
    pipes.mine = reading ? read_end : write_end;
    pipes.theirs = reading ? write_end : read_end;
    SetHandleInformation(pipes.mine, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(pipes.console_read, HANDLE_FLAG_INHERIT, 0);
    return true;
}

// Starts the command on its pipes and closes its ends here. The process, or null (the caller's
// ends then closed too).
HANDLE start_command(const char *command, command_pipes &pipes, bool reading)
{
    std::string line = interpreter_line(command);
    HANDLE process = start_child_process(&line[0], reading ? nullptr : pipes.theirs,
                                         reading ? pipes.theirs : pipes.console_write, pipes.console_write, nullptr);
    CloseHandle(pipes.theirs);
    CloseHandle(pipes.console_write);
    if (process == nullptr) {
        CloseHandle(pipes.mine);
        CloseHandle(pipes.console_read);
    }
    return process;
}

} // namespace

FILE *platform_popen(const char *command, const char *mode)
{
    bool reading = mode[0] == 'r';
    command_pipes pipes;
    HANDLE process;
    {
        std::lock_guard<std::mutex> starting(child_start_lock());
        if (!make_pipes(pipes, reading))
            return nullptr;
        process = start_command(command, pipes, reading);
    }
    if (process == nullptr)
        return nullptr;
    // "r": its errors reach the tool's; "w": all it prints is for the console.
    start_draining(pipes.console_read, print_line, reading ? stderr : stdout);
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(pipes.mine), (reading ? _O_RDONLY : _O_WRONLY) | _O_TEXT);
    FILE *stream = fd >= 0 ? _fdopen(fd, reading ? "r" : "w") : nullptr;
    if (stream == nullptr) {
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(pipes.mine);
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
        return nullptr;
    }
    command_streams_add(stream, reinterpret_cast<intptr_t>(process));
    return stream;
}

int platform_pclose(FILE *stream)
{
    intptr_t taken = 0;
    if (!command_streams_take(stream, &taken))
        return -1;
    HANDLE process = reinterpret_cast<HANDLE>(taken);
    std::fclose(stream);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    int result = GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
    CloseHandle(process);
    return result;
}
