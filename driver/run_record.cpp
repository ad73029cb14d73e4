// The run record: what the run found and reported, gathered from its buffers and the outcome reporter,
// appended as one JSON line when the run ends.
#include "run_record.h"

#include "confirm.h"
#include "debug_log.h"
#include "device_link.h"
#include "diagnostics_log.h"
#include "driver.h"
#include "driver_state.h"
#include "eligibility.h"
#include "json_text.h"
#include "outcomes.h"
#include "platform.h"
#include "run_id.h"
#include "settings.h"
#include "shared_values.h"
#include "text_util.h"
#include "tool_version.h"
#include "utc_time.h"
#include "workstation.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

const char RECORD_FILE[] = "runs.jsonl";
const char RECORD_PREVIOUS[] = "runs.1.jsonl";

// The record of the run under way (g_driver.record).
run_record_state &record() { return g_driver.record; }

double seconds_between(int64_t from_ms, int64_t to_ms) { return static_cast<double>(to_ms - from_ms) / 1000.0; }

template <size_t N> void add_buffer(std::string &out, const char *key, const char (&buffer)[N])
{
    json_text_member(out, key, buffer, N);
}

// The confirmation of the new version: its mode always; the versions it saw, each with the seconds
// from the camera's "ok" to its first read; once it ended, whether it confirmed, when, and how long
// the camera was unreachable (null otherwise: not asked, or stopped from outside).
void add_confirm(std::string &out)
{
    const confirm_state &c = record().confirm;
    json_key(out, "confirm");
    out += '{';
    json_text_member(out, "mode", confirm_mode_name(g_driver.settings.confirm), 8);
    json_key(out, "confirmed");
    out += !c.ended ? "null" : c.confirmed ? "true" : "false";
    if (c.ended)
        json_seconds_member(out, "seconds", seconds_between(c.reply_ms, c.ended_ms));
    else
        json_integer_member(out, "seconds", 0, false);
    json_key(out, "versions");
    out += '[';
    for (const auto &seen : c.versions) {
        out += out.back() == '[' ? "{" : ",{";
        json_text_member(out, "version", seen.first.c_str(), seen.first.size());
        json_seconds_member(out, "seconds", seconds_between(c.reply_ms, seen.second));
        out += '}';
    }
    out += ']';
    if (c.ended)
        json_seconds_member(out, "unreachable_seconds", seconds_between(0, c.unreachable_ms));
    else
        json_integer_member(out, "unreachable_seconds", 0, false);
    out += '}';
}

const char *link_name(const char *device)
{
    if (std::strcmp(device, USB_CAMERA_ADDRESS) == 0)
        return "usb";
    if (std::strcmp(device, WIFI_CAMERA_ADDRESS) == 0)
        return "wifi";
    return nullptr;
}

// Appends the line to the record file with one appending write, so that the lines of copies that
// end at the same time never mix. 0, or the system's error code.
int append_record(const std::string &line)
{
    char path[COMMAND_LINE_SIZE];
    if (!logs_entry_path(RECORD_FILE, path, sizeof path))
        return -1;
    std::string whole = line + "\n";
    return platform_append_file(path, whole.data(), whole.size());
}

// The PC's name as UTF-8.
void station_name(char *out, size_t size)
{
    char name[256];
    platform_computer_name(name, sizeof name);
    platform_utf8_from_ansi(name, std::strlen(name), out, size);
}

} // namespace

const std::string &run_record_id() { return record().run_id; }

std::mutex &run_record_lock()
{
    static std::mutex *lock = new std::mutex;  // never destroyed: an interrupt may write at exit
    return *lock;
}

void run_record_begin(const upgrade_run *run, int64_t started_utc_ms, long long outbox_waiting)
{
    record() = run_record_state{};
    record().run = run;
    record().started_utc_ms = started_utc_ms;
    record().started_ms = record().stage_started_ms = g_workstation_seams.now_ms();
    record().run_id = new_run_id(record().started_utc_ms);
    record().outbox_waiting = outbox_waiting;
    char station[256];
    platform_computer_name(station, sizeof station);
    DEBUG_LOG("facup %s run %s started on station \"%s\" (process %lu), %s mode%s\n", FACUP_TOOL_VERSION,
              record().run_id.c_str(), station, platform_process_id(),
              flag_is_set(g_silent_mode) ? "silent" : "interactive", g_workstation.check_only ? ", check only" : "");
}

void run_record_note_outcome(outcome_id id)
{
    const outcome *entry = outcome_entry(id);
    if (entry == nullptr)
        return;
    std::lock_guard<std::mutex> hold(run_record_lock());
    record().outcome = id;
    DEBUG_LOG("outcome %d raised: result code %s, message \"%s\"\n", id, entry->code, entry->english);
}

void run_record_note_camera_mac(const char *mac)
{
    std::lock_guard<std::mutex> hold(run_record_lock());
    record().camera_mac = mac;
}

void run_record_stage_done(const char *name)
{
    int64_t now = g_workstation_seams.now_ms();
    std::lock_guard<std::mutex> hold(run_record_lock());
    record().stages.emplace_back(name, seconds_between(record().stage_started_ms, now));
    record().stage_started_ms = now;
}

void run_record_add_warning(const char *text)
{
    record().warnings.emplace_back(text);
    DEBUG_LOG("warning: %s\n", text);
}

