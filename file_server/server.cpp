// The file server proper: the listening socket, the accept loop, the pool of workers and the
// handling of one connection with the request core.
#include "clock.h"
#include "file_server.h"
#include "file_transfer.h"
#include "platform.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

const size_t RECEIVE_BUFFER_SIZE = 4096;
// After a reply: how long and how much the server still reads before closing, so that request
// bytes it never read (a POST body, the headers of a refused request) do not make the system reset
// the connection and lose the end of the reply.
const int LINGER_MS = 2000;
const size_t LINGER_BYTES = 65536;

// The connections accepted and not yet taken by a worker, under one mutex and one condition.
struct work_queue {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<socket_t> pending;
};

// One connection's socket with the bytes received and not yet consumed.
struct connection {
    socket_t s;
    char buf[RECEIVE_BUFFER_SIZE];
    size_t pos;
    size_t len;
    int64_t head_deadline; // the whole head must have arrived by then (a steady_now_ms time)
};

// Sends all len bytes; false when the peer is gone or a send made no progress within the limit.
bool send_all(socket_t s, const char *data, size_t len)
{
    while (len > 0) {
        auto n = send(s, data, socket_io_length(len), SOCK_SEND_FLAGS);
        if (n <= 0) {
            if (n < 0 && socket_last_error() == SOCK_ERR_INTERRUPTED)
                continue;
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// Receives until the head reaches state until. False when the peer closed before the request
// line ended, a receive made no progress within the limit, the head outgrew its limit, or it took
// longer than the limit in all (a client dripping one byte at a time cannot hold a worker for ever).
// A client that ends its sending after the request line, without the empty line, still gets its
// reply.
bool receive_head(connection &c, request_head *head, head_state until)
{
    while (head->state < until) {
        if (c.pos == c.len) {
            if (steady_now_ms() > c.head_deadline)
                return false;
            auto n = recv(c.s, c.buf, static_cast<int>(sizeof c.buf), 0);
            if (n == 0 && head->state == HEAD_HEADERS) {
                head->state = HEAD_COMPLETE;
                break;
            }
            if (n <= 0) {
                if (n < 0 && socket_last_error() == SOCK_ERR_INTERRUPTED)
                    continue;
                return false;
            }
            c.pos = 0;
            c.len = static_cast<size_t>(n);
        }
        c.pos += request_head_feed(head, c.buf + c.pos, c.len - c.pos);
    }
    return head->state != HEAD_TOO_LARGE;
}

// Closes after a reply: ends the sending direction, then reads what the client still sends, for a
// short while, so that the client sees the whole reply and the end of the data.
void close_after_reply(socket_t s, int idle_limit_ms)
{
    socket_shutdown_send(s);
    int limit = idle_limit_ms < LINGER_MS ? idle_limit_ms : LINGER_MS;
    socket_set_io_limit(s, limit);
    int64_t end = steady_now_ms() + limit;
    char sink[4096];
    size_t total = 0;
    while (total < LINGER_BYTES && steady_now_ms() < end) {
        auto n = recv(s, sink, static_cast<int>(sizeof sink), 0);
        if (n <= 0)
            break;
        total += static_cast<size_t>(n);
    }
    socket_close(s);
}

// The copy path: reads and sends chunks of the file until its end.
bool copy_file_body(socket_t s, FILE *f, download_reports *reports)
{
    std::vector<char> chunk(COPY_CHUNK_SIZE);
    for (;;) {
        size_t n = std::fread(chunk.data(), 1, chunk.size(), f);
        if (n > 0 && !send_all(s, chunk.data(), n))
            return false;
        reports_add(reports, n);
        if (n < chunk.size())
            return std::ferror(f) == 0;
    }
}

// The name a download is reported under: the file name past the root and the slashes after it.
const char *name_under_root(const char *file_name, const char *root)
{
    const char *name = file_name + std::strlen(root);
    while (*name == '/')
        name++;
    return name;
}

// Sends the reply to a request whose head has been read: the file with the 200 head, else 404.
// Returns false when the connection failed on the way.
bool reply_with_file(socket_t s, request_verdict verdict, const char *file_name, const file_server_config &config)
{
    std::FILE *f = nullptr;
    if (verdict == REQUEST_SERVE && is_regular_file(file_name))
        f = std::fopen(file_name, "rb");
    if (f == nullptr)
        return send_all(s, REPLY_NOT_FOUND, std::strlen(REPLY_NOT_FOUND));
    download_reports reports;
    reports_begin(&reports, config.report_downloads ? name_under_root(file_name, config.root) : nullptr,
                  file_size_of(file_name));
    char head[256];
    size_t head_len = compose_ok_head(file_name, head, sizeof head);
    bool sent = send_all(s, head, head_len) && send_file_body(s, f, config.idle_limit_ms, true, &reports);
    reports_end(&reports);
    std::fclose(f);
    return sent;
}

// Runs the request steps on one accepted connection and closes it. A client that stalls or sends
// an oversized head is dropped without a reply.
void serve_connection(socket_t s, const file_server_config &config)
{
    socket_set_io_limit(s, config.idle_limit_ms);
    connection c;
    c.s = s;
    c.pos = c.len = 0;
    c.head_deadline = steady_now_ms() + config.idle_limit_ms;
    request_head head;
    request_head_init(&head);
    if (!receive_head(c, &head, HEAD_HEADERS)) {
        socket_close(s);
        return;
    }
    char file_name[FILE_NAME_SIZE];
    request_verdict verdict = resolve_request(head.line, config.root, file_name, sizeof file_name);
    bool replied;
    if (verdict == REQUEST_NOT_IMPLEMENTED)
        replied = send_all(s, REPLY_NOT_IMPLEMENTED, std::strlen(REPLY_NOT_IMPLEMENTED));
    else
        replied = receive_head(c, &head, HEAD_COMPLETE) &&
                  reply_with_file(s, verdict, file_name, config);
    if (replied)
        close_after_reply(s, config.idle_limit_ms);
    else
        socket_close(s);
}

// A worker: takes one pending connection at a time, for ever.
void run_worker(work_queue *queue, const file_server_config *config)
{
    for (;;) {
        socket_t s;
        {
            std::unique_lock<std::mutex> hold(queue->lock);
            queue->ready.wait(hold, [queue] { return !queue->pending.empty(); });
            s = queue->pending.front();
            queue->pending.pop_front();
        }
        serve_connection(s, *config);
    }
}

// The listening socket on any local IPv4 address and the port, or NO_SOCKET with a line on
// standard error.
socket_t open_listener(int port)
{
    socket_t s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == NO_SOCKET) {
        std::fprintf(stderr, "Shttpd: no socket: %s\n", system_error_text(socket_last_error()));
        return NO_SOCKET;
    }
    socket_allow_rebind(s);
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<unsigned short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(s, FILE_SERVER_BACKLOG) != 0) {
        std::fprintf(stderr, "Shttpd: cannot listen on port %d: %s\n", port,
                     system_error_text(socket_last_error()));
        socket_close(s);
        return NO_SOCKET;
    }
    return s;
}

// Starts the detached workers. The queue and the configuration live as long as the process.
bool start_workers(work_queue *queue, const file_server_config *config)
{
    try {
        for (int i = 0; i < FILE_SERVER_WORKERS; i++)
            std::thread(run_worker, queue, config).detach();
    } catch (const std::system_error &e) {
        std::fprintf(stderr, "Shttpd: cannot start the workers: %s\n", e.what());
        return false;
    }
    return true;
}

} // namespace

