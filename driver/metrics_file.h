// The station's counters for a monitoring system: a text file in the exposition format that an
// exporter's textfile collector reads, rewritten whole after each run by the copy that holds the
// single-instance guard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What the file says of the run that just ended.
struct run_metrics {
    const char *result;     // its result code ("ok0"), or null when it raised no outcome
    int exit_status;        // its exit code
    int64_t ended_utc_ms;   // by the system clock
    double seconds;         // its duration
    size_t outbox_records;  // records waiting for delivery after it
    size_t outbox_refused;  // records the collector refused for good, set aside
};

// The result label of a run that raised no outcome.
#define METRICS_NO_RESULT "none"
// The most result series carried over from the previous file; further unknown labels are dropped.
const size_t METRICS_MAX_RESULTS = 64;

// The file's new text: the run counters read from previous (the old file's text; any line that is
// not a complete counter line of this tool is ignored, so a torn or foreign file starts the
// counters it lacks at 0), the run's result counted once more, then the gauges of this run.
std::string metrics_text(const std::string &previous, const run_metrics &run);

// Rewrites the file at path with metrics_text in one step: the text goes to "<path>.tmp" (a name
// the collector does not read), which then replaces the file. 0, or -1 when it cannot be written
// (the old file is then as it was).
int metrics_file_update(const char *path, const run_metrics &run);
