// The bounded waits and the platform's clock and pause behind them.
#include "waits.h"

#include "text_util.h"

#include <chrono>

namespace {

// How long a wait pauses between two looks: short beside the steps it waits for.
const int WAIT_POLL_MS = 10;

int64_t steady_now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

const wait_hooks REAL_WAIT_HOOKS = {steady_now_ms, sleep_ms};
wait_hooks g_wait_hooks = REAL_WAIT_HOOKS;

bool wait_until(bool (*holds)(const void *context), const void *context, int limit_ms)
{
    const int64_t deadline = g_wait_hooks.now_ms() + limit_ms;
    // Bounded in count as well, should the clock stand still.
    const int max_pauses = limit_ms / WAIT_POLL_MS + 1;
    for (int pauses = 0;; pauses++) {
        if (holds(context))
            return true;
        int64_t left = deadline - g_wait_hooks.now_ms();
        if (left <= 0 || pauses == max_pauses)
            return false;
        g_wait_hooks.sleep_ms(left < WAIT_POLL_MS ? (int)left : WAIT_POLL_MS);
    }
}
