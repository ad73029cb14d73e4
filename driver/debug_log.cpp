// The logging hook. The shipped tool discards every line; a build with FACUP_DEBUG_LOG shows them.
#include "driver.h"

#include <cstdarg>
#include <cstdio>

void debug_log(const char *file, int line, const char *format, ...)
{
#ifdef FACUP_DEBUG_LOG
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "%s:%d: ", file, line);
    std::vfprintf(stderr, format, args);
    va_end(args);
#else
    (void)file;
    (void)line;
    (void)format;
#endif
}
