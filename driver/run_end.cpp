// The run's record from its start to its end: the record, then the outbox and the diagnostics log.
#include "run_end.h"

#include "delivery.h"
#include "diagnostics_log.h"
#include "driver_state.h"
#include "run_record.h"
#include "utc_time.h"

void open_run(const upgrade_run *run)
{
    int64_t started = utc_now_ms();
    long long waiting = g_driver.settings.report.url.empty() ? -1 : static_cast<long long>(outbox_record_count());
    diagnostics_begin(started);
    run_record_begin(run, started, waiting);
}

std::string keep_run_line(exit_code code)
{
    std::string line = run_record_write(code);
    keep_run_record(run_record_id(), line);
    return line;
}

void close_run(exit_code code)
{
    keep_run_line(code);
    diagnostics_end();
}

void close_interrupted_run(const char *event, const char *stage)
{
    run_record_note_interrupted(event, stage);
    close_run(EXIT_COMPLETED);  // written as null: an interrupted run has no exit code
}
