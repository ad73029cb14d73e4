// The upgrade driver: the run sequence from the command line to the final report, the outcome
// catalogue and its reporting, and the stage table through which the run calls its stages.
#pragma once

#include "settings.h"
#include "workstation.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// ---- Process-wide flags (one byte each; zero at start) ----

extern shared_flag g_silent_mode;     // "-s": result codes to flashret.txt, no message boxes
extern shared_flag g_chinese_ui;      // Chinese texts and caption
extern shared_flag g_upgrade_ok;      // success reported; also stops the spinner
extern shared_flag g_ws_connected;    // the command channel has connected
extern shared_flag g_ws_reply_ready;  // a text from the camera waits in the reply mailbox

// The tool's own version, as the banner shows it: defined by the build from the project's version
// (CMakeLists.txt), which the Windows version resources also carry.
#ifndef FACUP_TOOL_VERSION
#error "FACUP_TOOL_VERSION comes from the build (driver_core's compile definitions)"
#endif

// ---- Exit codes ----

// The process exit code of a run, named by its cause. Several causes share one number: the number
// tells a calling station how far the run got, the name tells the reader why it stopped there.
enum exit_code {
    EXIT_COMPLETED = 0,                   // the final report was raised, or the start-up warning cancelled
    STAGE_GO_ON = 0,                      // what a stage of the run returns when the run goes on
    EXIT_ANOTHER_INSTANCE = -1,           // another instance holds the single-instance guard
    EXIT_NO_LINK_ADDRESS = -2,            // this PC has no address on the camera's USB or Wi-Fi link
    EXIT_CAMERA_SILENT = -3,              // the camera's information file cannot be downloaded
    EXIT_INFO_FILE_UNUSABLE = -4,         // the information file is missing, too small or unreadable
    EXIT_MODEL_REFUSED = -5,              // the camera's model may not receive this firmware
    EXIT_CHANNEL_NOT_OPENED = -5,         // the command channel cannot be opened
    EXIT_SAME_VERSION = -6,               // the camera already runs the target version
    EXIT_SECOND_CHANNEL_NOT_OPENED = -6,  // the second attempt at the command channel cannot be opened
    EXIT_COMMAND_NOT_SENT = -6,           // the upgrade command cannot be queued
    EXIT_NO_FITS_DATABASE = -7,           // old firmware needs the local fits database, which is missing
    EXIT_NOT_CONNECTED = -7,              // the command channel did not connect in either attempt
    EXIT_SPINNER_NOT_STARTED = -7,        // the progress spinner's thread cannot be started
    EXIT_WORKSTATION_NOT_READY = -8,      // working directories or the file-server program
    EXIT_FIRMWARE_NOT_STAGED = -9,        // the firmware image cannot be staged
    EXIT_FILE_SERVER_NOT_STARTED = -10,   // the local file server's launcher cannot be started
};

// ---- Outcome reporting ----

struct outcome {
    outcome_id id;     // the catalogue row's own number
    const char *english;
    const char *chinese;
    box_style style;
    const char *code;  // silent-mode result code
};

// The catalogue entry of an outcome (outcome_ids.h), or null for OUTCOME_NONE or a number outside
// the catalogue.
const outcome *outcome_entry(outcome_id id);

// Raises one outcome: its result code in silent mode, else its message box in the UI language.
void report_outcome(outcome_id id);

// Ends a run that cannot go on: raises the outcome, cleans the workstation up, and returns code
// (the stage's own return code, or the run's exit code).
int stop_run(outcome_id outcome, int code);
exit_code stop_run(outcome_id outcome, exit_code code);

// Replaces the content of "flashret.txt" in the current directory with code (no line end).
// A file that cannot be opened is skipped.
void write_result_code(const char *code);

// The start-up warning (not in silent mode). Returns when the run may go on; Cancel ends the
// process at once with exit code 0.
void show_startup_warning();

const char *ui_caption();     // the caption of every box and the console title
const char *progress_note();  // the spinner's note

