// Inside the WebSocket client: the records, the memory, list and thread helpers, the frame codec,
// the handshake and the worker's steps. Used by the client's sources and by its tests; the
// application uses rws.h and device_channel.h only.
#pragma once

#include "rws.h"
#include "socket.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// ---- states of the worker ------------------------------------------------------------------------
enum {
    RWS_ST_IDLE = -1,
    RWS_ST_NEW = 0,
    RWS_ST_CONNECT = 1,
    RWS_ST_HANDSHAKE_SEND = 2,
    RWS_ST_HANDSHAKE_WAIT = 3,
    RWS_ST_OPENED = 4,
    RWS_ST_DROPPED = 5,
    RWS_ST_CLOSE = 6,
    RWS_ST_END = 9999,
};

// ---- the bytes behind the handshake reply (reply_scan) -------------------------------------------
enum {
    RWS_REPLY_DONE = -1,        // frames only from here on
    RWS_REPLY_IN_LINE = 0,      // still in the reply's header: inside a line,
    RWS_REPLY_LINE_START = 1,   // at the start of a line,
    RWS_REPLY_LINE_START_CR = 2, // after a CR at the start of a line
    RWS_REPLY_ENDED = 3,        // the header has ended; its first following byte decides
};

// ---- opcodes ----------------------------------------------------------------------------------------
enum {
    RWS_OP_CONTINUATION = 0,
    RWS_OP_TEXT = 1,
    RWS_OP_BINARY = 2,
    RWS_OP_CLOSE = 8,
    RWS_OP_PING = 9,
    RWS_OP_PONG = 10,
};

// ---- fixed values ---------------------------------------------------------------------------------
const int RWS_PASS_SLEEP_MS = 5;        // pause at the end of every worker pass
const int RWS_PING_PASSES = 400;        // a ping every this many passes
const int RWS_RETRY_SLEEP_MS = 200;     // between resolve attempts, connect passes, after a close frame
const int RWS_CONNECT_ATTEMPTS = 4;     // resolve attempts, and passes over the resolved addresses
const uint32_t RWS_READ_CHUNK = 8192;   // bytes per recv
const size_t RWS_REQUEST_BUFFER = 512;  // the opening request, with its terminating zero
// The longest handshake reply header taken, its empty line included; a longer one is refused.
const size_t RWS_MAX_REPLY_HEADER = 8192;
const char RWS_HANDSHAKE_KEY[] = "dGhlIHNhbXBsZSBub25jZQ==";
// The longest text the client sends: its frame (payload and a header of up to 14 bytes) must fit the
// 32-bit size of a packet.
const uint64_t RWS_MAX_TEXT = UINT32_MAX - 14;
inline bool rws_text_fits(uint64_t length) { return length > 0 && length <= RWS_MAX_TEXT; }

// The seam of the socket waits (milliseconds), which tests shorten: a TCP connect to one address,
// and one stall of a send (no byte accepted) before the connection counts as failed.
// RWS_REAL_WAITS holds the client's own.
struct rws_waits {
    int connect_ms;
    int send_ms;
};
extern const rws_waits RWS_REAL_WAITS;
extern rws_waits g_rws_waits;

// Texts of the faults.
extern const char RWS_TEXT_NO_PORT[];
extern const char RWS_TEXT_NO_SCHEME[];
extern const char RWS_TEXT_NO_HOST[];
extern const char RWS_TEXT_NO_PATH[];
extern const char RWS_TEXT_NO_ON_DISCONNECTED[];
extern const char RWS_TEXT_REQUEST_TOO_LONG[];
extern const char RWS_TEXT_SEND_HANDSHAKE[];
extern const char RWS_TEXT_BAD_STATUS[];
extern const char RWS_TEXT_NO_ACCEPT[];
extern const char RWS_TEXT_SOCKET_IO[];
extern const char RWS_TEXT_WINSOCK[];
extern const char RWS_TEXT_CONNECT[];
extern const char RWS_TEXT_PEER_CLOSED[];
extern const char RWS_TEXT_TOO_LARGE[];

// ---- memory and texts (rws_memory) ---------------------------------------------------------------

// Stops the process with a failed-assertion diagnostic when cond is false, in every build.
#define RWS_CHECK(cond) ((cond) ? static_cast<void>(0) : rws_assert_failed(#cond, __FILE__, __LINE__))
[[noreturn]] void rws_assert_failed(const char *what, const char *file, int line);

