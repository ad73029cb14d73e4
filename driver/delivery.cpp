// The outbox and the delivery of its records: files named by run id, whose id begins with the run's
// start in fixed-width hex, so that name order is age order.
#include "delivery.h"

#include "debug_log.h"
#include "diagnostics_log.h"
#include "driver_state.h"
#include "http.h"
#include "metrics_file.h"
#include "outcomes.h"
#include "platform.h"
#include "run_id.h"
#include "utc_time.h"
#include "workstation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char OUTBOX_DIR[] = "outbox";
// Where records the collector refused as malformed are set aside for a person, inside the outbox.
const char REFUSED_DIR[] = "refused";
const char RECORD_SUFFIX[] = ".json";
// What replace_file_content writes a record to before its rename, and the age past which such a
// leftover is removed.
const char TEMPORARY_SUFFIX[] = ".tmp";
const int64_t TEMPORARY_MAX_AGE_MS = 24LL * 3600 * 1000;
// A larger file in the outbox is no record of the tool's: it is left alone.
const size_t RECORD_MAX_BYTES = 1024 * 1024;
// How much of a refusing collector's answer, and of a new location it names, the log shows.
const int ANSWER_SHOWN = 200;
const int LOCATION_SHOWN = 300;

// True for the names the outbox gives records, exactly: a run id and ".json".
bool is_record_name(const char *name)
{
    for (size_t i = 0; i < RUN_ID_LENGTH; i++) {
        char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return std::strcmp(name + RUN_ID_LENGTH, RECORD_SUFFIX) == 0;
}

// The path of the outbox, or of the entry called name in it (forward slashes serve both systems).
std::string outbox_path(const std::string &name = "")
{
    char path[COMMAND_LINE_SIZE];
    std::string entry = name.empty() ? OUTBOX_DIR : std::string(OUTBOX_DIR) + "/" + name;
    return logs_entry_path(entry.c_str(), path, sizeof path) ? path : "";
}

void collect_record(const char *name, void *context)
{
    if (is_record_name(name))
        static_cast<std::vector<std::string> *>(context)->push_back(name);
}

// The records in the outbox (folder "") or in its folder of that name, oldest first.
std::vector<std::string> outbox_records(const std::string &folder = "")
{
    std::vector<std::string> names;
    std::string dir = outbox_path(folder);
    if (!dir.empty())
        platform_list_directory(dir.c_str(), collect_record, &names);
    std::sort(names.begin(), names.end());
    return names;
}

// The outbox, or its folder of that name, made when missing (the logs directory must exist). False
// when it cannot be.
bool prepare_outbox(const std::string &folder = "")
{
    std::string dir = outbox_path(folder);
    if (prepare_logs_directory() != LOGS_READY || dir.empty())
        return false;
    std::string outbox = outbox_path();
    if (!platform_is_directory(outbox.c_str()))
        platform_mkdir(outbox.c_str());
    if (!platform_is_directory(dir.c_str()))
        platform_mkdir(dir.c_str());
    return platform_is_directory(dir.c_str());
}

// Drops the oldest records of the outbox (or of its folder) until at most keep of them are there
// (the bound being max_records).
void drop_oldest(size_t keep, size_t max_records, const std::string &folder = "")
{
    std::vector<std::string> names = outbox_records(folder);
    std::string prefix = folder.empty() ? "" : folder + "/";
    for (size_t i = 0; i + keep < names.size(); i++) {
        std::remove(outbox_path(prefix + names[i]).c_str());
        DEBUG_LOG("warning: the outbox%s%s holds more than %u records: the oldest, %s, is dropped\n",
                  folder.empty() ? "" : "/", folder.c_str(), static_cast<unsigned>(max_records), names[i].c_str());
    }
}

// True for the answers of a collector that will never take this record as it is: 400 (malformed),
// 413 (too large), 422 (a member its table cannot hold). Every other refusal may pass with time.
bool refuses_for_good(int status) { return status == 400 || status == 413 || status == 422; }

// Moves a record the collector refused for good out of the outbox into its "refused" folder, where
// it stays for a person and is never sent again.
void set_aside(const std::string &name, int status)
{
    std::string target = std::string(REFUSED_DIR) + "/" + name;
    bool ready = prepare_outbox(REFUSED_DIR);
    if (ready)
        drop_oldest(OUTBOX_MAX_RECORDS - 1, OUTBOX_MAX_RECORDS, REFUSED_DIR);
    if (!ready || platform_replace_file(outbox_path(name).c_str(), outbox_path(target).c_str()) != 0) {
        DEBUG_LOG("delivery: %s, refused with status %d, cannot be set aside: it will be sent again\n", name.c_str(),
                  status);
        return;
    }
    DEBUG_LOG("delivery: the collector refuses %s for good (status %d): set aside in %s, never sent again\n",
              name.c_str(), status, outbox_path(REFUSED_DIR).c_str());
}

// A record file whose writer ended before its rename (a power loss, a process killed): named as a
// record with ".tmp" behind.
bool is_temporary_name(const char *name)
{
    return std::strlen(name) == RUN_ID_LENGTH + sizeof RECORD_SUFFIX - 1 + sizeof TEMPORARY_SUFFIX - 1 &&
           std::strcmp(name + RUN_ID_LENGTH + sizeof RECORD_SUFFIX - 1, TEMPORARY_SUFFIX) == 0 &&
           is_record_name(std::string(name, RUN_ID_LENGTH + sizeof RECORD_SUFFIX - 1).c_str());
}

void collect_temporary(const char *name, void *context)
{
    if (is_temporary_name(name))
        static_cast<std::vector<std::string> *>(context)->push_back(name);
}

// Removes the outbox's leftover temporary record files older than a day: a writer still at work
// (another copy's outbox_keep) is never that old.
void remove_stale_temporaries()
{
    std::vector<std::string> names;
    std::string dir = outbox_path();
    if (dir.empty() || platform_list_directory(dir.c_str(), collect_temporary, &names) != 0)
        return;
    for (const std::string &name : names) {
        std::string path = outbox_path(name);
        int64_t modified = file_modified_utc_ms(path.c_str());
        if (modified >= 0 && utc_now_ms() - modified > TEMPORARY_MAX_AGE_MS && std::remove(path.c_str()) == 0)
            DEBUG_LOG("delivery: %s, a record never written whole, was more than a day old: removed\n", name.c_str());
    }
}

// What a collector that refused a record answered, shortened and on one line, for the log.
std::string answer_excerpt(http_client *client)
{
    const char *body = http_client_body(client);
    std::string text = body != nullptr ? std::string(body).substr(0, ANSWER_SHOWN) : "";
    return text.empty() ? "" : ": \"" + text + "\"";
}

// One attempt at one record. HTTP_OK with the status in *status, or the client's failure.
http_result send_record(const report_settings &report, const std::string &name, int64_t deadline_ms,
                        int *status)
{
    std::string body;
    *status = 0;
    if (!read_file_bounded(outbox_path(name).c_str(), RECORD_MAX_BYTES, body)) {
        DEBUG_LOG("delivery: %s cannot be read, or is larger than %u bytes: left where it is\n", name.c_str(),
                  static_cast<unsigned>(RECORD_MAX_BYTES));
        return HTTP_ERR_LOCAL_PATH;
    }
    std::string header = report.header.empty() ? "" : report.header + "\r\n";
    http_client *client = http_client_new();
    http_client_set_timeout(client, report.seconds * 1000);
    int64_t started = g_workstation_seams.now_ms();
    http_result code = http_client_post(client, report.url.c_str(), "application/json", body.data(),
                                        static_cast<int32_t>(body.size()), header.data(),
                                        static_cast<int32_t>(header.size()), deadline_ms);
    *status = http_client_status(client);
    bool delivered = code == HTTP_OK && *status >= 200 && *status < 300;
    DEBUG_LOG("delivery of %s: HTTP client result %d, %s; status %d; %lld ms%s%s\n", name.c_str(), code,
              http_result_text(code), *status, static_cast<long long>(g_workstation_seams.now_ms() - started),
              delivered ? "; delivered" : "; it waits in the outbox",
              code == HTTP_OK && !delivered ? answer_excerpt(client).c_str() : "");
    // A record is never posted again to where a 301, 302 or 303 points: a person changes report_url.
    const char *moved = http_client_location(client);
    if (code == HTTP_OK && moved != nullptr)
        DEBUG_LOG("delivery: the collector answers %d, moved to \"%.*s\": report_url should name that\n", *status,
                  LOCATION_SHOWN, moved);
    http_client_free(client);
    return code;
}

// Counts the run in the station's metrics file; a file that cannot be written is logged only.
void write_station_metrics(const char *path, exit_code code)
{
    const outcome *entry = outcome_entry(g_driver.record.outcome);
    run_metrics run = {entry != nullptr ? entry->code : nullptr, code, utc_now_ms(),
                       static_cast<double>(g_workstation_seams.now_ms() - g_driver.record.started_ms) / 1000.0,
                       outbox_record_count(), outbox_refused_count()};
    if (metrics_file_update(path, run) != 0)
        DEBUG_LOG("metrics: %s cannot be written\n", path);
}

} // namespace

