// Public operations of the WebSocket client: the record, its configuration, connect, queueing a
// text, disconnect-and-release, and the fault record.
#include "rws_private.h"

#include <cstdlib>
#include <cstring>
#include <new>

const char RWS_TEXT_NO_PORT[] = "No URL port provided";
const char RWS_TEXT_NO_SCHEME[] = "No URL scheme provided";
const char RWS_TEXT_NO_HOST[] = "No URL host provided";
const char RWS_TEXT_NO_PATH[] = "No URL path provided";
const char RWS_TEXT_NO_ON_DISCONNECTED[] = "No on_disconnected callback provided";
const char RWS_TEXT_REQUEST_TOO_LONG[] = "Handshake request longer than 512 bytes";
const char RWS_TEXT_SEND_HANDSHAKE[] = "Send handshake";
const char RWS_TEXT_BAD_STATUS[] = "HTPP code not found or non 101";
const char RWS_TEXT_NO_ACCEPT[] = "Accept key not found";
const char RWS_TEXT_SOCKET_IO[] = "Failed read/write socket";
const char RWS_TEXT_WINSOCK[] = "Failed initialise winsock";
const char RWS_TEXT_CONNECT[] = "Failed connect to host";
const char RWS_TEXT_PEER_CLOSED[] = "Connection was closed by endpoint";
const char RWS_TEXT_TOO_LARGE[] = "Frame or message larger than 16 MiB";

namespace {
std::atomic<int> live_clients{0};
}

int rws_live_clients() { return live_clients.load(); }

// ---- faults --------------------------------------------------------------------------------------------

void rws_fault_clear(rws_client *c)
{
    if (c->error == nullptr)
        return;
    rws_release(c->error->text);
    rws_release(c->error);
    c->error = nullptr;
}

void rws_fault_set(rws_client *c, rws_fault_kind code, const char *text)
{
    rws_fault_clear(c);
    c->error = static_cast<rws_fault *>(rws_alloc_zeroed(sizeof(rws_fault)));
    c->error->code = code;
    c->error->text = rws_copy_text(text);
}

rws_fault *rws_client_get_error(rws_client *client) { return client ? client->error : nullptr; }

rws_fault_kind rws_fault_code(const rws_fault *fault) { return fault ? fault->code : RWS_FAULT_NONE; }

const char *rws_fault_text(const rws_fault *fault) { return fault ? fault->text : nullptr; }

// ---- record and configuration -----------------------------------------------------------------------

rws_client *rws_client_create()
{
    void *mem = std::calloc(1, sizeof(rws_client));
    if (mem == nullptr)
        return nullptr;
    rws_client *c = new (mem) rws_client();
    c->port = -1;
    c->socket = NO_SOCKET;
    c->state = RWS_ST_NEW;
    c->reply_scan = RWS_REPLY_DONE;
    c->state_lock = rws_mutex_create();
    c->queue_lock = rws_mutex_create();
    c->holders = 1;
    live_clients++;
    return c;
}

void rws_client_set_scheme(rws_client *client, const char *scheme)
{
    if (client == nullptr)
        return;
    rws_release_text(&client->scheme);
    client->scheme = rws_copy_text(scheme);
}

void rws_client_set_host(rws_client *client, const char *host)
{
    if (client == nullptr)
        return;
    rws_release_text(&client->host);
    client->host = rws_copy_text(host);
}

void rws_client_set_path(rws_client *client, const char *path)
{
    if (client == nullptr)
        return;
    rws_release_text(&client->path);
    client->path = rws_copy_text(path);
}

void rws_client_set_port(rws_client *client, int port)
{
    if (client)
        client->port = port;
}

void rws_client_set_url(rws_client *client, const char *scheme, const char *host, int port, const char *path)
{
    rws_client_set_scheme(client, scheme);
    rws_client_set_host(client, host);
    rws_client_set_port(client, port);
    rws_client_set_path(client, path);
}

const char *rws_client_get_scheme(rws_client *client) { return client ? client->scheme : nullptr; }
const char *rws_client_get_host(rws_client *client) { return client ? client->host : nullptr; }
const char *rws_client_get_path(rws_client *client) { return client ? client->path : nullptr; }
int rws_client_get_port(rws_client *client) { return client ? client->port : -1; }

void rws_client_set_user_data(rws_client *client, void *user_data)
{
    if (client)
        client->user_data = user_data;
}

void *rws_client_get_user_data(rws_client *client) { return client ? client->user_data : nullptr; }

void rws_client_set_on_connected(rws_client *client, rws_on_client callback)
{
    if (client)
        client->on_connected = callback;
}

void rws_client_set_on_disconnected(rws_client *client, rws_on_client callback)
{
    if (client)
        client->on_disconnected = callback;
}

void rws_client_set_on_text(rws_client *client, rws_on_data callback)
{
    if (client)
        client->on_text = callback;
}

void rws_client_set_on_binary(rws_client *client, rws_on_data callback)
{
    if (client)
        client->on_binary = callback;
}

// ---- connect, send, state ---------------------------------------------------------------------------

