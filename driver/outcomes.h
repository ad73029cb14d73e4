// The outcome catalogue and its reporting: every user-visible end of a run, in English and Chinese,
// as a message box or, in silent mode, a result code in "flashret.txt"; and the start-up warning.
#pragma once

#include "outcome_ids.h"
#include "platform.h"
#include "shared_values.h"

// ---- Process-wide flags (one byte each; zero at start) ----

extern shared_flag g_silent_mode;  // "-s": result codes to flashret.txt, no message boxes
extern shared_flag g_chinese_ui;   // Chinese texts and caption
extern shared_flag g_upgrade_ok;   // success reported; also stops the spinner

// ---- The catalogue ----

struct outcome {
    outcome_id id;     // the catalogue row's own number
    const char *english;
    const char *chinese;
    box_style style;
    const char *code;  // silent-mode result code
};

// The catalogue entry of an outcome (outcome_ids.h), or null for OUTCOME_NONE or a number outside
// the catalogue.
const outcome *outcome_entry(outcome_id id);

// ---- Reporting ----

// Raises one outcome: its result code in silent mode, else its message box in the UI language.
void report_outcome(outcome_id id);

// Ends a run that cannot go on: raises the outcome, cleans the workstation up, and returns code
// (the stage function's own result, or the run's exit code).
int stop_run(outcome_id outcome, int code);

// Replaces the content of "flashret.txt" in the current directory with code (no line end).
// A file that cannot be opened is skipped.
void write_result_code(const char *code);

// The start-up warning (not in silent mode, nor in a check-only run). True when it was answered with
// Cancel, which ends the run at once (its stage's rule).
bool show_startup_warning();

// The caption of every box and the console title, in the UI language.
const char *ui_caption();
