// Inside the platform layer: how the tool starts the programs it runs (the commands through the
// command interpreter and the programs with a drained pipe), so that the events the terminal or the
// console sends to the tool (Ctrl+C, Ctrl+Break, a hang-up, the console's close) never reach them: a
// second Ctrl+C during an interrupt's clean-up must not kill the commands that clean up.
#pragma once

#include "platform.h"

#ifdef _WIN32
#include <windows.h>

#include <mutex>

// Starts command_line with the given standard handles (null: none) in a console of its own that
// shows no window (CREATE_NO_WINDOW), so that no event of the tool's console reaches it or the
// programs it starts in turn; environment is a block for CreateProcessA, or null for the caller's.
// The handles must be inheritable. Returns the process's handle (the caller closes it), or null.
HANDLE start_child_process(char *command_line, HANDLE input, HANDLE output, HANDLE errors, char *environment);

// Held from the making of a child's inheritable pipe ends until they are closed after its start, so
// that no other child started meanwhile inherits them (and keeps a pipe open past its program's end).
std::mutex &child_start_lock();

// Hands the read end of a pipe to a detached thread that feeds each line to on_line (null: the
// bytes are dropped) until every writer has closed it, then closes it; closes it when no thread can
// be started.
void start_draining(HANDLE read_end, spawn_line_hook on_line, void *context);

#else
#include <spawn.h>
#include <sys/types.h>

// posix_spawn of the program with the caller's dispositions, in a process group of its own: the
// terminal signals its foreground group, which is the tool's, never the children's.
int spawn_in_own_group(pid_t *pid, const char *program, const posix_spawn_file_actions_t *actions,
                       char *const argv[], char *const envp[]);
#endif
