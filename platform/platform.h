// Services of the operating system that the rest of the tree uses, in the tool's own terms.
// This is the one place that knows the platform; each service has a Win32 side
// (platform_win32.cpp, and spawn_win32.cpp for processes, threads and interrupts) and a POSIX side
// (platform_posix.cpp, spawn_posix.cpp), chosen by the build, and each side says there which system
// calls give the service. Socket services have their own header, socket.h; command texts and paths
// are in commands.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// ---- Files and directories ----

// Size in bytes of the file at path; 0 when path is null or the file cannot be examined. Sizes
// past 4 GiB wrap, as the 32-bit result dictates.
uint32_t file_size_of(const char *path);

// True when something exists at path.
bool platform_exists(const char *path);

// Creates one directory. 0 on success.
int platform_mkdir(const char *path);

// True when path names a directory.
bool platform_is_directory(const char *path);

// Lets the file at path be run as a program. 0 on success.
int platform_make_executable(const char *path);

// Calls visit for each entry name of the directory but "." and "..". Returns 0, or -1 when the
// directory cannot be opened (nothing is visited then).
int platform_list_directory(const char *dir, void (*visit)(const char *name, void *context), void *context);

// Writes the whole buffer to a new file at path, replacing any file there; with flush_to_disk, the
// bytes reach the disk before the file is closed (fsync, FlushFileBuffers), so that a power loss
// after the call cannot leave the file shorter. Returns 0 when every byte was written (and
// flushed) and the file closed, otherwise the system's error code (> 0, for system_error_text).
int platform_write_new_file(const char *path, const void *bytes, uint32_t size, bool flush_to_disk = false);

// When the file at path was last written, in milliseconds since 1970 (UTC); -1 when it cannot be
// examined.
int64_t file_modified_utc_ms(const char *path);

// Gives the file at path the content bytes in one step: written whole to "<path>.tmp" first and
// flushed to disk, which then replaces it (platform_replace_file), so that neither a reader nor a
// power loss ever leaves half of it. 0, or -1 when it cannot be written (the file at path is then
// as it was, and no ".tmp" file is left).
int replace_file_content(const char *path, const void *bytes, uint32_t size);

// The whole file at path into out (appended). False when it cannot be opened or read, or holds more
// than max_bytes (out then holds a part of it).
bool read_file_bounded(const char *path, size_t max_bytes, std::string &out);

// ---- The executable's own resources ----

// What a resource lookup found.
enum resource_result {
    RESOURCE_FOUND,
    RESOURCE_NAME_NOT_FOUND,  // the executable has no resource of that id
    RESOURCE_TYPE_NOT_FOUND,  // the executable has no resource of that type at all
    RESOURCE_FAILED,          // any other failure: its system code is in *system_code
};

// The bytes of the executable's own raw-data resource with this id, which the build put there.
// On RESOURCE_FOUND, bytes and size describe it; on RESOURCE_FAILED, system_code holds the
// system's number for the failure.
resource_result platform_resource(int id, const void **bytes, uint32_t *size, int *system_code);

// ---- Console and user interface ----

// What a message box shows and which buttons it offers.
enum box_style {
    BOX_STYLE_ERROR,    // error icon, OK
    BOX_STYLE_PLAIN,    // no icon, OK
    BOX_STYLE_WARNING,  // warning icon, OK and Cancel
};

// The user's answer to a message box.
enum box_answer { BOX_ANSWER_OK, BOX_ANSWER_CANCEL };

// Shows a message box with no owner, in front of other windows, and waits for the answer. Cancel
// comes only from a box that offers it (also when the user closes it); every other end is OK.
box_answer platform_message_box(box_style style, const char *caption, const char *text);

// Sets the console title. Failures are ignored.
void platform_set_console_title(const char *title);

// How the tool's texts reach the system's text calls (message boxes, the console title and
// platform_console_line). TEXT_ANSI, the start: as they are, through the calls that read them in
// the system's code page. TEXT_WIDE_FROM_936: converted from code page 936 to the wide-character
// calls, so that Chinese texts read right whatever the system's code page. The Linux port's texts
// are UTF-8 and go out as they are either way.
enum text_route { TEXT_ANSI, TEXT_WIDE_FROM_936 };
void platform_set_text_route(text_route route);

// Prints text and a line end on standard output, as puts does; on a console with the wide route,
// through the wide console call (standard output redirected gets the bytes as they are). The line
// goes out at once, so that a console or a log read while the run goes on shows it.
void platform_console_line(const char *text);

// True when the user's interface language is Chinese as the tool speaks it: Chinese of the
// People's Republic (zh-CN) or of Taiwan (zh-TW); other Chinese variants count as English.
bool platform_ui_is_chinese();

// ---- Named mutex ----

struct platform_mutex;

// An existing mutex of this name, or null when there is none. Never waits.
platform_mutex *platform_mutex_open(const char *name);

