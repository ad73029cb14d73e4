// The exchange with the camera: the command channel opened and waited for, the "pc_firmware_up"
// command with the image's URL and MD5, the wait for the camera's answer, its outcome, and the
// Wi-Fi recovery that asks the camera itself when the answer does not say success.
#include "driver.h"

#include "device_channel.h"
#include "md5.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <deque>
#include <string>

char g_ws_reply[8192];
int32_t g_ws_reply_len;

namespace {

const int CAMERA_COMMAND_PORT = 9999;
const int CONNECT_WAIT_SECONDS = 4;
const int RECOVERY_FETCH_LIMIT_MS = 5000;
const int RECOVERY_ATTEMPTS = 17;
const int REPLY_LIMIT_SECONDS = 600;
// Texts from the camera reach the diagnostics log cut to this many bytes.
const size_t CAMERA_TEXT_SHOWN = 200;

enum reply_result { REPLY_UNDECIDED, REPLY_SUCCESS, REPLY_ALREADY_LATEST, REPLY_FAILURE, REPLY_TIMEOUT, REPLY_CHANNEL_ENDED };

void real_wait(std::condition_variable &changed, std::unique_lock<std::mutex> &lock, int ms)
{
    changed.wait_for(lock, std::chrono::milliseconds(ms));
}

// The mailbox between the channel's worker (on_ws_text, on_ws_connected, on_ws_disconnected) and
// the driver. Whether the current channel has connected and whether it has ended are noted from the
// moment it is opened, whenever the callback comes: a camera may take the connection and drop it
// again before the command is sent.
struct reply_mailbox {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    bool channel_ended = false;  // the current channel has ended
    std::deque<std::string> texts;
};
reply_mailbox mailbox;

// Bounded substring search in bytes that carry no terminator.
bool contains(const char *data, size_t length, const char *needle)
{
    size_t n = std::strlen(needle);
    for (size_t i = 0; n <= length && i <= length - n; i++)
        if (std::memcmp(data + i, needle, n) == 0)
            return true;
    return false;
}

// A new channel is about to be opened: nothing an earlier one did counts for it.
void watch_new_channel()
{
    std::lock_guard<std::mutex> hold(mailbox.lock);
    mailbox.channel_ended = false;
    set_flag(g_ws_connected, 0);
}

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
        g_driver_hooks.sleep_ms(1000);
    }
    return true;
}

// How much of a camera's text of this length the log shows.
int shown_length(size_t length) { return (int)(length < CAMERA_TEXT_SHOWN ? length : CAMERA_TEXT_SHOWN); }

// Says, after a wait for the connection ran out, how far the channel got.
void log_no_connection(const upgrade_run *run, int attempt)
{
    DEBUG_LOG("no WebSocket connection to the camera at %s:%d within %d s (attempt %d of 2): %s\n",
              run->device_address, CAMERA_COMMAND_PORT, CONNECT_WAIT_SECONDS, attempt, device_channel_progress());
}

exit_code channel_failure(const char *log_text, exit_code code)
{
    DEBUG_LOG("%s", log_text);
    return stop_run(OUTCOME_CANNOT_CONNECT, code);
}

void log_channel_line(const char *line) { DEBUG_LOG("%s", line); }

// Takes the oldest text of the mailbox (its lock held) into g_ws_reply.
void take_reply()
{
    const std::string &text = mailbox.texts.front();
    std::memcpy(g_ws_reply, text.data(), text.size());
    g_ws_reply[text.size()] = '\0';
    g_ws_reply_len = (int32_t)text.size();
    mailbox.texts.pop_front();
    if (mailbox.texts.empty())
        set_flag(g_ws_reply_ready, 0);
}

// The camera's verdict in the text just taken, if it holds one.
reply_result judge_reply()
{
    if (std::strstr(g_ws_reply, "ok") != nullptr) {
        DEBUG_LOG("recv upgrade ws cli from device ok!\n");
        return REPLY_SUCCESS;
    }
    if (const char *fail = std::strstr(g_ws_reply, "fail")) {
        if (std::strstr(fail + 4, "\"8\"") != nullptr) {
            DEBUG_LOG("already newest version!\n");
            return REPLY_ALREADY_LATEST;
        }
        DEBUG_LOG("recv upgrade ws response from device: fail!\n");
        return REPLY_FAILURE;
    }
    DEBUG_LOG("recv upgrade res:%.*s.\n", shown_length((size_t)g_ws_reply_len), g_ws_reply);
    return REPLY_UNDECIDED;
}

