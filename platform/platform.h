// Services of the operating system that the rest of the tree uses, in the tool's own terms.
// This is the one place that knows the platform; each service has a Win32 and a POSIX side.
#pragma once

#include <cstdint>

// Size in bytes of the file at path, from the run-time library's stat; 0 when path is null or the
// file cannot be examined. Sizes past 4 GiB wrap, as the 32-bit result dictates.
uint32_t file_size_of(const char *path);
