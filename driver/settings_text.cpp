// The settings file's text: decoded to UTF-8 by its byte-order mark, the parts of a line and the
// checks of a text value.
#include "settings_text.h"

#include "platform.h"
#include "text_util.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace {

// Appends code point c as UTF-8.
void append_utf8(std::string &out, unsigned c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-16 units (big or little endian) as UTF-8; a lone surrogate becomes U+FFFD, an odd last byte
// is dropped.
std::string utf8_from_utf16(const unsigned char *bytes, size_t size, bool big_endian)
{
    auto unit_at = [&](size_t i) -> unsigned {
        return static_cast<unsigned>(big_endian ? bytes[i] << 8 | bytes[i + 1] : bytes[i + 1] << 8 | bytes[i]);
    };
    std::string out;
    for (size_t i = 0; i + 1 < size; i += 2) {
        unsigned unit = unit_at(i);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < size) {
            unsigned low = unit_at(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        append_utf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
    }
    return out;
}


bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

} // namespace

namespace settings_text {

// A carriage return counts as blank space: line ends of CR CR LF, or a CR before trailing blanks,
// leave nothing behind.
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The text as a warning may show it: each control character, of ASCII (a tab, an escape) or of
// Latin-1's C1 range (U+0080 to U+009F, which some consoles obey too), as one "?".
std::string shown_text(const char *text)
{
    std::string shown;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != '\0'; p++) {
        bool c1 = p[0] == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F;
        shown += is_control(static_cast<char>(*p)) || c1 ? '?' : static_cast<char>(*p);
        p += c1 ? 1 : 0;
    }
    return shown;
}

// True when the text holds a control character (or, with blank_too, a blank); with tab_too false a
// tab is no such character.
bool has_control(const char *text, bool blank_too, bool tab_too)
{
    for (const char *p = text; *p != '\0'; p++)
        if ((is_control(*p) && (tab_too || *p != '\t')) || (blank_too && *p == ' '))
            return true;
    return false;
}

// The file's text as UTF-8, by its byte-order mark; without one, text that is not UTF-8 is in the
// system's code page (what Notepad saves as "ANSI").
std::string utf8_text(const char *bytes, size_t size)
{
    const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes);
    if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE)
        return utf8_from_utf16(b + 2, size - 2, false);
    if (size >= 2 && b[0] == 0xFE && b[1] == 0xFF)
        return utf8_from_utf16(b + 2, size - 2, true);
    if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
        return std::string(bytes + 3, size - 3);
    if (is_utf8(bytes, size))
        return std::string(bytes, size);
    std::vector<char> converted(size * 3 + 1);
    platform_utf8_from_ansi(bytes, size, converted.data(), converted.size());
    return converted.data();
}

// Cuts the text at an inline comment: ";" or "#" after blank space, outside double quotes.
void cut_inline_comment(char *text)
{
    bool quoted = false;
    for (char *p = text; *p != '\0'; p++) {
        if (*p == '"')
            quoted = !quoted;
        else if (!quoted && (*p == ';' || *p == '#') && p > text && is_blank(p[-1])) {
            *p = '\0';
            return;
        }
    }
}

// A value written in double quotes loses them.
char *unquote(char *value)
{
    size_t length = std::strlen(value);
    if (length >= 2 && value[0] == '"' && value[length - 1] == '"') {
        value[length - 1] = '\0';
        return value + 1;
    }
    return value;
}

// text without its leading and trailing blanks, cut in place.
char *trim(char *text)
{
    while (is_blank(*text))
        text++;
    size_t length = std::strlen(text);
    while (length > 0 && is_blank(text[length - 1]))
        text[--length] = '\0';
    return text;
}

// An http:// or https:// URL with something after the scheme and no blank or control character.
bool is_report_url(const char *value)
{
    size_t scheme = ascii_equal_nocase(value, "http://", 7) ? 7 : ascii_equal_nocase(value, "https://", 8) ? 8 : 0;
    return scheme > 0 && value[scheme] != '\0' && !has_control(value, true);
}

// One header line: a name of token characters, a colon, a value without control characters (a
// carriage return or line feed would start another header) but for tabs, which HTTP allows there.
bool is_header_line(const char *value)
{
    static const char token_marks[] = "!#$%&'*+-.^_`|~";
    const char *p = value;
    while (*p != '\0' && *p != ':' && (std::isalnum(static_cast<unsigned char>(*p)) || std::strchr(token_marks, *p)))
        p++;
    return p > value && *p == ':' && !has_control(p + 1, false, false);
}

// A full path: from a root ("/", "\\server") or a drive ("C:\", "C:/"), without control characters.
bool is_full_path(const char *value)
{
    bool drive = std::isalpha(static_cast<unsigned char>(value[0])) && value[1] == ':' &&
                 (value[2] == '\\' || value[2] == '/');
    return (drive || value[0] == '/' || value[0] == '\\') && !has_control(value);
}

} // namespace settings_text
