// The logging hook: every line goes to the run's diagnostics log; a build with FACUP_DEBUG_LOG also
// shows it on standard error.
#include "debug_log.h"

#include "diagnostics_log.h"

#include <cstdarg>
#include <cstdio>

void debug_log(const char *file, int line, const char *format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
#ifdef FACUP_DEBUG_LOG
    std::fprintf(stderr, "%s:%d: %s", file, line, text);
#endif
    diagnostics_line(file, line, text);
}

void debug_log_line(const char *file, int line, const char *text) { debug_log(file, line, "%s", text); }