bool send_file_body(socket_t s, FILE *f, int limit_ms, bool zero_copy, download_reports *reports)
{
    uint64_t offset = 0;
    while (zero_copy) {
        long long n = send_file_piece(s, f, offset, ZERO_COPY_PIECE, limit_ms);
        if (n > 0) {
            offset += static_cast<uint64_t>(n);
            reports_add(reports, static_cast<uint64_t>(n));
        } else if (n == SEND_FILE_END)
            return true;
        else if (n == SEND_FILE_UNSUPPORTED && offset == 0)
            break; // nothing sent yet, the file's own position is still at its start
        else
            return false;
    }
    return copy_file_body(s, f, reports);
}

int file_server_run(const file_server_config &config)
{
    if (socket_startup() != 0) {
        std::fprintf(stderr, "Shttpd: the socket service did not start\n");
        return FILE_SERVER_ERR_SOCKETS;
    }
    socket_t listener = open_listener(config.port);
    if (listener == NO_SOCKET)
        return FILE_SERVER_ERR_LISTEN;
    static work_queue queue;
    static file_server_config shared;
    shared = config;
    shared.report_downloads = config.report_downloads && start_report_writer();
    if (!start_workers(&queue, &shared))
        return FILE_SERVER_ERR_THREADS;
    for (;;) {
        socket_t s = accept(listener, nullptr, nullptr);
        if (s == NO_SOCKET) {
            // A client gone before its turn, or no descriptors left: pause instead of spinning.
            if (socket_last_error() != SOCK_ERR_INTERRUPTED)
                sleep_ms(10);
            continue;
        }
        {
            std::lock_guard<std::mutex> hold(queue.lock);
            queue.pending.push_back(s);
        }
        queue.ready.notify_one();
    }
}
