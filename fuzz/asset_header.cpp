// The asset header generator on arbitrary inputs: the generated header text is read back with a
// strict reader of its layout (macro lines, 64 elements per line, closing line, length line) and
// the bytes it carries must be the input's, byte for byte. No compiler runs per input.
//
// Input: one byte picking the variant (value mod 3: firmware, utility, stub), the model text up to
// the first line feed, the version text up to the next one, then the asset's bytes.
#include "asset_header.h"
#include "check.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace {

std::string asset_path, header_path;

std::string read_all(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads the header text from its start, failing on the first byte that is not where it belongs.
struct header_reader {
    const std::string &text;
    size_t pos = 0;

    void literal(const std::string &expected, const char *what)
    {
        check(text.compare(pos, expected.size(), expected) == 0, what);
        pos += expected.size();
    }

    static int hex_digit(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1; // upper case is not the generator's
    }

    // The elements and the closing line: "0x" and two digits each, a comma after every element
    // but the last, a line end and eight spaces after every 64th, then a line end, eight spaces
    // and "};".
    std::string elements()
    {
        const std::string indent = "\n        ", closing = indent + "};";
        std::string bytes;
        if (text.compare(pos, closing.size(), closing) == 0) {
            pos += closing.size();
            return bytes;
        }
        for (;;) {
            literal("0x", "element prefix");
            check(pos + 2 <= text.size(), "element cut short");
            int hi = hex_digit(text[pos]), lo = hex_digit(text[pos + 1]);
            check(hi >= 0 && lo >= 0, "element digits");
            bytes += (char)(hi * 16 + lo);
            pos += 2;
            bool line_full = bytes.size() % 64 == 0;
            if (text.compare(pos, 1, ",") == 0) {
                pos++;
                if (line_full)
                    literal(indent, "line break after 64 elements");
                continue;
            }
            if (line_full)
                literal(indent, "line of spaces after a full last line");
            literal(closing, "closing line");
            return bytes;
        }
    }
};

// The C string a text argument becomes: up to its first NUL.
std::string as_c_text(const std::string &s) { return s.substr(0, s.find('\0')); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    std::string tag = std::to_string(std::random_device()());
    asset_path = (dir / ("facup-fuzz-asset-" + tag + ".bin")).string();
    header_path = (dir / ("facup-fuzz-asset-" + tag + ".h")).string();
    std::atexit([] {
        std::remove(asset_path.c_str());
        std::remove(header_path.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int variant = data[0] % 3;
    std::string rest((const char *)data + 1, size - 1);
    size_t first = rest.find('\n');
    size_t second = first == std::string::npos ? std::string::npos : rest.find('\n', first + 1);
    if (second == std::string::npos)
        return 0;
    const std::string model = as_c_text(rest.substr(0, first));
    const std::string version = as_c_text(rest.substr(first + 1, second - first - 1));
    const std::string asset = rest.substr(second + 1);

    int rc;
    if (variant == 2) {
        rc = write_firmware_stub_header(model.c_str(), version.c_str(), header_path.c_str());
    } else {
        std::ofstream(asset_path, std::ios::binary | std::ios::trunc) << asset;
        rc = variant == 0 ? generate_firmware_header(asset_path.c_str(), model.c_str(), version.c_str(),
                                                     header_path.c_str())
                          : generate_utility_header(asset_path.c_str(), version.c_str(), header_path.c_str());
        check(g_asset_length == asset.size(), "recorded length");
    }
    check(rc == 0, "generator failed on a readable input");

    const std::string text = read_all(header_path);
    header_reader r{text};
    if (variant != 1) {
        r.literal("#define DEV_MODEL \"" + model + "\"\n", "model line");
        r.literal("#define VER_STR \"" + version + "\"\n", "version line");
    } else {
        r.literal("#define UTILITY_VER_STR \"" + version + "\"\n", "utility version line");
    }
    if (variant == 2) {
        r.literal("uint8_t g_firmware_buffer[] = {0};\n\nuint64_t g_firmware_buffer_len=1;\n", "stub array");
    } else {
        const std::string name = variant == 0 ? "g_firmware_buffer" : "g_utility_buffer";
        r.literal("uint8_t " + name + "[] = {\n        ", "array opening");
        check(r.elements() == asset, "bytes of the array differ from the input");
        r.literal("\nuint64_t " + name + "_len=" + std::to_string(asset.size()) + ";\n", "length line");
    }
    check(r.pos == text.size(), "text after the length line");
    return 0;
}
