// The exchange with the camera: the command channel opened and waited for, the "pc_firmware_up"
// command with the image's URL and MD5, the wait for the camera's answer, its outcome, and the
// Wi-Fi recovery that asks the camera itself when the answer does not say success.
#include "command_exchange.h"

#include "commands.h"
#include "debug_log.h"
#include "device_channel.h"
#include "device_link.h"
#include "driver_seams.h"
#include "driver_state.h"
#include "eligibility.h"
#include "embedded_assets.h"
#include "outcome_ids.h"
#include "outcomes.h"
#include "reply_mailbox.h"
#include "run_record.h"
#include "rws.h"
#include "settings.h"
#include "shared_values.h"
#include "text_util.h"
#include "workstation.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

const int CAMERA_COMMAND_PORT = 9999;
const int CONNECT_WAIT_SECONDS = 4;
const int RECOVERY_FETCH_LIMIT_MS = 5000;
const int RECOVERY_ATTEMPTS = 17;

// Opens the channel to the camera's command port, its callbacks watched from the start.
int open_channel(const upgrade_run *run)
{
    watch_new_channel();
    return device_channel_open(run->device_address, CAMERA_COMMAND_PORT, on_ws_disconnected, on_ws_connected,
                               on_ws_text, on_ws_binary);
}

// Waits up to four one-second sleeps for the connection.
bool wait_for_connection()
{
    for (int sleeps = 0; !flag_is_set(g_ws_connected); sleeps++) {
        if (sleeps == CONNECT_WAIT_SECONDS)
            return false;
        g_workstation_seams.sleep_ms(1000);
    }
    return true;
}

// Says, after a wait for the connection ran out, how far the channel got.
void log_no_connection(const upgrade_run *run, int attempt)
{
    DEBUG_LOG("no WebSocket connection to the camera at %s:%d within %d s (attempt %d of 2): %s\n",
              run->device_address, CAMERA_COMMAND_PORT, CONNECT_WAIT_SECONDS, attempt, device_channel_progress());
}

int channel_failure(const char *log_text, exit_code code)
{
    DEBUG_LOG("%s", log_text);
    return stop_run(OUTCOME_CANNOT_CONNECT, code);
}

void log_channel_line(const char *line) { DEBUG_LOG("%s", line); }

// Downloads the information file again, up to RECOVERY_ATTEMPTS tries 2 s apart, rejoining the
// Wi-Fi after each failed one. True once a download completes, 5 s later.
bool fetch_after_rejoin(const char *device)
{
    for (int attempt = 1; attempt <= RECOVERY_ATTEMPTS; attempt++) {
        g_workstation_seams.sleep_ms(2000);
        // Only a file this download writes may confirm the upgrade, never the copy of the first read.
        std::remove(INFO_FILE_COPY);
        if (g_driver_seams.download_device_info(device, RECOVERY_FETCH_LIMIT_MS, nullptr) == 0) {
            g_workstation_seams.sleep_ms(5000);
            return true;
        }
        DEBUG_LOG("device reconnect fail! try again! (the camera's information file could not be read again, "
                  "attempt %d of %d: rejoining its Wi-Fi)\n",
                  attempt, RECOVERY_ATTEMPTS);
        reconnect_wifi();
    }
    return false;
}

// Rejoins the camera's Wi-Fi and reads its version again: the upgrade succeeded only when the
// camera, restarted, runs the target version.
bool recover_over_wifi(upgrade_run *run)
{
    reconnect_wifi();
    if (!fetch_after_rejoin(run->device_address))
        return false;

    char text[1024];
    if (read_info_file(text) != 0 || read_version_text(text, run->device_version) != 0) {
        DEBUG_LOG("the camera's information file, read again, holds no version\n");
        return false;
    }
    DEBUG_LOG("device version:%s.\n", run->device_version);
    {
        std::lock_guard<std::mutex> hold(run_record_lock());
        std::memcpy(run->version_after, run->device_version, sizeof run->version_after);
    }
    if (std::strcmp(run->device_version, TARGET_FIRMWARE_VERSION) != 0)
        return false;
    if (run->device_version_found)
        DEBUG_LOG("device upgrade from %s to %s ok.\n", run->previous_version, TARGET_FIRMWARE_VERSION);
    else
        DEBUG_LOG("device upgrade from old to %s ok.\n", TARGET_FIRMWARE_VERSION);
    return true;
}

// Closes the mailbox and the command channel once the wait is over, and logs how it ended.
void end_exchange(reply_result result)
{
    reply_mailbox_close();
    device_channel_close();
    if (result == REPLY_TIMEOUT)
        DEBUG_LOG("upgrade fail, response from device timeout!\n");
    else if (result == REPLY_CHANNEL_ENDED)
        DEBUG_LOG("upgrade fail, the device closed the command channel without an answer!\n");
    else if (result == REPLY_ENDED_BEFORE_COMMAND)
        DEBUG_LOG("upgrade fail, the device closed the command channel before the command was sent: it never got "
                  "the command\n");
    else
        DEBUG_LOG("ws msg send and get res ok!\n");
}

