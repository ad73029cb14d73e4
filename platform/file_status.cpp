// File status, directory listing and whole-file reads and replacements, which both platforms build
// on the run-time library (stat, dirent, stdio) and the platform's own file calls.
#include "platform.h"

#include <cstdio>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>

uint32_t file_size_of(const char *path)
{
    if (path == nullptr)
        return 0;
    struct stat st;
    if (stat(path, &st) != 0)
        return 0;
    return (uint32_t)st.st_size;
}

int64_t file_modified_utc_ms(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_mtime) * 1000;
}

bool platform_is_directory(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int platform_list_directory(const char *dir, void (*visit)(const char *name, void *context), void *context)
{
    DIR *listing = opendir(dir);
    if (listing == nullptr)
        return -1;
    while (struct dirent *entry = readdir(listing)) {
        const char *name = entry->d_name;
        if ((name[0] == '.' && name[1] == '\0') || (name[0] == '.' && name[1] == '.' && name[2] == '\0'))
            continue;
        visit(name, context);
    }
    closedir(listing);
    return 0;
}

int replace_file_content(const char *path, const void *bytes, uint32_t size)
{
    std::string temporary = std::string(path) + ".tmp";
    if (platform_write_new_file(temporary.c_str(), bytes, size, true) == 0 &&
        platform_replace_file(temporary.c_str(), path) == 0)
        return 0;
    std::remove(temporary.c_str());
    return -1;
}

bool read_file_bounded(const char *path, size_t max_bytes, std::string &out)
{
    std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path, "rb"), std::fclose);
    if (file == nullptr)
        return false;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0 && out.size() <= max_bytes)
        out.append(chunk, n);
    return !std::ferror(file.get()) && out.size() <= max_bytes;
}
