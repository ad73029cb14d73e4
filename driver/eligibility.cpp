// Whether this camera may receive the firmware the tool carries: the information file parsed, the
// model tested, a camera already on the target version refused, and old firmware made to require
// the local fits database.
#include "eligibility.h"

#include "commands.h"
#include "debug_log.h"
#include "outcome_ids.h"
#include "outcomes.h"
#include "platform.h"
#include "text_util.h"
#include "workstation.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

char g_device_model[128];
unsigned char g_device_model_found;

namespace {

const char INFO_FILE[] = INFO_FILE_COPY;
const size_t INFO_BUFFER = 1024;
const uint32_t FITS_DATABASE_MIN = 1024;

// Leading decimal digits of text as an unsigned 32-bit number (saturating); 0 without digits.
uint32_t leading_number(const char *text)
{
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + static_cast<uint64_t>(*text - '0');
        if (value > UINT32_MAX)
            value = UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

struct version_threshold {
    bool test;  // does this row need the database at all
    uint32_t major, minor, patch;
};

// The row of the model: the first whose text occurs in the model wins.
version_threshold threshold_for(const char *model)
{
    auto has = [model](const char *text) { return std::strstr(model, text) != nullptr; };
    if (has("QUORVANE_CAM_419"))
        return {true, 1, 0, 3};
    if (has("ZEPHLAR_CAM419"))
        return {false, 0, 0, 0};
    if (has("QUORVANE_CAM_418m") || has("QUORVANE_CAM418_MINI") || has("ZEPHLAR_CAM418_MINI"))
        return {true, 1, 0, 9};
    if (has("QUORVANE_CAM418S"))
        return {false, 0, 0, 0};
    if (has("QUORVANE_CAM_418") || has("QUORVANE_CAM418") || has("418"))
        return {true, 1, 0, 18};
    return {true, 1, 3, 66};
}

} // namespace

int read_version_text(const char *text, char version[64])
{
    const char *mark = std::strstr(text, "*ver:");
    if (mark == nullptr)
        return -1;
    const char *start = mark + 5;
    size_t len = std::strlen(start);
    if (len > 0 && (start[len - 1] == '\r' || start[len - 1] == '\n'))
        len--;
    if (len >= 64)
        return -1;  // does not fit: nothing stored
    std::memcpy(version, start, len);
    version[len] = '\0';
    return 0;
}

int read_info_file(char text[1024])
{
    uint32_t size = file_size_of(INFO_FILE);
    if (size <= 10)
        return -1;
    FILE *file = std::fopen(INFO_FILE, "r");
    if (file == nullptr)
        return -2;
    // A file that does not fit the buffer with its terminator is read as nothing, like a file that
    // text mode reads short (CR LF pairs, Ctrl-Z).
    size_t got = size < INFO_BUFFER ? std::fread(text, 1, size, file) : 0;
    std::fclose(file);
    if (got != size) {
        text[0] = '\0';
        return 1;
    }
    text[got] = '\0';
    return 0;
}

int parse_device_info(unsigned char *found, char version[64], char previous[64])
{
    char text[INFO_BUFFER];
    int rc = read_info_file(text);
    if (rc < 0) {
        DEBUG_LOG("information file %s (%u bytes): the run ends without an outcome\n",
                  rc == -1 ? "missing or 10 bytes or less" : "cannot be opened", file_size_of(INFO_FILE));
        return rc;
    }
    if (rc > 0) {
        DEBUG_LOG("information file of %u bytes read as nothing (1,024 bytes or more, or CR LF line ends): no "
                  "model, no version\n", file_size_of(INFO_FILE));
        return 0;  // nothing parsed: every later test passes
    }

    if (read_version_text(text, version) == 0) {
        DEBUG_LOG("device version:%s.\n", version);
        *found = 1;
        std::memcpy(previous, version, 64);
    }
    for (const char *marker : {"ZEPHLAR_CAM", "QUORVANE_CAM", "127"}) {
        if (std::strstr(text, marker) == nullptr)
            continue;
        const char *star = std::strchr(text, '*');
        size_t len = star != nullptr ? static_cast<size_t>(star - text) : 0;
        if (len >= 2 && len < sizeof g_device_model) {
            std::memcpy(g_device_model, text, len);
            g_device_model[len] = '\0';
            g_device_model_found = 1;
        }
    }
    DEBUG_LOG("information file: model \"%s\", version \"%s\"\n", g_device_model_found ? g_device_model : "(none)",
              *found ? version : "(none)");
    return 0;
}

int check_device_model()
{
    if (!g_device_model_found || std::strlen(g_device_model) < 2 || std::strstr(g_device_model, "QUORVANE_CAM418S"))
        return 0;
    if (std::strstr(g_device_model, "QUORVANE_CAM418") || std::strstr(g_device_model, "QUORVANE_CAM_418")) {
        DEBUG_LOG("model %s is a first-burn model: it is upgraded at the factory only\n", g_device_model);
        return stop_run(OUTCOME_FIRST_BURN_MODEL, -2);
    }
    DEBUG_LOG("model %s may not receive this firmware\n", g_device_model);
    return stop_run(OUTCOME_MODEL_INVALID, -2);
}

int check_same_version(const char *version)
{
    if (std::strcmp(version, TARGET_FIRMWARE_VERSION) != 0)
        return 0;
    DEBUG_LOG("already newest version!\n");
    return stop_run(OUTCOME_SAME_VERSION, -2);
}

int check_fits_database(const char *version)
{
    version_threshold row = threshold_for(g_device_model);
    if (!row.test)
        return 0;
    const char *first = std::strchr(version, '.');
    if (first == nullptr)
        return 0;
    const char *second = std::strchr(first + 1, '.');
    if (second == nullptr)
        return 0;
    uint32_t major = leading_number(version), minor = leading_number(first + 1), patch = leading_number(second + 1);
    bool required = major < row.major || (major == row.major && minor < row.minor) ||
                    (major == row.major && minor == row.minor && patch <= row.patch);
    if (!required)
        return 0;

    char path[COMMAND_LINE_SIZE];
    format_text(path, sizeof path, PATH_FITS_DATABASE_FMT, g_brand_word);
    if (file_size_of(path) >= FITS_DATABASE_MIN)
        return 0;
    DEBUG_LOG("version %s needs the fits database %s (1,024 bytes or more), which is missing\n", version, path);
    return stop_run(OUTCOME_NO_FITS_DATABASE, -3);
}
