// The id of a run, the same in its record, its diagnostics log and what is delivered: 32
// lower-case hex digits, the first RUN_ID_TIME_DIGITS the run's start (UTC milliseconds since
// 1970) so that ids sort by start, the rest random.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

const size_t RUN_ID_LENGTH = 32;
const size_t RUN_ID_TIME_DIGITS = 12;

// A new run id for a run that started at started_utc_ms: the time digits, then bytes of the system's
// random source; should it give none, a hash of the station's name, the time, the process id and
// the steady clock.
std::string new_run_id(int64_t started_utc_ms);
