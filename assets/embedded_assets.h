// The byte arrays compiled into the tool from headers that asset_header generates at build time.
#pragma once

#include <cstdint>

// One byte of value 0: the stub firmware array. The firmware itself travels as a resource.
extern uint8_t g_firmware_buffer[];
extern uint64_t g_firmware_buffer_len;
