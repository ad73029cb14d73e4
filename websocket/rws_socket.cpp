// The worker's socket work: resolving and connecting within the time limits, whole sends bounded
// in time, reads into the receive buffer, and closing. Called from the worker's steps, under
// state_lock.
#include "clock.h"
#include "platform.h"
#include "rws_private.h"
#include "socket_wait.h"

#include <cstdio>
#include <cstring>

const rws_waits RWS_REAL_WAITS = {.connect_ms = 3000, .send_ms = 3000};
rws_waits g_rws_waits = RWS_REAL_WAITS;

namespace {

// Milliseconds from now until the deadline (a steady_now_ms time), 0 once it has passed.
int ms_until(int64_t deadline)
{
    int64_t left = deadline - steady_now_ms();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits up to ms for the socket to become writable, or to report a failure (Winsock shows a failed
// connect as an exceptional condition). 1 ready, 0 time out, -1 error; interruptions are resumed.
int wait_writable(socket_t s, int ms)
{
    int64_t deadline = steady_now_ms() + ms;
    for (;;) {
        int n = socket_select(s, SOCKET_WAIT_WRITE | SOCKET_WAIT_EXCEPT, ms_until(deadline));
        if (n >= 0)
            return n > 0 ? 1 : 0;
        if (socket_last_error() != SOCK_ERR_INTERRUPTED)
            return -1;
    }
}

bool is_hard_send_failure(int code)
{
    static const int hard[] = {
        SOCK_ERR_INTERRUPTED, SOCK_ERR_BAD_HANDLE,     SOCK_ERR_NO_MEMORY,    SOCK_ERR_ACCESS,
        SOCK_ERR_FAULT,       SOCK_ERR_INVALID,        SOCK_ERR_PIPE,         SOCK_ERR_REFUSED,
        SOCK_ERR_RESET,       SOCK_ERR_DEST_REQUIRED,  SOCK_ERR_IS_CONNECTED, SOCK_ERR_MSG_SIZE,
        SOCK_ERR_NO_BUFFERS,  SOCK_ERR_NOT_CONNECTED,  SOCK_ERR_NOT_SOCKET,   SOCK_ERR_NOT_SUPPORTED,
    };
    for (int h : hard)
        if (code == h)
            return true;
    return false;
}

// Connects a new socket to one address within the time limit; NO_SOCKET on failure.
socket_t connect_one(rws_client *c, const addrinfo *a)
{
    socket_t s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == NO_SOCKET)
        return NO_SOCKET;
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char *>(&on), sizeof on);
    // Non-blocking from the start, so the connect can be bounded and a disconnect can cut it short.
    bool ok = socket_set_nonblocking(s, true) == 0;
    if (ok && connect(s, a->ai_addr, static_cast<socklen_value>(a->ai_addrlen)) != 0) {
        int code = socket_last_error();
        ok = code == SOCK_ERR_IN_PROGRESS || code == SOCK_ERR_WOULD_BLOCK || code == SOCK_ERR_INTERRUPTED;
        int64_t deadline = steady_now_ms() + g_rws_waits.connect_ms;
        int ready = 0;
        // Short slices, so that rws_client_disconnect is noticed while a silent address is tried.
        while (ok && ready == 0 && !c->closing && ms_until(deadline) > 0) {
            int slice = ms_until(deadline);
            ready = wait_writable(s, slice < 50 ? slice : 50);
        }
        ok = ok && ready == 1 && socket_pending_error(s) == 0;
    }
    if (!ok) {
        socket_close(s);
        return NO_SOCKET;
    }
    return s;
}

// Resolves host and port, up to RWS_CONNECT_ATTEMPTS times. True with the list; false with the
// last non-zero code of the resolver in *error (0 when it gave none).
bool resolve(rws_client *c, addrinfo **list, int *error)
{
    char port[16];
    std::snprintf(port, sizeof port, "%i", static_cast<int>(c->port));
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    *error = 0;
    for (int attempt = 0; attempt < RWS_CONNECT_ATTEMPTS && !c->closing; attempt++) {
        *list = nullptr;
        int rc = getaddrinfo(c->host, port, &hints, list);
        if (rc == 0 && *list)
            return true;
        if (rc != 0)
            *error = rc;
        if (*list)
            freeaddrinfo(*list);
        *list = nullptr;
        rws_thread_sleep(RWS_RETRY_SLEEP_MS);
    }
    return false;
}

} // namespace

