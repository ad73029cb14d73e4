// The file server program as the tool carries it: the bytes of the built Shttpd (Shttpd.exe in the
// Windows build), compiled from the header that asset_header generates from it at build time.
#pragma once

#include <cstdint>

extern uint8_t g_utility_buffer[];
extern uint64_t g_utility_buffer_len;
