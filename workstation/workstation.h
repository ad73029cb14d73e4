// Workstation preparation: everything the tool changes on the PC. Command runners and the
// clean-up routine, the single-instance guard and the working directories, the embedded assets.
#pragma once

#include "outcome_ids.h"
#include "platform.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

// ---- Flags shared between threads: one byte each, set with release and read with acquire ----

using shared_flag = std::atomic<uint8_t>;
inline void set_flag(shared_flag &flag, uint8_t value) { flag.store(value, std::memory_order_release); }
inline bool flag_is_set(const shared_flag &flag) { return flag.load(std::memory_order_acquire) != 0; }

// Set first by cleanup_workstation and never cleared: tells the spinner to stop.
extern shared_flag g_upgrade_quit;

// The word that fills every "%s" of the working-directory formats: "quorvane".
extern const char *const g_brand_word;

// The single-instance guard while this run holds it; null otherwise.
extern platform_mutex *g_instance_mutex;

// Formats into a buffer of size bytes like snprintf. Returns false when the text did not fit (it is
// then cut, and still terminated).
bool format_text(char *out, size_t size, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// ---- Outcomes ----

// Installs the routine that raises an outcome of the catalogue (the driver's report_outcome).
void set_outcome_reporter(void (*reporter)(int outcome));
// Raises one outcome through the installed routine; nothing when none is installed.
void raise_outcome(int outcome);

// ---- Command runners ----

// How commands are started; the platform's runners unless a test records instead.
struct command_hooks {
    FILE *(*open)(const char *command, const char *mode);
    int (*close)(FILE *stream);
    int (*system)(const char *command);
    int (*spawn)(const char *dir, char *command_line);
};
extern command_hooks g_command_hooks;

const int COMMAND_LINE_SIZE = 1024;  // every command line and first-line buffer

// Runs the command and waits for its end; its standard output is discarded, its errors reach the
// console. Nothing happens when it cannot be started.
void run_command_quiet(const char *command);

// Runs the command and keeps the first line of its output (at most 1,023 characters, with its line
// end) in line; line stays as the caller left it when the command prints nothing or cannot start.
void run_command_first_line(const char *command, char line[COMMAND_LINE_SIZE]);

// Runs the command with its output on the tool's console and waits for its end.
void run_command_console(const char *command);

// Starts a program directly, its output into a drained pipe, without waiting. Prints
// "Error on CreatePipe()!" or "Error on CreateProcess()!" on failure. Returns 0 started, -1 the pipe
// cannot be created, -2 the process cannot be created.
int spawn_with_pipe(const char *dir, char *command_line);

void firewall_on();
void firewall_off();

// Undoes the tool's changes to the PC: stops the spinner, kills the file servers, switches the
// firewall on, empties the firmware directory, deletes the information file, releases the guard.
// Safe to run more than once.
void cleanup_workstation();

// ---- Guard and working directories ----

// Takes the single-instance guard. Returns 1 when another instance holds it (outcome raised, nothing
// cleaned up), 0 when this run holds it, -1 when it cannot be created (clean-up done).
int acquire_instance_guard();

// Makes sure the working directories exist and the file-server program is in place.
// Returns 0 ready; -1, -2, -3 the root, units or firmware directory is missing; -4 the program cannot
// be written; -5 it is missing after writing. Each failure has raised its outcome.
int prepare_workstation();

// ---- Embedded assets and staging ----

// Full path of the staged firmware image; deleted at the end of a completed run.
extern char g_staged_image_path[255];

// Writes the embedded file-server program to path, every byte checked. Returns 0, or -2 when path is
// null or the file cannot be written completely (a partial file is removed).
int write_utility_file(const char *path);

// The same for the one-byte stub firmware array; not used by the run.
int write_firmware_buffer_file(const char *path);