void *rws_alloc(size_t size);        // null for 0; stops the process when memory runs out
void *rws_alloc_zeroed(size_t size); // as rws_alloc, filled with zeros
void rws_release(void *block);       // null allowed
void rws_release_text(char **field); // frees the text and sets the field to null
char *rws_copy_text(const char *text); // null and "" give null
char *rws_copy_bytes_as_text(const void *bytes, size_t count); // null or 0 give null

// ---- threads and mutexes (rws_thread; std::thread and std::recursive_mutex underneath) ----------
struct rws_mutex_rec;
typedef rws_mutex_rec *rws_mutex;
struct rws_thread_rec;
typedef rws_thread_rec *rws_thread;

rws_mutex rws_mutex_create();
void rws_mutex_lock(rws_mutex m);   // null does nothing
void rws_mutex_unlock(rws_mutex m); // null does nothing
void rws_mutex_delete(rws_mutex m); // also frees it

// Starts a thread running fn(arg); null when fn is null. When fn returns, the thread reaps the
// previously finished thread and leaves its own record for the next one.
rws_thread rws_thread_start(void (*fn)(void *), void *arg);
void rws_thread_sleep(int ms);
// Waits up to ms for every started thread to end and reaps the last one. True when none is left.
// For an orderly end of the process (and for tests); the client never needs it.
bool rws_thread_wait_all(int ms);

// ---- records ------------------------------------------------------------------------------------------
struct rws_fault {
    rws_fault_kind code;
    char *text;
};

struct rws_packet {
    uint8_t *data;  // outgoing: the whole wire frame; incoming: the unmasked payload
    uint32_t size;  // bytes in data
    int32_t opcode;
    uint8_t mask[4]; // masking key in wire order
    bool is_masked;
    bool is_final;
    uint8_t header_size;
};

struct rws_list {
    rws_packet *value; // null once its packet has been taken
    rws_list *next;
};

struct rws_client {
    int32_t port;
    socket_t socket;
    char *scheme;
    char *host;
    char *path;
    char *accept_value;
    rws_thread worker;
    std::atomic<int32_t> state; // read by the worker between passes, written under state_lock
    uint32_t message_counter;
    std::atomic<bool> connected;
    void *user_data;
    rws_on_client on_connected;
    rws_on_client on_disconnected;
    rws_on_data on_text;
    rws_on_data on_binary;
    uint8_t *rx_buffer;
    uint32_t rx_capacity;
    uint32_t rx_length;
    rws_list *tx_queue;
    rws_list *rx_messages;
    rws_fault *error;
    rws_mutex state_lock;
    rws_mutex queue_lock;
    // Lifetime: 1 for the application until rws_client_disconnect, plus 1 while a worker runs; the
    // side that drops the last one releases the client.
    std::atomic<int> holders;
    // Set by rws_client_disconnect before it waits for state_lock, so the connect step gives up at
    // once instead of finishing its attempts.
    std::atomic<bool> closing;
    // How far the bytes after the handshake reply have been sorted out (RWS_REPLY_*).
    int8_t reply_scan;
};

// The command channel's current client (device_channel). Written by the driver's thread; the
// channel's callbacks read it on the worker's thread to tell the current channel from an earlier one.
extern std::atomic<rws_client *> g_ws_client;

// Clients made and not yet released in this process (for tests of the lifetime rules).
int rws_live_clients();

// ---- client internals (rws_client) --------------------------------------------------------------
void rws_fault_clear(rws_client *c);
void rws_fault_set(rws_client *c, rws_fault_kind code, const char *text);
void rws_client_free(rws_client *c);
// Gives up one holder; the last one releases the client.
void rws_client_drop(rws_client *c);

// ---- lists (rws_memory) ---------------------------------------------------------------------------
void rws_list_append(rws_list **list, rws_packet *value);
void rws_list_free(rws_list *list);             // the nodes only
void rws_list_free_packets(rws_list **list);    // every packet, then every node; the list becomes null

