// Services of the operating system that the rest of the tree uses, in the tool's own terms.
// This is the one place that knows the platform; each service has a Win32 side
// (platform_win32.cpp) and a POSIX side (platform_posix.cpp), chosen by the build. Socket services
// have their own header, socket.h; command texts and paths are in commands.h.
#pragma once

#include <cstdint>
#include <cstdio>

// ---- Files and directories ----

// Size in bytes of the file at path, from the run-time library's stat; 0 when path is null or the
// file cannot be examined. Sizes past 4 GiB wrap, as the 32-bit result dictates.
uint32_t file_size_of(const char *path);

// True when something exists at path (_access with mode 0, access F_OK).
bool platform_exists(const char *path);

// Creates one directory (_mkdir, mkdir 0755). 0 on success.
int platform_mkdir(const char *path);

// True when stat succeeds on path and says directory.
bool platform_is_directory(const char *path);

// Lets the file at path be run as a program (chmod +x on POSIX; nothing on Windows). 0 on success.
int platform_make_executable(const char *path);

// Calls visit for each entry name of the directory but "." and "..". Returns 0, or -1 when the
// directory cannot be opened (nothing is visited then).
int platform_list_directory(const char *dir, void (*visit)(const char *name, void *context), void *context);

// Writes the whole buffer to a new file at path, replacing any file there (CreateFileA with
// CREATE_ALWAYS and one WriteFile; open, write and close on POSIX). Returns 0 when every byte was
// written and the file closed, -1 otherwise.
int platform_write_new_file(const char *path, const void *bytes, uint32_t size);

// ---- The executable's own resources ----

// What a resource lookup found.
enum resource_result {
    RESOURCE_FOUND,
    RESOURCE_NAME_NOT_FOUND,  // the executable has no resource of that id
    RESOURCE_TYPE_NOT_FOUND,  // the executable has no resource of that type at all
    RESOURCE_FAILED,          // any other failure: its system code is in *system_code
};

// The bytes of the executable's own resource of type RCDATA with this id (FindResourceA,
// LoadResource, LockResource, SizeofResource). On RESOURCE_FOUND, bytes and size describe it; on
// RESOURCE_FAILED, system_code holds the system's number for the failure. POSIX: resource 101 is
// the image the build links in (assets/firmware_image.S); a program built without it has none.
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
// POSIX: the caption and text on standard output; with a terminal on standard input the answer is
// read from it (Enter is OK, "c" is Cancel for an OK/Cancel box); without a terminal the answer is
// OK.
box_answer platform_message_box(box_style style, const char *caption, const char *text);

// Sets the console title (SetConsoleTitleA; the terminal title escape when standard output is a
// terminal). Failures are ignored.
void platform_set_console_title(const char *title);

// True when the user's interface language is Chinese as the tool speaks it: Chinese of the
// People's Republic (zh-CN) or of Taiwan (zh-TW); other Chinese variants count as English.
// POSIX: from LC_ALL, LC_MESSAGES or LANG, the first that is set, beginning "zh_CN" or "zh_TW".
bool platform_ui_is_chinese();

// ---- Named mutex ----

struct platform_mutex;

// An existing mutex of this name (OpenMutexA), or null when there is none. POSIX: probes by binding
// the name (given back at once when it was free), so a probe never waits, however many there are.
platform_mutex *platform_mutex_open(const char *name);

// Creates the mutex, owned by the caller (CreateMutexA). Null when it cannot be created; *existed
// tells whether it already existed (the handle then names the other owner's mutex). POSIX: an
// abstract Unix socket named after the mutex, freed by the kernel when the process ends and scoped
// to the network namespace.
platform_mutex *platform_mutex_create(const char *name, bool *existed);

// Releases a handle from open or create; null is allowed.
void platform_mutex_close(platform_mutex *mutex);

// ---- Processes and threads ----

// Runs a command through the command interpreter (_popen, popen) / closes it and waits for its end
// (_pclose, pclose). Null when the command cannot be started.
FILE *platform_popen(const char *command, const char *mode);
int platform_pclose(FILE *stream);

// Runs a command through the command interpreter and waits for it (system).
int platform_system(const char *command);

// Starts the program of command_line (first word; double quotes group words) with its standard
// output and standard error into an anonymous pipe, and returns without waiting. A detached thread
// drains the pipe so the program never blocks on it. When dir is given the program is started with
// that current directory and the caller's current directory is the same afterwards, on every road.
// Returns 0 started, -1 the pipe cannot be created, -2 the process cannot be created.
int platform_spawn_piped(const char *dir, char *command_line);

// Starts a detached thread running body(argument). Returns the thread's identifier (nonzero), or 0
// when the thread cannot be created.
unsigned long platform_thread_start(void (*body)(void *), void *argument);

// ---- Errors ----

// The system's message text for an error code: on Windows the message table's text
// (FormatMessageW, then converted to the ANSI code page); on POSIX the resolver's text for a
// getaddrinfo code (negative) and strerror's text otherwise. The text lives in a buffer of the
// calling thread until its next call, so threads (the WebSocket workers, the HTTP client) never
// garble each other's texts.
const char *system_error_text(int code);
