// The run record: what the run found and reported, gathered from its buffers and the outcome reporter,
// appended as one JSON line when the run ends.
#include "run_record.h"

#include "delivery.h"
#include "diagnostics_log.h"
#include "utc_time.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace {

const char RECORD_FILE[] = "runs.jsonl";
const char RECORD_PREVIOUS[] = "runs.1.jsonl";

// The record of the run under way (g_run.record).
run_record_state &record() { return g_run.record; }

double seconds_between(int64_t from_ms, int64_t to_ms) { return static_cast<double>(to_ms - from_ms) / 1000.0; }

// The member's name, after a comma unless it opens its object.
void add_key(std::string &out, const char *key)
{
    if (out.back() != '{')
        out += ',';
    out += '"';
    out += key;
    out += "\":";
}

// A text member; null for a text the run did not reach (none, or empty).
void add_text(std::string &out, const char *key, const char *text, size_t max_length)
{
    add_key(out, key);
    if (text == nullptr || text[0] == '\0')
        out += "null";
    else
        append_json_text(out, text, max_length);
}

template <size_t N> void add_buffer(std::string &out, const char *key, const char (&buffer)[N])
{
    add_text(out, key, buffer, N);
}

void add_integer(std::string &out, const char *key, long long value, bool reached)
{
    add_key(out, key);
    out += reached ? std::to_string(value) : "null";
}

void add_seconds(std::string &out, const char *key, double seconds)
{
    char number[32];
    format_text(number, sizeof number, "%.3f", seconds);
    add_key(out, key);
    out += number;
}

// The confirmation of the new version: its mode always; the versions it saw, each with the seconds
// from the camera's "ok" to its first read; once it ended, whether it confirmed, when, and how long
// the camera was unreachable (null otherwise: not asked, or stopped from outside).
void add_confirm(std::string &out)
{
    const confirm_state &c = record().confirm;
    add_key(out, "confirm");
    out += '{';
    add_text(out, "mode", confirm_mode_name(g_run.confirm), 8);
    add_key(out, "confirmed");
    out += !c.ended ? "null" : c.confirmed ? "true" : "false";
    if (c.ended)
        add_seconds(out, "seconds", seconds_between(c.reply_ms, c.ended_ms));
    else
        add_integer(out, "seconds", 0, false);
    add_key(out, "versions");
    out += '[';
    for (const auto &seen : c.versions) {
        out += out.back() == '[' ? "{" : ",{";
        add_text(out, "version", seen.first.c_str(), seen.first.size());
        add_seconds(out, "seconds", seconds_between(c.reply_ms, seen.second));
        out += '}';
    }
    out += ']';
    if (c.ended)
        add_seconds(out, "unreachable_seconds", seconds_between(0, c.unreachable_ms));
    else
        add_integer(out, "unreachable_seconds", 0, false);
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

// Appends the bytes as lower-case hex digits.
void append_hex(std::string &out, const unsigned char *bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < count; i++) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
}

// FNV-1a over the bytes, from hash: the fallback's mixing, where the system gives no random bytes.
uint64_t fnv1a(uint64_t hash, const void *data, size_t size)
{
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < size; i++)
        hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
    return hash;
}

// Bytes that differ between stations and runs without the system's random source: the station's
// name, the start, the process id and the steady clock, hashed twice with different seeds.
void fallback_bytes(unsigned char *out, size_t size, int64_t started_utc_ms)
{
    char station[256];
    platform_computer_name(station, sizeof station);
    unsigned long pid = platform_process_id();
    int64_t steady = steady_now_ms();
    for (size_t i = 0; i < size; i += 8) {
        uint64_t hash = fnv1a(0xcbf29ce484222325ULL + i, station, std::strlen(station));
        hash = fnv1a(hash, &started_utc_ms, sizeof started_utc_ms);
        hash = fnv1a(hash, &pid, sizeof pid);
        hash = fnv1a(hash, &steady, sizeof steady);
        for (size_t j = 0; j < 8 && i + j < size; j++)
            out[i + j] = static_cast<unsigned char>(hash >> (8 * j));
    }
}

} // namespace

std::string new_run_id(int64_t started_utc_ms)
{
    char time[RUN_ID_TIME_DIGITS + 1];
    format_text(time, sizeof time, "%012llx", static_cast<unsigned long long>(started_utc_ms) & 0xffffffffffffULL);
    unsigned char random[(RUN_ID_LENGTH - RUN_ID_TIME_DIGITS) / 2];
    if (platform_random_bytes(random, sizeof random) != 0)
        fallback_bytes(random, sizeof random, started_utc_ms);
    std::string id = time;
    append_hex(id, random, sizeof random);
    return id;
}

const std::string &run_record_id() { return record().run_id; }

std::mutex &run_record_lock()
{
    static std::mutex *lock = new std::mutex;  // never destroyed: an interrupt may write at exit
    return *lock;
}

