// JSON text for the run record: strings escaped so that every reader takes them as UTF-8, and the
// members of an object as the record writes them.
#include "json_text.h"

#include "text_util.h"

void append_json_text(std::string &out, const char *text, size_t max_length)
{
    static const char digits[] = "0123456789abcdef";
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t length = 0;
    while (length < max_length && text[length] != '\0')
        length++;
    out += '"';
    for (size_t i = 0; i < length;) {
        unsigned char c = bytes[i];
        size_t n = utf8_sequence_length(bytes + i, length - i);
        if (n > 1) {
            out.append(text + i, n);
        } else if (n == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD for a byte that begins no character
            n = 1;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\u00";
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
        i += n;
    }
    out += '"';
}

// The member's name, after a comma unless it opens its object.
void json_key(std::string &out, const char *key)
{
    if (out.back() != '{')
        out += ',';
    out += '"';
    out += key;
    out += "\":";
}

// A text member; null for a text the run did not reach (none, or empty).
void json_text_member(std::string &out, const char *key, const char *text, size_t max_length)
{
    json_key(out, key);
    if (text == nullptr || text[0] == '\0')
        out += "null";
    else
        append_json_text(out, text, max_length);
}

void json_integer_member(std::string &out, const char *key, long long value, bool reached)
{
    json_key(out, key);
    out += reached ? std::to_string(value) : "null";
}

void json_seconds_member(std::string &out, const char *key, double seconds)
{
    char number[32];
    format_text(number, sizeof number, "%.3f", seconds);
    json_key(out, key);
    out += number;
}
