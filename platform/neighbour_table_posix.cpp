// POSIX side of the neighbour table: Linux's IPv4 neighbours as /proc/net/arp lists them (the table
// of the network namespace this process runs in).
#include "neighbour_table.h"

#include <cstdio>
#include <cstring>
#include <vector>

// The most rows read: far more than a station's links hold, a bound on a table flooded by a scan.
const size_t MAX_ROWS = 65536;

// The system's IPv4 neighbours (see neighbour_table.h).
bool read_neighbour_table(std::vector<neighbour_entry> *rows)
{
    FILE *table = std::fopen("/proc/net/arp", "r");
    if (!table)
        return false;
    char line[256];
    bool whole_line = true; // the previous read ended its line: this one starts a row
    while (rows->size() < MAX_ROWS && std::fgets(line, sizeof line, table)) {
        bool starts_row = whole_line;
        whole_line = std::strchr(line, '\n') != nullptr;
        neighbour_entry entry;
        // A row longer than the buffer is no row of this table: its pieces are skipped.
        if (starts_row && whole_line && neighbour_parse_arp_line(line, &entry))
            rows->push_back(entry);
    }
    std::fclose(table);
    return true;
}
