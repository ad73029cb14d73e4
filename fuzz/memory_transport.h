// Scripted in-memory connections in place of the HTTP client's socket transport (fuzzing): each
// connect takes the next scripted response, whose bytes the receives then deliver until its end,
// and records the request sent on it.
#pragma once

#include <string>
#include <vector>

struct memory_connection {
    std::string host;     // host of the URL connected to
    std::string request;  // every byte the client sent
    std::string response; // what the server sends, then closes
    size_t delivered;     // response bytes received so far
};

// Sets up the next run: the responses of successive connections (a connect beyond them is refused
// with HTTP_ERR_CONNECT), and the receive call, counted from 1 over the whole run, that fails as a
// reset would (0: none).
void memory_transport_reset(const std::vector<std::string> &responses, int failing_receive);

// The connections made since the last reset, in order.
const std::vector<memory_connection> &memory_transport_connections();
