// A scripted TCP peer on loopback for the HTTP client's tests: it listens on an ephemeral port and
// plays one script per accepted connection, recording what the client sent.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "socket.h"

struct peer_step {
    enum kind {
        READ_REQUEST, // read one request: the head up to the blank line and a Content-Length body
        SEND,         // send bytes; "{PORT}" in them stands for the peer's own port
        PAUSE,        // sleep ms
        CLOSE,        // close normally (the client sees the end of the stream)
        RESET,        // close with linger 0 (the client sees a reset)
        HOLD,         // say nothing until the client closes (at most 10 s)
    } what;
    std::string bytes;
    int ms;
};
using peer_script = std::vector<peer_step>;

// Steps, for building scripts.
peer_step read_request();
peer_step send_bytes(const std::string &bytes);
peer_step pause_ms(int ms);
peer_step close_conn();
peer_step reset_conn();
peer_step hold_conn();

class script_peer {
public:
    // Listens on address (a loopback address) at an ephemeral port and serves one script per
    // connection, in order, until the scripts run out.
    explicit script_peer(std::vector<peer_script> scripts, const char *address = "127.0.0.1");
    ~script_peer(); // stops waiting for clients, lets the running script end, closes everything
    script_peer(const script_peer &) = delete;
    script_peer &operator=(const script_peer &) = delete;

    uint16_t port() const { return port_; }
    std::string url(const std::string &path) const; // "http://<address>:<port><path>"
    std::string request(size_t connection) const;   // what the client sent on that connection
    size_t connections() const;                     // connections accepted so far
    void finish();                                  // waits for the scripts to end

private:
    bool wait_for_client(); // false when none came in time or the peer is stopping
    void serve();
    void play(socket_t s, const peer_script &script, size_t index);

    std::vector<peer_script> scripts_;
    std::string address_;
    socket_t listener_ = NO_SOCKET;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    size_t accepted_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens, kept so while the object lives (bound, never listening).
class closed_port {
public:
    closed_port();
    ~closed_port();
    closed_port(const closed_port &) = delete;
    closed_port &operator=(const closed_port &) = delete;
    uint16_t port() const { return port_; }

private:
    socket_t socket_ = NO_SOCKET;
    uint16_t port_ = 0;
};
