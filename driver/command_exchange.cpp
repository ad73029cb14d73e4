// The exchange with the camera: the command channel opened and waited for, the "pc_firmware_up"
// command with the image's URL and MD5, the wait for the camera's answer, its outcome, and the
// Wi-Fi recovery that asks the camera itself when the answer does not say success.
#include "driver.h"

#include "device_channel.h"
#include "md5.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

char g_ws_reply[8192];
int32_t g_ws_reply_len;
int g_reply_limit_seconds = 600;

namespace {

const int CAMERA_COMMAND_PORT = 9999;
const int CONNECT_WAIT_SECONDS = 4;
const int RECOVERY_FETCH_LIMIT_MS = 5000;
const int RECOVERY_ATTEMPTS = 17;
// How long a new text waits for the driver to take the previous one before it is dropped.
const int REPLY_HANDOVER_WAIT_MS = 2000;

enum reply_result { REPLY_SUCCESS, REPLY_ALREADY_LATEST, REPLY_FAILURE, REPLY_TIMEOUT };

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Bounded substring search in bytes that carry no terminator.
bool contains(const char *data, size_t length, const char *needle)
{
    size_t n = std::strlen(needle);
    for (size_t i = 0; n <= length && i <= length - n; i++)
        if (std::memcmp(data + i, needle, n) == 0)
            return true;
    return false;
}

// Waits up to four one-second sleeps for the connection.
bool wait_for_connection()
{
    for (int sleeps = 0; !flag_is_set(g_ws_connected); sleeps++) {
        if (sleeps == CONNECT_WAIT_SECONDS)
            return false;
        sleep_ms(1000);
    }
    return true;
}

int channel_failure(const char *log_text, int exit_code)
{
    DEBUG_LOG("%s", log_text);
    return stop_run(OUTCOME_CANNOT_CONNECT, exit_code);
}

// Takes the camera's latest text into reply: copied while the ready flag still holds it back
// from the worker, then released for the next one.
void take_reply(char reply[sizeof g_ws_reply])
{
    std::memcpy(reply, g_ws_reply, sizeof g_ws_reply);
    set_flag(g_ws_reply_ready, 0);
}

// Waits for a deciding answer, no longer than the limit counted from the send.
reply_result wait_for_answer()
{
    std::time_t start = std::time(nullptr);
    static char reply[sizeof g_ws_reply];
    for (;;) {
        while (!flag_is_set(g_ws_reply_ready)) {
            sleep_ms(10);
            if (std::time(nullptr) - start > g_reply_limit_seconds)
                return REPLY_TIMEOUT;
        }
        take_reply(reply);
        if (std::strstr(reply, "ok") != nullptr) {
            DEBUG_LOG("recv upgrade ws cli from device ok!\n");
            return REPLY_SUCCESS;
        }
        if (const char *fail = std::strstr(reply, "fail")) {
            if (std::strstr(fail + 4, "\"8\"") != nullptr) {
                DEBUG_LOG("already newest version!\n");
                return REPLY_ALREADY_LATEST;
            }
            DEBUG_LOG("recv upgrade ws response from device: fail!\n");
            return REPLY_FAILURE;
        }
        DEBUG_LOG("recv upgrade res:%s.\n", reply);
    }
}

// Rejoins the camera's Wi-Fi and reads its version again: success only when the camera now runs
// the target version.
bool recover_over_wifi(upgrade_run *run)
{
    reconnect_wifi();
    bool fetched = false;
    for (int attempt = 1; attempt <= RECOVERY_ATTEMPTS; attempt++) {
        sleep_ms(2000);
        // Only a file this download writes may confirm the upgrade, never the copy of the first read.
        std::remove(".deviceRelateInfo.txt");
        if (download_device_info(run->device_address, RECOVERY_FETCH_LIMIT_MS) == 0) {
            sleep_ms(5000);
            fetched = true;
            break;
        }
        DEBUG_LOG("device reconnect fail! try again!\n");
        reconnect_wifi();
    }
    if (!fetched)
        return false;

    char text[1024];
    if (read_info_file(text) != 0 || read_version_text(text, run->device_version) != 0)
        return false;
    DEBUG_LOG("device version:%s.\n", run->device_version);
    if (std::strcmp(run->device_version, TARGET_FIRMWARE_VERSION) != 0)
        return false;
    if (run->device_version_found)
        DEBUG_LOG("device upgrade from %s to %s ok.\n", run->previous_version, TARGET_FIRMWARE_VERSION);
    else
        DEBUG_LOG("device upgrade from old to %s ok.\n", TARGET_FIRMWARE_VERSION);
    return true;
}

void report_success()
{
    DEBUG_LOG("upgrade ok!\n");
    set_flag(g_upgrade_ok, 1);
    raise_outcome(OUTCOME_UPGRADE_OK);
}

} // namespace

