// JSON text for the run record: strings and the members of an object.
#pragma once

#include <cstddef>
#include <string>

// Appends text (at most max_length bytes, up to its terminator) as a JSON string: quotes and
// backslashes escaped, control characters as \u00XX, well-formed UTF-8 as it is, and U+FFFD for
// each byte that begins no UTF-8 character, so that the record is UTF-8 for every reader.
void append_json_text(std::string &out, const char *text, size_t max_length);

// A member's name, after a comma unless it opens its object.
void json_key(std::string &out, const char *key);

// Members: a text (null when there is none, or it is empty), a whole number (null when not
// reached), and seconds with three decimals.
void json_text_member(std::string &out, const char *key, const char *text, size_t max_length);
void json_integer_member(std::string &out, const char *key, long long value, bool reached);
void json_seconds_member(std::string &out, const char *key, double seconds);
