// The parse of the camera's information file on arbitrary files: the version and the model it
// takes must be the ones the file's text holds, within their buffers, and nothing else is read.
// The file is written as ".deviceRelateInfo.txt" in a scratch directory, the current one while the
// parse runs (libFuzzer's own paths stay relative to the directory it was started in).
#include "check.h"
#include "eligibility.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

fs::path scratch;

// The version the file names: after the first "*ver:" up to its end less one CR or LF, when that
// is shorter than 64 characters. The text ends at its first NUL.
bool expected_version(const std::string &text, std::string *version)
{
    size_t mark = text.find("*ver:");
    if (mark == std::string::npos)
        return false;
    std::string v = text.substr(mark + 5);
    if (!v.empty() && (v.back() == '\r' || v.back() == '\n'))
        v.pop_back();
    if (v.size() >= 64)
        return false;
    *version = v;
    return true;
}

// The model: the text before the first "*", 2 to 127 characters, when a marker occurs anywhere.
bool expected_model(const std::string &text, std::string *model)
{
    if (text.find("ZEPHLAR_CAM") == std::string::npos && text.find("QUORVANE_CAM") == std::string::npos &&
        text.find("127") == std::string::npos)
        return false;
    size_t star = text.find('*');
    if (star == std::string::npos || star < 2 || star >= 128)
        return false;
    *model = text.substr(0, star);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::error_code ec;
    scratch = fs::temp_directory_path(ec) / ("facup-fuzz-info-" + std::to_string(std::random_device()()));
    fs::create_directories(scratch, ec);
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(scratch, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string file((const char *)data, size);
    std::ofstream(scratch / ".deviceRelateInfo.txt", std::ios::binary | std::ios::trunc) << file;

    unsigned char found = 0;
    // Canaries after each buffer: the parse must stay inside its 64 bytes.
    struct {
        char version[64];
        char canary[16];
    } v = {};
    struct {
        char previous[64];
        char canary[16];
    } p = {};
    std::memset(v.canary, 0x5a, sizeof v.canary);
    std::memset(p.canary, 0x5a, sizeof p.canary);
    std::memset(g_device_model, 0, sizeof g_device_model);
    g_device_model_found = 0;

    const fs::path started = fs::current_path();
    fs::current_path(scratch);
    int rc = parse_device_info(&found, v.version, p.previous);
    fs::current_path(started);
    for (size_t i = 0; i < 16; i++)
        check(v.canary[i] == 0x5a && p.canary[i] == 0x5a, "wrote past a version buffer");
    if (size <= 10) {
        check(rc == -1 && !found && !g_device_model_found, "a file of 10 bytes or less must give -1");
        return 0;
    }
    check(rc == 0, "a readable file must give 0");
    // Files of 1,024 bytes or more do not fit the buffer: nothing is taken from them.
    const std::string text = size < 1024 ? file.substr(0, file.find('\0')) : std::string();
    std::string version, model;
    bool has_version = expected_version(text, &version);
    check(found == (has_version ? 1 : 0), "version found or not, against the text");
    if (has_version) {
        check(std::memchr(v.version, '\0', sizeof v.version) != nullptr && version == v.version,
              "version is not the text after *ver:");
        check(std::memcmp(v.version, p.previous, sizeof v.version) == 0, "previous version differs");
    }
    bool has_model = expected_model(text, &model);
    check(g_device_model_found == (has_model ? 1 : 0), "model found or not, against the text");
    if (has_model)
        check(model == g_device_model, "model is not the text before the first *");
    return 0;
}
