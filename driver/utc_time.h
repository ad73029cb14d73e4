// UTC time as text, from the system clock's milliseconds since 1970, for the stamps of the
// diagnostics log and the run record.
#pragma once

#include <cstddef>
#include <cstdint>

// The forms of a UTC time: "2024-05-01T12:34:56.789Z", "2024-05-01T12:34:56Z" (ISO 8601), and
// "20240501T123456Z" (for file names: no ":").
enum utc_form { UTC_MILLISECONDS, UTC_SECONDS, UTC_COMPACT };

// The time ms milliseconds after 1970-01-01T00:00:00Z in the given form, cut to fit size bytes.
void format_utc(int64_t ms, utc_form form, char *out, size_t size);

// Milliseconds since 1970-01-01T00:00:00Z, by the system clock.
int64_t utc_now_ms();
