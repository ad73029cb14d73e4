// Connection, bounded waits, the retry decision and whole-buffer transfers, plain or over TLS.
#include "clock.h"
#include "http_client_internal.h"
#include "name_lookup.h"
#include "socket_wait.h"
#include "tls.h"

namespace {

// Milliseconds since start, a time of steady_now_ms.
int64_t elapsed_ms(int64_t start) { return steady_now_ms() - start; }

// The IPv4 address of a host text: a text starting with a digit must be a dotted address and is
// never looked up by name; a name's lookup is a wait like any other, within timeout_ms. False when
// there is none in time (or it is 255.255.255.255).
bool resolve_ipv4(const char *host, in_addr *address, int timeout_ms)
{
    if (host[0] >= '0' && host[0] <= '9')
        address->s_addr = inet_addr(host);
    else if (lookup_ipv4(host, address, timeout_ms) != LOOKUP_FOUND)
        return false;
    return address->s_addr != INADDR_NONE;
}

// Starts a connect: 0 connected, 1 in progress (wait for writability), -1 failed.
int start_connect(socket_t s, const sockaddr_in *address)
{
    for (;;) {
        if (connect(s, reinterpret_cast<const sockaddr *>(address), sizeof *address) == 0)
            return 0;
        int error = socket_last_error();
        if (error == SOCK_ERR_INTERRUPTED)
            continue;
        if (error == SOCK_ERR_WOULD_BLOCK || error == SOCK_ERR_IN_PROGRESS || error == SOCK_ERR_ALREADY)
            return 1;
        // Connected meanwhile (a connect called again after an interruption can say so).
        return error == SOCK_ERR_IS_CONNECTED ? 0 : -1;
    }
}

// The retry decision with a bound of its own for the wait. A TLS connection that wants to read or
// write waits for that within the bound instead of calling again at once, which would spin and
// never end against a silent peer.
int retry_within(http_client *client, int flags, int failed_result, int bound_ms)
{
    if (client->tls && client->tls_conn) {
        switch (tls_error_kind(client->tls_conn, failed_result)) {
        case TLS_ERROR_WANT_READ:
            return http_client_wait(client, SOCKET_WAIT_READ, bound_ms);
        case TLS_ERROR_WANT_WRITE:
            return http_client_wait(client, SOCKET_WAIT_WRITE, bound_ms);
        case TLS_ERROR_SYSCALL:
            break;
        default:
            return -1;
        }
    }
    int error = socket_last_error();
    if (error == SOCK_ERR_INTERRUPTED)
        return 0;
    if (error == SOCK_ERR_WOULD_BLOCK || error == SOCK_ERR_IN_PROGRESS)
        return http_client_wait(client, flags, bound_ms);
    return -1;
}

// One send or receive call, plain or TLS. length is never negative: the transfer asks only for
// what is still missing.
int move_once(http_client *client, char *bytes, int length, http_direction direction)
{
    if (client->tls && client->tls_conn)
        return direction == HTTP_SEND ? tls_write(client->tls_conn, bytes, length)
                                      : tls_read(client->tls_conn, bytes, length);
    size_t wanted = static_cast<size_t>(length);
    if (direction == HTTP_SEND)
        return static_cast<int>(send(client->socket, bytes, socket_io_length(wanted), SOCK_SEND_FLAGS));
    return static_cast<int>(recv(client->socket, bytes, socket_io_length(wanted), 0));
}

// Replaces the client's socket with a new non-blocking TCP socket whose close resets the connection
// at once (linger on with a time of 0). HTTP_OK, or HTTP_ERR_SOCKET, HTTP_ERR_LINGER or
// HTTP_ERR_NONBLOCKING.
http_result open_socket(http_client *client)
{
    http_client_close_socket(client);
    client->socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (client->socket == NO_SOCKET)
        return HTTP_ERR_SOCKET;
    linger abortive = {};
    abortive.l_onoff = 1;
    abortive.l_linger = 0;
    if (setsockopt(client->socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abortive),
                   sizeof abortive) != 0)
        return HTTP_ERR_LINGER;
    if (socket_set_nonblocking(client->socket, true) != 0)
        return HTTP_ERR_NONBLOCKING;
    return HTTP_OK;
}

} // namespace

void http_client_close_socket(http_client *client)
{
    if (client->socket != NO_SOCKET) {
        socket_close(client->socket);
        client->socket = NO_SOCKET;
    }
}