void run_record_rotate()
{
    char current[COMMAND_LINE_SIZE], previous[COMMAND_LINE_SIZE];
    if (!logs_entry_path(RECORD_FILE, current, sizeof current) ||
        !logs_entry_path(RECORD_PREVIOUS, previous, sizeof previous))
        return;
    if (file_size_of(current) <= RUN_RECORD_ROTATE_ABOVE)
        return;
    if (platform_replace_file(current, previous) == 0)
        DEBUG_LOG("run records past %u bytes: %s now holds the older runs\n", RUN_RECORD_ROTATE_ABOVE, previous);
    else
        DEBUG_LOG("run records past %u bytes, but %s could not replace %s\n", RUN_RECORD_ROTATE_ABOVE, current,
                  previous);
}

std::string run_record_line(exit_code code)
{
    std::lock_guard<std::mutex> hold(run_record_lock());
    static const upgrade_run none = {};
    const upgrade_run &run = record().run != nullptr ? *record().run : none;
    const outcome *entry = outcome_entry(record().outcome);
    char time[32], station[768];
    format_utc(record().started_utc_ms, UTC_SECONDS, time, sizeof time);
    station_name(station, sizeof station);
    int64_t served = download_progress_now().sent;

    std::string out = "{";
    add_buffer(out, "time", time);
    json_text_member(out, "run_id", record().run_id.c_str(), record().run_id.size());
    add_buffer(out, "tool", FACUP_TOOL_VERSION);
    add_buffer(out, "station", station);
    json_text_member(out, "mode", flag_is_set(g_silent_mode) ? "silent" : "interactive", 16);
    json_text_member(out, "run_kind", g_workstation.check_only ? "check" : "upgrade", 8);
    json_text_member(out, "link", link_name(run.device_address), 8);
    add_buffer(out, "pc_address", run.host_address);
    add_buffer(out, "camera_address", run.device_address);
    json_text_member(out, "camera_mac", record().camera_mac.c_str(), record().camera_mac.size());
    json_text_member(out, "model", g_device_model_found ? g_device_model : nullptr, sizeof g_device_model);
    json_text_member(out, "version_before", run.device_version_found ? run.previous_version : nullptr,
             sizeof run.previous_version);
    add_buffer(out, "version_after", run.version_after);
    add_confirm(out);
    json_text_member(out, "root_permissions", g_workstation.notes.root_permissions, 16);
    json_text_member(out, "server_program", g_workstation.notes.server_program, 16);
    add_buffer(out, "image", run.firmware_file_name);
    json_integer_member(out, "image_bytes", run.firmware_bytes, run.firmware_bytes > 0);
    add_buffer(out, "image_md5", run.firmware_md5);
    add_buffer(out, "staging_error", g_workstation.notes.staging_error);
    json_integer_member(out, "served_bytes", served, served >= 0);
    json_integer_member(out, "outcome", static_cast<long long>(record().outcome), entry != nullptr);
    json_text_member(out, "result", entry != nullptr ? entry->code : nullptr, 16);
    json_integer_member(out, "exit_code", code, record().interrupted.empty());
    if (!record().interrupted.empty()) {
        json_text_member(out, "interrupted", record().interrupted.c_str(), record().interrupted.size());
        json_text_member(out, "interrupted_stage", record().interrupted_stage.c_str(), record().interrupted_stage.size());
    }
    if (record().outbox_waiting >= 0)
        json_integer_member(out, "outbox", record().outbox_waiting, true);
    json_seconds_member(out, "seconds", seconds_between(record().started_ms, g_workstation_seams.now_ms()));
    json_key(out, "stages");
    out += '{';
    for (const auto &stage : record().stages)
        json_seconds_member(out, stage.first.c_str(), stage.second);
    out += "},\"warnings\":[";
    for (size_t i = 0; i < record().warnings.size(); i++) {
        if (i > 0)
            out += ',';
        append_json_text(out, record().warnings[i].c_str(), record().warnings[i].size());
    }
    out += "]}";
    return out;
}

std::string run_record_write(exit_code code)
{
    if (record().run == nullptr)
        return "";
    std::string line = run_record_line(code);
    const outcome *entry = outcome_entry(record().outcome);
    char ending[128];
    if (record().interrupted.empty())
        format_text(ending, sizeof ending, "exit code %d", code);
    else
        format_text(ending, sizeof ending, "interrupted by %s during the stage \"%s\"", record().interrupted.c_str(),
                    record().interrupted_stage.c_str());
    DEBUG_LOG("run ended: %s, %s%s, after %.1f s; the last stage finished: %s\n", ending,
              entry != nullptr ? "result code " : "no outcome", entry != nullptr ? entry->code : "",
              seconds_between(record().started_ms, g_workstation_seams.now_ms()),
              record().stages.empty() ? "none" : record().stages.back().first.c_str());
    // The record needs the working root: a run that never made it keeps no record.
    logs_directory logs = prepare_logs_directory();
    if (logs != LOGS_NO_ROOT) {
        int error = logs == LOGS_READY ? append_record(line) : -1;
        if (error != 0)
            DEBUG_LOG("the run record could not be written to the logs directory: %s\n",
                      error > 0 ? system_error_text(error) : "the directory is missing or its path too long");
    }
    record().run = nullptr;
    return line;
}

void run_record_note_interrupted(const char *event, const char *stage)
{
    std::lock_guard<std::mutex> hold(run_record_lock());
    record().interrupted = event;
    record().interrupted_stage = stage;
}
