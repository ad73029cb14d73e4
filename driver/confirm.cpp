// The confirmation of the new version: after the camera's "ok" and the clean-up, its information
// file is read back every 2 s through its restart, until it shows the target version or the time
// facup.ini allows has passed. A camera that says "ok" may still fail to boot the new image, roll
// back or never come back; only the version it shows afterwards proves the upgrade.
#include "confirm.h"

#include "debug_log.h"
#include "device_link.h"
#include "driver.h"
#include "driver_seams.h"
#include "driver_state.h"
#include "eligibility.h"
#include "outcome_ids.h"
#include "outcomes.h"
#include "platform.h"
#include "run_record.h"
#include "shared_values.h"
#include "spinner.h"
#include "ui_texts.h"
#include "workstation.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// One read begins every 2 s; a read that used up its time limit is followed at once.
const int READ_EVERY_MS = 2000;
// The console shows the wait's progress this often.
const int LINE_EVERY_MS = 10000;
// Over Wi-Fi, reads that bring no information file for this long rejoin the camera's access point,
// and again each time as long again.
const int WIFI_REJOIN_AFTER_MS = 10000;

// What one read of the information file found: no answer, an answer that is no information file
// (a status other than 2xx), a file without a version, a version.
enum read_result { READ_NO_ANSWER, READ_NOT_INFO_FILE, READ_NO_VERSION, READ_VERSION };

// The wait's own progress, beside what the run record keeps.
struct confirm_wait {
    int64_t began_ms = 0, deadline_ms = 0;
    int64_t next_line_ms = LINE_EVERY_MS;  // the wait's time at which the next progress line is due
    int64_t failing_since_ms = -1;         // the start of the first read of the unanswered ones, -1 none
    // The start of the first of the reads that brought no information file, -1 none: over Wi-Fi a
    // status other than 2xx is no camera either (the PC may have joined another network, where
    // something else answers at the camera's address).
    int64_t away_since_ms = -1;
    int64_t rejoin_at_ms = 0;              // over Wi-Fi, when the access point is rejoined next while they last
    bool answers = false;                  // the last read was answered
    char version[64] = "";                 // the version the last read showed ("" none)
    char last_seen[64] = "";               // the last version any read showed
};

int64_t now() { return g_workstation_seams.now_ms(); }

confirm_state &record() { return g_driver.record.confirm; }

// One read, judged only for a 2xx response: the copy is deleted first, so that only a file this
// read brought may show a version (a completed exchange may be a 404 that wrote nothing).
read_result read_version(const char *device, char version[64])
{
    std::remove(INFO_FILE_COPY);
    int status = 0;
    if (g_driver_seams.download_device_info(device, INFO_FETCH_LIMIT_MS, &status) != 0)
        return READ_NO_ANSWER;
    if (status < 200 || status > 299)
        return READ_NOT_INFO_FILE;
    char text[1024];
    if (read_info_file(text) != 0 || read_version_text(text, version) != 0)
        return READ_NO_VERSION;
    return READ_VERSION;
}

// A version shown: the run's version after, and the record's list when it is new to the run.
void note_version(confirm_wait &wait, upgrade_run *run, const char *version, int64_t read_ms)
{
    std::memcpy(wait.version, version, sizeof wait.version);
    std::memcpy(wait.last_seen, version, sizeof wait.last_seen);
    std::lock_guard<std::mutex> hold(run_record_lock());
    std::memcpy(run->version_after, version, sizeof run->version_after);
    auto &seen = record().versions;
    if (std::none_of(seen.begin(), seen.end(), [&](const auto &v) { return v.first == version; }))
        seen.emplace_back(version, read_ms);
}

// Notes a read that began at read_ms: the camera's absence lasts from the first unanswered read to
// the next answered one; the rejoins count from the first read that brought no information file.
void note_read(confirm_wait &wait, upgrade_run *run, read_result result, const char *version, int64_t read_ms)
{
    if (result != READ_NO_ANSWER && result != READ_NOT_INFO_FILE)
        wait.away_since_ms = -1;
    else if (wait.away_since_ms < 0) {
        wait.away_since_ms = read_ms;
        wait.rejoin_at_ms = read_ms + WIFI_REJOIN_AFTER_MS;
    }
    wait.answers = result != READ_NO_ANSWER;
    wait.version[0] = '\0';
    if (!wait.answers) {
        if (wait.failing_since_ms < 0)
            wait.failing_since_ms = read_ms;
        return;
    }
    if (wait.failing_since_ms >= 0) {
        std::lock_guard<std::mutex> hold(run_record_lock());
        record().unreachable_ms += read_ms - wait.failing_since_ms;
    }
    wait.failing_since_ms = -1;
    if (result == READ_VERSION)
        note_version(wait, run, version, read_ms);
}

