// Writing the embedded assets out to files.
#include "workstation.h"

#include "embedded_assets.h"
#include "utility_asset.h"

char g_staged_image_path[255];

namespace {

// Writes len bytes to path ("wb+"), checking the write and the close; a partial file is removed so
// that no later run mistakes it for a complete one.
int write_buffer_file(const char *path, const uint8_t *bytes, uint64_t len)
{
    if (path == nullptr)
        return -2;
    FILE *file = std::fopen(path, "wb+");
    if (file == nullptr)
        return -2;
    bool ok = std::fwrite(bytes, 1, (size_t)len, file) == len;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::remove(path);
        return -2;
    }
    return 0;
}

} // namespace

int write_utility_file(const char *path)
{
    int rc = write_buffer_file(path, g_utility_buffer, g_utility_buffer_len);
    if (rc == 0)
        platform_make_executable(path);
    return rc;
}

int write_firmware_buffer_file(const char *path)
{
    return write_buffer_file(path, g_firmware_buffer, g_firmware_buffer_len);
}
