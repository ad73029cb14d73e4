// Bounded waits on one socket, for Winsock and BSD sockets alike.
#include "socket_wait.h"

#ifdef _WIN32
static bool fits_fd_set(socket_t) { return true; } // Winsock sets hold socket handles, not bits
static void set_socket_error(int code) { WSASetLastError(code); }
#else
static bool fits_fd_set(socket_t s) { return s >= 0 && s < FD_SETSIZE; }
static void set_socket_error(int code) { errno = code; }
#endif

int socket_select(socket_t s, int flags, int timeout_ms)
{
    if (!fits_fd_set(s)) {
        set_socket_error(SOCK_ERR_INVALID);
        return -1;
    }
    fd_set sets[3];
    fd_set *chosen[3] = {nullptr, nullptr, nullptr};
    for (int i = 0; i < 3; i++) {
        if (flags & (1 << i)) {
            FD_ZERO(&sets[i]);
            FD_SET(s, &sets[i]);
            chosen[i] = &sets[i];
        }
    }
    if (timeout_ms < 0)
        timeout_ms = 0;
    timeval limit;
    limit.tv_sec = timeout_ms / 1000;
    limit.tv_usec = (timeout_ms % 1000) * 1000;
    return select((int)(s + 1), chosen[0], chosen[1], chosen[2], &limit);
}

int socket_pending_error(socket_t s)
{
    int error = 0;
    socklen_value size = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, (char *)&error, &size) != 0)
        return -1;
    return error;
}
