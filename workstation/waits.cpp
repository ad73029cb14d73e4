// The bounded waits and the platform's clock, pause and port probe behind them.
#include "waits.h"

#include "workstation.h"

#include "socket_wait.h"
#include "text_util.h"


namespace {

// How long a wait pauses between two looks: short beside the steps it waits for.
const int WAIT_POLL_MS = 10;

// How long the probe waits for a connection: a listening server on this PC answers at once, and a
// refused connection must not stall the probe (Windows retries those for seconds).
const int PROBE_LIMIT_MS = 100;

// True when the non-blocking connect of s completes within PROBE_LIMIT_MS.
bool connects_in_time(socket_t s, const sockaddr_in &addr)
{
    if (connect(s, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0)
        return true;
    int code = socket_last_error();
    if (code != SOCK_ERR_IN_PROGRESS && code != SOCK_ERR_WOULD_BLOCK)
        return false;  // refused at once
    return socket_select(s, SOCKET_WAIT_WRITE | SOCKET_WAIT_EXCEPT, PROBE_LIMIT_MS) > 0 &&
           socket_pending_error(s) == 0;
}

} // namespace

bool loopback_port_accepts(int port)
{
    if (socket_startup() != 0)
        return false;
    bool accepted = false;
    socket_t s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != NO_SOCKET) {
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<unsigned short>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        accepted = socket_set_nonblocking(s, true) == 0 && connects_in_time(s, addr);
        socket_close(s);
    }
    socket_cleanup();
    return accepted;
}

bool wait_until(bool (*holds)(const void *context), const void *context, int limit_ms)
{
    const int64_t deadline = g_workstation_seams.now_ms() + limit_ms;
    // Bounded in count as well, should the clock stand still.
    const int max_pauses = limit_ms / WAIT_POLL_MS + 1;
    for (int pauses = 0;; pauses++) {
        if (holds(context))
            return true;
        int64_t left = deadline - g_workstation_seams.now_ms();
        if (left <= 0 || pauses == max_pauses)
            return false;
        g_workstation_seams.sleep_ms(left < WAIT_POLL_MS ? static_cast<int>(left) : WAIT_POLL_MS);
    }
}
