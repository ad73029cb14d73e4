// The delivery of the outbox's records to a collector: oldest first, report_batch records (at most
// 1 MiB) a request, one record a line, within report_seconds; and the station's counters.
#include "delivery.h"

#include "debug_log.h"
#include "driver_state.h"
#include "http.h"
#include "metrics_file.h"
#include "outbox.h"
#include "outcomes.h"
#include "platform.h"
#include "run_id.h"
#include "utc_time.h"
#include "workstation.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// How much of a refusing collector's answer, and of a new location it names, the log shows.
const int ANSWER_SHOWN = 200;
const int LOCATION_SHOWN = 300;

// What a collector that refused a record answered, shortened and on one line, for the log.
std::string answer_excerpt(http_client *client)
{
    const char *body = http_client_body(client);
    std::string text = body != nullptr ? std::string(body).substr(0, ANSWER_SHOWN) : "";
    return text.empty() ? "" : ": \"" + text + "\"";
}

// The records of one request: their names, and their texts one after another, each on its own
// line (a record alone is sent exactly as its file holds it).
struct record_batch {
    std::vector<std::string> names;
    std::string body;
};

// Fills batch from names[from] on with up to most records and at most OUTBOX_RECORD_MAX_BYTES of
// body (a first record always fits). A record that cannot be read, or is larger, is skipped and left
// where it is (logged). Returns the index of the first record not looked at.
size_t fill_batch(const std::vector<std::string> &names, size_t from, size_t most, record_batch &batch)
{
    size_t i = from;
    for (; i < names.size() && batch.names.size() < most; i++) {
        std::string record;
        if (!read_file_bounded(outbox_path(names[i]).c_str(), OUTBOX_RECORD_MAX_BYTES, record)) {
            DEBUG_LOG("delivery: %s cannot be read, or is larger than %u bytes: left where it is\n", names[i].c_str(),
                      static_cast<unsigned>(OUTBOX_RECORD_MAX_BYTES));
            continue;
        }
        bool needs_line_end = !batch.body.empty() && batch.body.back() != '\n';
        if (!batch.names.empty() && batch.body.size() + needs_line_end + record.size() > OUTBOX_RECORD_MAX_BYTES)
            break;
        if (needs_line_end)
            batch.body += '\n';
        batch.body += record;
        batch.names.push_back(names[i]);
    }
    return i;
}

// The batch's name for the log: the record's, or the count and the first and last.
std::string batch_name(const record_batch &batch)
{
    if (batch.names.size() == 1)
        return batch.names[0];
    return std::to_string(batch.names.size()) + " records (" + batch.names.front() + " to " + batch.names.back() +
           ", " + std::to_string(batch.body.size()) + " bytes)";
}

// One attempt at one batch. HTTP_OK with the status in *status, or the client's failure.
http_result post_batch(const report_settings &report, const record_batch &batch, int64_t deadline_ms, int *status)
{
    std::string header = report.header.empty() ? "" : report.header + "\r\n";
    http_client *client = http_client_new();
    http_client_set_timeout(client, report.seconds * 1000);
    int64_t started = g_workstation_seams.now_ms();
    http_result code = http_client_post(client, report.url.c_str(), "application/json", batch.body.data(),
                                        static_cast<int32_t>(batch.body.size()), header.data(),
                                        static_cast<int32_t>(header.size()), deadline_ms);
    *status = http_client_status(client);
    bool delivered = code == HTTP_OK && *status >= 200 && *status < 300;
    DEBUG_LOG("delivery of %s: HTTP client result %d, %s; status %d; %lld ms%s%s\n", batch_name(batch).c_str(), code,
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

// Sends names, oldest first, most records a request: a 2xx deletes the batch's records; a batch
// refused for good is sent again record by record, so that only the refused record is set aside;
// any other answer leaves the batch waiting and goes on. Adds what was delivered to *delivered.
// False when the collector cannot be reached or the deadline passed: the rest waits.
bool send_records(const report_settings &report, const std::vector<std::string> &names, size_t most,
                  int64_t deadline_ms, int *delivered)
{
    for (size_t next = 0; next < names.size();) {
        if (g_workstation_seams.now_ms() >= deadline_ms) {
            DEBUG_LOG("delivery: %d s are up; %u records wait in the outbox\n", report.seconds,
                      static_cast<unsigned>(names.size() - next));
            return false;
        }
        record_batch batch;
        size_t first = next;
        next = fill_batch(names, next, most, batch);
        if (batch.names.empty())
            continue;
        int status = 0;
        http_result code = post_batch(report, batch, deadline_ms, &status);
        if (code == HTTP_OK && status >= 200 && status < 300) {
            for (const std::string &name : batch.names)
                if (std::remove(outbox_path(name).c_str()) != 0)
                    DEBUG_LOG("delivery: %s was delivered but cannot be deleted: it will be sent again\n",
                              name.c_str());
            *delivered += static_cast<int>(batch.names.size());
        } else if (code == HTTP_OK && refuses_for_good(status)) {
            if (batch.names.size() == 1)
                set_aside(batch.names[0], status);
            else if (!send_records(report, batch.names, 1, deadline_ms, delivered))
                return false;
        } else if (code != HTTP_OK) {
            DEBUG_LOG("delivery: the collector cannot be reached; %u records wait in the outbox\n",
                      static_cast<unsigned>(names.size() - first));
            return false;
        }
    }
    return true;
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

int outbox_send(const report_settings &report, int64_t deadline_ms)
{
    http_client_startup();  // a failed start-up shows in the attempts' results
    std::vector<std::string> names = outbox_records();
    DEBUG_LOG("delivery: %u records to send within %d s, up to %d a request\n", static_cast<unsigned>(names.size()),
              report.seconds, report.batch);
    int delivered = 0;
    send_records(report, names, static_cast<size_t>(report.batch > 0 ? report.batch : 1), deadline_ms, &delivered);
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
