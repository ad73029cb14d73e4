// The command channel to the camera: fills in the fixed parts of the connection (scheme "ws",
// path "/"), hands over the driver's callbacks and turns the client's results into 0 / -1.
#include "device_channel.h"

#include "rws_private.h"

// The current client of the process; only the driver's thread uses the channel.
rws_client *g_ws_client = nullptr;

int device_channel_open(const char *address, int port, rws_on_client on_disconnected, rws_on_client on_connected,
                        rws_on_data on_text, rws_on_data on_binary)
{
    g_ws_client = rws_client_create();
    if (g_ws_client == nullptr)
        return -1;
    rws_client_set_scheme(g_ws_client, "ws");
    rws_client_set_host(g_ws_client, address);
    rws_client_set_path(g_ws_client, "/");
    rws_client_set_port(g_ws_client, port);
    rws_client_set_on_disconnected(g_ws_client, on_disconnected);
    rws_client_set_on_connected(g_ws_client, on_connected);
    rws_client_set_on_text(g_ws_client, on_text);
    rws_client_set_on_binary(g_ws_client, on_binary);
    rws_client_connect(g_ws_client); // a refusal is recorded in the client's fault
    return 0;
}

int device_channel_send(const char *text) { return rws_client_send_text(g_ws_client, text) ? 0 : -1; }

const rws_client *device_channel_client() { return g_ws_client; }

const char *device_channel_progress()
{
    if (g_ws_client == nullptr)
        return "no channel is open";
    switch (g_ws_client->state.load()) {
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
    rws_client_disconnect(g_ws_client);
    g_ws_client = nullptr;
    return 0;
}
