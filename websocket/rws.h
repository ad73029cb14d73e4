// The WebSocket client (RFC 6455, client side, "ws" only): one rws_client per connection, a worker
// thread per connection that does all network work, and four callbacks through which the
// application learns what happened. Every operation accepts a null client (or fault) and then does
// nothing, returning the value named in its comment.
#pragma once

#include <cstdint>

struct rws_client;
struct rws_fault;

// Callbacks, all called on the client's worker thread, never while the client's locks are held.
// The bytes handed to rws_on_data are the message payload only (no terminator); they are released
// when the callback returns.
typedef void (*rws_on_client)(rws_client *client);
typedef void (*rws_on_data)(rws_client *client, const char *data, uint32_t length);

// Fault codes of the client: the one error enum of this library. A new code needs its text in
// rws_fault_meaning, or the build's -Wswitch names it.
enum rws_fault_kind {
    RWS_FAULT_NONE = 0,
    RWS_FAULT_CONFIG = 1,          // incomplete configuration, refused by rws_client_connect
    RWS_FAULT_HANDSHAKE_SEND = 2,  // the opening request could not be sent
    RWS_FAULT_HANDSHAKE_REPLY = 3, // the server's reply was not an acceptance
    RWS_FAULT_SOCKET_IO = 4,       // a read or write on the open connection failed
    RWS_FAULT_CONNECT = 5,         // socket service, name resolution or TCP connect failed
    RWS_FAULT_PEER_CLOSED = 6,     // the server sent a close frame
    RWS_FAULT_TOO_LARGE = 7,       // a frame or message over RWS_MAX_FRAME_SIZE arrived
};

// The largest frame (header and payload) and the largest assembled message the client accepts;
// the receive buffer never grows past it.
const uint32_t RWS_MAX_FRAME_SIZE = 16u * 1024u * 1024u;

// A new zero-filled client (port -1, no socket, state new), or null when memory runs out.
rws_client *rws_client_create();

// Configuration; it belongs before rws_client_connect. Texts are copied; an empty text stores none.
void rws_client_set_scheme(rws_client *client, const char *scheme);
void rws_client_set_host(rws_client *client, const char *host);
void rws_client_set_path(rws_client *client, const char *path);
void rws_client_set_port(rws_client *client, int port);
void rws_client_set_url(rws_client *client, const char *scheme, const char *host, int port, const char *path);
const char *rws_client_get_scheme(rws_client *client); // (null)
const char *rws_client_get_host(rws_client *client);   // (null)
const char *rws_client_get_path(rws_client *client);   // (null)
int rws_client_get_port(rws_client *client);           // (-1)
void rws_client_set_user_data(rws_client *client, void *user_data);
void *rws_client_get_user_data(rws_client *client); // (null)
void rws_client_set_on_connected(rws_client *client, rws_on_client callback);
void rws_client_set_on_disconnected(rws_client *client, rws_on_client callback);
void rws_client_set_on_text(rws_client *client, rws_on_data callback);
void rws_client_set_on_binary(rws_client *client, rws_on_data callback);

// Starts the worker, which connects and then reports through the callbacks. False (and fault
// RWS_FAULT_CONFIG, no worker, no callback ever) when the port is not above 0, the scheme, host or
// path is missing, there is no on_disconnected callback, the opening request would not fit its
// 512-byte buffer, or a worker was already started. (false)
bool rws_client_connect(rws_client *client);

// Queues the text as one masked text frame; it goes out once the connection is open. False for an
// empty or missing text, or one so long (near 4 GiB) that its frame size would not fit 32 bits. (false)
bool rws_client_send_text(rws_client *client, const char *text);

// True from a successful handshake until the socket is closed. (false)
bool rws_client_is_connected(rws_client *client);

// The fault of the latest failing step, owned by the client; read it inside on_disconnected or
// after a refused connect. (null)
rws_fault *rws_client_get_error(rws_client *client);
rws_fault_kind rws_fault_code(const rws_fault *fault); // (RWS_FAULT_NONE)
const char *rws_fault_text(const rws_fault *fault);    // (null)
// What a fault code means, in words for a support engineer (a value outside the enumeration:
// "unknown fault").
const char *rws_fault_meaning(rws_fault_kind code);

// Diagnostic lines of every client (bytes it drops, for one) go to the hook, on the worker thread;
// none is set at start, and then nothing is written anywhere.
void rws_set_log(void (*hook)(const char *line));

// Disconnects and gives the client up: queued frames are dropped; an open connection gets one close
// frame; no callback follows. The client is released once its worker has also ended, so callbacks
// that are already running stay safe; the caller must not use the client afterwards.
void rws_client_disconnect(rws_client *client);
