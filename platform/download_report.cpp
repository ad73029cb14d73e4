#include "download_report.h"

#include "text_util.h"

#include <cstring>

namespace {

const size_t COUNT_DIGITS_MAX = 18; // any such count fits a signed 64-bit number

// Reads the decimal count that starts at text and ends at the first byte that is no digit, which
// *end receives. False when there is no digit or too many.
bool parse_count(const char *text, int64_t *value, const char **end)
{
    size_t digits = 0;
    int64_t n = 0;
    while (digits < COUNT_DIGITS_MAX && text[digits] >= '0' && text[digits] <= '9') {
        n = n * 10 + (text[digits] - '0');
        digits++;
    }
    *value = n;
    *end = text + digits;
    return digits > 0 && !(**end >= '0' && **end <= '9');
}

} // namespace

bool format_download_report(char *out, size_t size, const char *name, uint64_t sent, uint64_t file_size)
{
    return format_text(out, size, DOWNLOAD_REPORT_PREFIX "%s %llu %llu", name, (unsigned long long)sent,
                       (unsigned long long)file_size);
}

bool parse_download_report(const char *line, download_report *report)
{
    const size_t prefix_len = sizeof DOWNLOAD_REPORT_PREFIX - 1;
    if (std::strncmp(line, DOWNLOAD_REPORT_PREFIX, prefix_len) != 0)
        return false;
    const char *name = line + prefix_len;
    size_t name_len = std::strcspn(name, " \t");
    if (name_len == 0 || name[name_len] != ' ')
        return false;
    const char *end = nullptr;
    int64_t sent = 0, size = 0;
    if (!parse_count(name + name_len + 1, &sent, &end) || *end != ' ')
        return false;
    if (!parse_count(end + 1, &size, &end) || *end != '\0' || sent > size)
        return false;
    *report = {name, name_len, sent, size};
    return true;
}
