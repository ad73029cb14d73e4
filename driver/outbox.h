// The outbox: run records waiting for a collector, one file each ("logs/outbox/<run id>.json",
// written whole under a temporary name first, then renamed, so that no sender reads half a record),
// named so that name order is age order; and "logs/outbox/refused", where records a collector
// refused for good are set aside for a person. Both are bounded to OUTBOX_MAX_RECORDS files.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The most records the outbox keeps: past it, the oldest are dropped (each named in the log).
const size_t OUTBOX_MAX_RECORDS = 10000;
// A larger file in the outbox is no record of the tool's: it is left alone.
const size_t OUTBOX_RECORD_MAX_BYTES = 1024 * 1024;
// The outbox's folder of records refused for good.
#define OUTBOX_REFUSED_DIR "refused"

// The records waiting in the outbox (its files named "<run id>.json"); 0 without an outbox.
size_t outbox_record_count();
// The records set aside in "logs/outbox/refused" because the collector refused them for good.
size_t outbox_refused_count();

// Writes line whole into the outbox as "<run_id>.json" (a temporary name first, then renamed, so
// that no sender reads half a record), after dropping the oldest records so that at most
// max_records wait with it. 0, or -1 when the logs directory is missing or the file cannot be
// written (logged).
int outbox_keep(const std::string &run_id, const std::string &line, size_t max_records);

// The path of the outbox, or of the entry called name in it (forward slashes serve both systems);
// empty when the path does not fit.
std::string outbox_path(const std::string &name = "");

// The record names in the outbox (folder "") or in its folder of that name, oldest first.
std::vector<std::string> outbox_records(const std::string &folder = "");

// True for the answers of a collector that will never take this record as it is: 400 (malformed),
// 413 (too large), 422 (a member its table cannot hold). Every other refusal may pass with time.
bool refuses_for_good(int status);

// Moves the outbox's record called name, which the collector refused for good with status, into
// the "refused" folder, where it stays for a person and is never sent again (logged).
void set_aside(const std::string &name, int status);

// Removes the outbox's leftover temporary record files older than a day: a writer still at work
// (another copy's outbox_keep) is never that old.
void remove_stale_temporaries();
