// Helpers of the WebSocket client tests: a recorder for the client's callbacks, a scripted raw TCP
// peer on 127.0.0.1 (ephemeral port) for what a real server will not do, and server-side frames.
#pragma once

#include "rws_private.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ws_test {

using steady = std::chrono::steady_clock;

// What the callbacks of one client reported, in order. Hand it to a client as its user data.
struct recorder {
    struct message {
        int opcode; // 1 text, 2 binary
        std::string bytes;
        steady::time_point at;
        uint32_t rx_capacity; // the client's receive buffer when the message was delivered
    };
    std::mutex lock;
    std::condition_variable changed;
    int connected = 0;
    int disconnected = 0;
    bool had_fault = false;
    int fault_code = 0;
    std::string fault_text;
    std::thread::id callback_thread;
    steady::time_point disconnected_at;
    std::vector<message> messages;

    // Waits up to ms for pred (called under the lock); true when it held.
    bool wait(int ms, const std::function<bool()> &pred);
    bool wait_messages(size_t n, int ms = 5000);
    bool wait_disconnected(int ms = 8000);
};

// Callbacks that record into the client's user data, or into default_recorder when it has none.
extern recorder *default_recorder;
void on_connected(rws_client *c);
void on_disconnected(rws_client *c);
void on_text(rws_client *c, const char *data, uint32_t length);
void on_binary(rws_client *c, const char *data, uint32_t length);

// A client for ws://127.0.0.1:port<path> recording into rec, connected (worker started).
rws_client *start_client(recorder &rec, int port, const char *path = "/");

// Base of the client tests: starts the socket service and checks, at the end, that every worker
// has ended and every client has been released.
class client_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// The acceptance a well-behaved server sends.
extern const char ACCEPT_REPLY[];

// One accepted connection of the raw peer; blocking socket, every wait bounded.
class raw_conn {
public:
    explicit raw_conn(socket_t s) : s_(s) {}
    ~raw_conn();
    raw_conn(const raw_conn &) = delete;
    raw_conn &operator=(const raw_conn &) = delete;
    bool send(const std::string &bytes);
    // Reads until the buffered bytes hold the end of an HTTP head; returns the head.
    std::string read_request(int ms = 3000);
    // Reads one client frame: opcode, FIN, mask flag and unmasked payload. False on time out or EOF.
    bool read_frame(int *opcode, std::string *payload, bool *masked = nullptr, int ms = 3000);
    // True when the client closed the connection (EOF or reset) within ms.
    bool wait_eof(int ms = 3000);
    void close();
    void reset(); // closes with a reset (RST) instead of an orderly end

private:
    bool fill(int ms); // reads what is there into buffered_, waiting up to ms for something
    socket_t s_;
    std::string buffered_;
};

// A listening socket on 127.0.0.1 with an ephemeral port.
class raw_peer {
public:
    explicit raw_peer(int backlog = 4);
    ~raw_peer();
    int port() const { return port_; }
    // The next connection within ms, or null.
    std::unique_ptr<raw_conn> accept(int ms = 5000);

private:
    socket_t listener_;
    int port_ = 0;
};

// A server frame (unmasked) with the given first byte and payload.
std::string server_frame(int first_byte, const std::string &payload);
// A fresh raw peer, a client of it and the accepted connection (null when none came), which got
// the client's request and was sent reply. open: the client reported the connection open.
struct raw_session {
    explicit raw_session(const std::string &reply = ACCEPT_REPLY);
    raw_peer peer;
    recorder rec;
    rws_client *client = nullptr;
    std::unique_ptr<raw_conn> conn;
    std::string request;
    bool open = false;
};
// A TCP connection to 127.0.0.1:port (a non-blocking connect when asked), or NO_SOCKET.
socket_t connect_loopback(int port, bool nonblocking = false);
// n bytes of a fixed pattern.
std::string pattern(size_t n);
// Milliseconds since t.
long ms_since(steady::time_point t);

} // namespace ws_test
