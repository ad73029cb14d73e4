// The IPv4 address of a host name, looked up within a time limit. The system's resolver can wait
// far longer than a caller may (a DNS server that never answers costs tens of seconds), so the
// lookup runs on a thread of its own that is abandoned at the limit.
#pragma once

#include "socket.h"

enum name_lookup_result {
    LOOKUP_FOUND,      // *address holds the host's first IPv4 address
    LOOKUP_NOT_FOUND,  // the name has no IPv4 address, or no thread could be started for it
    LOOKUP_TIMED_OUT,  // no answer within the limit: the lookup goes on alone and its answer is dropped
};

// Looks up host (a name, not an address text) for at most timeout_ms (0 or less: the answer must be
// there at once, which it never is). The socket service must have been started.
name_lookup_result lookup_ipv4(const char *host, in_addr *address, int timeout_ms);