// ---- frames (rws_frames) ------------------------------------------------------------------------
rws_packet *rws_packet_new();
void rws_packet_build(rws_packet *p, const void *payload, uint32_t length);
// A new final, masked frame of the opcode holding the payload, ready to send: the form of every
// frame the client sends.
rws_packet *rws_packet_masked(int opcode, const void *payload, uint32_t length);
uint64_t rws_packet_wire_size(const uint8_t *buffer, uint64_t length);
// The declared total size (header and payload) of the frame at the start of the buffer, once its
// header has arrived; false before.
bool rws_packet_declared_size(const uint8_t *buffer, uint64_t length, uint64_t *total);
// True when the frame at the start of the buffer declares more than RWS_MAX_FRAME_SIZE bytes.
bool rws_packet_over_limit(const uint8_t *buffer, uint64_t length);
rws_packet *rws_packet_parse(const uint8_t *buffer, uint64_t frame_size);
void rws_packet_append(rws_packet *p, const rws_packet *other);
void rws_packet_free(rws_packet *p);
uint32_t rws_next_message_id(rws_client *c);

// Client-level frame work.
rws_packet *rws_make_control(rws_client *c, int opcode); // ping or close: payload the next message number
void rws_queue_packet(rws_client *c, rws_packet *p);    // appends to tx_queue under queue_lock
void rws_dispatch(rws_client *c, rws_packet *frame);    // takes the frame
void rws_deliver(rws_client *c);

// ---- handshake (rws_handshake) --------------------------------------------------------------------
// Writes the opening request for the client's scheme, host, port and path into out (never past
// capacity) and returns its length, which is capacity or more when it did not fit.
size_t rws_handshake_compose(const rws_client *c, char *out, size_t capacity);

// The length of the reply's header: the bytes up to and including its first empty line (LF LF, or
// LF CR LF: lines end with LF, a CR before it is allowed), or 0 when no empty line is there yet.
size_t rws_reply_header_length(const uint8_t *bytes, size_t length);

enum rws_reply_verdict { RWS_REPLY_ACCEPTED, RWS_REPLY_NO_HTTP, RWS_REPLY_BAD_STATUS, RWS_REPLY_NO_ACCEPT };
// Judges a server reply by its header (all the bytes when they hold no empty line): status 101 and
// a non-empty "Sec-WebSocket-Accept", its name in any case, accept it. The accept value, when
// present and non-empty, is returned as a new text in *accept_value.
rws_reply_verdict rws_handshake_judge(const uint8_t *reply, size_t length, char **accept_value);
void rws_handshake_send_step(rws_client *c);
// Gathers the reply's reads until its header is complete (or the peer ends the connection, or the
// header passes RWS_MAX_REPLY_HEADER bytes), then judges it.
void rws_handshake_wait_step(rws_client *c);
// Takes the handshake reply's header out of the front of rx_buffer (or, should it end in a later
// read, the rest of it as it arrives). What follows it stays when it begins like a server frame;
// anything else is dropped.
void rws_handshake_skip_reply(rws_client *c);
// True when the byte may begin a server frame: reserved bits clear and a data opcode, or a control
// opcode with FIN set.
bool rws_starts_frame(uint8_t first);

// ---- worker (rws_worker) --------------------------------------------------------------------------
void rws_worker_main(void *client);

// ---- socket work (rws_socket) ---------------------------------------------------------------------
// Connect step: starts the socket service, resolves and connects (the handshake is next), or sets
// RWS_FAULT_CONNECT and drops the connection; gives up silently once the client is closing.
void rws_connect_step(rws_client *c);
// Sends all size bytes, completing partial sends; false (fault RWS_FAULT_SOCKET_IO, socket closed)
// on a hard failure or a stall past the send limits.
bool rws_send_bytes(rws_client *c, const void *data, size_t size);
// Reads what the socket holds into rx_buffer; false (fault RWS_FAULT_SOCKET_IO, socket closed) when
// the peer ended the connection or the read failed.
bool rws_read_socket(rws_client *c);
// Closes the socket, if open, and marks the client not connected.
void rws_close_socket(rws_client *c);
// The receive path without the socket, for the worker and for feeding bytes in tests: appends count
// bytes (no more than RWS_MAX_FRAME_SIZE - rx_length) to rx_buffer, growing it as needed; handles
// the first complete frame of rx_buffer, if any, and takes it out (true), or ends the connection
// when the frame there declares more than the limit (false, as when no frame is complete yet).
void rws_rx_append(rws_client *c, const void *bytes, uint32_t count);
bool rws_handle_frame(rws_client *c);
// Takes count bytes (at most rx_length) out of the front of rx_buffer.
void rws_rx_consume(rws_client *c, uint32_t count);

// ---- diagnostics (rws_memory) -----------------------------------------------------------------------
// Hands a line to the hook set with rws_set_log, if any.
void rws_log(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
