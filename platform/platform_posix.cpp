// POSIX side of the platform services (the Linux port).
#include "pipe_lines.h"
#include "platform.h"
#include "socket.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

extern char **environ;

// ---- Files and directories ----

bool platform_exists(const char *path) { return access(path, F_OK) == 0; }

int platform_mkdir(const char *path) { return mkdir(path, 0755); }

int platform_make_executable(const char *path) { return chmod(path, 0755); }

int platform_write_new_file(const char *path, const void *bytes, uint32_t size)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    const char *p = static_cast<const char *>(bytes);
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, p + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += (uint32_t)n;
    }
    return close(fd) == 0 && done == size ? 0 : -1;
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
    *size = (uint32_t)(facup_resource_101_end - facup_resource_101_start);
    return RESOURCE_FOUND;
}

// ---- Console and user interface ----

// The caption and text on standard output. With a terminal on standard input the answer is read
// from it (Enter is OK, "c" is Cancel for an OK/Cancel box); without one the answer is OK, so that
// an unattended run goes on.
box_answer platform_message_box(box_style style, const char *caption, const char *text)
{
    bool ok_cancel = style == BOX_STYLE_WARNING;
    std::printf("\n[%s]\n%s\n", caption, text);
    if (!isatty(STDIN_FILENO)) {
        std::fflush(stdout);
        return BOX_ANSWER_OK;
    }
    std::printf(ok_cancel ? "[OK: Enter, Cancel: c] " : "[OK: Enter] ");
    std::fflush(stdout);
    char answer[64];
    if (std::fgets(answer, sizeof answer, stdin) == nullptr)
        return ok_cancel ? BOX_ANSWER_CANCEL : BOX_ANSWER_OK;
    if (ok_cancel && (answer[0] == 'c' || answer[0] == 'C'))
        return BOX_ANSWER_CANCEL;
    return BOX_ANSWER_OK;
}

// The terminal's title escape, only when standard output is a terminal: a log file or pipe gets
// no control bytes.
void platform_set_console_title(const char *title)
{
    if (isatty(STDOUT_FILENO)) {
        std::printf("\033]0;%s\007", title);
        std::fflush(stdout);
    }
}

// The texts are UTF-8: every route prints them as they are.
void platform_set_text_route(text_route) {}

void platform_console_line(const char *text) { std::puts(text); }

// From LC_ALL, LC_MESSAGES or LANG, the first that is set: Chinese when it begins "zh_CN" or
// "zh_TW".
bool platform_ui_is_chinese()
{
    const char *locale = nullptr;
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = std::getenv(name);
        if (locale != nullptr && locale[0] != '\0')
            break;
    }
    if (locale == nullptr)
        return false;
    return std::strncmp(locale, "zh_CN", 5) == 0 || std::strncmp(locale, "zh_TW", 5) == 0;
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
    return (socklen_t)(offsetof(sockaddr_un, sun_path) + 1 + n);
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
    bool held = bind(fd, (sockaddr *)&addr, len) != 0 && errno == EADDRINUSE;
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
    if (bind(fd, (sockaddr *)&addr, len) != 0) {
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

// ---- Processes and threads ----

FILE *platform_popen(const char *command, const char *mode) { return popen(command, mode); }

int platform_pclose(FILE *stream) { return pclose(stream); }

int platform_system(const char *command) { return std::system(command); }

namespace {

// Splits a command line into words: blanks separate, double quotes group and are dropped.
std::vector<std::string> split_command_line(const char *line)
{
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (const char *p = line; *p != '\0'; p++) {
        if (*p == '"') {
            quoted = !quoted;
            in_word = true;
        } else if ((*p == ' ' || *p == '\t') && !quoted) {
            if (in_word)
                words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += *p;
            in_word = true;
        }
    }
    if (in_word)
        words.push_back(word);
    return words;
}

// The read end of a started program's pipe, with the lines read from it so far.
struct pipe_drain {
    int read_end;
    pipe_lines lines;
};

// Reads a pipe until every writer has closed it, then closes it.
void drain_pipe(void *argument)
{
    auto *drain = static_cast<pipe_drain *>(argument);
    char chunk[4096];
    for (;;) {
        ssize_t n = read(drain->read_end, chunk, sizeof chunk);
        if (n > 0)
            pipe_lines_feed(&drain->lines, chunk, (size_t)n);
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(drain->read_end);
    delete drain;
}

// Hands the read end to a draining thread; closes it when no thread can be started.
void start_draining(int read_end, spawn_line_hook on_line, void *context)
{
    auto *drain = new pipe_drain{read_end, {on_line, context, {}, 0}};
    if (platform_thread_start(drain_pipe, drain) == 0) {
        close(read_end);
        delete drain;
    }
}

// The caller's environment for a program, with entry ("NAME=value") in place of any entry of the
// same name when given. The texts stay the caller's.
std::vector<char *> environment_with(const char *entry)
{
    std::vector<char *> env;
    size_t name_len = entry != nullptr ? std::strcspn(entry, "=") + 1 : 0;  // "NAME="
    for (char **e = environ; *e != nullptr; e++)
        if (entry == nullptr || std::strncmp(*e, entry, name_len) != 0)
            env.push_back(*e);
    if (entry != nullptr)
        env.push_back(const_cast<char *>(entry));
    env.push_back(nullptr);
    return env;
}

int spawn_into_pipe(char *command_line, int write_end, const char *env_entry)
{
    std::vector<std::string> words = split_command_line(command_line);
    if (words.empty())
        return -2;
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, write_end, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, write_end, STDERR_FILENO);
    pid_t pid;
    std::vector<char *> env = environment_with(env_entry);
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? 0 : -2;
}

} // namespace

int platform_spawn_piped(const char *dir, char *command_line, spawn_line_hook on_line, void *context,
                         const char *env_entry)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return -1;

    char saved[PATH_MAX];
    bool moved = false;
    if (dir != nullptr && getcwd(saved, sizeof saved) != nullptr)
        moved = chdir(dir) == 0;
    int rc = spawn_into_pipe(command_line, ends[1], env_entry);
    if (moved && chdir(saved) != 0)
        std::perror("chdir");

    close(ends[1]);
    if (rc != 0)
        close(ends[0]);
    else
        start_draining(ends[0], on_line, context);
    return rc;
}

