// Defines g_firmware_image_md5 from the digest header that the build writes from the image.
#include "embedded_assets.h"

#include "firmware_digest.h"

const char g_firmware_image_md5[33] = FIRMWARE_IMAGE_MD5;
