// Win32 side of the neighbour table: the IPv4 rows of GetIpNetTable2 (iphlpapi). Never
// ResolveIpNetEntry2, which sends a request and which Wine does not export: importing it would stop
// the program from loading there.
#include "neighbour_table.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <cstring>
#include <vector>

namespace {

// A row's state in the table's own terms. An unanswered row can also show as stale with
// IsUnreachable set and an all-zero address (Wine 8 lists unanswered Linux rows so).
neighbour_state state_of(const MIB_IPNET_ROW2 &row)
{
    if (row.IsUnreachable || row.State == NlnsUnreachable || row.State == NlnsIncomplete)
        return NEIGHBOUR_INCOMPLETE;
    if (row.State == NlnsReachable || row.State == NlnsPermanent)
        return NEIGHBOUR_REACHABLE;
    return NEIGHBOUR_KNOWN;
}

} // namespace

// The system's IPv4 neighbours (see neighbour_table.h).
bool read_neighbour_table(std::vector<neighbour_entry> *rows)
{
    MIB_IPNET_TABLE2 *table = nullptr;
    if (GetIpNetTable2(AF_INET, &table) != NO_ERROR || !table)
        return false;
    for (ULONG i = 0; i < table->NumEntries; i++) {
        const MIB_IPNET_ROW2 &row = table->Table[i];
        if (row.Address.si_family != AF_INET)
            continue;
        neighbour_entry entry;
        std::memcpy(entry.ipv4, &row.Address.Ipv4.sin_addr, 4);
        entry.link_len = row.PhysicalAddressLength <= NEIGHBOUR_LINK_MAX ? row.PhysicalAddressLength : 0;
        std::memcpy(entry.link, row.PhysicalAddress, entry.link_len);
        entry.state = state_of(row);
        rows->push_back(entry);
    }
    FreeMibTable(table);
    return true;
}