// The spinner's lines about the camera's download, in the UI language, into out (of size bytes;
// cut to fit): while it runs "Camera downloading firmware: 7.4 / 15.5 MB (47 %)", once every
// byte is sent "Firmware sent to camera: 15.5 MB in 1.3 s. Camera is installing it, plz wait...",
// and when the camera starts the download over "Camera is downloading the firmware again.".
// Megabytes are of 10^6 bytes and, like the seconds, rounded half up to one decimal; the
// percentage is rounded down, so that 100 % means every byte.
void download_progress_text(char *out, size_t size, int64_t sent, int64_t total);
void download_done_text(char *out, size_t size, int64_t total, int64_t elapsed_ms);
void download_again_text(char *out, size_t size);

// ---- The run ----

// Text buffers the run owns, zero-filled before the first stage.
struct upgrade_run {
    char host_address[32];
    char device_address[32];
    char device_version[64];
    char previous_version[64];
    unsigned char device_version_found;
    char firmware_file_name[255];
    char firmware_path[255];
    uint32_t firmware_bytes;  // the staged image's size, once staged
    char firmware_md5[33];
    char image_url[128];
    char upgrade_command[1024];
    char version_after[64];   // the version the Wi-Fi recovery read back, once it did
};

// How the run ends after the reply: the clean-up alone (the camera already runs the target
// version), or the clean-up, a second purge and the removal of the staged image; after an "ok" with
// a confirm mode set, those and then the confirmation of the new version.
enum upgrade_ending { ENDING_CLEANUP_ONLY = 0, ENDING_FULL = 1, ENDING_FULL_THEN_CONFIRM = 2 };

// The stage functions the run calls, in order, each with its own result convention (noted beside
// it); run_upgrade turns each result into "go on" or the run's exit code. Each stage function that
// stops the run has raised its outcome and, where its rules say so, cleaned up. Tests replace them.
struct upgrade_stages {
    int (*acquire_instance_guard)();                              // 1: another instance
    int (*discover_device_link)(char host[32], char device[32]);  // 0 found
    void (*show_startup_warning)();
    int (*fetch_device_info)(const char *device);                 // 1 the camera answered
    int (*parse_device_info)(unsigned char *found, char version[64], char previous[64]);  // 0 parsed
    int (*check_device_model)();                                  // 0 accepted
    int (*check_same_version)(const char *version);               // 0 differs from the target
    int (*check_fits_database)(const char *version);              // 0 passes
    int (*prepare_workstation)();                                 // 0 ready
    void (*purge_staged_images)();
    int (*stage_firmware)(char name[255], char path[255]);        // 0 staged
    void (*firewall_off)();
    int (*start_file_server)();                                   // 0 started
    exit_code (*open_command_channel)(upgrade_run *run);          // 0 connected, else the exit code
    exit_code (*send_upgrade_command)(upgrade_run *run);          // 0 sent, else the exit code
    int (*start_spinner)();                                       // 0 banner shown, spinner running
    upgrade_ending (*await_reply)(upgrade_run *run);
};
extern upgrade_stages g_stages;
extern const upgrade_stages REAL_STAGES;

// Sets g_chinese_ui, the route of the texts to the system (platform_set_text_route) and the
// console title from the settings' language: the user's UI language for auto.
void init_ui_language();

// The entry point's work: settings, language, command line, run. Returns the process exit code.
int facup_main(int argc, char **argv);

// The warning for the run record when users who are not administrators may change the running
// program, facup.ini beside it, or their folder ("facup.exe's folder can be changed by users who
// are not administrators"); empty when only administrators may.
std::string program_folder_warning();

// Runs the stages in order until one stops the run, then, once the reply has been awaited, ends the
// run by the upgrade_ending. Returns the run's exit code.
exit_code run_upgrade();

// Prints the banner and starts the spinner thread. 0 when the thread runs, -1 when it cannot start.
int start_spinner();

