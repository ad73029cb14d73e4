#include "ws_test_support.h"

#include "socket_wait.h"

#include <cstring>

namespace ws_test {

const char ACCEPT_REPLY[] = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                            "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";

bool recorder::wait(int ms, const std::function<bool()> &pred)
{
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), pred);
}

bool recorder::wait_messages(size_t n, int ms)
{
    return wait(ms, [&] { return messages.size() >= n; });
}

bool recorder::wait_disconnected(int ms)
{
    return wait(ms, [&] { return disconnected > 0; });
}

recorder *default_recorder = nullptr;

static recorder &rec_of(rws_client *c)
{
    recorder *r = (recorder *)rws_client_get_user_data(c);
    return r ? *r : *default_recorder;
}

void on_connected(rws_client *c)
{
    recorder &r = rec_of(c);
    std::lock_guard<std::mutex> hold(r.lock);
    r.connected++;
    r.changed.notify_all();
}

void on_disconnected(rws_client *c)
{
    recorder &r = rec_of(c);
    rws_fault *fault = rws_client_get_error(c);
    std::lock_guard<std::mutex> hold(r.lock);
    r.disconnected++;
    r.had_fault = fault != nullptr;
    r.fault_code = rws_fault_code(fault);
    r.fault_text = rws_fault_text(fault) ? rws_fault_text(fault) : "";
    r.callback_thread = std::this_thread::get_id();
    r.disconnected_at = steady::now();
    r.changed.notify_all();
}

static void record_message(rws_client *c, int opcode, const char *data, uint32_t length)
{
    recorder &r = rec_of(c);
    std::lock_guard<std::mutex> hold(r.lock);
    r.messages.push_back({opcode, std::string(data, length), steady::now(), c->rx_capacity});
    r.changed.notify_all();
}

void on_text(rws_client *c, const char *data, uint32_t length) { record_message(c, 1, data, length); }
void on_binary(rws_client *c, const char *data, uint32_t length) { record_message(c, 2, data, length); }

rws_client *start_client(recorder &rec, int port, const char *path)
{
    rws_client *c = rws_client_create();
    rws_client_set_url(c, "ws", "127.0.0.1", port, path);
    rws_client_set_user_data(c, &rec);
    rws_client_set_on_connected(c, on_connected);
    rws_client_set_on_disconnected(c, on_disconnected);
    rws_client_set_on_text(c, on_text);
    rws_client_set_on_binary(c, on_binary);
    EXPECT_TRUE(rws_client_connect(c));
    return c;
}

void client_test::SetUp() { ASSERT_EQ(socket_startup(), 0); }

void client_test::TearDown()
{
    EXPECT_TRUE(rws_thread_wait_all(15000)) << "a worker did not end";
    EXPECT_EQ(rws_live_clients(), 0) << "a client was not released";
    socket_cleanup();
}

static sockaddr_in loopback_address(int port)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)port);
    return a;
}

// ---- raw peer -----------------------------------------------------------------------------------------

raw_conn::~raw_conn() { close(); }

void raw_conn::close()
{
    if (s_ != NO_SOCKET)
        socket_close(s_);
    s_ = NO_SOCKET;
}

void raw_conn::reset()
{
    linger hard{1, 0};
    if (s_ != NO_SOCKET)
        setsockopt(s_, SOL_SOCKET, SO_LINGER, (const char *)&hard, sizeof hard);
    close();
}

bool raw_conn::send(const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        int n = (int)::send(s_, bytes.data() + done, socket_io_length(bytes.size() - done), SOCK_SEND_FLAGS);
        if (n <= 0)
            return false;
        done += (size_t)n;
    }
    return true;
}

bool raw_conn::fill(int ms)
{
    if (socket_select(s_, SOCKET_WAIT_READ, ms) <= 0)
        return false;
    char chunk[65536];
    int n = (int)recv(s_, chunk, sizeof chunk, 0);
    if (n <= 0)
        return false;
    buffered_.append(chunk, (size_t)n);
    return true;
}

std::string raw_conn::read_request(int ms)
{
    steady::time_point start = steady::now();
    size_t end;
    while ((end = buffered_.find("\r\n\r\n")) == std::string::npos) {
        if (ms_since(start) > ms)
            return "";
        fill(50);
    }
    std::string head = buffered_.substr(0, end + 4);
    buffered_.erase(0, end + 4);
    return head;
}