// Creates the mutex, owned by the caller until it is closed or the process ends. Null when it
// cannot be created; *existed tells whether it already existed (the handle then names the other
// owner's mutex).
platform_mutex *platform_mutex_create(const char *name, bool *existed);

// Releases a handle from open or create; null is allowed.
void platform_mutex_close(platform_mutex *mutex);

// ---- Processes and threads ----

// Runs a command through the command interpreter / closes it and waits for its end. Null when the
// command cannot be started. As every program the tool starts, the command runs without the tool's
// console (Windows) or in a process group of its own (Linux): the terminal's or the console's
// interrupt events never reach it. "r": its output is the stream (on Windows, its errors reach the
// tool's standard error); "w": the stream is its input, its output goes where the tool's goes.
FILE *platform_popen(const char *command, const char *mode);
int platform_pclose(FILE *stream);

// Runs a command through the command interpreter and waits for it.
int platform_system(const char *command);

// Receives one line that a program started by platform_spawn_piped printed, without its line end
// ("\n" or "\r\n"), terminated. Runs on the pipe's draining thread.
using spawn_line_hook = void (*)(const char *line, void *context);

// The longest line a spawn_line_hook receives: the rest of a longer line is dropped.
const size_t SPAWN_LINE_MAX = 1023;

// Starts the program of command_line (first word; double quotes group words) with its standard
// output and standard error into an anonymous pipe, and returns without waiting. A detached thread
// drains the pipe so the program never blocks on it: it hands each complete line to on_line (with
// context, which must stay valid until the program and every program it started have ended), or
// discards the output when on_line is null. When dir is given the program is started with that
// current directory and the caller's current directory is the same afterwards, on every road. The
// program gets the caller's environment, with env_entry ("NAME=value") set in it when given; the
// caller's own environment stays as it is.
// Returns 0 started, -1 the pipe cannot be created, -2 the process cannot be created.
int platform_spawn_piped(const char *dir, char *command_line, spawn_line_hook on_line, void *context,
                         const char *env_entry);

// Starts a detached thread running body(argument). Returns the thread's identifier (nonzero), or 0
// when the thread cannot be created.
unsigned long platform_thread_start(void (*body)(void *), void *argument);

// ---- Interrupts ----

// Receives one interrupt event: the system's code for it (a signal number, a console control event)
// and its name ("SIGTERM", "CTRL_C_EVENT"). It runs on a thread of its own (a watcher thread, or
// the thread the system made for the event), never inside a signal handler, and ends the process.
using interrupt_hook = void (*)(int code, const char *name);

// Routes the interrupt events to hook from now on. Linux: SIGINT, SIGTERM and SIGHUP, except one
// that was ignored when the process started (nohup, a shell's background job), which stays
// ignored; their handler only writes the signal's number to a pipe that a watcher thread reads (no
// signal is blocked, so the programs the tool starts inherit no mask). Windows: Ctrl+C, Ctrl+Break and the console's
// close through a console control handler; log-off and shut-down never reach a console program
// that loads user32 this way and keep the system's handling. Returns 0, or -1 when the events
// cannot be routed (they then end the process as the system does).
int platform_watch_interrupts(interrupt_hook hook);

// Ends the process as the system ends it for the event of that code, standard output flushed
// first. Linux: the signal raised again with its default action (a shell shows 128 + its number).
// Windows: exit status STATUS_CONTROL_C_EXIT (0xC000013A), as for every console control event.
[[noreturn]] void platform_end_interrupted(int code);

// ---- This computer and process ----

// The computer's name, cut to fit size bytes with its terminator; empty when the system cannot tell.
void platform_computer_name(char *out, size_t size);

// The system's identifier of the calling process.
unsigned long platform_process_id();

// Fills out with size bytes from the system's cryptographic random source. 0, or -1 when the
// system gave none (out is then unspecified).
int platform_random_bytes(void *out, size_t size);

// The full path of the running program into out (size bytes). False when the system cannot tell
// or the path does not fit (out is then empty).
bool platform_executable_path(char *out, size_t size);

// Gives the file at from the name to, replacing a file of that name in one step: when it fails,
// both files are as they were. 0 on success.
int platform_replace_file(const char *from, const char *to);

// Appends the bytes to the file at path (made when missing) with one write on a handle opened for
// appending only, so that what copies append at the same time never mixes; the file stays open to
// other readers, writers and renames meanwhile. 0, or the system's error code (> 0).
int platform_append_file(const char *path, const void *bytes, size_t size);

// Text in the system's ANSI code page (size bytes) as UTF-8 into out (size_out bytes, terminated;
// cut at a character's end to fit). The POSIX side's texts are UTF-8 already: copied as they are.
void platform_utf8_from_ansi(const char *text, size_t size, char *out, size_t size_out);

// ---- Errors ----

// The system's message text for the error code of a failed system, socket or name resolver call.
// The text lives in a buffer of the calling thread until its next call, so threads (the WebSocket
// workers, the HTTP client) never garble each other's texts.
const char *system_error_text(int code);