// The spinner thread's body: the progress note, then one step a second until the run stops; between
// the steps, the camera's download (download_progress_now) as a line of its own whenever its text
// changes.
int spinner_thread();

// What the spinner has shown of the camera's download.
const size_t DOWNLOAD_LINE_SIZE = 256;
struct download_shown {
    char line[DOWNLOAD_LINE_SIZE] = "";  // the latest line
    int download = 0;                    // the download it was about (download_progress::downloads)
    bool closing = false;                // the closing line was shown: it ends the lines of the run
};

// Prints the camera's download (download_progress_now) as a line of its own when its text differs
// from the one shown before: the progress, or once every byte of a download is sent, the closing
// line; first a line of its own when the camera has started the download over. Nothing while no
// report came, and nothing after the closing line.
void show_download(download_shown &shown);

// Draws step n (clamped to 0..10,000): one "#" per ten steps and the turning character.
void spinner_step(int n);

// Waits, at most limit_ms, until the spinner thread has printed its last line: a process that
// exits while one of its threads is still writing may lose that output or fail in its exit.
void wait_for_spinner_end(int limit_ms);
const int SPINNER_END_WAIT_MS = 2000;  // the wait of a run's end

// Runs the stages of g_stages in order until one stops the run, then, once the reply has been
// awaited, ends the run by the upgrade_ending; each stage's seconds go to the run record. Returns
// the run's exit code.
exit_code run_stages(upgrade_run &run);

// ---- Interrupts ----
// A run stopped from outside after its guard (Ctrl+C, Ctrl+Break, the console closed; SIGINT,
// SIGTERM, SIGHUP) leaves the PC as a finished run does: the clean-up runs once, the run record
// names the event and the stage it stopped, and the process ends with the system's status for that
// event. The run's thread holds the PC lock (workstation.h) except during the stages that wait
// long; the interrupt takes the lock (waiting for the stage that holds it, within a bound).

// Lets the run handle interrupt events once its guard has passed. facup_main does; test programs
// that run the driver in their own process do not.
void enable_interrupt_handling();

// For the guard stage once the run goes on: routes the events to handle_interrupt, when enabled.
void watch_interrupts();

// The platform's interrupt hook: the stage that holds the PC lock awaited, the clean-up, the
// record, the end of the process, all within 4.5 s of a console's close and 15 s of the other
// events (logged when a bound is hit). An event during that handling starts nothing: it waits for
// the first one's end.
void handle_interrupt(int code, const char *name);

// The run's thread: names the stage it begins (for the record of an interrupted run).
void note_running_stage(const char *name);

// The run's thread: gives the PC lock up for a stage that waits long, and takes it back after;
// once an interrupt is pending, the run goes no further (the interrupt ends the process).
void pc_wait_begin();
void pc_wait_end();

// The run's thread once an interrupt has taken the run over: waits for it to end the process, and
// ends it itself should the interrupt not within its limit.
void await_interrupt_end();

// Shows a box (g_driver_seams.message_box) with the PC lock given up while it shows: a person may
// leave it up for long, and an interrupt's clean-up must never wait for them. Once an interrupt has
// taken the run over meanwhile, the run goes no further.
box_answer show_box(box_style style, const char *caption, const char *text);

// The run's thread, between stages: once an interrupt is pending, gives the PC lock to it and goes
// no further.
void yield_if_interrupted();

// The run's thread, its record written (lock held): a later interrupt only ends the process.
void note_run_ended();

// The console's line when an interrupt stops the run, in the UI language.
const char *interrupt_note();

// ---- Device link ----

#define USB_CAMERA_ADDRESS "192.168.88.1"
#define WIFI_CAMERA_ADDRESS "10.0.0.1"

// This PC's address on the camera link from the first output line of the address commands, the
// USB link first. The address ends at the first character that is neither a digit nor ".".
// Returns 0 found, -1 none (or none that fits 32 bytes with its terminator).
int find_host_address(char out[32]);

