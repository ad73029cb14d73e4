// Defines g_utility_buffer and g_utility_buffer_len from the generated utility header.
#include "utility_asset.h"

#include "shttpd_utility.h"
