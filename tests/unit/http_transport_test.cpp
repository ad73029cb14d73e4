// The HTTP client's transport: connection time limits, bounded waits, whole-buffer transfers,
// abort, and what a download leaves open.
#include "http_client_internal.h"
#include "http_peer.h"
#include "socket_wait.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;

long long ms_since(clock_type::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start).count();
}

// A client connected to the peer at url (plain TCP), with the given time limit.
http_client *connected_client(const std::string &url, int timeout_ms)
{
    http_client_startup();
    http_client *client = http_client_new();
    client->timeout_ms = timeout_ms;
    http_parser_url parts;
    EXPECT_EQ(0, http_split_url(url.c_str(), &parts));
    EXPECT_EQ(0, http_client_connect(client, url.c_str(), &parts));
    return client;
}

// Nothing listens: Linux reports the refusal at once through the writable socket's pending
// error; Windows reports a refusal only as an exceptional condition, which the wait does not
// watch, so the limit runs out first. Both end with code 14.
TEST(HttpTransport, ConnectWhereNothingListens)
{
    const int limit = 700;
    closed_port nothing;
    std::string url = "http://127.0.0.1:" + std::to_string(nothing.port()) + "/x";
    test_files::scratch_dir dir;
    auto start = clock_type::now();
    EXPECT_EQ(HTTP_ERR_CONNECT_WAIT, http_download_file(url.c_str(), dir.file("out.txt").c_str(), limit));
    long long ms = ms_since(start);
#ifdef _WIN32
    EXPECT_GE(ms, limit - 20);
#else
    EXPECT_LT(ms, limit / 2);
#endif
    EXPECT_LT(ms, limit + 1500);
}

// A receive asked for more bytes returns fewer only when the peer closes.
TEST(HttpTransport, ReceiveFillsBufferUnlessPeerCloses)
{
    struct {
        const char *name;
        peer_script script;
        std::string expected;
    } cases[] = {
        {"ten bytes in pieces, then close",
         {send_bytes("0123"), pause_ms(50), send_bytes("456789"), close_conn()},
         "0123456789"},
        {"close at once", {close_conn()}, ""},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        script_peer peer({c.script});
        http_client *client = connected_client(peer.url("/"), 2000);
        char buffer[4096];
        int n = http_client_transfer(client, buffer, sizeof buffer, HTTP_RECEIVE);
        ASSERT_EQ((int)c.expected.size(), n);
        EXPECT_EQ(c.expected, std::string(buffer, (size_t)n));
        http_client_free(client);
    }
}

TEST(HttpTransport, AbortFailsTransfers)
{
    http_client_startup();
    script_peer peer({{read_request(), close_conn()}});
    http_client *client = http_client_new();
    http_client_abort(client);
    EXPECT_EQ(nullptr, http_client_get(client, peer.url("/").c_str(), 0));
    EXPECT_EQ(HTTP_ERR_SEND, http_client_last_error(client));
    http_client_free(client);
}

TEST(HttpTransport, TimeLimitSettings)
{
    http_client_startup();
    script_peer peer({{read_request(), send_bytes("HTTP/1.1 204 No Content\r\n\r\n"), close_conn()}});
    http_client *client = http_client_new();
    EXPECT_EQ(-1, http_client_set_timeout(nullptr, 5));
    EXPECT_EQ(0, http_client_set_timeout(client, -5));
    EXPECT_EQ(0, client->timeout_ms);
    http_client_get(client, peer.url("/").c_str(), 0);
    EXPECT_EQ(0, http_client_last_error(client));
    EXPECT_EQ(HTTP_DEFAULT_TIMEOUT_MS, client->timeout_ms);
    EXPECT_EQ(204, http_client_status(client));
    http_client_free(client);
    EXPECT_EQ(-1, http_client_last_error(nullptr));
    EXPECT_EQ(-1, http_client_status(nullptr));
    EXPECT_EQ(-1, http_client_download(nullptr, "http://127.0.0.1/", "x"));
}

// A TLS server that takes the connection and never answers the handshake: the handshake, with
// every retry, ends within the time limit.
TEST(HttpTransport, SilentTlsServerEndsByTimeLimit)
{
    const int limit = 400;
    script_peer peer({{hold_conn()}});
    test_files::scratch_dir dir;
    std::string url = "https://127.0.0.1:" + std::to_string(peer.port()) + "/x";
    auto start = clock_type::now();
    EXPECT_EQ(HTTP_ERR_TLS, http_download_file(url.c_str(), dir.file("out.txt").c_str(), limit));
    long long ms = ms_since(start);
    EXPECT_GE(ms, limit - 20);
    EXPECT_LT(ms, limit + 1500);
}

// Descriptors the process holds, where the system shows them (Linux); 0 elsewhere (under Wine the
// Linux directory would show Wine's own descriptors).
size_t open_descriptors()
{
#ifdef _WIN32
    return 0;
#else
    std::error_code error;
    size_t n = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error))
        n++;
    return n;
#endif
}

// Seventeen downloads in a row (the driver's re-fetch loop) all succeed and leave no socket or
// file open (counted on Linux).
TEST(HttpTransport, SeventeenDownloadsLeaveNothingOpen)
{
    test_files::scratch_dir dir;
    std::string response = "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nmodel:cam\r\n";
    std::vector<peer_script> scripts(17, peer_script{read_request(), send_bytes(response), close_conn()});
    http_client_startup();
    {
        script_peer peer(scripts);
        size_t before = open_descriptors();
        for (int i = 0; i < 17; i++)
            EXPECT_EQ(0, http_download_file(peer.url("/deviceRelateInfo.txt").c_str(),
                                            dir.file(".deviceRelateInfo.txt").c_str(), 2000));
        peer.finish();
        EXPECT_EQ(before, open_descriptors());
    }
    EXPECT_EQ("model:cam\r\n", test_files::read_file(dir.file(".deviceRelateInfo.txt")));
}

#ifndef _WIN32
volatile std::sig_atomic_t signals_seen = 0;
void count_signal(int) { signals_seen = signals_seen + 1; }

// A select interrupted by a signal goes on with the remaining time, not the whole limit again.
TEST(HttpTransport, InterruptedWaitKeepsRemainingTime)
{
    script_peer peer({{hold_conn()}});
    http_client *client = connected_client(peer.url("/"), 2000);
    auto previous = std::signal(SIGUSR1, count_signal);
    signals_seen = 0;
    pthread_t waiter = pthread_self();
    std::thread interrupter([waiter] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pthread_kill(waiter, SIGUSR1);
    });
    auto start = clock_type::now();
    EXPECT_EQ(-1, http_client_wait(client, SOCKET_WAIT_READ, 600));
    long long ms = ms_since(start);
    interrupter.join();
    std::signal(SIGUSR1, previous);
    EXPECT_EQ(1, signals_seen);
    EXPECT_GE(ms, 590);
    EXPECT_LT(ms, 780); // the whole limit again would end near 800
    http_client_free(client);
}

// A body that cannot be written (a full disk) fails the download instead of reporting success.
TEST(HttpTransport, FullDiskIsFailure)
{
    std::string body(100000, 'f');
    script_peer peer({{read_request(), send_bytes("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body),
                       close_conn()}});
    EXPECT_EQ(HTTP_ERR_RESPONSE, http_download_file(peer.url("/f").c_str(), "/dev/full", 2000));
}
#endif

} // namespace