// Fills host and device (the camera: 192.168.88.1 or 10.0.0.1). Returns 0, or -4 when no address
// was found (outcome raised, clean-up done).
int discover_device_link(char host[32], char device[32]);

// The time limit of each wait of the presence check's download of the information file.
const int INFO_FETCH_LIMIT_MS = 2000;

// Downloads the camera's information file into ".deviceRelateInfo.txt". The download's result:
// 0 the exchange completed (whatever the status), else the HTTP client's code. status, when given,
// receives the response's HTTP status (0 when none was read).
int download_device_info(const char *device, int limit_ms, int *status = nullptr);

// Proves that the camera answers. Returns 1, or 0 when the download failed (outcome raised,
// clean-up done).
int fetch_device_info(const char *device);

// Rejoins the camera's Wi-Fi: adds the profile description, then connects by the profile name read
// from the profile name file (one trailing line end dropped). A missing or empty name, one longer
// than 44 characters, or one holding a character the command interpreter treats specially skips
// the connect command. Nothing happens once an interrupt is pending.
void reconnect_wifi();

// ---- Eligibility ----

// The model text of the information file (shorter than 128 characters) and whether one was found.
extern char g_device_model[128];
extern unsigned char g_device_model_found;

// Reads ".deviceRelateInfo.txt" whole (text mode) into text, terminated. Returns 0 read; 1 read as
// nothing (text mode read fewer characters than its size, or 1,024 bytes or more: text is empty);
// -1 missing or 10 bytes or less; -2 cannot be opened.
int read_info_file(char text[1024]);

// Copies the text after the first "*ver:" up to the end, less one trailing CR or LF, into version.
// Returns 0, or -1 when there is no "*ver:" or the version has 64 characters or more.
int read_version_text(const char *text, char version[64]);

// Parses the information file: the version into version and previous (found set), the model into
// g_device_model. Returns 0 (also when nothing could be parsed), -1 file missing or too small, -2
// file cannot be opened.
int parse_device_info(unsigned char *found, char version[64], char previous[64]);

// Each refusing test raises its outcome and cleans up first.
int check_device_model();                     // 0 accepted, -2 refused
int check_same_version(const char *version);  // 0 differs, -2 already the target version
int check_fits_database(const char *version); // 0 passes, -3 the database is needed and missing

// ---- The exchange with the camera ----

// The camera's text the driver took last (NUL-terminated; a longer one is cut to 8,191 bytes) and
// its length. Written and read by the driver's thread only; the worker hands texts over through the
// reply mailbox.
extern char g_ws_reply[8192];
extern int32_t g_ws_reply_len;

// The reply mailbox: the hand-over of the camera's texts from the channel's worker to the driver.
// Opened just before the command is sent; a text that arrives while it is closed is logged and
// dropped. It keeps up to REPLY_MAILBOX_SIZE texts in arrival order (when full, the oldest text not
// yet taken is dropped and logged), and notes the end of the current channel from the moment that
// channel is opened (closing the mailbox forgets it). g_ws_reply_ready is set while it holds a text.
const int REPLY_MAILBOX_SIZE = 64;
struct rws_client;
void reply_mailbox_open();
void reply_mailbox_close();

// The channel's callbacks, run on its worker thread; none of them waits. The connection and the end
// count only for the current channel (g_driver_seams.current_channel), never for an earlier attempt.
void on_ws_text(rws_client *client, const char *text, uint32_t length);
void on_ws_binary(rws_client *client, const char *data, uint32_t length);
void on_ws_connected(rws_client *client);
void on_ws_disconnected(rws_client *client);

// Opens the command channel to the camera's port 9999 and waits for it: four one-second waits, then
// a second attempt (the first closed) with four more. Returns STAGE_GO_ON connected, or
// EXIT_CHANNEL_NOT_OPENED, EXIT_SECOND_CHANNEL_NOT_OPENED or EXIT_NOT_CONNECTED (outcome raised,
// clean-up done).
exit_code open_command_channel(upgrade_run *run);

