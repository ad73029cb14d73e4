// The record of every run: one JSON line appended to "logs/runs.jsonl" under the working root at the
// run's end, with what the run found, did and reported. A record that cannot be written changes
// nothing else of the run.
#pragma once

#include "driver.h"
#include "outcome_ids.h"

#include <cstdint>
#include <mutex>
#include <string>


// Past this size the record file becomes "runs.1.jsonl" (one older generation is kept).
const uint32_t RUN_RECORD_ROTATE_ABOVE = 10u * 1000u * 1000u;

// Starts the record of the run whose buffers run holds (they must outlive run_record_write), begun
// at started_utc_ms, with the records that waited in the outbox then (-1: no report URL, no count).
void run_record_begin(const upgrade_run *run, int64_t started_utc_ms, long long outbox_waiting);

// The id of the run under way (empty outside a run).
const std::string &run_record_id();

// The lock of the record's members (g_driver.record) and of the run's buffers that a thread other than
// the run's may read: an interrupt composes the record on its own thread while the confirmation (or
// the Wi-Fi recovery) writes what it reads back. Taken by run_record_line and by those writes, for
// no longer than the write or the composing.
std::mutex &run_record_lock();

// Notes an outcome raised; the record keeps the last one.
void run_record_note_outcome(outcome_id id);

// Notes the camera's link-layer address (text as camera_link_address writes it) for the record.
void run_record_note_camera_mac(const char *mac);

// Notes the end of the stage of that name: its seconds are those since the previous stage ended
// (or the run began).
void run_record_stage_done(const char *name);

// Adds a warning to the run's record.
void run_record_add_warning(const char *text);

// For the copy that holds the single-instance guard: a record file past RUN_RECORD_ROTATE_ABOVE
// replaces "runs.1.jsonl".
void run_record_rotate();

// The run's record as one line of JSON (no line end), as it stands now.
std::string run_record_line(exit_code code);

// Ends the record: appends it with one write when the working root exists and returns its line;
// empty when no run was under way (a later call then writes nothing). It calls no one else: the
// run's end (run_end.h) hands the line on.
std::string run_record_write(exit_code code);

// Notes that the run was interrupted: its record then has no exit code (null) and carries the event
// ("SIGTERM", "CTRL_C_EVENT") and the stage it stopped ("reply") in "interrupted" and
// "interrupted_stage".
void run_record_note_interrupted(const char *event, const char *stage);