void rws_connect_step(rws_client *c)
{
    rws_fault_clear(c);
    if (socket_startup() != 0) {
        rws_fault_set(c, RWS_FAULT_CONNECT, RWS_TEXT_WINSOCK);
        c->state = RWS_ST_DROPPED;
        return;
    }
    addrinfo *list = nullptr;
    int error = 0;
    if (!resolve(c, &list, &error)) {
        socket_cleanup();
        if (c->closing)
            return; // the application gave up: rws_client_disconnect ends the worker silently
        rws_fault_set(c, RWS_FAULT_CONNECT, error != 0 ? system_error_text(error) : RWS_TEXT_CONNECT);
        c->state = RWS_ST_DROPPED;
        return;
    }
    socket_t s = NO_SOCKET;
    for (int pass = 0; pass < RWS_CONNECT_ATTEMPTS && s == NO_SOCKET && !c->closing; pass++) {
        for (const addrinfo *a = list; a && s == NO_SOCKET && !c->closing; a = a->ai_next)
            s = connect_one(c, a);
        if (s == NO_SOCKET)
            rws_thread_sleep(RWS_RETRY_SLEEP_MS);
    }
    freeaddrinfo(list);
    if (s == NO_SOCKET) {
        socket_cleanup();
        if (c->closing)
            return;
        rws_fault_set(c, RWS_FAULT_CONNECT, RWS_TEXT_CONNECT);
        c->state = RWS_ST_DROPPED;
        return;
    }
    c->rx_length = 0;
    c->reply_scan = RWS_REPLY_DONE;
    c->socket = s;
    c->state = RWS_ST_HANDSHAKE_SEND;
    rws_log("TCP connection to %s:%i made; the WebSocket handshake follows\n", c->host, static_cast<int>(c->port));
}

bool rws_send_bytes(rws_client *c, const void *data, size_t size)
{
    rws_fault_clear(c);
    if (c->socket == NO_SOCKET) {
        rws_fault_set(c, RWS_FAULT_SOCKET_IO, system_error_text(SOCK_ERR_BAD_HANDLE));
        return false;
    }
    const char *bytes = static_cast<const char *>(data);
    size_t done = 0;
    // A send the system takes only in part is completed: each stall may last g_rws_waits.send_ms, the
    // whole send ten times that, so the worker never loops without bound under state_lock.
    int64_t give_up = steady_now_ms() + 10 * static_cast<int64_t>(g_rws_waits.send_ms);
    while (done < size) {
        int chunk = size - done > 0x40000000 ? 0x40000000 : static_cast<int>(size - done);
        size_t piece = static_cast<size_t>(chunk);
        int n = static_cast<int>(send(c->socket, bytes + done, socket_io_length(piece), SOCK_SEND_FLAGS));
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        int code = socket_last_error();
        int pending = socket_pending_error(c->socket);
        if (pending > 0)
            code = pending;
        if (is_hard_send_failure(code)) {
            rws_fault_set(c, RWS_FAULT_SOCKET_IO, system_error_text(code));
            rws_close_socket(c);
            return false;
        }
        if (code != SOCK_ERR_WOULD_BLOCK)
            return true; // any other code leaves no fault: the frame counts as sent
        int left = ms_until(give_up);
        if (left == 0 || wait_writable(c->socket, left < g_rws_waits.send_ms ? left : g_rws_waits.send_ms) != 1) {
            rws_fault_set(c, RWS_FAULT_SOCKET_IO, RWS_TEXT_SOCKET_IO);
            rws_close_socket(c);
            return false;
        }
    }
    return true;
}

bool rws_read_socket(rws_client *c)
{
    rws_fault_clear(c);
    char chunk[RWS_READ_CHUNK];
    for (;;) {
        // The buffer never grows past the frame limit; bytes beyond it wait in the socket.
        uint32_t room = RWS_MAX_FRAME_SIZE - c->rx_length;
        if (room == 0)
            return true;
        size_t wanted = room < sizeof chunk ? room : sizeof chunk;
        int n = static_cast<int>(recv(c->socket, chunk, socket_io_length(wanted), 0));
        if (n <= 0) {
            int code = socket_last_error();
            if (n < 0 && (code == SOCK_ERR_WOULD_BLOCK || code == SOCK_ERR_IN_PROGRESS))
                return true;
            rws_fault_set(c, RWS_FAULT_SOCKET_IO, RWS_TEXT_SOCKET_IO);
            rws_close_socket(c);
            return false;
        }
        rws_rx_append(c, chunk, static_cast<uint32_t>(n));
    }
}

// What was received stays in rx_buffer: the frames that came before the end are still handled.
void rws_close_socket(rws_client *c)
{
    if (c->socket != NO_SOCKET) {
        socket_close(c->socket);
        c->socket = NO_SOCKET;
        socket_cleanup();
    }
    c->connected = false;
}
