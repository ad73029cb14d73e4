// The driver's own state in one record, and its reset: included only by the files that keep a part
// of it (the settings, the reply mailbox, the run record, the interrupt, the spinner) and by tests.
#pragma once

#include "outcome_ids.h"
#include "settings.h"
#include "shared_values.h"

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

struct upgrade_run;

// The reply mailbox's contents: whether it is open, whether the current channel has ended (and
// whether it did while the mailbox was closed: before the command was sent), and the texts not yet
// taken (under reply_mailbox_lock()).
struct reply_mailbox_state {
    bool open = false;
    bool channel_ended = false;
    bool ended_before_command = false;
    std::deque<std::string> texts;
};

// The confirmation of the new version as the run record keeps it: times by the steady clock
// (g_workstation_seams.now_ms).
struct confirm_state {
    bool ended = false;      // the confirmation came to its end (not stopped from outside)
    bool confirmed = false;  // it read the target version
    int64_t reply_ms = 0, ended_ms = 0;  // the deciding "ok", and the confirmation's end
    std::vector<std::pair<std::string, int64_t>> versions;  // each version read, when first read
    int64_t unreachable_ms = 0;  // how long the camera did not answer
};

// The run record as it is gathered (run_record.h): what the run found, its stages' seconds, its
// warnings, and the event that stopped it, if one did.
struct run_record_state {
    const upgrade_run *run = nullptr;  // the run under way; null outside a run
    std::string run_id;                // new_run_id, the same in the record, the log and what is sent
    long long outbox_waiting = -1;     // records in the outbox when the run began; -1: no report URL
    std::string camera_mac;            // the camera's link-layer address; empty: unknown
    int64_t started_utc_ms = 0;
    int64_t started_ms = 0, stage_started_ms = 0;  // by the steady clock
    outcome_id outcome = OUTCOME_NONE;             // the last outcome raised
    std::vector<std::pair<std::string, double>> stages;
    confirm_state confirm;
    std::vector<std::string> warnings;
    std::string interrupted, interrupted_stage;  // the event that stopped the run and where; empty if none
};

// What the process knows of interrupts (interrupt.cpp): whether they are handled, the stage the run
// is in, and the first event and its handling, read by the threads that handle events.
struct interrupt_state {
    copyable_atomic<bool> enabled;
    copyable_atomic<bool> run_ended;
    copyable_atomic<const char *> running_stage;
    copyable_atomic<bool> taken;   // the first event is being handled
    copyable_atomic<bool> ending;  // its record is being written
    copyable_atomic<int> code;
    copyable_atomic<const char *> event;
    copyable_atomic<const char *> stage;  // the stage the first event stopped
    copyable_atomic<int64_t> started_ms;        // the first event, by the steady clock (the seams')
    copyable_atomic<int64_t> deadline_ms;       // when the process must have ended: the first event's limit
    copyable_atomic<int64_t> close_deadline_ms; // sooner, once a console's close followed it; 0 before
};

// The state the driver keeps beyond the names its texts fix (the flags of outcomes.h and
// reply_mailbox.h, g_ws_reply, g_device_model, ...): one record, set back whole by reset_driver_state.
// Made once and never destroyed, so that a thread still at work while the process exits (a
// channel's worker, an interrupt) finds it. Locks live beside it, not in it.
struct driver_state {
    // facup.ini's, as load_station_settings read it; its warnings and, after them, its folder's go to
    // the run record. Its firewall mode is also g_workstation's, whose steps open the port.
    station_settings settings;
    bool guard_taken = false;                  // this run took the single-instance guard: it may deliver
    copyable_atomic<uint8_t> spinner_running;  // the spinner runs: the process waits for its last line
    reply_mailbox_state mailbox;
    run_record_state record;
    interrupt_state interrupt;
};
extern driver_state &g_driver;

// Test programs run the driver many times in one process. Puts back the state a fresh process
// starts a run with: every flag clear (the workstation's stop flag too), no reply, no model text,
// no staged image path, g_driver and g_workstation as made, the real stage functions and seams, and the
// texts through the calls of the system's code page.
void reset_driver_state();
