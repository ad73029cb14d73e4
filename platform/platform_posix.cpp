// POSIX side of the platform services (the Linux port); the process, thread and interrupt services
// are in spawn_posix.cpp, the console and the user interface in console_posix.cpp.
#include "platform.h"

#include "socket.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// ---- Files and directories ----

bool platform_exists(const char *path) { return access(path, F_OK) == 0; }

int platform_mkdir(const char *path) { return mkdir(path, 0755); }

int platform_make_executable(const char *path) { return chmod(path, 0755); }

int platform_write_new_file(const char *path, const void *bytes, uint32_t size, bool flush_to_disk)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    const char *p = static_cast<const char *>(bytes);
    uint32_t done = 0;
    int error = 0;
    while (done < size) {
        ssize_t n = write(fd, p + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;  // a write that takes nothing: the device is full
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    if (error == 0 && flush_to_disk && fsync(fd) != 0)
        error = errno;
    if (close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

// ---- The executable's own resources: images the build links in ----

// Resource 101 is the firmware image (assets/firmware_image.S): these symbols are defined when the
// program links it and null otherwise, so that a program without it has no resource of any type.
extern "C" {
extern const unsigned char facup_resource_101_start[] __attribute__((weak));
extern const unsigned char facup_resource_101_end[] __attribute__((weak));
}

resource_result platform_resource(int id, const void **bytes, uint32_t *size, int *)
{
    if (id != 101)
        return RESOURCE_NAME_NOT_FOUND;
    if (facup_resource_101_start == nullptr || facup_resource_101_end == nullptr)
        return RESOURCE_TYPE_NOT_FOUND;
    *bytes = facup_resource_101_start;
    *size = static_cast<uint32_t>(facup_resource_101_end - facup_resource_101_start);
    return RESOURCE_FOUND;
}

// ---- Named mutex: an abstract Unix socket, held while bound ----
// The kernel frees the name when the process ends, however it ends; the name is scoped to the
// network namespace, which keeps test scenarios apart.

struct platform_mutex {
    int fd;  // the bound socket, or -1 for a handle naming another process's mutex
};

static socklen_t abstract_address(const char *name, sockaddr_un *addr)
{
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    size_t n = std::strlen(name);
    if (n > sizeof addr->sun_path - 1)
        n = sizeof addr->sun_path - 1;
    std::memcpy(addr->sun_path + 1, name, n);  // sun_path[0] = 0: the abstract namespace
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

// Probes by binding, never by connecting: a connection would wait in the holder's backlog, which
// nobody accepts, and once that is full every later probe would block until the holder ends.
platform_mutex *platform_mutex_open(const char *name)
{
    sockaddr_un addr;
    socklen_t len = abstract_address(name, &addr);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    bool held = bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 && errno == EADDRINUSE;
    close(fd);  // a probe that found the name free gives it back at once
    return held ? new platform_mutex{-1} : nullptr;
}

platform_mutex *platform_mutex_create(const char *name, bool *existed)
{
    *existed = false;
    sockaddr_un addr;
    socklen_t len = abstract_address(name, &addr);
    // Close-on-exec: a program the tool starts must not keep the guard after the tool has ended.
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
        int err = errno;
        close(fd);
        if (err != EADDRINUSE)
            return nullptr;
        *existed = true;
        return new platform_mutex{-1};
    }
    return new platform_mutex{fd};
}

void platform_mutex_close(platform_mutex *mutex)
{
    if (mutex == nullptr)
        return;
    if (mutex->fd >= 0)
        close(mutex->fd);
    delete mutex;
}

// ---- This computer and process ----

// readlink neither terminates the path nor says whether it cut it: a path that fills the buffer
// counts as cut.
bool platform_executable_path(char *out, size_t size)
{
    if (size == 0)
        return false;
    ssize_t length = readlink("/proc/self/exe", out, size);
    if (length <= 0 || static_cast<size_t>(length) >= size) {
        out[0] = '\0';
        return false;
    }
    out[length] = '\0';
    return true;
}

void platform_computer_name(char *out, size_t size)
{
    if (size == 0)
        return;
    // gethostname need not terminate a name it had to cut.
    if (gethostname(out, size) != 0)
        out[0] = '\0';
    out[size - 1] = '\0';
}

unsigned long platform_process_id() { return static_cast<unsigned long>(getpid()); }

// getrandom, going on after a signal or a short read; /dev/urandom where the kernel lacks the call.
int platform_random_bytes(void *out, size_t size)
{
    unsigned char *bytes = static_cast<unsigned char *>(out);
    size_t done = 0;
    while (done < size) {
        ssize_t n = getrandom(bytes + done, size - done, 0);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    if (done == size)
        return 0;
    FILE *file = std::fopen("/dev/urandom", "rb");
    if (file == nullptr)
        return -1;
    size_t read = std::fread(bytes, 1, size, file);
    std::fclose(file);
    return read == size ? 0 : -1;
}

// rename replaces the target in one step.
int platform_replace_file(const char *from, const char *to) { return std::rename(from, to); }

// O_APPEND makes each write land whole at the end, whoever else appends.
int platform_append_file(const char *path, const void *bytes, size_t size)
{
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    ssize_t n;
    do
        n = write(fd, bytes, size);
    while (n < 0 && errno == EINTR);
    int error = n < 0 ? errno : static_cast<size_t>(n) != size ? EIO : 0;
    if (close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

void platform_utf8_from_ansi(const char *text, size_t size, char *out, size_t size_out)
{
    if (size_out == 0)
        return;
    size_t n = size < size_out - 1 ? size : size_out - 1;
    std::memcpy(out, text, n);
    out[n] = '\0';
}

// ---- Errors and sockets ----

// The resolver's text for a getaddrinfo code (negative), strerror's text for any other.
const char *system_error_text(int code)
{
    static thread_local char text[1025];
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
