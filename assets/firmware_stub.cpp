// Defines g_firmware_buffer from the stub header that the build generates.
#include "embedded_assets.h"

#include "firmware_stub.h"
