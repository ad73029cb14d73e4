// Bounded formatting, case-insensitive comparison and the sleep shared by the libraries.
#include "text_util.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <thread>

bool format_text(char *out, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out, size, format, args);
    va_end(args);
    return n >= 0 && (size_t)n < size;
}

bool ascii_equal_nocase(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int64_t steady_now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

const char *path_base_name(const char *path)
{
    const char *name = path;
    for (const char *p = path; *p != '\0'; p++)
        if (*p == '/' || *p == '\\')
            name = p + 1;
    return name;
}
