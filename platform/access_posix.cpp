// POSIX side of access_control.h: owners and mode bits.
#include "access_control.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const mode_t ADMIN_FOLDER_MODE = 0755;

} // namespace

change_access platform_change_access(const char *path, admin_circle)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return CHANGE_ACCESS_UNKNOWN;
    return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 ? CHANGED_BY_ADMINS_ONLY : CHANGED_BY_OTHERS;
}

int platform_make_admin_folder(const char *path)
{
    if (mkdir(path, ADMIN_FOLDER_MODE) != 0)
        return errno;
    return platform_keep_to_admins(path);  // the mode as asked, whatever the umask took away
}

int platform_keep_to_admins(const char *path)
{
    // Through one descriptor, so that the owner and the mode change on the folder that was looked at.
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st;
    int error = fstat(fd, &st) == 0 ? 0 : errno;
    if (error == 0 && st.st_uid != 0 && fchown(fd, 0, static_cast<gid_t>(-1)) != 0)
        error = errno;
    // A change of owner may clear mode bits: the mode is set after it.
    if (error == 0 && fchmod(fd, ADMIN_FOLDER_MODE) != 0)
        error = errno;
    close(fd);
    return error;
}

bool platform_may_add_entries(const char *path) { return access(path, W_OK) == 0; }
