// The byte arrays compiled into the tool from headers that asset_header generates at build time,
// and the digest of the firmware image it carries, which md5_file writes at build time.
#pragma once

#include <cstdint>

// One byte of value 0: the stub firmware array. The firmware itself travels as a resource.
extern uint8_t g_firmware_buffer[];
extern uint64_t g_firmware_buffer_len;

// The MD5 of the firmware image the tool carries (resource RCDATA 101), computed when the tool was
// built: 32 lower-case hex digits. The staged image must have it, and the upgrade command sends it.
extern const char g_firmware_image_md5[33];
