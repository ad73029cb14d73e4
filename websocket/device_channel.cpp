// The command channel to the camera: fills in the fixed parts of the connection (scheme "ws",
// path "/"), hands over the driver's callbacks and turns the client's results into 0 / -1.
#include "device_channel.h"

#include "rws_private.h"

// The current client of the process. Only the driver's thread changes it; it is set before the
// client connects, so that every callback of the client already finds it current.
std::atomic<rws_client *> g_ws_client{nullptr};

int device_channel_open(const char *address, int port, rws_on_client on_disconnected, rws_on_client on_connected,
                        rws_on_data on_text, rws_on_data on_binary)
{
    rws_client *c = rws_client_create();
    g_ws_client = c;
    if (c == nullptr)
        return -1;
    rws_client_set_scheme(c, "ws");
    rws_client_set_host(c, address);
    rws_client_set_path(c, "/");
    rws_client_set_port(c, port);
    rws_client_set_on_disconnected(c, on_disconnected);
    rws_client_set_on_connected(c, on_connected);
    rws_client_set_on_text(c, on_text);
    rws_client_set_on_binary(c, on_binary);
    rws_client_connect(c); // a refusal is recorded in the client's fault
    return 0;
}

int device_channel_send(const char *text) { return rws_client_send_text(g_ws_client, text) ? 0 : -1; }

const rws_client *device_channel_client() { return g_ws_client; }

const char *device_channel_progress()
{
    rws_client *c = g_ws_client;
    if (c == nullptr)
        return "no channel is open";
    switch (c->state.load()) {
    case RWS_ST_NEW:
    case RWS_ST_CONNECT:
        return "no TCP connection to that port yet (nothing answers there, or the link is down)";
    case RWS_ST_HANDSHAKE_SEND:
    case RWS_ST_HANDSHAKE_WAIT:
        return "the camera took the TCP connection but has not answered the WebSocket handshake";
    case RWS_ST_OPENED:
    case RWS_ST_IDLE:
        return "connected";
    default:
        return "the connection has ended (its fault is logged above)";
    }
}

int device_channel_close()
{
    // No longer current before it goes: a callback it is still making counts as an earlier channel's.
    rws_client_disconnect(g_ws_client.exchange(nullptr));
    return 0;
}
