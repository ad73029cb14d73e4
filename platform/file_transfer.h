// Connection and file services of the HTTP file server beyond socket.h: time limits on a
// connection's receives and sends, rebinding a port that a killed server left behind, and sending a
// file's bytes without copying them through the program (sendfile on Linux, TransmitFile on
// Windows). Each has a POSIX side (file_transfer_posix.cpp) and a Win32 side
// (file_transfer_win32.cpp), chosen by the build.
#pragma once

#include "socket.h"

#include <cstdint>
#include <cstdio>

// Prepares the process for serving: on POSIX a send to a connection the peer has closed must fail
// with an error rather than end the process (SIGPIPE, which sendfile raises). Nothing on Windows.
void transfer_startup();

// Limits every later receive and send on s to milliseconds without progress (SO_RCVTIMEO,
// SO_SNDTIMEO). A receive or send that times out fails; socket_last_error() then gives
// SOCK_ERR_WOULD_BLOCK on POSIX and WSAETIMEDOUT on Windows. 0 on success.
int socket_set_io_limit(socket_t s, int milliseconds);

// Lets a listening socket bind a port whose earlier connections still linger in TIME_WAIT, as they
// do after the previous server was killed (SO_REUSEADDR on POSIX; nothing on Windows, which allows
// it already and where SO_REUSEADDR would let two servers share the port). 0 on success.
int socket_allow_rebind(socket_t listener);

// Ends the sending direction of a connection (shutdown SHUT_WR, SD_SEND): the peer sees the end of
// the data while the receiving direction stays open. 0 on success.
int socket_shutdown_send(socket_t s);

// True when path names a regular file: false for a missing path, a directory, a device (Windows
// device names such as "NUL" included) or a pipe.
bool is_regular_file(const char *path);

// send_file_piece results besides a positive count of bytes sent.
const long long SEND_FILE_END = 0;          // offset is at or past the end of the file
const long long SEND_FILE_FAILED = -1;      // the connection failed or made no progress in time
const long long SEND_FILE_UNSUPPORTED = -2; // the system cannot send this file this way

// Sends up to count bytes of the open file f, from offset, over s without copying them through the
// program. Waits at most limit_ms without progress (the Windows side waits on the transfer itself;
// the POSIX side relies on socket_set_io_limit). Does not move f's own position. Returns the number
// of bytes sent (at least 1), or SEND_FILE_END, SEND_FILE_FAILED or SEND_FILE_UNSUPPORTED.
long long send_file_piece(socket_t s, FILE *f, uint64_t offset, uint64_t count, int limit_ms);
