// Defines g_utility_buffer from a stand-in program until the file server is built.
#include "embedded_assets.h"

#include "utility.h"
