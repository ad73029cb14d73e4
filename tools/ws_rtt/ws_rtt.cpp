// Round-trip time of text messages through a WebSocket echo server, with the tool's client.
// Usage: ws_rtt HOST PORT PATH COUNT SIZE
// Sends COUNT texts of SIZE bytes one at a time, each after a pause of (i * 1237) mod 10,000
// microseconds following the previous echo, so that messages leave at every phase of the client's
// 5 ms passes, as the driver's one command does. Prints the median round trip in milliseconds
// (with WS_RTT_ALL set: the minimum, median and maximum).
#include "rws.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex lock;
std::condition_variable changed;
bool connected = false;
bool ended = false;
size_t echoes = 0;

void on_connected(rws_client *)
{
    std::lock_guard<std::mutex> hold(lock);
    connected = true;
    changed.notify_all();
}

void on_disconnected(rws_client *c)
{
    std::fprintf(stderr, "ws_rtt: disconnected: %d %s\n", rws_fault_code(rws_client_get_error(c)),
                 rws_fault_text(rws_client_get_error(c)) ? rws_fault_text(rws_client_get_error(c)) : "");
    std::lock_guard<std::mutex> hold(lock);
    ended = true;
    changed.notify_all();
}

void on_text(rws_client *, const char *, uint32_t)
{
    std::lock_guard<std::mutex> hold(lock);
    echoes++;
    changed.notify_all();
}

// Waits up to 5 s for pred; false on time out or a dropped connection.
template <class Pred> bool wait_for(Pred pred)
{
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::seconds(5), [&] { return pred() || ended; }) && !ended;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: ws_rtt HOST PORT PATH COUNT SIZE\n");
        return 2;
    }
    int count = std::atoi(argv[4]);
    std::string text((size_t)std::atoi(argv[5]), 'x');
    rws_client *c = rws_client_create();
    rws_client_set_url(c, "ws", argv[1], std::atoi(argv[2]), argv[3]);
    rws_client_set_on_connected(c, on_connected);
    rws_client_set_on_disconnected(c, on_disconnected);
    rws_client_set_on_text(c, on_text);
    if (!rws_client_connect(c) || !wait_for([] { return connected; })) {
        std::fprintf(stderr, "ws_rtt: no connection\n");
        return 1;
    }
    std::vector<double> ms;
    for (int i = 0; i < count; i++) {
        std::this_thread::sleep_for(std::chrono::microseconds((i * 1237) % 10000));
        auto start = std::chrono::steady_clock::now();
        rws_client_send_text(c, text.c_str());
        if (!wait_for([&] { return echoes > (size_t)i; })) {
            std::fprintf(stderr, "ws_rtt: no echo for message %d\n", i + 1);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    rws_client_disconnect(c);
    std::sort(ms.begin(), ms.end());
    if (std::getenv("WS_RTT_ALL"))
        std::printf("%.3f %.3f %.3f\n", ms.front(), ms[ms.size() / 2], ms.back());
    else
        std::printf("%.3f\n", ms[ms.size() / 2]);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let the close frame go out
    return 0;
}
