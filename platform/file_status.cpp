// File status and directory listing, which both platforms implement with the run-time library's
// stat and dirent.
#include "platform.h"

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
