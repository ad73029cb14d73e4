// The OS-free half of the neighbour table: reading /proc/net/arp's rows, choosing an IPv4 address's
// entry and writing its address as text. The system's table is read by neighbour_table_*.cpp.
#include "neighbour_table.h"

#include <cstring>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The value of a hex digit, or -1.
int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One blank-separated word of a line: its start and length.
struct word {
    const char *start;
    size_t length;
};

// Cuts line (up to its end or a line break) into at most max words; returns how many there were,
// max + 1 when there were more.
size_t split_words(const char *line, word *words, size_t max)
{
    size_t count = 0;
    const char *p = line;
    for (;;) {
        while (is_blank(*p))
            p++;
        if (*p == '\0' || *p == '\n' || *p == '\r')
            return count;
        if (count == max)
            return max + 1;
        words[count].start = p;
        while (*p != '\0' && *p != '\n' && *p != '\r' && !is_blank(*p))
            p++;
        words[count].length = static_cast<size_t>(p - words[count].start);
        count++;
    }
}

// "0x" and one to eight hex digits, as the kernel writes the row's flags.
bool parse_hex_flags(const word &w, unsigned *flags)
{
    if (w.length < 3 || w.length > 10 || w.start[0] != '0' || (w.start[1] != 'x' && w.start[1] != 'X'))
        return false;
    unsigned value = 0;
    for (size_t i = 2; i < w.length; i++) {
        int digit = hex_value(w.start[i]);
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    *flags = value;
    return true;
}

// Two hex digits a byte, ':' between bytes: "aa:bb:cc:dd:ee:ff".
bool parse_link_address(const word &w, neighbour_entry *entry)
{
    if (w.length % 3 != 2 || w.length / 3 + 1 > NEIGHBOUR_LINK_MAX)
        return false;
    size_t bytes = w.length / 3 + 1;
    for (size_t i = 0; i < bytes; i++) {
        const char *pair = w.start + i * 3;
        int high = hex_value(pair[0]), low = hex_value(pair[1]);
        if (high < 0 || low < 0 || (i + 1 < bytes && pair[2] != ':'))
            return false;
        entry->link[i] = static_cast<uint8_t>(high * 16 + low);
    }
    entry->link_len = bytes;
    return true;
}

// An entry whose address may be given: not incomplete, not empty, not all zero (how an unanswered
// row can show its address).
bool has_address(const neighbour_entry &entry)
{
    if (entry.state == NEIGHBOUR_INCOMPLETE || entry.link_len == 0 || entry.link_len > NEIGHBOUR_LINK_MAX)
        return false;
    for (size_t i = 0; i < entry.link_len; i++)
        if (entry.link[i] != 0)
            return true;
    return false;
}

void write_unknown(char (&text)[NEIGHBOUR_TEXT_SIZE]) { std::memcpy(text, NEIGHBOUR_UNKNOWN, sizeof NEIGHBOUR_UNKNOWN); }

} // namespace

bool ipv4_from_text(const char *text, uint8_t ipv4[4])
{
    const char *p = text;
    for (int part = 0; part < 4; part++) {
        if (part > 0 && *p++ != '.')
            return false;
        unsigned value = 0;
        int digits = 0;
        for (; *p >= '0' && *p <= '9' && digits < 4; p++, digits++)
            value = value * 10 + static_cast<unsigned>(*p - '0');
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        ipv4[part] = static_cast<uint8_t>(value);
    }
    return *p == '\0';
}

bool neighbour_parse_arp_line(const char *line, neighbour_entry *entry)
{
    const unsigned ARP_COMPLETE = 0x2, ARP_PERMANENT = 0x4;
    word words[6];
    if (split_words(line, words, 6) != 6 || words[0].length > 15)
        return false;
    char address[16];
    std::memcpy(address, words[0].start, words[0].length);
    address[words[0].length] = '\0';
    unsigned flags = 0;
    if (!ipv4_from_text(address, entry->ipv4) || !parse_hex_flags(words[2], &flags) ||
        !parse_link_address(words[3], entry))
        return false;
    entry->state = (flags & ARP_PERMANENT) ? NEIGHBOUR_REACHABLE
                   : (flags & ARP_COMPLETE) ? NEIGHBOUR_KNOWN
                                            : NEIGHBOUR_INCOMPLETE;
    return true;
}

neighbour_result neighbour_choose(const neighbour_entry *entries, size_t count, const uint8_t ipv4[4],
                                  char (&text)[NEIGHBOUR_TEXT_SIZE])
{
    write_unknown(text);
    const neighbour_entry *best = nullptr;
    bool any_row = false;
    for (size_t i = 0; i < count; i++) {
        if (std::memcmp(entries[i].ipv4, ipv4, 4) != 0)
            continue;
        any_row = true;
        if (has_address(entries[i]) && (!best || entries[i].state > best->state))
            best = &entries[i];
    }
    if (!best)
        return any_row ? NEIGHBOUR_NO_ADDRESS : NEIGHBOUR_NO_ENTRY;
    static const char digits[] = "0123456789abcdef";
    char *out = text;
    for (size_t i = 0; i < best->link_len; i++) {
        if (i > 0)
            *out++ = ':';
        *out++ = digits[best->link[i] >> 4];
        *out++ = digits[best->link[i] & 0xF];
    }
    *out = '\0';
    return NEIGHBOUR_FOUND;
}

neighbour_result neighbour_link_address(const char *ipv4, char (&text)[NEIGHBOUR_TEXT_SIZE])
{
    std::vector<neighbour_entry> rows;
    uint8_t address[4] = {};
    if (!ipv4_from_text(ipv4, address) || !read_neighbour_table(&rows)) {
        write_unknown(text);
        return NEIGHBOUR_NO_TABLE;
    }
    return neighbour_choose(rows.data(), rows.size(), address, text);
}

const char *neighbour_result_name(neighbour_result result)
{
    switch (result) {
    case NEIGHBOUR_FOUND:
        return "found";
    case NEIGHBOUR_NO_ENTRY:
        return "no entry";
    case NEIGHBOUR_NO_ADDRESS:
        return "no address";
    case NEIGHBOUR_NO_TABLE:
        break;
    }
    return "no table";
}
