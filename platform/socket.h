// The portable socket header: the one place where socket code gets the system's socket headers.
// Winsock 2 on Windows, BSD sockets elsewhere, under one set of names.
#pragma once

#include <climits>
#include <cstddef>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

using socket_t = SOCKET;
const socket_t NO_SOCKET = INVALID_SOCKET;
using socklen_value = int;
using socket_io_size = int; // the length argument of send and recv

// Socket error codes as the platform reports them.
const int SOCK_ERR_INTERRUPTED = WSAEINTR;      // 10004
const int SOCK_ERR_WOULD_BLOCK = WSAEWOULDBLOCK; // 10035
const int SOCK_ERR_IN_PROGRESS = WSAEINPROGRESS; // 10036
const int SOCK_ERR_ALREADY = WSAEALREADY;        // 10037
const int SOCK_ERR_BAD_HANDLE = WSAEBADF;
const int SOCK_ERR_NO_MEMORY = WSA_NOT_ENOUGH_MEMORY;
const int SOCK_ERR_ACCESS = WSAEACCES;
const int SOCK_ERR_FAULT = WSAEFAULT;
const int SOCK_ERR_INVALID = WSAEINVAL;
const int SOCK_ERR_PIPE = WSAESHUTDOWN;          // sending on a connection shut down for sending
const int SOCK_ERR_REFUSED = WSAECONNREFUSED;
const int SOCK_ERR_RESET = WSAECONNRESET;
const int SOCK_ERR_DEST_REQUIRED = WSAEDESTADDRREQ;
const int SOCK_ERR_IS_CONNECTED = WSAEISCONN;
const int SOCK_ERR_MSG_SIZE = WSAEMSGSIZE;
const int SOCK_ERR_NO_BUFFERS = WSAENOBUFS;
const int SOCK_ERR_NOT_CONNECTED = WSAENOTCONN;
const int SOCK_ERR_NOT_SOCKET = WSAENOTSOCK;
const int SOCK_ERR_NOT_SUPPORTED = WSAEOPNOTSUPP;

// Flags for send: Windows raises no signal on a closed peer.
const int SOCK_SEND_FLAGS = 0;
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>

using socket_t = int;
const socket_t NO_SOCKET = -1;
using socklen_value = socklen_t;
using socket_io_size = size_t; // the length argument of send and recv

const int SOCK_ERR_INTERRUPTED = EINTR;
const int SOCK_ERR_WOULD_BLOCK = EWOULDBLOCK;
const int SOCK_ERR_IN_PROGRESS = EINPROGRESS;
const int SOCK_ERR_ALREADY = EALREADY;
const int SOCK_ERR_BAD_HANDLE = EBADF;
const int SOCK_ERR_NO_MEMORY = ENOMEM;
const int SOCK_ERR_ACCESS = EACCES;
const int SOCK_ERR_FAULT = EFAULT;
const int SOCK_ERR_INVALID = EINVAL;
const int SOCK_ERR_PIPE = EPIPE;
const int SOCK_ERR_REFUSED = ECONNREFUSED;
const int SOCK_ERR_RESET = ECONNRESET;
const int SOCK_ERR_DEST_REQUIRED = EDESTADDRREQ;
const int SOCK_ERR_IS_CONNECTED = EISCONN;
const int SOCK_ERR_MSG_SIZE = EMSGSIZE;
const int SOCK_ERR_NO_BUFFERS = ENOBUFS;
const int SOCK_ERR_NOT_CONNECTED = ENOTCONN;
const int SOCK_ERR_NOT_SOCKET = ENOTSOCK;
const int SOCK_ERR_NOT_SUPPORTED = EOPNOTSUPP;

// Writing to a connection the peer has closed must come back as a failed send, never as SIGPIPE.
const int SOCK_SEND_FLAGS = MSG_NOSIGNAL;
#endif

// The length for one send or recv of length bytes, capped at INT_MAX so that the count the call
// returns fits an int.
inline socket_io_size socket_io_length(size_t length)
{
    return (socket_io_size)(length > (size_t)INT_MAX ? (size_t)INT_MAX : length);
}

// Starts the socket service (Winsock 2.2; nothing on POSIX). 0 on success, else the system's code.
int socket_startup();
// Ends one start of the socket service (WSACleanup; nothing on POSIX).
void socket_cleanup();
// The calling thread's last socket error (WSAGetLastError, errno).
int socket_last_error();
// Closes a socket (closesocket, close). 0 on success.
int socket_close(socket_t s);
// Switches non-blocking mode on or off (ioctlsocket FIONBIO, fcntl O_NONBLOCK). 0 on success.
int socket_set_nonblocking(socket_t s, bool on);