size_t outbox_record_count() { return outbox_records().size(); }

size_t outbox_refused_count() { return outbox_records(REFUSED_DIR).size(); }

int outbox_keep(const std::string &run_id, const std::string &line, size_t max_records)
{
    if (!prepare_outbox()) {
        DEBUG_LOG("delivery: the outbox cannot be made in the logs directory: the record is not kept\n");
        return -1;
    }
    drop_oldest(max_records > 0 ? max_records - 1 : 0, max_records);
    std::string whole = line + "\n";
    std::string final_path = outbox_path(run_id + RECORD_SUFFIX);
    if (replace_file_content(final_path.c_str(), whole.data(), static_cast<uint32_t>(whole.size())) != 0) {
        DEBUG_LOG("delivery: the record cannot be written to %s\n", final_path.c_str());
        return -1;
    }
    return 0;
}

int outbox_send(const report_settings &report, int64_t deadline_ms)
{
    http_client_startup();  // a failed start-up shows in the attempts' results
    std::vector<std::string> names = outbox_records();
    DEBUG_LOG("delivery: %u records to send within %d s\n", static_cast<unsigned>(names.size()), report.seconds);
    int delivered = 0;
    for (size_t i = 0; i < names.size(); i++) {
        if (g_workstation_seams.now_ms() >= deadline_ms) {
            DEBUG_LOG("delivery: %d s are up; %u records wait in the outbox\n", report.seconds,
                      static_cast<unsigned>(names.size() - i));
            break;
        }
        int status = 0;
        http_result code = send_record(report, names[i], deadline_ms, &status);
        if (code == HTTP_OK && status >= 200 && status < 300) {
            if (std::remove(outbox_path(names[i]).c_str()) != 0)
                DEBUG_LOG("delivery: %s was delivered but cannot be deleted: it will be sent again\n",
                          names[i].c_str());
            delivered++;
        } else if (code == HTTP_OK && refuses_for_good(status)) {
            set_aside(names[i], status);
        } else if (code != HTTP_OK && code != HTTP_ERR_LOCAL_PATH) {
            DEBUG_LOG("delivery: the collector cannot be reached; %u records wait in the outbox\n",
                      static_cast<unsigned>(names.size() - i));
            break;
        }
    }
    return delivered;
}

void keep_run_record(const std::string &run_id, const std::string &line)
{
    if (!g_driver.settings.report.url.empty() && !line.empty() && outbox_keep(run_id, line, OUTBOX_MAX_RECORDS) == 0)
        DEBUG_LOG("delivery: the run's record is kept in the outbox until a collector takes it\n");
}

void deliver_run_record(const std::string &line, exit_code code, bool may_send)
{
    const report_settings &report = g_driver.settings.report;
    if ((report.url.empty() && report.metrics_file.empty()) || line.empty() || !may_send)
        return;
    int64_t deadline = g_workstation_seams.now_ms() + static_cast<int64_t>(report.seconds) * 1000;
    if (!retake_instance_guard()) {
        DEBUG_LOG("delivery: another copy of the tool runs now; it sends the outbox and counts when it ends\n");
        return;
    }
    if (!report.url.empty()) {
        remove_stale_temporaries();
        int delivered = outbox_send(report, deadline);
        DEBUG_LOG("delivery: %d records delivered to the collector\n", delivered);
    }
    if (!report.metrics_file.empty())
        write_station_metrics(report.metrics_file.c_str(), code);
    release_instance_guard();
}
