// POSIX side of the platform services.
#include "platform.h"
#include "socket.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

const char *system_error_text(int code)
{
    static char text[1025];
    const char *message = code < 0 ? gai_strerror(code) : std::strerror(code);
    std::snprintf(text, sizeof text, "%s", message ? message : "");
    return text;
}

int socket_startup() { return 0; }

void socket_cleanup() {}

int socket_last_error() { return errno; }

int socket_close(socket_t s) { return close(s); }

int socket_set_nonblocking(socket_t s, bool on)
{
    int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return -1;
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(s, F_SETFL, flags) < 0 ? -1 : 0;
}
