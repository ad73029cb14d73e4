// The embedded assets written out, and the firmware directory kept free of stale images.
#include "text_util.h"
#include "workstation.h"

#include "commands.h"
#include "embedded_assets.h"
#include "md5.h"
#include "utility_asset.h"

#include <cstdarg>
#include <cstring>

char g_staged_image_path[255];

namespace {

const int FIRMWARE_RESOURCE_ID = 101;

// Writes len bytes to path ("wb+"), checking the write and the close; a partial file is removed so
// that no later run mistakes it for a complete one.
int write_buffer_file(const char *path, const uint8_t *bytes, uint64_t len)
{
    if (path == nullptr)
        return -2;
    FILE *file = std::fopen(path, "wb+");
    if (file == nullptr)
        return -2;
    bool ok = std::fwrite(bytes, 1, static_cast<size_t>(len), file) == len;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::remove(path);
        return -2;
    }
    return 0;
}

// Keeps why the image could not be staged for the run record, and logs it.
void note_staging_failure(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void note_staging_failure(const char *format, ...)
{
    char *note = g_workstation.notes.staging_error;
    va_list args;
    va_start(args, format);
    std::vsnprintf(note, sizeof g_workstation.notes.staging_error, format, args);
    va_end(args);
    WORKSTATION_LOG("the firmware image could not be staged: %s", note);
}

// Deletes an image file of the firmware directory: any entry but a directory whose name holds
// ".img" (case-sensitive, anywhere in the name).
void purge_entry(const char *name, void *listing)
{
    char path[COMMAND_LINE_SIZE];
    if (!format_text(path, sizeof path, "%s/%s", static_cast<const char *>(listing), name))
        return;
    if (!platform_is_directory(path) && std::strstr(name, ".img") != nullptr)
        std::remove(path);
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

int extract_firmware_resource(const char *path)
{
    if (path == nullptr)
        return -2;
    const void *bytes = nullptr;
    uint32_t size = 0;
    int system_code = 0;
    resource_result found = platform_resource(FIRMWARE_RESOURCE_ID, &bytes, &size, &system_code);
    if (found != RESOURCE_FOUND) {
        std::printf("[ERROR] FindResource failed: ");
        if (found == RESOURCE_NAME_NOT_FOUND)
            std::puts("Resource not found (ERROR_RESOURCE_NAME_NOT_FOUND)");
        else if (found == RESOURCE_TYPE_NOT_FOUND)
            std::puts("Resource type not found (ERROR_RESOURCE_TYPE_NOT_FOUND)");
        else
            std::printf("Code %d\n", system_code);
        return -1;
    }
    // A staged file that is missing or short would only be noticed by the camera: the write
    // reports any byte it did not write, and a partial file is removed.
    int error = platform_write_new_file(path, bytes, size);
    if (error != 0) {
        std::remove(path);
        note_staging_failure("writing %s failed: %s", path, system_error_text(error));
        return -3;
    }
    return 0;
}

int stage_image(const char *path)
{
    int written = extract_firmware_resource(path);
    if (written == -1)
        note_staging_failure("the tool carries no firmware image");
    if (written != 0)
        return written;
    if (g_workstation_seams.image_staged != nullptr)
        g_workstation_seams.image_staged(path);
    // What is served must be what the tool carries: a file changed after the write (a scanner,
    // another user, a failing disk) is refused here, since the camera checks only the digest sent.
    char staged[33];
    md5_file_hex(path, staged);
    if (std::strcmp(staged, g_firmware_image_md5) == 0)
        return 0;
    std::remove(path);
    if (staged[0] == '\0')
        note_staging_failure("%s could not be read back", path);
    else
        note_staging_failure("the staged image's MD5 %s differs from the carried image's %s", staged,
                             g_firmware_image_md5);
    return -4;
}

void purge_staged_images()
{
    char listing[COMMAND_LINE_SIZE];
    format_text(listing, sizeof listing, PATH_FIRMWARE_LISTING_FMT, g_brand_word);
    platform_list_directory(listing, purge_entry, listing);
}

int stage_firmware(char name[255], char path[255])
{
    format_text(name, 255, "%s_fac_up_%s.img", FIRMWARE_IMAGE_PREFIX, TARGET_FIRMWARE_VERSION);
    format_text(path, 255, PATH_STAGED_IMAGE_FMT, g_brand_word, name);
    std::memcpy(g_staged_image_path, path, sizeof g_staged_image_path);
    if (stage_image(path) == 0)
        return 0;
    raise_outcome(OUTCOME_FIRMWARE_NOT_STAGED);
    cleanup_workstation();
    return -3;
}
