// File status services that both platforms implement with the run-time library's stat.
#include "platform.h"

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
