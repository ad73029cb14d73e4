// Bounded formatting, case-insensitive comparison, the clock, the sleep, the parts of a path and the
// UTF-8 checks that the libraries share.
#include "text_util.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

bool format_text(char *out, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out, size, format, args);
    va_end(args);
    return n >= 0 && static_cast<size_t>(n) < size;
}

bool ascii_equal_nocase(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

bool text_equal_nocase(const char *text, size_t length, const char *other)
{
    return std::strlen(other) == length && ascii_equal_nocase(text, other, length);
}

bool text_equal_nocase(const char *a, const char *b) { return text_equal_nocase(a, std::strlen(a), b); }

const char *path_base_name(const char *path)
{
    const char *name = path;
    for (const char *p = path; *p != '\0'; p++)
        if (*p == '/' || *p == '\\')
            name = p + 1;
    return name;
}

size_t path_directory_length(const char *path) { return static_cast<size_t>(path_base_name(path) - path); }

size_t utf8_sequence_length(const unsigned char *text, size_t size)
{
    if (size == 0)
        return 0;
    unsigned char lead = text[0];
    if (lead < 0x80)
        return 1;
    // The lead byte gives the length and the range its second byte must lie in (RFC 3629).
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong form
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong form
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (size < length || text[1] < low || text[1] > high)
        return 0;
    for (size_t i = 2; i < length; i++)
        if (text[i] < 0x80 || text[i] > 0xBF)
            return 0;
    return length;
}

bool is_utf8(const char *text, size_t size)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    for (size_t i = 0; i < size;) {
        size_t n = utf8_sequence_length(bytes + i, size - i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}