// Takes the carried image's MD5 (the staged image's, as staging checked), builds the image URL and
// the "pc_firmware_up" command and queues it. Returns STAGE_GO_ON, or EXIT_COMMAND_NOT_SENT when it cannot be queued (channel closed,
// outcome raised, clean-up done).
exit_code send_upgrade_command(upgrade_run *run);

// Waits for the camera's answer (at most the reply limit from the send; over the USB link at most
// as long as the command channel lasts, and on either link not at all when the channel ended before
// the command was sent), closes the channel, rejoins the Wi-Fi and asks the camera again when the
// answer over Wi-Fi is not success (never when the camera cannot have got the command), and raises
// the final outcome. Returns how the run ends.
upgrade_ending await_reply(upgrade_run *run);

// ---- The confirmation of the new version ----
// After a deciding "ok" with a confirm mode set, once the clean-up is done, the camera's information
// file is read every 2 s until it shows the target version or confirm_seconds have passed, through
// the camera's restart and absence; the console shows the wait, and the run record keeps what was
// seen (g_run.record.confirm).

// The name of a confirm mode, as facup.ini and the run record write it.
const char *confirm_mode_name(confirm_mode mode);

// Reads the camera's version back until it is the target version or the time is up, shows the wait
// on the console and, in strict mode, raises the run's outcome: "ok0" when confirmed, "err-12" when
// not. The local copy of the information file is gone afterwards. True when confirmed.
bool confirm_new_version(upgrade_run *run);

// The console's lines of the confirmation, in the UI language, into out (of size bytes): the
// wait's start, its progress every 10 s (version empty when none was read), and its end.
void confirm_begin_text(char *out, size_t size, int limit_seconds);
void confirm_progress_text(char *out, size_t size, int seconds, bool answers, const char *version);
void confirm_end_text(char *out, size_t size, bool confirmed, int seconds, const char *version);

// ---- Seams ----

// Where the driver reaches the user and the outside world in ways that tests replace: how a box is
// shown, what the exchange with the camera waits on and asks through, so that its time limits
// are checked without waiting them out, and how an interrupted run ends the process. The clock and the pause are the workstation's
// (g_workstation_seams). REAL_DRIVER_SEAMS holds the tool's own.
struct driver_seams {
    // Shows a box and returns the answer (BOX_ANSWER_*): the platform's message box.
    box_answer (*message_box)(box_style style, const char *caption, const char *text);
    // Waits for the mailbox: up to ms, or until a text or the channel's end arrives; the lock is
    // held again on return.
    void (*wait)(std::condition_variable &changed, std::unique_lock<std::mutex> &lock, int ms);
    int (*download_device_info)(const char *device, int limit_ms, int *status);
    // The command channel's current client (null when none is open): device_channel_client.
    const rws_client *(*current_channel)();
    // How long the driver waits for a deciding answer after the send: 600 seconds in the tool;
    // test programs shorten it.
    int reply_limit_seconds;
    // Ends the process as the system would for an interrupt event: platform_end_interrupted, which
    // never returns (a test's may: the interrupt's handling then returns too).
    void (*end_interrupted)(int code);
};
extern driver_seams g_driver_seams;
extern const driver_seams REAL_DRIVER_SEAMS;

// ---- The run's own state ----

// The reply mailbox's contents: whether it is open, whether the current channel has ended (and
// whether it did while the mailbox was closed: before the command was sent), and the texts not yet
// taken (under reply_mailbox_lock()).
struct reply_mailbox_state {
    bool open = false;
    bool channel_ended = false;
    bool ended_before_command = false;
    std::deque<std::string> texts;
};
// The lock of the mailbox's contents.
std::mutex &reply_mailbox_lock();

