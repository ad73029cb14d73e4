// Bounded waits on one socket: select on that socket alone, and the error it holds.
#pragma once

#include "socket.h"

// Conditions to wait for; they combine (3 = readable or writable).
enum { SOCKET_WAIT_READ = 1, SOCKET_WAIT_WRITE = 2, SOCKET_WAIT_EXCEPT = 4 };

// One select on s alone for the conditions in flags, for at most timeout_ms. Returns select's
// result: above 0 ready, 0 timed out, below 0 failed (socket_last_error tells why). A socket that
// select cannot watch (on POSIX one numbered FD_SETSIZE or above) fails with SOCK_ERR_INVALID
// instead of overrunning the descriptor set.
int socket_select(socket_t s, int flags, int timeout_ms);

// The socket's pending error (getsockopt SO_ERROR; reading it clears it): 0 when there is none,
// -1 when it cannot be read.
int socket_pending_error(socket_t s);
