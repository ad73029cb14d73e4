// Win32 side of the process, thread and interrupt services: programs started with their output
// into a pipe that a thread drains, each without the tool's console, detached threads, and the
// console control handler. The commands through the command interpreter are in commands_win32.cpp.
#include "child_process.h"
#include "pipe_lines.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// ---- Processes and threads ----

namespace {

// The read end of a started program's pipe, with the lines read from it so far.
struct pipe_drain {
    HANDLE read_end;
    pipe_lines lines;
};

// Reads the pipe until the program and every other writer have closed it, then closes it.
void drain_pipe(void *argument)
{
    auto *drain = static_cast<pipe_drain *>(argument);
    char chunk[4096];
    DWORD got;
    while (ReadFile(drain->read_end, chunk, sizeof chunk, &got, nullptr) && got > 0)
        pipe_lines_feed(&drain->lines, chunk, got);
    CloseHandle(drain->read_end);
    delete drain;
}

// The caller's environment block for CreateProcessA with entry ("NAME=value") in place of any
// entry of the same name (names compared without case, as Windows does). Empty when entry is null
// or the caller's block cannot be read: the program then gets the caller's environment as it is.
std::string environment_block_with(const char *entry)
{
    std::string block;
    char *own = entry != nullptr ? GetEnvironmentStringsA() : nullptr;
    if (own == nullptr)
        return block;
    size_t name_len = std::strcspn(entry, "=") + 1;  // "NAME="
    for (const char *e = own; *e != '\0'; e += std::strlen(e) + 1)
        if (_strnicmp(e, entry, name_len) != 0)
            block.append(e, std::strlen(e) + 1);
    FreeEnvironmentStringsA(own);
    block.append(entry, std::strlen(entry) + 1);
    block.push_back('\0');
    return block;
}

} // namespace

void start_draining(HANDLE read_end, spawn_line_hook on_line, void *context)
{
    auto *drain = new pipe_drain{read_end, {on_line, context, {}, 0}};
    if (platform_thread_start(drain_pipe, drain) == 0) {
        CloseHandle(read_end);
        delete drain;
    }
}

std::mutex &child_start_lock()
{
    static std::mutex *lock = new std::mutex;  // never destroyed: a thread may start a child at exit
    return *lock;
}

HANDLE start_child_process(char *command_line, HANDLE input, HANDLE output, HANDLE errors, char *environment)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE, INHERIT_PARENT_AFFINITY | CREATE_NO_WINDOW,
                        environment, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

int platform_spawn_piped(const char *dir, char *command_line, spawn_line_hook on_line, void *context,
                         const char *env_entry)
{
    SECURITY_ATTRIBUTES inherit = {};
    inherit.nLength = sizeof inherit;  // 12 on 32-bit Windows, 24 here
    inherit.bInheritHandle = TRUE;
    HANDLE read_end, write_end;
    std::unique_lock<std::mutex> starting(child_start_lock());
    if (!CreatePipe(&read_end, &write_end, &inherit, 0))
        return -1;
    // Only the write end goes to the program; the tool keeps the read end to itself.
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

    // The directory is changed only when the current one could be saved first, so that it can
    // always be changed back.
    char saved[MAX_PATH + 1];
    bool moved = false;
    if (dir != nullptr) {
        DWORD n = GetCurrentDirectoryA(sizeof saved, saved);
        moved = n > 0 && n < sizeof saved && SetCurrentDirectoryA(dir);
    }

    std::string environment = environment_block_with(env_entry);
    HANDLE process = start_child_process(command_line, nullptr, write_end, write_end,
                                         environment.empty() ? nullptr : &environment[0]);
    if (moved)
        SetCurrentDirectoryA(saved);
    CloseHandle(write_end);
    starting.unlock();
    if (process == nullptr) {
        CloseHandle(read_end);
        return -2;
    }
    CloseHandle(process);
    start_draining(read_end, on_line, context);
    return 0;
}

namespace {

struct thread_start {
    void (*body)(void *);
    void *argument;
};

DWORD WINAPI thread_trampoline(LPVOID p)
{
    auto *given = static_cast<thread_start *>(p);
    thread_start start = *given;
    delete given;
    start.body(start.argument);
    return 0;
}

} // namespace

unsigned long platform_thread_start(void (*body)(void *), void *argument)
{
    auto *start = new thread_start{body, argument};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, thread_trampoline, start, 0, &id);
    if (thread == nullptr) {
        delete start;
        return 0;
    }
    CloseHandle(thread);  // detached: nobody joins it
    return id;
}

// ---- Interrupts: the console control handler ----

namespace {

std::atomic<interrupt_hook> g_interrupt_hook{nullptr};

// The events the tool handles; null for the others (log-off and shut-down, which a console
// program that loads user32 never receives here anyway).
const char *console_event_name(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
        return "CTRL_C_EVENT";
    case CTRL_BREAK_EVENT:
        return "CTRL_BREAK_EVENT";
    case CTRL_CLOSE_EVENT:
        return "CTRL_CLOSE_EVENT";
    }
    return nullptr;
}

// Runs on a thread the system makes for each event. The hook ends the process; should it return,
// the event counts as handled.
BOOL WINAPI on_console_event(DWORD type)
{
    const char *name = console_event_name(type);
    interrupt_hook hook = g_interrupt_hook.load();
    if (name == nullptr || hook == nullptr)
        return FALSE;
    hook(static_cast<int>(type), name);
    return TRUE;
}

} // namespace

int platform_watch_interrupts(interrupt_hook hook)
{
    static std::atomic<bool> installed{false};
    g_interrupt_hook.store(hook);
    if (installed.exchange(true))
        return 0;
    if (SetConsoleCtrlHandler(on_console_event, TRUE))
        return 0;
    installed.store(false);
    return -1;
}

void platform_end_interrupted(int)
{
    std::fflush(stdout);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}
