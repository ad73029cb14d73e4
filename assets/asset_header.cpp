// The header generator: reads an asset whole into a static buffer, converts it to hex text, and
// writes it as an array initialiser of 64 elements per line.
#include "asset_header.h"

#include "platform.h"

#include <cstdio>
#include <cstring>

uint8_t g_asset_input[ASSET_INPUT_MAX];
char g_asset_hex[2 * ASSET_INPUT_MAX + 8];
uint64_t g_asset_length;

namespace {

const char ELEMENT_INDENT[] = "\n        ";  // line end and the eight spaces of every elements line
const size_t ELEMENTS_PER_LINE = 64;
const size_t OUT_CHUNK = 1 << 20;          // output is composed in chunks of this size

struct header_variant {
    bool has_model;           // DEV_MODEL and VER_STR lines, or the one UTILITY_VER_STR line
    const char *array_name;   // "g_firmware_buffer" or "g_utility_buffer"
    const char *length_decl;  // "\nuint64_t g_firmware_buffer_len" or the utility one
};

const header_variant FIRMWARE = {true, "g_firmware_buffer", "\nuint64_t g_firmware_buffer_len"};
const header_variant UTILITY = {false, "g_utility_buffer", "\nuint64_t g_utility_buffer_len"};

// Reads the input into g_asset_input. Returns its size through size, or a negative result code.
int read_input(const char *input_path, uint64_t *size)
{
    uint64_t n = file_size_of(input_path);
    if (n > ASSET_INPUT_MAX)
        return ASSET_TOO_LARGE;
    FILE *in = std::fopen(input_path, "rb");
    if (in == nullptr)
        return ASSET_NO_INPUT;
    size_t got = std::fread(g_asset_input, 1, (size_t)n, in);
    // A file longer than its reported size (grown meanwhile, or past 4 GiB) is no complete read either.
    bool more = std::fgetc(in) != EOF;
    std::fclose(in);
    if (got != n || more)
        return ASSET_SHORT_READ;
    *size = n;
    return ASSET_OK;
}

void to_hex(uint64_t n)
{
    static const char digits[] = "0123456789abcdef";
    char *out = g_asset_hex;
    for (uint64_t i = 0; i < n; i++) {
        *out++ = digits[g_asset_input[i] >> 4];
        *out++ = digits[g_asset_input[i] & 15];
    }
    *out = '\0';
}

// Closes the output; on any write error removes it. Returns ASSET_OK or ASSET_WRITE_FAILED.
int finish_output(FILE *out, const char *output_path)
{
    bool failed = std::ferror(out) != 0;
    if (std::fclose(out) != 0)
        failed = true;
    if (!failed)
        return ASSET_OK;
    std::remove(output_path);
    return ASSET_WRITE_FAILED;
}

// Writes the array and length lines of the header from g_asset_hex.
void write_elements(FILE *out, const header_variant &v, uint64_t n)
{
    std::fprintf(out, "uint8_t %s[] = {%s", v.array_name, ELEMENT_INDENT);
    static char chunk[OUT_CHUNK + 64];
    size_t used = 0;
    const char *hex = g_asset_hex;
    for (uint64_t i = 0; i < n; i++) {
        char *p = chunk + used;
        p[0] = '0';
        p[1] = 'x';
        p[2] = hex[2 * i];
        p[3] = hex[2 * i + 1];
        used += 4;
        if (i + 1 < n)
            chunk[used++] = ',';
        if ((i + 1) % ELEMENTS_PER_LINE == 0) {
            std::memcpy(chunk + used, ELEMENT_INDENT, sizeof ELEMENT_INDENT - 1);
            used += sizeof ELEMENT_INDENT - 1;
        }
        if (used >= OUT_CHUNK) {
            std::fwrite(chunk, 1, used, out);
            used = 0;
        }
    }
    std::fwrite(chunk, 1, used, out);
    std::fprintf(out, "%s};", ELEMENT_INDENT);
    std::fprintf(out, "%s=%llu;\n", v.length_decl, (unsigned long long)n);
}

int generate(const char *input_path, const char *model, const char *version,
             const char *output_path, const header_variant &v)
{
    uint64_t n = 0;
    int rc = read_input(input_path, &n);
    if (rc != ASSET_OK)
        return rc;
    g_asset_length = n;
    to_hex(n);

    FILE *out = std::fopen(output_path, "w+");
    if (out == nullptr)
        return ASSET_NO_OUTPUT;
    if (v.has_model) {
        std::fprintf(out, "%s\"%s\"\n", "#define DEV_MODEL ", model);
        std::fprintf(out, "%s\"%s\"\n", "#define VER_STR ", version);
    } else {
        std::fprintf(out, "%s\"%s\"\n", "#define UTILITY_VER_STR ", version);
    }
    write_elements(out, v, n);
    return finish_output(out, output_path);
}

} // namespace

int generate_firmware_header(const char *input_path, const char *model, const char *version,
                             const char *output_path)
{
    return generate(input_path, model, version, output_path, FIRMWARE);
}

int generate_utility_header(const char *input_path, const char *version, const char *output_path)
{
    return generate(input_path, nullptr, version, output_path, UTILITY);
}

int write_firmware_stub_header(const char *model, const char *version, const char *output_path)
{
    FILE *out = std::fopen(output_path, "w+");
    if (out == nullptr)
        return -1;
    std::fprintf(out, "%s\"%s\"\n", "#define DEV_MODEL ", model);
    std::fprintf(out, "%s\"%s\"\n", "#define VER_STR ", version);
    std::fprintf(out, "uint8_t %s[] = {0};\n", FIRMWARE.array_name);
    std::fprintf(out, "%s=%d;\n", FIRMWARE.length_decl, 1);
    return finish_output(out, output_path) == ASSET_OK ? 0 : -1;
}
