// Delivery of the run records to a collector (facup.ini's report_url). A record is first kept whole
// in the outbox, "logs/outbox/<run id>.json", and deleted from there only once a collector answered
// it with a 2xx status; what waits there is sent, oldest first, by the next run that may send. One
// run's delivery is bounded by report_seconds, and it never changes the run's result, exit code or
// texts: its attempts are told in the diagnostics log only.
#pragma once

#include "driver.h"
#include "settings.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The most records the outbox keeps: past it, the oldest are dropped (each named in the log).
const size_t OUTBOX_MAX_RECORDS = 10000;

// The records waiting in the outbox (its files named "<run id>.json"); 0 without an outbox.
size_t outbox_record_count();
// The records set aside in "logs/outbox/refused" because the collector refused them for good.
size_t outbox_refused_count();

// Writes line whole into the outbox as "<run_id>.json" (a temporary name first, then renamed, so
// that no sender reads half a record), after dropping the oldest records so that at most
// max_records wait with it. 0, or -1 when the logs directory is missing or the file cannot be
// written (logged).
int outbox_keep(const std::string &run_id, const std::string &line, size_t max_records);

// Sends the outbox's records, oldest first, each as one POST of application/json to report.url
// with report.header, deleting each after a 2xx. A record refused for good (400, 413, 422) is set
// aside in "refused" (at most OUTBOX_MAX_RECORDS are kept there) and never sent again; after any
// other status that is not 2xx it waits. Goes on after an answer (one record may be refused, the
// next taken), and stops when the collector cannot be reached (the rest waits) or at deadline_ms (a
// time of steady_now_ms); every attempt and its result are logged. Returns the number of records
// delivered.
int outbox_send(const report_settings &report, int64_t deadline_ms);

// The run's end, its record (line, of the run run_id) written: with a report URL, keeps the record in
// the outbox. Nothing without line (no run under way).
void keep_run_record(const std::string &run_id, const std::string &line);

// Then, when may_send (the run took the single-instance guard) and the guard can be taken again (no
// other copy has begun meanwhile, which will do this at its own end): with a report URL, removes
// the outbox's temporary files left for more than a day and sends the outbox within
// report_seconds; counts the run (its exit code) in the metrics file when one is set, and gives the
// guard back. Without a report URL or a metrics file, or without line (no run under way): nothing.
void deliver_run_record(const std::string &line, exit_code code, bool may_send);