// The confirmation of the new version as the run record keeps it: times by the steady clock
// (g_workstation_seams.now_ms).
struct confirm_state {
    bool ended = false;      // the confirmation came to its end (not stopped from outside)
    bool confirmed = false;  // it read the target version
    int64_t reply_ms = 0, ended_ms = 0;  // the deciding "ok", and the confirmation's end
    std::vector<std::pair<std::string, int64_t>> versions;  // each version read, when first read
    int64_t unreachable_ms = 0;  // how long the camera did not answer
};

// The run record as it is gathered (run_record.h): what the run found, its stages' seconds, its
// warnings, and the event that stopped it, if one did.
struct run_record_state {
    const upgrade_run *run = nullptr;  // the run under way; null outside a run
    std::string run_id;                // new_run_id, the same in the record, the log and what is sent
    long long outbox_waiting = -1;     // records in the outbox when the run began; -1: no report URL
    int64_t started_utc_ms = 0;
    int64_t started_ms = 0, stage_started_ms = 0;  // by the steady clock
    outcome_id outcome = OUTCOME_NONE;             // the last outcome raised
    std::vector<std::pair<std::string, double>> stages;
    confirm_state confirm;
    std::vector<std::string> warnings;
    std::string interrupted, interrupted_stage;  // the event that stopped the run and where; empty if none
};

// What the process knows of interrupts (interrupt.cpp): whether they are handled, the stage the run
// is in, and the first event and its handling, read by the threads that handle events.
struct interrupt_state {
    copyable_atomic<bool> enabled;
    copyable_atomic<bool> run_ended;
    copyable_atomic<const char *> running_stage;
    copyable_atomic<bool> taken;   // the first event is being handled
    copyable_atomic<bool> ending;  // its record is being written
    copyable_atomic<int> code;
    copyable_atomic<const char *> event;
    copyable_atomic<const char *> stage;  // the stage the first event stopped
    copyable_atomic<int64_t> started_ms;        // the first event, by the steady clock (the seams')
    copyable_atomic<int64_t> deadline_ms;       // when the process must have ended: the first event's limit
    copyable_atomic<int64_t> close_deadline_ms; // sooner, once a console's close followed it; 0 before
};

// The state the driver keeps beyond the names its texts fix (the flags above, g_ws_reply,
// g_device_model, ...): one record, set back whole by reset_run_state. Made once and never
// destroyed, so that a thread still at work while the process exits (a channel's worker, an
// interrupt) finds it. Locks live beside it, not in it.
struct run_state {
    language_choice language = LANGUAGE_AUTO;    // facup.ini's (its firewall mode is g_workstation's)
    confirm_mode confirm = CONFIRM_OFF;          // facup.ini's confirmation after the camera's "ok"
    int confirm_seconds = CONFIRM_SECONDS_DEFAULT;
    std::vector<std::string> settings_warnings;  // facup.ini's warnings (and its folder's), for the run record
    report_settings report;                      // facup.ini's delivery to a collector
    bool guard_taken = false;                    // this run took the single-instance guard: it may deliver
    copyable_atomic<uint8_t> spinner_running;    // the spinner runs: the process waits for its last line
    reply_mailbox_state mailbox;
    run_record_state record;
    interrupt_state interrupt;
};
extern run_state &g_run;

// Test programs run the driver many times in one process. Puts back the state a fresh process
// starts a run with: every flag clear (the workstation's stop flag too), no reply, no model text,
// no staged image path, g_run and g_workstation as made, the real stage functions and seams, and the
// texts through the calls of the system's code page.
void reset_run_state();

// ---- Logging ----

// The logging hook: each line goes to the run's diagnostics log (diagnostics_log.h) with its source
// file and line; a build with FACUP_DEBUG_LOG also writes it to standard error.
void debug_log(const char *file, int line, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
#define DEBUG_LOG(...) debug_log(__FILE__, __LINE__, __VA_ARGS__)

// The logging hook for a line already formatted: the workstation's (g_workstation_seams.log_line).
void debug_log_line(const char *file, int line, const char *text);
