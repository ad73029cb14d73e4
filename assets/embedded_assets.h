// The byte arrays compiled into the tool from headers that asset_header generates at build time.
#pragma once

#include <cstdint>

// One byte of value 0: the stub firmware array. The firmware itself travels as a resource.
extern uint8_t g_firmware_buffer[];
extern uint64_t g_firmware_buffer_len;

// The file-server program the tool writes out as Shttpd.
extern uint8_t g_utility_buffer[];
extern uint64_t g_utility_buffer_len;
