// The driver's logging hook: each line goes to the run's diagnostics log (diagnostics_log.h) with
// its source file and line; a build with FACUP_DEBUG_LOG also writes it to standard error.
#pragma once

void debug_log(const char *file, int line, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
#define DEBUG_LOG(...) debug_log(__FILE__, __LINE__, __VA_ARGS__)

// The logging hook for a line already formatted: the workstation's (g_workstation_seams.log_line).
void debug_log_line(const char *file, int line, const char *text);