void on_ws_text(rws_client *, const char *text, uint32_t length)
{
    if (!contains(text, length, "auth")) {
        // Never write over a text the driver has not taken yet: wait for it (it polls every
        // 10 ms), and drop the new text only if the driver has stopped taking.
        for (int waited = 0; flag_is_set(g_ws_reply_ready) && waited < REPLY_HANDOVER_WAIT_MS; waited++)
            sleep_ms(1);
        if (flag_is_set(g_ws_reply_ready))
            return;
        size_t n = length < sizeof g_ws_reply - 1 ? length : sizeof g_ws_reply - 1;
        std::memcpy(g_ws_reply, text, n);
        g_ws_reply[n] = '\0';
        g_ws_reply_len = (int32_t)n;
        set_flag(g_ws_reply_ready, 1);
    }
    DEBUG_LOG("\nSocket text: %.*s.\n", (int)length, text);
}

void on_ws_binary(rws_client *, const char *data, uint32_t length)
{
    char copy[8200];
    size_t n = length < sizeof copy - 1 ? length : sizeof copy - 1;
    std::memcpy(copy, data, n);
    copy[n] = '\0';
    DEBUG_LOG("\nSocket bin: <%s>", copy);
}

void on_ws_connected(rws_client *)
{
    set_flag(g_ws_connected, 1);
    DEBUG_LOG("\nSocket connected.\n");
}

void on_ws_disconnected(rws_client *client)
{
    if (rws_fault *fault = rws_client_get_error(client))
        DEBUG_LOG("\nSocket disconnect with code, error: %i, %s", rws_fault_code(fault), rws_fault_text(fault));
}

int open_command_channel(upgrade_run *run)
{
    if (device_channel_open(run->device_address, CAMERA_COMMAND_PORT, on_ws_disconnected, on_ws_connected,
                            on_ws_text, on_ws_binary) != 0)
        return channel_failure("connect ws to device fail!\n", -5);
    if (wait_for_connection())
        return 0;

    DEBUG_LOG("connect ws to device fail! try common port 9999...\n");
    // The first channel is closed first: it must not connect late while the command waits in the
    // second one.
    device_channel_close();
    if (device_channel_open(run->device_address, CAMERA_COMMAND_PORT, on_ws_disconnected, on_ws_connected,
                            on_ws_text, on_ws_binary) != 0)
        return channel_failure("connect ws to device:9999 fail!\n", -6);
    if (wait_for_connection())
        return 0;
    return channel_failure("connect ws to device:9999 fail!\n", -7);
}

int send_upgrade_command(upgrade_run *run)
{
    md5_file_hex(run->firmware_path, run->firmware_md5);
    DEBUG_LOG("md5:%s.\n", run->firmware_md5);
    format_text(run->image_url, sizeof run->image_url, "http://%s:%s/%s", run->host_address, "8234",
                run->firmware_file_name);
    format_text(run->upgrade_command, sizeof run->upgrade_command,
                "{\"cmd\":\"pc_firmware_up\", \"dev\":\"%d\", \"bin\":\"%s\", \"nver\":\"%s\", \"md5\":\"%s\", "
                "\"url\":\"%s\"}",
                1, "fac_firmware.bin", TARGET_FIRMWARE_VERSION, run->firmware_md5, run->image_url);
    set_flag(g_ws_reply_ready, 0);
    if (device_channel_send(run->upgrade_command) == 0)
        return 0;
    DEBUG_LOG("send upgrade ws cli to device fail!\n");
    device_channel_close();
    return stop_run(OUTCOME_SEND_FAILED, -6);
}

int await_reply(upgrade_run *run)
{
    reply_result result = wait_for_answer();
    device_channel_close();
    DEBUG_LOG(result == REPLY_TIMEOUT ? "upgrade fail, response from device timeout!\n" : "ws msg send and get res ok!\n");

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
    if (std::strcmp(run->device_address, USB_CAMERA_ADDRESS) == 0) {
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
