// Turns an asset file into the C header from which the tool compiles its embedded byte arrays.
#pragma once

#include <cstdint>

// The largest accepted input: 150 MiB.
const uint64_t ASSET_INPUT_MAX = 157286400;

// Result codes of the generators.
enum {
    ASSET_OK = 0,
    ASSET_TOO_LARGE = -1,     // input larger than ASSET_INPUT_MAX
    ASSET_SHORT_READ = -2,    // fewer bytes read than the input's size
    ASSET_NO_INPUT = -3,      // input cannot be opened
    ASSET_NO_OUTPUT = -4,     // output header cannot be created (the stub writer gives -1 for that)
    ASSET_WRITE_FAILED = -5,  // output header could not be written completely
};

extern uint8_t g_asset_input[];  // the whole input, ASSET_INPUT_MAX bytes
extern char g_asset_hex[];       // two hex digits per input byte and a terminator
extern uint64_t g_asset_length;  // input length of the latest generator run

// Header with DEV_MODEL, VER_STR, g_firmware_buffer and g_firmware_buffer_len.
// Returns ASSET_OK, ASSET_TOO_LARGE, ASSET_SHORT_READ, ASSET_NO_INPUT, ASSET_NO_OUTPUT or
// ASSET_WRITE_FAILED; on the last two no complete header is left at output_path.
int generate_firmware_header(const char *input_path, const char *model, const char *version,
                             const char *output_path);

// Header with UTILITY_VER_STR, g_utility_buffer and g_utility_buffer_len; results as above.
int generate_utility_header(const char *input_path, const char *version, const char *output_path);

// Header with DEV_MODEL, VER_STR and a one-byte g_firmware_buffer {0}; no input is read.
// Returns 0, or -1 when the output cannot be created (or, likewise, not written completely).
int write_firmware_stub_header(const char *model, const char *version, const char *output_path);