http_result http_client_connect(http_client *client, const char *url, const http_parser_url *parts)
{
    http_target target;
    http_result code = http_url_target(url, parts, &target);
    if (code != HTTP_OK)
        return code;
    client->tls = target.tls;

    sockaddr_in address = {};
    int lookup_ms = http_client_wait_limit(client, client->timeout_ms, steady_now_ms());
    if (!resolve_ipv4(target.host, &address.sin_addr, lookup_ms))
        return HTTP_ERR_RESOLVE;
    address.sin_family = AF_INET;
    address.sin_port = htons(target.port);

    code = open_socket(client);
    if (code != HTTP_OK)
        return code;
    int started = start_connect(client->socket, &address);
    if (started < 0)
        return HTTP_ERR_CONNECT;
    if (started > 0 && http_client_wait(client, SOCKET_WAIT_WRITE, client->timeout_ms) != 0)
        return HTTP_ERR_CONNECT_WAIT;
    if (client->tls && http_client_tls_start(client, target.host) != 0)
        return HTTP_ERR_TLS;
    return HTTP_OK;
}

int http_client_wait_limit(const http_client *client, int ms, int64_t now_ms)
{
    if (client->deadline_ms == 0)
        return ms;
    int64_t left = client->deadline_ms - now_ms;
    if (left <= 0)
        return 0;
    return left < ms ? static_cast<int>(left) : ms;
}

int http_client_wait(http_client *client, int flags, int ms)
{
    int64_t start = steady_now_ms();
    ms = http_client_wait_limit(client, ms, start);
    int64_t remaining = ms;
    while (remaining > 0) {
        int ready = socket_select(client->socket, flags, static_cast<int>(remaining));
        if (ready == 0)
            return -1;
        if (ready > 0)
            return socket_pending_error(client->socket) == 0 ? 0 : -1;
        if (socket_last_error() != SOCK_ERR_INTERRUPTED)
            return -1;
        remaining = ms - elapsed_ms(start);
    }
    return -1;
}

int http_client_retry(http_client *client, int flags, int failed_result)
{
    return retry_within(client, flags, failed_result, client->timeout_ms);
}

int http_client_transfer(http_client *client, void *buffer, int length, http_direction direction)
{
    char *bytes = static_cast<char *>(buffer);
    int done = 0;
    // Past the deadline a transfer ends as an abort does, also when the peer never makes it wait.
    while (!(client->flags & HTTP_FLAG_ABORT) && http_client_wait_limit(client, 1, steady_now_ms()) > 0) {
        int moved = move_once(client, bytes + done, length - done, direction);
        if (moved > 0) {
            done += moved;
            if (done >= length)
                return done;
        } else if (moved == 0) {
            return done; // the peer closed: a receive returns what it has
        } else if (http_client_retry(client, direction == HTTP_SEND ? SOCKET_WAIT_WRITE : SOCKET_WAIT_READ,
                                     moved) != 0) {
            return -1;
        }
    }
    return -1;
}

int http_client_tls_start(http_client *client, const char *host)
{
    client->tls_ctx = tls_context_new(tls_client_method(), client->tls_no_verify == 0);
    if (!client->tls_ctx)
        return -1;
    client->tls_conn = tls_connection_new(client->tls_ctx);
    if (!client->tls_conn || !tls_set_host_name(client->tls_conn, host) ||
        !tls_attach_socket(client->tls_conn, client->socket))
        return -1;
    // The whole handshake, every wait included, stays within one time limit.
    int64_t start = steady_now_ms();
    for (;;) {
        int step = tls_handshake_step(client->tls_conn);
        if (step > 0)
            return 0;
        int64_t remaining = client->timeout_ms - elapsed_ms(start);
        if (remaining <= 0)
            return -1;
        if (retry_within(client, SOCKET_WAIT_READ | SOCKET_WAIT_WRITE, step, static_cast<int>(remaining)) != 0)
            return -1;
    }
}

void http_client_tls_release(http_client *client)
{
    if (client->tls_conn) {
        tls_shutdown(client->tls_conn);
        tls_connection_free(client->tls_conn);
        client->tls_conn = nullptr;
    }
    if (client->tls_ctx) {
        tls_context_free(client->tls_ctx);
        client->tls_ctx = nullptr;
    }
}

int http_client_startup()
{
    if (tls_library_startup() < 0)
        return -1;
    socket_startup();
    return 0;
}

int http_client_cleanup()
{
    socket_cleanup();
    return 0;
}