namespace {

struct thread_start {
    void (*body)(void *);
    void *argument;
};

void *thread_trampoline(void *p)
{
    thread_start start = *(thread_start *)p;
    delete (thread_start *)p;
    start.body(start.argument);
    return nullptr;
}

} // namespace

unsigned long platform_thread_start(void (*body)(void *), void *argument)
{
    auto *start = new thread_start{body, argument};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, thread_trampoline, start) != 0) {
        delete start;
        return 0;
    }
    pthread_detach(thread);
    return (unsigned long)thread;
}

// ---- Interrupts: a self-pipe read by a watcher thread ----

namespace {

// The pipe from the signal handler to the watcher thread; made once per process.
int g_interrupt_pipe[2] = {-1, -1};
std::atomic<interrupt_hook> g_interrupt_hook{nullptr};
const int INTERRUPT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

const char *signal_name(int sig)
{
    switch (sig) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    }
    return "signal";
}

// Only what is safe in a signal handler: one write, errno kept. A full pipe drops the byte.
void on_interrupt_signal(int sig)
{
    int saved = errno;
    unsigned char number = (unsigned char)sig;
    ssize_t written = write(g_interrupt_pipe[1], &number, 1);
    (void)written;
    errno = saved;
}

// The watcher thread: hands each signal read from the pipe to the hook, which ends the process.
void watch_interrupt_pipe(void *)
{
    for (;;) {
        unsigned char number;
        ssize_t n = read(g_interrupt_pipe[0], &number, 1);
        if (n == 1) {
            interrupt_hook hook = g_interrupt_hook.load();
            if (hook != nullptr)
                hook(number, signal_name(number));
        } else if (n == 0 || errno != EINTR) {
            return;
        }
    }
}

} // namespace

int platform_watch_interrupts(interrupt_hook hook)
{
    g_interrupt_hook.store(hook);
    if (g_interrupt_pipe[0] >= 0)
        return 0;  // the watcher is in place already
    // Close-on-exec: no program the tool starts holds the pipe. The handler's end never blocks.
    if (pipe2(g_interrupt_pipe, O_CLOEXEC) != 0 || fcntl(g_interrupt_pipe[1], F_SETFL, O_NONBLOCK) != 0 ||
        platform_thread_start(watch_interrupt_pipe, nullptr) == 0) {
        close(g_interrupt_pipe[0]);
        close(g_interrupt_pipe[1]);
        g_interrupt_pipe[0] = g_interrupt_pipe[1] = -1;
        return -1;
    }
    struct sigaction action = {};
    action.sa_handler = on_interrupt_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : INTERRUPT_SIGNALS)
        sigaction(sig, &action, nullptr);
    return 0;
}

void platform_end_interrupted(int code)
{
    std::fflush(stdout);
    std::signal(code, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, code);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(code);
    _exit(128 + code);  // a signal whose default action does not end the process
}

// ---- This computer and process ----

// readlink neither terminates the path nor says whether it cut it: a path that fills the buffer
// counts as cut.
bool platform_executable_path(char *out, size_t size)
{
    if (size == 0)
        return false;
    ssize_t length = readlink("/proc/self/exe", out, size);
    if (length <= 0 || (size_t)length >= size) {
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

unsigned long platform_process_id() { return (unsigned long)getpid(); }

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
    int error = n < 0 ? errno : (size_t)n != size ? EIO : 0;
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
