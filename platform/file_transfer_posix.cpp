// POSIX side of the file server's connection and file services.
#include "file_transfer.h"

#include <csignal>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

void transfer_startup() { std::signal(SIGPIPE, SIG_IGN); }

int socket_set_io_limit(socket_t s, int milliseconds)
{
    struct timeval tv;
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
        return -1;
    return setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0 ? -1 : 0;
}

int socket_allow_rebind(socket_t listener)
{
    int on = 1;
    return setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ? -1 : 0;
}

int socket_shutdown_send(socket_t s) { return shutdown(s, SHUT_WR); }

bool is_regular_file(const char *path)
{
    struct stat st;
    return path != nullptr && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

long long send_file_piece(socket_t s, FILE *f, uint64_t offset, uint64_t count, int limit_ms)
{
    (void)limit_ms; // the socket's SO_SNDTIMEO bounds each wait of sendfile
    const uint64_t largest = 0x7ffff000; // the most one sendfile call moves
    size_t n = (size_t)(count < largest ? count : largest);
    for (;;) {
        off_t pos = (off_t)offset;
        ssize_t sent = sendfile(s, fileno(f), &pos, n);
        if (sent > 0)
            return sent;
        if (sent == 0)
            return SEND_FILE_END;
        if (errno == EINTR)
            continue;
        // A file system or socket that sendfile cannot serve: the caller copies instead.
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            return SEND_FILE_UNSUPPORTED;
        return SEND_FILE_FAILED;
    }
}
