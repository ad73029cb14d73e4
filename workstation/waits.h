// Bounded waits of the workstation's steps: each ends as soon as its condition holds, or once its
// limit has passed. The clock, the pause and the port probe they use are the workstation's seams,
// which tests replace, so that a wait's limit is checked without waiting it out.
#pragma once

#include <cstdint>

// True when something on this PC accepts a TCP connection on the port: a probe bounded in time
// (the port probe of REAL_WORKSTATION_SEAMS).
bool loopback_port_accepts(int port);

// Waits until holds(context) is true, for at most limit_ms: looks at once, then after each short
// pause, and once more when the limit has passed. True when the condition held at the last look.
bool wait_until(bool (*holds)(const void *context), const void *context, int limit_ms);
