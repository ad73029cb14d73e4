#include "http_peer.h"
#include "socket_wait.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

const int ACCEPT_WAIT_MS = 5000; // a client that never comes ends the scripts
const int READ_WAIT_MS = 5000;
const int HOLD_MS = 10000;

// Binds a TCP socket to address at an ephemeral port; NO_SOCKET on failure.
socket_t bind_ephemeral(const char *address, uint16_t *port)
{
    socket_t s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == NO_SOCKET)
        return s;
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = inet_addr(address);
    where.sin_port = 0;
    socklen_value size = sizeof where;
    if (bind(s, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&where), &size) != 0) {
        socket_close(s);
        return NO_SOCKET;
    }
    *port = ntohs(where.sin_port);
    return s;
}

// Receives what is there within ms; false when the peer closed, failed or stayed silent.
bool receive_some(socket_t s, std::string &into, int ms)
{
    if (socket_select(s, SOCKET_WAIT_READ, ms) <= 0)
        return false;
    char chunk[65536];
    int n = (int)recv(s, chunk, sizeof chunk, 0);
    if (n <= 0)
        return false;
    into.append(chunk, (size_t)n);
    return true;
}

// Content-Length of a request head, 0 when none.
size_t content_length_of(const std::string &head)
{
    size_t at = head.find("Content-Length:");
    return at == std::string::npos ? 0 : (size_t)std::strtoul(head.c_str() + at + 15, nullptr, 10);
}

void send_all(socket_t s, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        int n = (int)send(s, bytes.data() + done, socket_io_length(bytes.size() - done), SOCK_SEND_FLAGS);
        if (n <= 0)
            return;
        done += (size_t)n;
    }
}

} // namespace

peer_step read_request() { return {peer_step::READ_REQUEST, "", 0}; }
peer_step send_bytes(const std::string &bytes) { return {peer_step::SEND, bytes, 0}; }
peer_step pause_ms(int ms) { return {peer_step::PAUSE, "", ms}; }
peer_step close_conn() { return {peer_step::CLOSE, "", 0}; }
peer_step reset_conn() { return {peer_step::RESET, "", 0}; }
peer_step hold_conn() { return {peer_step::HOLD, "", 0}; }

script_peer::script_peer(std::vector<peer_script> scripts, const char *address)
    : scripts_(std::move(scripts)), address_(address), requests_(scripts_.size())
{
    socket_startup();
    listener_ = bind_ephemeral(address, &port_);
    if (listener_ != NO_SOCKET && listen(listener_, 16) == 0)
        thread_ = std::thread(&script_peer::serve, this);
}

script_peer::~script_peer()
{
    stop_ = true;
    finish();
    if (listener_ != NO_SOCKET)
        socket_close(listener_);
    socket_cleanup();
}

void script_peer::finish()
{
    if (thread_.joinable())
        thread_.join();
}

std::string script_peer::url(const std::string &path) const
{
    return "http://" + address_ + ":" + std::to_string(port_) + path;
}

std::string script_peer::request(size_t connection) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return connection < requests_.size() ? requests_[connection] : std::string();
}

size_t script_peer::connections() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

bool script_peer::wait_for_client()
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ACCEPT_WAIT_MS);
    while (!stop_ && std::chrono::steady_clock::now() < until) {
        int ready = socket_select(listener_, SOCKET_WAIT_READ, 50);
        if (ready != 0)
            return ready > 0;
    }
    return false;
}

void script_peer::serve()
{
    for (size_t i = 0; i < scripts_.size(); i++) {
        if (!wait_for_client())
            return;
        socket_t s = accept(listener_, nullptr, nullptr);
        if (s == NO_SOCKET)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            accepted_++;
        }
        play(s, scripts_[i], i);
    }
}

void script_peer::play(socket_t s, const peer_script &script, size_t index)
{
    std::string received;
    bool open = true;
    for (const peer_step &step : script) {
        switch (step.what) {
        case peer_step::READ_REQUEST: {
            size_t end;
            while ((end = received.find("\r\n\r\n")) == std::string::npos && receive_some(s, received, READ_WAIT_MS)) {
            }
            if (end != std::string::npos) {
                size_t total = end + 4 + content_length_of(received.substr(0, end + 4));
                while (received.size() < total && receive_some(s, received, READ_WAIT_MS)) {
                }
            }
            std::lock_guard<std::mutex> lock(mutex_);
            requests_[index] = received;
            break;
        }
        case peer_step::SEND: {
            std::string bytes = step.bytes;
            size_t at = bytes.find("{PORT}");
            if (at != std::string::npos)
                bytes.replace(at, 6, std::to_string(port_));
            send_all(s, bytes);
            break;
        }
        case peer_step::PAUSE:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
            break;
        case peer_step::CLOSE:
            socket_close(s);
            open = false;
            break;
        case peer_step::RESET: {
            linger abortive = {};
            abortive.l_onoff = 1;
            abortive.l_linger = 0;
            setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abortive), sizeof abortive);
            socket_close(s);
            open = false;
            break;
        }
        case peer_step::HOLD: {
            auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(HOLD_MS);
            char chunk[4096];
            while (std::chrono::steady_clock::now() < until) {
                int ready = socket_select(s, SOCKET_WAIT_READ, 100);
                if (ready < 0 || (ready > 0 && recv(s, chunk, sizeof chunk, 0) <= 0))
                    break; // the client closed
            }
            break;
        }
        }
        if (!open)
            return;
    }
    socket_close(s);
}

closed_port::closed_port()
{
    socket_startup();
    socket_ = bind_ephemeral("127.0.0.1", &port_);
}

closed_port::~closed_port()
{
    if (socket_ != NO_SOCKET)
        socket_close(socket_);
    socket_cleanup();
}
