// Bounded waits of the workstation's steps: each ends as soon as its condition holds, or once its
// limit has passed. The clock, the pause and the port probe they use are hooks that tests replace,
// so that a wait's limit is checked without waiting it out.
#pragma once

#include <cstdint>

// What the waits read and how they pause; the platform's own unless a test replaces them.
struct wait_hooks {
    int64_t (*now_ms)();  // a steady clock in milliseconds
    void (*sleep_ms)(int ms);
    // True when something on this PC accepts a TCP connection on the port (a probe bounded in time).
    bool (*port_accepts)(int port);
};
extern wait_hooks g_wait_hooks;
extern const wait_hooks REAL_WAIT_HOOKS;

// Waits until holds(context) is true, for at most limit_ms: looks at once, then after each short
// pause, and once more when the limit has passed. True when the condition held at the last look.
bool wait_until(bool (*holds)(const void *context), const void *context, int limit_ms);
