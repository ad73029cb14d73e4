// The HTTP client's transport operations over scripted in-memory connections: the same contract as
// the socket transport (a transfer moves the whole buffer unless the peer closes first), without a
// socket, a wait or TLS.
#include "http_client_internal.h"
#include "memory_transport.h"

#include <cstring>

namespace {

std::vector<std::string> scripted;
std::vector<memory_connection> made;
int receives = 0;
int failing = 0;

// Sockets of the scripted connections are their index plus this, never a real descriptor.
const socket_t FIRST_SOCKET = 1000;

memory_connection *current(http_client *client)
{
    if (client->socket == NO_SOCKET)
        return nullptr;
    size_t index = (size_t)(client->socket - FIRST_SOCKET);
    return index < made.size() ? &made[index] : nullptr;
}

} // namespace

void memory_transport_reset(const std::vector<std::string> &responses, int failing_receive)
{
    scripted = responses;
    made.clear();
    receives = 0;
    failing = failing_receive;
}

const std::vector<memory_connection> &memory_transport_connections() { return made; }

void http_client_close_socket(http_client *client) { client->socket = NO_SOCKET; }

http_result http_client_connect(http_client *client, const char *url, const http_parser_url *parts)
{
    http_target target;
    http_result code = http_url_target(url, parts, &target);
    if (code != HTTP_OK)
        return code;
    client->tls = target.tls;
    http_client_close_socket(client);
    if (made.size() >= scripted.size())
        return HTTP_ERR_CONNECT;
    made.push_back({target.host, "", scripted[made.size()], 0});
    client->socket = FIRST_SOCKET + (socket_t)(made.size() - 1);
    return HTTP_OK;
}

int http_client_wait(http_client *, int, int) { return -1; }

int http_client_retry(http_client *, int, int) { return -1; }

int http_client_transfer(http_client *client, void *buffer, int length, http_direction direction)
{
    memory_connection *c = current(client);
    if (c == nullptr || (client->flags & HTTP_FLAG_ABORT) || length < 0)
        return -1;
    if (direction == HTTP_SEND) {
        c->request.append(static_cast<const char *>(buffer), (size_t)length);
        return length;
    }
    if (++receives == failing)
        return -1;
    size_t left = c->response.size() - c->delivered;
    size_t n = (size_t)length < left ? (size_t)length : left;
    std::memcpy(buffer, c->response.data() + c->delivered, n);
    c->delivered += n;
    return (int)n;
}

int http_client_tls_start(http_client *, const char *) { return 0; }

void http_client_tls_release(http_client *client)
{
    client->tls_conn = nullptr;
    client->tls_ctx = nullptr;
}

int http_client_startup() { return 0; }

int http_client_cleanup() { return 0; }