void run_record_begin(const upgrade_run *run)
{
    record() = run_record_state{};
    record().run = run;
    record().started_utc_ms = utc_now_ms();
    record().started_ms = record().stage_started_ms = steady_now_ms();
    record().run_id = new_run_id(record().started_utc_ms);
    if (!g_run.report.url.empty())
        record().outbox_waiting = static_cast<long long>(outbox_record_count());
    diagnostics_begin(record().started_utc_ms);
    char station[256];
    platform_computer_name(station, sizeof station);
    DEBUG_LOG("facup %s run %s started on station \"%s\" (process %lu), %s mode\n", FACUP_TOOL_VERSION,
              record().run_id.c_str(), station, platform_process_id(),
              flag_is_set(g_silent_mode) ? "silent" : "interactive");
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

void run_record_stage_done(const char *name)
{
    int64_t now = steady_now_ms();
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

std::string run_record_line(int exit_code)
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
    add_text(out, "run_id", record().run_id.c_str(), record().run_id.size());
    add_buffer(out, "tool", FACUP_TOOL_VERSION);
    add_buffer(out, "station", station);
    add_text(out, "mode", flag_is_set(g_silent_mode) ? "silent" : "interactive", 16);
    add_text(out, "link", link_name(run.device_address), 8);
    add_buffer(out, "pc_address", run.host_address);
    add_buffer(out, "camera_address", run.device_address);
    add_text(out, "model", g_device_model_found ? g_device_model : nullptr, sizeof g_device_model);
    add_text(out, "version_before", run.device_version_found ? run.previous_version : nullptr,
             sizeof run.previous_version);
    add_buffer(out, "version_after", run.version_after);
    add_confirm(out);
    add_text(out, "root_permissions", g_workstation.notes.root_permissions, 16);
    add_text(out, "server_program", g_workstation.notes.server_program, 16);
    add_buffer(out, "image", run.firmware_file_name);
    add_integer(out, "image_bytes", run.firmware_bytes, run.firmware_bytes > 0);
    add_buffer(out, "image_md5", run.firmware_md5);
    add_buffer(out, "staging_error", g_workstation.notes.staging_error);
    add_integer(out, "served_bytes", served, served >= 0);
    add_integer(out, "outcome", static_cast<long long>(record().outcome), entry != nullptr);
    add_text(out, "result", entry != nullptr ? entry->code : nullptr, 16);
    add_integer(out, "exit_code", exit_code, record().interrupted.empty());
    if (!record().interrupted.empty()) {
        add_text(out, "interrupted", record().interrupted.c_str(), record().interrupted.size());
        add_text(out, "interrupted_stage", record().interrupted_stage.c_str(), record().interrupted_stage.size());
    }
    if (record().outbox_waiting >= 0)
        add_integer(out, "outbox", record().outbox_waiting, true);
    add_seconds(out, "seconds", seconds_between(record().started_ms, steady_now_ms()));
    add_key(out, "stages");
    out += '{';
    for (const auto &stage : record().stages)
        add_seconds(out, stage.first.c_str(), stage.second);
    out += "},\"warnings\":[";
    for (size_t i = 0; i < record().warnings.size(); i++) {
        if (i > 0)
            out += ',';
        append_json_text(out, record().warnings[i].c_str(), record().warnings[i].size());
    }
    out += "]}";
    return out;
}

void run_record_end(int exit_code)
{
    keep_run_record(run_record_write(exit_code));
    run_record_close();
}

std::string run_record_write(int exit_code)
{
    if (record().run == nullptr)
        return "";
    std::string line = run_record_line(exit_code);
    const outcome *entry = outcome_entry(record().outcome);
    char ending[128];
    if (record().interrupted.empty())
        format_text(ending, sizeof ending, "exit code %d", exit_code);
    else
        format_text(ending, sizeof ending, "interrupted by %s during the stage \"%s\"", record().interrupted.c_str(),
                    record().interrupted_stage.c_str());
    DEBUG_LOG("run ended: %s, %s%s, after %.1f s; the last stage finished: %s\n", ending,
              entry != nullptr ? "result code " : "no outcome", entry != nullptr ? entry->code : "",
              seconds_between(record().started_ms, steady_now_ms()),
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

void run_record_close() { diagnostics_end(); }

void run_record_end_interrupted(const char *event, const char *stage)
{
    {
        std::lock_guard<std::mutex> hold(run_record_lock());
        record().interrupted = event;
        record().interrupted_stage = stage;
    }
    run_record_end(0);
}

void append_json_text(std::string &out, const char *text, size_t max_length)
{
    static const char digits[] = "0123456789abcdef";
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t length = 0;
    while (length < max_length && text[length] != '\0')
        length++;
    out += '"';
    for (size_t i = 0; i < length;) {
        unsigned char c = bytes[i];
        size_t n = utf8_sequence_length(bytes + i, length - i);
        if (n > 1) {
            out.append(text + i, n);
        } else if (n == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD for a byte that begins no character
            n = 1;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\u00";
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
        i += n;
    }
    out += '"';
}
