// The link-layer (hardware) address that this PC's neighbour table holds for an IPv4 address: the
// address of the interface that answered on that link, read after traffic to it, never by sending
// anything. The system's table is read by neighbour_table_win32.cpp (GetIpNetTable2) or
// neighbour_table_posix.cpp (/proc/net/arp); choosing the entry and writing its text is OS-free
// (neighbour_table.cpp), so that both targets test it with made-up tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The longest link-layer address kept, in bytes (Windows' IF_MAX_PHYS_ADDRESS_LENGTH).
const size_t NEIGHBOUR_LINK_MAX = 32;
// Room for the longest address as text: two hex digits and a ':' per byte, the last ':' the NUL.
const size_t NEIGHBOUR_TEXT_SIZE = NEIGHBOUR_LINK_MAX * 3;
// The text given when no usable address is known.
#define NEIGHBOUR_UNKNOWN "unknown"

// How far an entry's address can be trusted, worst first; the best entry of an IPv4 address wins.
enum neighbour_state {
    NEIGHBOUR_INCOMPLETE, // asked for and not (or no longer) answered: no address
    NEIGHBOUR_KNOWN,      // an address, not confirmed lately (stale, delay, probe)
    NEIGHBOUR_REACHABLE,  // an address confirmed lately, or set by hand (permanent)
};

// One row of a neighbour table, in the system's terms translated once.
struct neighbour_entry {
    uint8_t ipv4[4];                  // the neighbour's IPv4 address, in the order it is written
    uint8_t link[NEIGHBOUR_LINK_MAX]; // its link-layer address
    size_t link_len;                  // bytes of link used; 0: none
    neighbour_state state;
};

// What a look-up found; the text is the address only with NEIGHBOUR_FOUND, else NEIGHBOUR_UNKNOWN.
enum neighbour_result {
    NEIGHBOUR_FOUND,      // the address, lower-case hex bytes separated by ':'
    NEIGHBOUR_NO_ENTRY,   // the table has no row for the IPv4 address
    NEIGHBOUR_NO_ADDRESS, // only rows without a usable address: incomplete, empty or all zero
    NEIGHBOUR_NO_TABLE,   // the table could not be read, or the IPv4 text is no dotted address
};

// Reads "a.b.c.d" (four decimal numbers 0 to 255, nothing around them) into ipv4. False otherwise.
bool ipv4_from_text(const char *text, uint8_t ipv4[4]);

// Reads one row of Linux's /proc/net/arp ("IP address, HW type, Flags, HW address, Mask, Device",
// separated by blanks) into entry: complete rows (flag 0x2) are known, permanent ones (0x4)
// reachable, the others incomplete. False for the heading or a row that is not one.
bool neighbour_parse_arp_line(const char *line, neighbour_entry *entry);

// Picks the best of the count entries for ipv4 (an incomplete state, an empty or all-zero address
// count as no address; of equals, the first) and writes its address, or NEIGHBOUR_UNKNOWN, to text.
neighbour_result neighbour_choose(const neighbour_entry *entries, size_t count, const uint8_t ipv4[4],
                                  char (&text)[NEIGHBOUR_TEXT_SIZE]);

// Appends the IPv4 rows of the system's neighbour table to rows (a side of its own per system).
// False when the table cannot be read.
bool read_neighbour_table(std::vector<neighbour_entry> *rows);

// The link-layer address of the IPv4 address ipv4 (dotted text) from the system's neighbour table,
// written to text as neighbour_choose does. Bounded: one read of the table, no traffic sent.
neighbour_result neighbour_link_address(const char *ipv4, char (&text)[NEIGHBOUR_TEXT_SIZE]);

// The result's name for a diagnostics line: "found", "no entry", "no address", "no table".
const char *neighbour_result_name(neighbour_result result);
