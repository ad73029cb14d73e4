// The run's diagnostics log: every line of the logging hook, stamped with the time and its source,
// in a file of the run's own under the working root ("logs/run-<start>-<pid>.log"). One writer
// serves every thread; the newest DIAGNOSTICS_LOGS_KEPT logs are kept.
#pragma once

#include <cstddef>
#include <cstdint>

const int DIAGNOSTICS_LOGS_KEPT = 50;

// ---- The logs directory ----

enum logs_directory { LOGS_NO_ROOT, LOGS_READY, LOGS_UNUSABLE };

// Makes the logs directory inside the working root when it is missing. LOGS_NO_ROOT when the
// working root does not exist (it is never made here: making it is the privilege check of the
// working-directory stage), LOGS_UNUSABLE when the directory cannot be made.
logs_directory prepare_logs_directory();

// The path of the file called name in the logs directory. False when it does not fit.
bool logs_entry_path(const char *name, char *out, size_t size);

// ---- The writer ----

// Starts the log of a run that began at started_ms (UTC). Lines are kept in memory until the run
// may keep a log (diagnostics_keep) and the working root exists, then go to the file with every
// later line.
void diagnostics_begin(int64_t started_ms);

// The run holds the single-instance guard (prune_old: it alone prunes, when its log opens, to the
// newest DIAGNOSTICS_LOGS_KEPT logs, its own always kept), or goes on without one because none could
// be made (no pruning): its log may go to disk. A copy that another instance refused never calls
// this: its lines are dropped at its end, so refused copies never push the logs of real runs out.
void diagnostics_keep(bool prune_old);

// One line of the logging hook: the time, the source file's name (without its directories), the
// line number and the text with its control characters escaped. Dropped outside a run (before
// diagnostics_begin, after diagnostics_end) and when the log cannot be written.
void diagnostics_line(const char *file, int line, const char *text);

// Ends the run's log: what memory still holds is written if the working root exists by now (or
// dropped), and the file is closed.
void diagnostics_end();

// The text of one log line: the line ends that frame it (before and after) dropped, every other
// control byte escaped ("\n", "\r", "\t", "\xNN"); cut to fit size bytes.
void escape_log_text(const char *text, char *out, size_t size);
