// Small text services the tool's libraries share: bounded formatting, ASCII case folding, the parts
// of a path, UTF-8 checks. No system knowledge lives here.
#pragma once

#include <cstddef>
#include <cstdint>

// Formats into a buffer of size bytes like snprintf. Returns false when the text did not fit (it is
// then cut, and still terminated).
bool format_text(char *out, size_t size, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// An ASCII letter in lower case; any other byte as it is.
inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when the n bytes at a and at b are the same, ASCII letters compared without case.
bool ascii_equal_nocase(const char *a, const char *b, size_t n);

// True when the length bytes at text are the whole of the NUL-terminated other, ASCII letters
// compared without case: a word cut out of a longer line against a known one.
bool text_equal_nocase(const char *text, size_t length, const char *other);

// True when the NUL-terminated texts a and b are the same, ASCII letters compared without case.
bool text_equal_nocase(const char *a, const char *b);

// The length of the well-formed UTF-8 sequence at the start of the size bytes at text (1 to 4), or
// 0 when they do not begin one: a stray continuation byte, an overlong form, a surrogate, a code
// point past U+10FFFF, or a sequence cut short.
size_t utf8_sequence_length(const unsigned char *text, size_t size);

// True when the size bytes are well-formed UTF-8 throughout.
bool is_utf8(const char *text, size_t size);

// The part of path after its last "/" or "\\" (the whole path when it has neither).
const char *path_base_name(const char *path);

// The length of path's directory part: up to and including its last "/" or "\\" (0 when it has
// neither), where a file name beside the path's own begins.
size_t path_directory_length(const char *path);