// Size of the client frame at the front of the bytes, read independently of the client's codec:
// 0 until it is complete.
static size_t client_frame_size(const std::string &b, size_t *header)
{
    if (b.size() < 2)
        return 0;
    size_t len7 = (uint8_t)b[1] & 0x7f, h = 2 + (((uint8_t)b[1] & 0x80) ? 4 : 0);
    uint64_t n = len7;
    if (len7 == 126)
        h += 2;
    if (len7 == 127)
        h += 8;
    if (b.size() < h)
        return 0;
    if (len7 >= 126) {
        n = 0;
        for (size_t i = 2; i < (len7 == 126 ? 4u : 10u); i++)
            n = n << 8 | (uint8_t)b[i];
    }
    *header = h;
    return b.size() >= h + n ? (size_t)(h + n) : 0;
}

bool raw_conn::read_frame(int *opcode, std::string *payload, bool *masked, int ms)
{
    steady::time_point start = steady::now();
    size_t size, header = 0;
    while ((size = client_frame_size(buffered_, &header)) == 0) {
        if (ms_since(start) > ms)
            return false;
        fill(50);
    }
    *opcode = (uint8_t)buffered_[0] & 0x0f;
    bool is_masked = ((uint8_t)buffered_[1] & 0x80) != 0;
    if (masked)
        *masked = is_masked;
    payload->assign(buffered_, header, size - header);
    for (size_t i = 0; is_masked && i < payload->size(); i++)
        (*payload)[i] = (char)((*payload)[i] ^ buffered_[header - 4 + i % 4]);
    buffered_.erase(0, size);
    return true;
}

bool raw_conn::wait_eof(int ms)
{
    steady::time_point start = steady::now();
    while (ms_since(start) <= ms) {
        if (socket_select(s_, SOCKET_WAIT_READ, 50) > 0) {
            char chunk[4096];
            if (recv(s_, chunk, sizeof chunk, 0) <= 0)
                return true;
        }
    }
    return false;
}

raw_peer::raw_peer(int backlog)
{
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback_address(0);
    EXPECT_EQ(bind(listener_, (sockaddr *)&a, sizeof a), 0);
    EXPECT_EQ(listen(listener_, backlog), 0);
    socklen_value size = sizeof a;
    getsockname(listener_, (sockaddr *)&a, &size);
    port_ = ntohs(a.sin_port);
}

raw_peer::~raw_peer() { socket_close(listener_); }

std::unique_ptr<raw_conn> raw_peer::accept(int ms)
{
    if (socket_select(listener_, SOCKET_WAIT_READ, ms) <= 0)
        return nullptr;
    socket_t s = ::accept(listener_, nullptr, nullptr);
    if (s == NO_SOCKET)
        return nullptr;
    return std::unique_ptr<raw_conn>(new raw_conn(s));
}

std::string server_frame(int first_byte, const std::string &payload)
{
    std::string f(1, (char)first_byte);
    uint64_t n = payload.size();
    if (n <= 125) {
        f += (char)n;
    } else if (n <= 0xffff) {
        f += (char)126;
        f += (char)(n >> 8);
        f += (char)n;
    } else {
        f += (char)127;
        for (int i = 7; i >= 0; i--)
            f += (char)(n >> (8 * i));
    }
    return f + payload;
}

raw_session::raw_session(const std::string &reply)
{
    client = start_client(rec, peer.port());
    conn = peer.accept();
    if (conn == nullptr)
        return;
    request = conn->read_request();
    if (!reply.empty())
        conn->send(reply);
    if (reply.compare(0, std::strlen(ACCEPT_REPLY), ACCEPT_REPLY) == 0)
        open = rec.wait(3000, [&] { return rec.connected == 1; });
}

socket_t connect_loopback(int port, bool nonblocking)
{
    socket_t s = socket(AF_INET, SOCK_STREAM, 0);
    if (nonblocking)
        socket_set_nonblocking(s, true);
    sockaddr_in a = loopback_address(port);
    if (connect(s, (sockaddr *)&a, sizeof a) != 0 && !nonblocking) {
        socket_close(s);
        return NO_SOCKET;
    }
    return s;
}

std::string pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = (char)('a' + (i * 7 + 3) % 26);
    return s;
}

long ms_since(steady::time_point t)
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - t).count();
}

} // namespace ws_test
