// The run's record from its start to its end, in one direction: the record gives its line, and the
// outbox, the delivery and the diagnostics log take what they need from here; none of them calls
// back into the record.
#pragma once

#include "driver.h"

#include <string>

// Starts the run's diagnostics log and its record (with the records waiting in the outbox when a
// report URL is set). run's buffers must outlive the record.
void open_run(const upgrade_run *run);

// Asks the record for its line (appended to the record file) and, with a report URL, keeps it in
// the outbox. Returns the line for the delivery; empty when no run was under way. Every road calls
// it before the run counts as ended, since an interrupt after that ends the process at once.
std::string keep_run_line(exit_code code);

// The run's end without a delivery (the start-up warning's Cancel): the line kept, then the
// diagnostics log ended. Nothing is written when no run was under way or it has already ended.
void close_run(exit_code code);

// An interrupted run's end: its record without an exit code, with the event ("SIGTERM") and the
// stage it stopped ("reply"), then as close_run.
void close_interrupted_run(const char *event, const char *stage);
