// The one monotonic clock of the tool and its pause. Tests reach them through the workstation's
// seams (g_workstation_seams.now_ms and sleep_ms), which hold these in the tool.
#pragma once

#include <cstdint>

// Milliseconds of a monotonic clock: for measuring and limiting waits, never for dates. A deadline
// is an int64_t of its milliseconds.
int64_t steady_now_ms();

// Suspends the calling thread for ms milliseconds.
void sleep_ms(int ms);
