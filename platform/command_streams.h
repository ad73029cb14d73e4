// The commands through the command interpreter that are running now, for both sides of
// platform_popen and platform_pclose: each command's stream with its process (a process id, or a
// process handle, as an integer).
#pragma once

#include <cstdint>
#include <cstdio>

// Notes a command's stream and its process.
void command_streams_add(FILE *stream, intptr_t process);

// Forgets the stream and gives its process. False when the stream is no command's (never opened by
// platform_popen, or closed already).
bool command_streams_take(FILE *stream, intptr_t *process);
