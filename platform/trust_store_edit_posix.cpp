// POSIX: the system's CA bundle belongs to the system; nothing is changed.
#include "trust_store.h"

int trust_store_change_root(const unsigned char *, size_t, bool) { return -1; }
