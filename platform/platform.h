// Services of the operating system that the rest of the tree uses, in the tool's own terms.
// This is the one place that knows the platform; each service has a Win32 side
// (platform_win32.cpp) and a POSIX side (platform_posix.cpp), chosen by the build. Socket services
// have their own header, socket.h.
#pragma once

#include <cstdint>

// Size in bytes of the file at path, from the run-time library's stat; 0 when path is null or the
// file cannot be examined. Sizes past 4 GiB wrap, as the 32-bit result dictates.
uint32_t file_size_of(const char *path);

// The system's message text for an error code: on Windows the message table's text
// (FormatMessageW, then converted to the ANSI code page); on POSIX the resolver's text for a
// getaddrinfo code (negative) and strerror's text otherwise. The text lives in a static buffer
// until the next call: not for concurrent use.
const char *system_error_text(int code);
