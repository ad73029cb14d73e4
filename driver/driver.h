// The upgrade driver: the run's exit codes, the buffers a run fills, the stage table through which
// the run calls its stages, and the entry points from the command line to the run's end.
#pragma once

#include <cstdint>

// ---- Exit codes ----

// The process exit code of a run, named by its cause. Several causes share one number: the number
// tells a calling station how far the run got, the name tells the reader why it stopped there.
enum exit_code {
    EXIT_COMPLETED = 0,                   // the final report was raised, or the start-up warning cancelled
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

// The functions the run's stages call, one per stage, each on the run's buffers: the tool's own in
// REAL_STAGE_FUNCTIONS (stages.cpp, beside the stages that call them), replaced by tests. Each
// returns 0 when the run goes on; a function that stops the run has raised its outcome and, where
// its rules say so, cleaned up. How its stage reads any other result is in the stage's row
// (RUN_STAGES, stages.cpp).
struct stage_functions {
    int (*acquire_instance_guard)(upgrade_run &run);  // 1 another instance, -1 no guard made (goes on)
    int (*discover_device_link)(upgrade_run &run);
    int (*show_startup_warning)(upgrade_run &run);
    int (*fetch_device_info)(upgrade_run &run);
    int (*parse_device_info)(upgrade_run &run);
    int (*check_device_model)(upgrade_run &run);
    int (*check_same_version)(upgrade_run &run);
    int (*check_fits_database)(upgrade_run &run);
    int (*prepare_workstation)(upgrade_run &run);
    int (*purge_staged_images)(upgrade_run &run);
    int (*stage_firmware)(upgrade_run &run);
    int (*firewall_off)(upgrade_run &run);
    int (*start_file_server)(upgrade_run &run);
    int (*open_command_channel)(upgrade_run &run);  // else the run's exit code
    int (*send_upgrade_command)(upgrade_run &run);  // else the run's exit code
    int (*start_spinner)(upgrade_run &run);
    upgrade_ending (*await_reply)(upgrade_run &run);  // how the run ends
};
extern stage_functions g_stage_functions;
extern const stage_functions REAL_STAGE_FUNCTIONS;

// ---- Entry points ----

// The entry point's work: settings, language, command line, run. Returns the process exit code.
int facup_main(int argc, char **argv);

// One run: begins its record and diagnostics log with facup.ini's warnings, runs the stages
// (run_stages), then writes the record, keeps it in the outbox, delivers it and releases the
// single-instance guard. Returns the run's exit code.
exit_code run_upgrade();

// The stages of RUN_STAGES in order, each through g_stage_functions, until one stops the run; when
// none does, the wait for the reply and the ending it asks for (the clean-up, the second purge, the
// confirmation). Each stage's seconds go to the run record. Returns the run's exit code.
exit_code run_stages(upgrade_run &run);
