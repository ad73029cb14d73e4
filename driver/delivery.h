// Delivery of the run records to a collector (facup.ini's report_url). A record is first kept whole
// in the outbox, "logs/outbox/<run id>.json", and deleted from there only once a collector answered
// it with a 2xx status; what waits there is sent, oldest first, by the next run that may send. One
// run's delivery is bounded by report_seconds, and it never changes the run's result, exit code or
// texts: its attempts are told in the diagnostics log only.
#pragma once

#include "driver.h"
#include "outbox.h"
#include "settings.h"

#include <cstdint>
#include <string>

// Sends the outbox's records, oldest first, up to report.batch of them (and at most 1 MiB) in one
// POST of application/json to report.url with report.header, one record a line; a 2xx deletes every
// record of the request. A record refused for good (400, 413, 422) is set aside in "refused" (at
// most OUTBOX_MAX_RECORDS are kept there) and never sent again; a request of several records so
// refused is sent again record by record, so that only the refused ones are set aside. After any
// other status that is not 2xx the request's records wait. Goes on after an answer, and stops when
// the collector cannot be reached (the rest waits) or at deadline_ms (a time of steady_now_ms);
// every attempt and its result are logged. Returns the number of records delivered.
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
