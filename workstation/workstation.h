// Workstation preparation: everything the tool changes on the PC. Command runners and the
// clean-up routine, the single-instance guard and the working directories, the embedded assets.
#pragma once

#include "outcome_ids.h"
#include "platform.h"
#include "shared_values.h"

#include <cstdint>
#include <cstdio>

// Set first by cleanup_workstation and never cleared: tells the spinner to stop.
extern shared_flag g_upgrade_quit;

// The word that fills every "%s" of the working-directory formats: "quorvane".
extern const char *const g_brand_word;

// The single-instance guard while this run holds it; null otherwise.
extern platform_mutex *g_instance_mutex;

// ---- Seams ----

// How commands and threads are started: the platform's runners unless a test records instead.
struct command_runners {
    FILE *(*open)(const char *command, const char *mode);
    int (*close)(FILE *stream);
    int (*system)(const char *command);
    int (*spawn)(const char *dir, char *command_line, spawn_line_hook on_line, void *context, const char *env_entry);
    unsigned long (*start_thread)(void (*body)(void *), void *argument);
};

// Where the workstation, and the driver above it, reach the system in ways that tests replace: the
// command runners, the one steady clock (milliseconds), the pause, the probe of a TCP port on this
// PC (bounded in time), the routine that raises an outcome of the catalogue and the one that writes
// a line of the run's diagnostics log, and a hook between the staging's write and its read-back
// (none in the tool; tests change the staged file there). REAL_WORKSTATION_SEAMS holds the
// platform's; the workstation alone raises and logs nothing, so the two routines are the program's
// (the driver's TOOL_WORKSTATION_SEAMS, which it installs).
struct workstation_seams {
    command_runners commands;
    int64_t (*now_ms)();
    void (*sleep_ms)(int ms);
    bool (*port_accepts)(int port);
    void (*report_outcome)(outcome_id outcome);
    void (*log_line)(const char *file, int line, const char *text);
    void (*image_staged)(const char *path);
};
extern workstation_seams g_workstation_seams;
extern const workstation_seams REAL_WORKSTATION_SEAMS;

// Raises one outcome through the seams' routine; nothing when none is installed.
void raise_outcome(outcome_id outcome);