// The progress line, once each 10 s of the wait.
void show_progress(confirm_wait &wait)
{
    int64_t waited = now() - wait.began_ms;
    if (waited < wait.next_line_ms)
        return;
    while (wait.next_line_ms <= waited)
        wait.next_line_ms += LINE_EVERY_MS;
    char line[256];
    confirm_progress_text(line, sizeof line, static_cast<int>(waited / 1000), wait.answers, wait.version);
    platform_console_line(line);
    DEBUG_LOG("confirmation: %s\n", line);
}

// Over Wi-Fi the PC may have left the camera's access point while it restarted: rejoin it once the
// reads have brought no information file for WIFI_REJOIN_AFTER_MS, and every WIFI_REJOIN_AFTER_MS
// after that (counted from the first such read, not from the rejoin, which takes its own time).
void rejoin_if_away(confirm_wait &wait, const char *device)
{
    if (std::strcmp(device, WIFI_CAMERA_ADDRESS) != 0 || wait.away_since_ms < 0 || now() < wait.rejoin_at_ms)
        return;
    DEBUG_LOG("confirmation: no information file from the camera for %lld ms: rejoining its Wi-Fi\n",
              static_cast<long long>(now() - wait.away_since_ms));
    reconnect_wifi();
    while (wait.rejoin_at_ms <= now())
        wait.rejoin_at_ms += WIFI_REJOIN_AFTER_MS;
}

// Reads until the target version shows, the time is up, or an interrupt takes the run over.
bool await_new_version(confirm_wait &wait, upgrade_run *run)
{
    while (!flag_is_set(g_workstation.interrupt_pending)) {
        int64_t read_ms = now();
        char version[64] = "";
        read_result result = read_version(run->device_address, version);
        note_read(wait, run, result, version, read_ms);
        if (result == READ_VERSION && std::strcmp(version, TARGET_FIRMWARE_VERSION) == 0)
            return true;
        if (now() >= wait.deadline_ms)
            return false;
        show_progress(wait);
        rejoin_if_away(wait, run->device_address);
        int64_t pause = std::min(read_ms + READ_EVERY_MS, wait.deadline_ms) - now();
        if (pause > 0)
            g_workstation_seams.sleep_ms(static_cast<int>(pause));
    }
    return false;
}

// The wait's end: the record, the console's last line and, in strict mode, the run's outcome.
void end_confirmation(confirm_wait &wait, bool confirmed)
{
    confirm_state &c = record();
    {
        std::lock_guard<std::mutex> hold(run_record_lock());
        c.ended = true;
        c.confirmed = confirmed;
        c.ended_ms = now();
        if (wait.failing_since_ms >= 0)
            c.unreachable_ms += c.ended_ms - wait.failing_since_ms;
    }
    char line[256];
    confirm_end_text(line, sizeof line, confirmed, static_cast<int>((c.ended_ms - wait.began_ms) / 1000),
                     wait.last_seen);
    platform_console_line(line);
    DEBUG_LOG("confirmation: %s\n", line);
    if (g_driver.settings.confirm != CONFIRM_STRICT)
        return;
    if (confirmed) {
        set_flag(g_upgrade_ok, 1);
        raise_outcome(OUTCOME_UPGRADE_OK);
    } else {
        raise_outcome(OUTCOME_NOT_CONFIRMED);
    }
}

} // namespace

const char *confirm_mode_name(confirm_mode mode)
{
    switch (mode) {
    case CONFIRM_RECORD:
        return "record";
    case CONFIRM_STRICT:
        return "strict";
    case CONFIRM_OFF:
        break;
    }
    return "off";
}

bool confirm_new_version(upgrade_run *run)
{
    wait_for_spinner_end(SPINNER_END_WAIT_MS);  // the spinner's last line comes before the wait's
    confirm_wait wait;
    wait.began_ms = now();
    wait.deadline_ms = wait.began_ms + static_cast<int64_t>(g_driver.settings.confirm_seconds) * 1000;
    char line[256];
    confirm_begin_text(line, sizeof line, g_driver.settings.confirm_seconds);
    platform_console_line(line);
    DEBUG_LOG("confirmation (%s): reading the camera's version at %s every %d ms, for at most %d s\n",
              confirm_mode_name(g_driver.settings.confirm), run->device_address, READ_EVERY_MS, g_driver.settings.confirm_seconds);
    bool confirmed = await_new_version(wait, run);
    std::remove(INFO_FILE_COPY);
    if (flag_is_set(g_workstation.interrupt_pending))
        return false;  // the interrupt ends the run and writes its record
    end_confirmation(wait, confirmed);
    return confirmed;
}