// The message of the last configuration check that fails, or null when the configuration is complete.
static const char *configuration_gap(const rws_client *c)
{
    const char *gap = nullptr;
    if (c->port <= 0)
        gap = RWS_TEXT_NO_PORT;
    if (c->scheme == nullptr)
        gap = RWS_TEXT_NO_SCHEME;
    if (c->host == nullptr)
        gap = RWS_TEXT_NO_HOST;
    if (c->path == nullptr)
        gap = RWS_TEXT_NO_PATH;
    if (c->on_disconnected == nullptr)
        gap = RWS_TEXT_NO_ON_DISCONNECTED;
    if (gap == nullptr) {
        // The request is composed later into a fixed buffer: refuse now what would not fit it.
        char request[RWS_REQUEST_BUFFER];
        if (rws_handshake_compose(c, request, sizeof request) >= sizeof request)
            gap = RWS_TEXT_REQUEST_TOO_LONG;
    }
    return gap;
}

bool rws_client_connect(rws_client *client)
{
    if (client == nullptr)
        return false;
    rws_client *c = client;
    // One connect per client, refused before anything a running worker uses (its fault) is touched.
    if (c->worker != nullptr || c->state != RWS_ST_NEW)
        return false;
    rws_fault_clear(c);
    const char *gap = configuration_gap(c);
    c->rx_length = 0;
    if (gap) {
        rws_fault_set(c, RWS_FAULT_CONFIG, gap);
        return false;
    }
    c->holders = 2; // the application and the worker
    rws_mutex_lock(c->state_lock);
    c->state = RWS_ST_NEW;
    c->worker = rws_thread_start(rws_worker_main, c);
    c->state = RWS_ST_CONNECT;
    rws_mutex_unlock(c->state_lock);
    return true;
}

bool rws_client_send_text(rws_client *client, const char *text)
{
    if (client == nullptr)
        return false;
    rws_mutex_lock(client->queue_lock);
    size_t length = text ? std::strlen(text) : 0;
    bool queued = rws_text_fits(length);
    if (queued)
        rws_list_append(&client->tx_queue, rws_packet_masked(RWS_OP_TEXT, text, static_cast<uint32_t>(length)));
    rws_mutex_unlock(client->queue_lock);
    return queued;
}

bool rws_client_is_connected(rws_client *client)
{
    if (client == nullptr)
        return false;
    rws_mutex_lock(client->queue_lock);
    bool connected = client->connected;
    rws_mutex_unlock(client->queue_lock);
    return connected;
}

// ---- disconnect and release ---------------------------------------------------------------------------

void rws_client_disconnect(rws_client *client)
{
    if (client == nullptr)
        return;
    rws_client *c = client;
    c->closing = true;
    rws_mutex_lock(c->state_lock);
    rws_mutex_lock(c->queue_lock);
    rws_list_free_packets(&c->tx_queue);
    rws_mutex_unlock(c->queue_lock);
    // A worker that is already ending (its state is END) is left to finish on its own road.
    if (c->worker != nullptr && c->state != RWS_ST_END)
        c->state = c->connected ? RWS_ST_CLOSE : RWS_ST_END;
    rws_mutex_unlock(c->state_lock);
    rws_client_drop(c);
}

void rws_client_drop(rws_client *c)
{
    if (c->holders.fetch_sub(1, std::memory_order_acq_rel) == 1)
        rws_client_free(c);
}

void rws_client_free(rws_client *c)
{
    rws_close_socket(c);
    rws_release_text(&c->accept_value);
    rws_release(c->rx_buffer);
    c->rx_buffer = nullptr;
    c->rx_capacity = 0;
    c->rx_length = 0;
    rws_list_free_packets(&c->tx_queue);
    rws_list_free_packets(&c->rx_messages);
    rws_release_text(&c->scheme);
    rws_release_text(&c->host);
    rws_release_text(&c->path);
    rws_fault_clear(c);
    rws_mutex_delete(c->state_lock);
    rws_mutex_delete(c->queue_lock);
    c->~rws_client();
    std::free(c);
    live_clients--;
}

// Every code by name and no default, so that -Wswitch reports a code added without a text.
const char *rws_fault_meaning(rws_fault_kind code)
{
    switch (code) {
    case RWS_FAULT_NONE:
        return "no fault";
    case RWS_FAULT_CONFIG:
        return "the connection's settings are incomplete";
    case RWS_FAULT_HANDSHAKE_SEND:
        return "the WebSocket handshake request could not be sent";
    case RWS_FAULT_HANDSHAKE_REPLY:
        return "the server answered the WebSocket handshake, but did not accept it";
    case RWS_FAULT_SOCKET_IO:
        return "a read or write on the open connection failed (the server reset or dropped it)";
    case RWS_FAULT_CONNECT:
        return "no TCP connection: refused, or no answer (nothing listens on that port, or the link is down)";
    case RWS_FAULT_PEER_CLOSED:
        return "the server closed the connection";
    case RWS_FAULT_TOO_LARGE:
        return "the server sent a message larger than 16 MiB";
    }
    return "unknown fault"; // a value converted from outside the enumeration
}