// Formats one line of the diagnostics log (a line end added; cut to 511 bytes) and hands it, with
// the source file and line, to the seams' routine; nothing when none is installed.
void workstation_log(const char *file, int line, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
#define WORKSTATION_LOG(...) workstation_log(__FILE__, __LINE__, __VA_ARGS__)

// ---- Command runners ----

const int COMMAND_LINE_SIZE = 1024;  // every command line and first-line buffer

// Runs the command and waits for its end; its standard output is discarded, its errors reach the
// console. Nothing happens when it cannot be started.
void run_command_quiet(const char *command);

// Runs the command and keeps the first line of its output (at most 1,023 characters, with its line
// end) in line; line stays as the caller left it when the command prints nothing or cannot start.
void run_command_first_line(const char *command, char line[COMMAND_LINE_SIZE]);

// Runs the command with its output on the tool's console and waits for its end.
void run_command_console(const char *command);

// Starts a program directly, its output into a drained pipe, without waiting: each line it prints
// goes to on_line (null: its output is dropped), and env_entry ("NAME=value", or null) is set in
// its environment only (platform_spawn_piped). Prints "Error on CreatePipe()!" or
// "Error on CreateProcess()!" on failure. Returns 0 started, -1 the pipe cannot be created, -2 the
// process cannot be created.
int spawn_with_pipe(const char *dir, char *command_line, spawn_line_hook on_line, void *context,
                    const char *env_entry);

// How the run opens the file server's port: by switching the firewall of the current profile off
// (the default), or by one inbound rule for the camera links' addresses (facup.ini "firewall = rule").
enum firewall_mode { FIREWALL_SWITCH_OFF, FIREWALL_SCOPED_RULE };

// Opens the port as g_workstation.firewall says: the firewall switched off, or the rule deleted (so that
// rules never pile up) and added. firewall_on undoes it: the firewall switched on, or the rule
// deleted.
void firewall_on();
void firewall_off();

// What the clean-up does with the single-instance guard: gives it back, or keeps it for a run that
// goes on with the camera after it (the confirmation of the new version), so that no other copy
// starts on the camera meanwhile; the run gives it back at its end (release_instance_guard).
enum guard_after_cleanup { GUARD_RELEASED, GUARD_KEPT };

// Undoes the tool's changes to the PC: stops the spinner, kills the file servers, switches the
// firewall on (or deletes the rule), empties the firmware directory, deletes the information file,
// releases the guard (unless kept). A check-only run changed nothing: only the information file
// goes, and the guard.
// Safe to run more than once. Under the PC lock: once an interrupt is pending, only that
// interrupt's thread cleans up, and a call from any other thread does nothing.
void cleanup_workstation(guard_after_cleanup guard = GUARD_RELEASED);

// The camera's information file: its name on the camera, and the local copy's in the current
// directory (the same with a dot in front).
#define CAMERA_INFO_FILE "deviceRelateInfo.txt"
#define INFO_FILE_COPY "." CAMERA_INFO_FILE

// ---- Guard and working directories ----

// Takes the single-instance guard. Returns 1 when another instance holds it (outcome raised, nothing
// cleaned up), 0 when this run holds it, -1 when it cannot be created (clean-up done).
int acquire_instance_guard();

// For work after the clean-up (which releases the guard) that one copy at a time may do: takes the
// guard again, without an outcome, unless another copy holds it. True when this run holds it now
// (g_instance_mutex); release_instance_guard, or a later clean-up, gives it back.
bool retake_instance_guard();
void release_instance_guard();

// Makes sure the working directories exist and that this run may add to them, keeps the root to
// administrators (keep_root_to_admins: made with that access, set back when others may change it),
// and makes the file-server program in the units directory the one the tool carries
// (place_server_program).
// Returns 0 ready; -1, -2, -3 the root, units or firmware directory is missing, or the run may not
// add to it (no administrator rights); -4 the program cannot be written; -5 it is missing or changed
// after writing. Each failure has raised its outcome.
int prepare_workstation();

// Looks at who may change the working root and each folder in it, and sets back to administrators
// only (platform_keep_to_admins) those that others may change; logs what it set back, and what it
// could not (the run goes on). g_workstation.notes.root_permissions: "set" when made is true (this
// run made the root), else "repaired" or "kept"; "failed" when one could not be set back.
void keep_root_to_admins(const char *root, bool made);

// Makes the file at path the program the tool carries: kept when it is that program byte for byte,
// else written (a file server still running from it ended first), and checked again a second later
// (a virus scanner that removes or changes it is caught then); g_workstation.notes says which.
// Returns 0; -4 it cannot be written (outcome raised); -5 it is gone or differs a second after
// writing (outcome raised, clean-up done).
int place_server_program(const char *path);

// ---- Embedded assets and staging ----

// The firmware release the tool carries, and the first part of the staged image's name.
#define TARGET_FIRMWARE_VERSION "2.0.16"
#define FIRMWARE_IMAGE_PREFIX "KTR_418s_1126"

// Full path of the staged firmware image; deleted at the end of a completed run.
extern char g_staged_image_path[255];

// Writes the embedded firmware image (resource RCDATA 101) to path. Returns 0 when the file holds
// every byte; -1 the resource is missing (the reason printed on the console); -2 path is null; -3
// the file could not be written completely (nothing is left at path; the system's reason is in
// g_workstation.notes.staging_error and the diagnostics log).
int extract_firmware_resource(const char *path);

// Stages the image at path: writes it (extract_firmware_resource), then reads the file back and
// compares its MD5 with the one the build computed from the image the tool carries
// (g_firmware_image_md5), so that only the carried image is ever served. Returns 0, or what
// extract_firmware_resource returned, or -4 when the file read back differs or cannot be read
// (it is deleted). Each failure's cause (both digests, or the system's error text) is in
// g_workstation.notes.staging_error and the diagnostics log.
int stage_image(const char *path);

// Deletes every file of the firmware directory whose name holds ".img"; other files and
// directories stay. Nothing happens when the directory cannot be listed.
void purge_staged_images();

// Fills name with the staged image's name and path with its full path (255 bytes each, copied to
// g_staged_image_path) and stages the image there (stage_image). Returns 0, or -3 when it could not
// be staged (outcome raised, nothing left at path, clean-up done).
int stage_firmware(char name[255], char path[255]);

// Writes the embedded file-server program to path, every byte checked. Returns 0, or -2 when path is
// null or the file cannot be written completely (a partial file is removed).
int write_utility_file(const char *path);

// The same for the one-byte stub firmware array; not used by the run.
int write_firmware_buffer_file(const char *path);

// ---- The workstation's own state ----

// What the file server reported of the camera's latest download of the staged image: bytes sent
// so far, the image's size, and the milliseconds from that download's first report to its latest;
// each -1 until a report came. A report whose count goes back starts a new download: downloads
// counts them (0 until a report came).
struct download_progress {
    int64_t sent = -1;
    int64_t size = -1;
    int64_t elapsed_ms = -1;
    int downloads = 0;
};

// The reports of the file server that count: those naming the watched image.
struct download_watch {
    char image_name[255] = "";
    int64_t first_ms = -1;  // the first report of the current download, -1 before
    download_progress progress;
};

// What the run's preparation of the PC found, for the run record: how the file-server program was
// found ("kept": it was the carried one; "written": there was none; "replaced": it differed) and
// the working root's permissions ("set": made now; "repaired": others could change it, set back;
// "kept"; "failed": they could not be read or set), each null until known; and why the image could
// not be staged ("" while it could).
struct workstation_notes {
    const char *server_program = nullptr;
    const char *root_permissions = nullptr;
    char staging_error[256] = "";
};

// The state the workstation keeps beyond the names its texts fix (g_upgrade_quit, g_instance_mutex,
// g_staged_image_path): one record, set back whole by reset_workstation_state. It holds no lock and
// owns nothing (the download's lock lives beside it for the process's life), and it is trivially
// destructible, so that a thread still reading it while the process exits reads valid memory.
struct workstation_state {
    firewall_mode firewall = FIREWALL_SWITCH_OFF;  // how the file server's port is opened
    // A check-only run ("-c"): it never changes the PC, so its clean-up runs no command and only
    // deletes the information file's copy. Set before the run begins.
    bool check_only = false;
    // Set once an interrupt has begun to take the run over: the run's thread then goes no further,
    // and waits inside its stages end early.
    copyable_atomic<uint8_t> interrupt_pending;
    download_watch download;  // under its lock: written by the server's output, read by the run
    workstation_notes notes;  // the run's thread only
};
extern workstation_state g_workstation;

// Puts back the state a fresh process starts with (tests run many runs in one process).
void reset_workstation_state();

// The camera's download as the file server last reported it (a copy taken under its lock).
download_progress download_progress_now();