void report_success()
{
    DEBUG_LOG("upgrade ok!\n");
    set_flag(g_upgrade_ok, 1);
    raise_outcome(OUTCOME_UPGRADE_OK);
}

// The camera's "ok": reported now, unless the strict confirmation reports the run's result once the
// camera is back; with a confirm mode set, the confirmation follows the clean-up.
upgrade_ending accept_success()
{
    if (g_driver.settings.confirm == CONFIRM_OFF) {
        report_success();
        return ENDING_FULL;
    }
    {
        std::lock_guard<std::mutex> hold(run_record_lock());
        g_driver.record.confirm.reply_ms = g_workstation_seams.now_ms();
    }
    if (g_driver.settings.confirm == CONFIRM_RECORD)
        report_success();
    else
        DEBUG_LOG("the camera said ok: the result waits for its new version to be confirmed\n");
    return ENDING_FULL_THEN_CONFIRM;
}

} // namespace

int open_command_channel(upgrade_run *run)
{
    rws_set_log(log_channel_line);
    if (open_channel(run) != 0)
        return channel_failure("connect ws to device fail!\n", EXIT_CHANNEL_NOT_OPENED);
    if (wait_for_connection())
        return 0;

    log_no_connection(run, 1);
    DEBUG_LOG("connect ws to device fail! try common port 9999...\n");
    // The first channel is closed first: it must not connect late while the command waits in the
    // second one.
    device_channel_close();
    if (open_channel(run) != 0)
        return channel_failure("connect ws to device:9999 fail!\n", EXIT_SECOND_CHANNEL_NOT_OPENED);
    if (wait_for_connection())
        return 0;
    log_no_connection(run, 2);
    return channel_failure("connect ws to device:9999 fail!\n", EXIT_NOT_CONNECTED);
}

int send_upgrade_command(upgrade_run *run)
{
    // The digest of the image the tool carries, which staging found the staged file to have: a file
    // changed after staging is then refused by the camera rather than flashed.
    std::memcpy(run->firmware_md5, g_firmware_image_md5, sizeof run->firmware_md5);
    DEBUG_LOG("md5:%s.\n", run->firmware_md5);
    format_text(run->image_url, sizeof run->image_url, "http://%s:%s/%s", run->host_address, FILE_SERVER_PORT_TEXT,
                run->firmware_file_name);
    format_text(run->upgrade_command, sizeof run->upgrade_command,
                "{\"cmd\":\"pc_firmware_up\", \"dev\":\"%d\", \"bin\":\"%s\", \"nver\":\"%s\", \"md5\":\"%s\", "
                "\"url\":\"%s\"}",
                1, "fac_firmware.bin", TARGET_FIRMWARE_VERSION, run->firmware_md5, run->image_url);
    // Texts from here on may answer the command; anything earlier never does.
    reply_mailbox_open();
    if (device_channel_send(run->upgrade_command) == 0) {
        DEBUG_LOG("upgrade command queued for the camera: %s\n", run->upgrade_command);
        return 0;
    }
    DEBUG_LOG("send upgrade ws cli to device fail!\n");
    reply_mailbox_close();
    device_channel_close();
    return stop_run(OUTCOME_SEND_FAILED, EXIT_COMMAND_NOT_SENT);
}

upgrade_ending await_reply(upgrade_run *run)
{
    // Over USB a channel that has ended can bring no answer; over Wi-Fi the camera may drop it while
    // it restarts its access point, and the recovery asks it after the full wait, unless the channel
    // ended before the command went out: then nothing on the camera can have changed.
    bool usb = std::strcmp(run->device_address, USB_CAMERA_ADDRESS) == 0;
    reply_result result = wait_for_answer(usb);
    end_exchange(result);
    switch (result) {
    case REPLY_SUCCESS:
        return accept_success();
    case REPLY_ALREADY_LATEST:
        raise_outcome(OUTCOME_ALREADY_LATEST);
        return ENDING_CLEANUP_ONLY;
    default:
        break;
    }
    if (usb || result == REPLY_ENDED_BEFORE_COMMAND) {
        DEBUG_LOG("upgrade fail!\n");
        set_flag(g_upgrade_ok, 0);
        raise_outcome(OUTCOME_UPGRADE_FAILED);
    } else if (recover_over_wifi(run)) {
        report_success();
    } else {
        raise_outcome(OUTCOME_UPGRADE_FAILED);
    }
    return ENDING_FULL;
}