// Waits for a deciding answer, at most the limit counted from the send; every text is
// judged in arrival order. With stop_at_channel_end, the wait also ends once the channel has ended
// and no text is left to take: nothing can arrive any more.
reply_result wait_for_answer(bool stop_at_channel_end)
{
    const int64_t start = g_driver_hooks.now_ms();
    const int64_t limit_ms = (int64_t)g_driver_hooks.reply_limit_seconds * 1000;
    std::unique_lock<std::mutex> lock(mailbox.lock);
    for (;;) {
        if (!mailbox.texts.empty()) {
            take_reply();
            reply_result verdict = judge_reply();
            if (verdict != REPLY_UNDECIDED)
                return verdict;
            continue;
        }
        if (stop_at_channel_end && mailbox.channel_ended)
            return REPLY_CHANNEL_ENDED;
        int64_t waited = g_driver_hooks.now_ms() - start;
        if (waited > limit_ms)
            return REPLY_TIMEOUT;
        int64_t left = limit_ms - waited + 1; // the limit counts as passed once exceeded
        g_driver_hooks.wait(mailbox.changed, lock, left < INT32_MAX ? (int)left : INT32_MAX);
    }
}

// Downloads the information file again, up to RECOVERY_ATTEMPTS tries 2 s apart, rejoining the
// Wi-Fi after each failed one. True once a download completes, 5 s later.
bool fetch_after_rejoin(const char *device)
{
    for (int attempt = 1; attempt <= RECOVERY_ATTEMPTS; attempt++) {
        g_driver_hooks.sleep_ms(2000);
        // Only a file this download writes may confirm the upgrade, never the copy of the first read.
        std::remove(".deviceRelateInfo.txt");
        if (g_driver_hooks.download_device_info(device, RECOVERY_FETCH_LIMIT_MS) == 0) {
            g_driver_hooks.sleep_ms(5000);
            return true;
        }
        DEBUG_LOG("device reconnect fail! try again!\n");
        DEBUG_LOG("the camera's information file could not be read again (attempt %d of %d): rejoining its Wi-Fi\n",
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
    std::memcpy(run->version_after, run->device_version, sizeof run->version_after);
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
    else
        DEBUG_LOG("ws msg send and get res ok!\n");
}

void report_success()
{
    DEBUG_LOG("upgrade ok!\n");
    set_flag(g_upgrade_ok, 1);
    raise_outcome(OUTCOME_UPGRADE_OK);
}

} // namespace

constexpr driver_hooks REAL_DRIVER_HOOKS = {
    platform_message_box, steady_now_ms,         sleep_ms,           real_wait,
    download_device_info, device_channel_client, REPLY_LIMIT_SECONDS,
};
driver_hooks g_driver_hooks = REAL_DRIVER_HOOKS;

void reply_mailbox_open()
{
    std::lock_guard<std::mutex> hold(mailbox.lock);
    mailbox.open = true;
    mailbox.texts.clear();
    set_flag(g_ws_reply_ready, 0);
}

void reply_mailbox_close()
{
    std::lock_guard<std::mutex> hold(mailbox.lock);
    mailbox.open = false;
    mailbox.channel_ended = false;
    mailbox.texts.clear();
    set_flag(g_ws_reply_ready, 0);
}

void on_ws_text(rws_client *, const char *text, uint32_t length)
{
    DEBUG_LOG("\nSocket text: %.*s.\n", shown_length(length), text);
    if (length > CAMERA_TEXT_SHOWN)
        DEBUG_LOG("the camera's text above has %u bytes; the log shows its first %u\n", length,
                  (unsigned)CAMERA_TEXT_SHOWN);
    if (contains(text, length, "auth"))
        return;
    std::string kept(text, length < sizeof g_ws_reply - 1 ? length : sizeof g_ws_reply - 1);
    std::lock_guard<std::mutex> hold(mailbox.lock);
    if (!mailbox.open) {
        DEBUG_LOG("text before the command, dropped: %.*s\n", shown_length(kept.size()), kept.c_str());
        return;
    }
    if (mailbox.texts.size() == REPLY_MAILBOX_SIZE) {
        const std::string &oldest = mailbox.texts.front();
        DEBUG_LOG("reply mailbox full, oldest text dropped: %.*s\n", shown_length(oldest.size()), oldest.c_str());
        mailbox.texts.pop_front();
    }
    mailbox.texts.push_back(std::move(kept));
    set_flag(g_ws_reply_ready, 1);
    mailbox.changed.notify_one();
}

void on_ws_binary(rws_client *, const char *data, uint32_t length)
{
    char copy[8200];
    size_t n = length < sizeof copy - 1 ? length : sizeof copy - 1;
    std::memcpy(copy, data, n);
    copy[n] = '\0';
    DEBUG_LOG("\nSocket bin: <%.*s>", shown_length(n), copy);
}

// Only the current channel's connection counts: an earlier attempt's may still come late.
void on_ws_connected(rws_client *client)
{
    std::lock_guard<std::mutex> hold(mailbox.lock);
    if (client == nullptr || client != g_driver_hooks.current_channel()) {
        DEBUG_LOG("a connection of an earlier attempt at the command channel came late; ignored\n");
        return;
    }
    set_flag(g_ws_connected, 1);
    DEBUG_LOG("\nSocket connected.\n");
}

void on_ws_disconnected(rws_client *client)
{
    if (rws_fault *fault = rws_client_get_error(client)) {
        DEBUG_LOG("\nSocket disconnect with code, error: %i, %s", rws_fault_code(fault), rws_fault_text(fault));
        DEBUG_LOG("the command channel ended on fault %i: %s\n", rws_fault_code(fault),
                  rws_fault_meaning(rws_fault_code(fault)));
    }
    std::lock_guard<std::mutex> hold(mailbox.lock);
    if (client == nullptr || client != g_driver_hooks.current_channel())
        return;
    if (!mailbox.open)
        DEBUG_LOG("the command channel ended before the command was sent\n");
    mailbox.channel_ended = true;
    mailbox.changed.notify_one();
}

exit_code open_command_channel(upgrade_run *run)
{
    rws_set_log(log_channel_line);
    if (open_channel(run) != 0)
        return channel_failure("connect ws to device fail!\n", EXIT_CHANNEL_NOT_OPENED);
    if (wait_for_connection())
        return STAGE_GO_ON;

    log_no_connection(run, 1);
    DEBUG_LOG("connect ws to device fail! try common port 9999...\n");
    // The first channel is closed first: it must not connect late while the command waits in the
    // second one.
    device_channel_close();
    if (open_channel(run) != 0)
        return channel_failure("connect ws to device:9999 fail!\n", EXIT_SECOND_CHANNEL_NOT_OPENED);
    if (wait_for_connection())
        return STAGE_GO_ON;
    log_no_connection(run, 2);
    return channel_failure("connect ws to device:9999 fail!\n", EXIT_NOT_CONNECTED);
}

exit_code send_upgrade_command(upgrade_run *run)
{
    md5_file_hex(run->firmware_path, run->firmware_md5);
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
        return STAGE_GO_ON;
    }
    DEBUG_LOG("send upgrade ws cli to device fail!\n");
    reply_mailbox_close();
    device_channel_close();
    return stop_run(OUTCOME_SEND_FAILED, EXIT_COMMAND_NOT_SENT);
}

upgrade_ending await_reply(upgrade_run *run)
{
    // Over USB a channel that has ended can bring no answer; over Wi-Fi the camera may drop it while
    // it restarts its access point, and the recovery asks it after the full wait.
    bool usb = std::strcmp(run->device_address, USB_CAMERA_ADDRESS) == 0;
    reply_result result = wait_for_answer(usb);
    end_exchange(result);
    switch (result) {
    case REPLY_SUCCESS:
        report_success();
        return ENDING_FULL;
    case REPLY_ALREADY_LATEST:
        raise_outcome(OUTCOME_ALREADY_LATEST);
        return ENDING_CLEANUP_ONLY;
    default:
        break;
    }
    if (usb) {
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
