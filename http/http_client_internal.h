// Inside the HTTP client: the client record, the transport, the response machinery and the body
// sinks. Used by the client's own sources, its tests and its fuzz targets (fuzz/memory_transport.cpp
// stands in for the transport); the rest of the tool uses http.h only.
#pragma once

#include "http.h"
#include "socket.h"

#include <http_parser.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

struct tls_context;
struct tls_connection;
struct http_body_sink;

// Values of the flags byte.
enum {
    HTTP_FLAG_ABORT = 2,     // abort requested; never cleared by the client
    HTTP_FLAG_FILE = 4,      // the body goes to the download file, else to memory
    HTTP_FLAG_REDIRECT = 8,  // a redirect to follow: the request goes on at the Location's URL
    HTTP_FLAG_TRAILERS = 16, // the headers after a chunked body are being read
};

// Header stages of one response.
enum {
    HTTP_STAGE_NONE = 0,     // no header yet
    HTTP_STAGE_NAME = 1,     // inside a header name
    HTTP_STAGE_VALUE = 2,    // inside a header value
    HTTP_STAGE_COMPLETE = 3, // headers complete
};

// Direction of http_client_transfer.
enum http_direction { HTTP_RECEIVE = 0, HTTP_SEND = 1 };

// Longest header name or value captured; the capture lengths are 16-bit.
const size_t HTTP_HEADER_MAX = 65535;
// Longest host text of a URL (it is copied into a 256-byte buffer).
const size_t HTTP_HOST_MAX = 255;
// Bytes received and parsed per pass of the receive loop.
const int HTTP_RECEIVE_CHUNK = 4096;
// Largest first allocation of the memory body: Content-Length sizes it up to this, never beyond,
// since a peer can announce any length; the body then grows by doubling as bytes arrive.
const int32_t HTTP_BODY_FIRST_MAX = 65536;

// The client's record. Outside the users of this header it is only a name (http.h), so no caller
// depends on the order of its fields.
struct http_client {
    FILE *file;                  // open output file of the file sink
    char *download_path;         // private copy of the file sink's local path
    char *memory_body;           // memory sink's body, NUL-terminated after the last byte
    char *location;              // the current response's Location when its status is a redirect
    char *header_name;           // capture of the current header name
    char *header_value;          // capture of the current header value
    void *progress_user;         // handed back to the progress callback
    http_progress_fn progress;   // called for each body chunk of the file sink
    int32_t body_bytes;          // bytes stored in the memory body
    int32_t content_length;      // Content-Length of the current response, 0 when none or beyond
                                 // 2,147,483,647
    uint32_t method;             // 0 GET, 1 POST
    uint32_t tls;                // 1 when the current URL is "https://"
    uint16_t name_capacity;      // bytes allocated for the header name, without its NUL
    uint16_t value_capacity;     // same for the header value
    uint16_t name_length;        // bytes captured in the header name
    uint16_t value_length;       // bytes captured in the header value
    tls_context *tls_ctx;        // TLS library context of the current connection
    tls_connection *tls_conn;    // TLS connection on the socket
    socket_t socket;             // the connection's socket, NO_SOCKET when closed
    int32_t timeout_ms;          // limit of each wait; 0 means HTTP_DEFAULT_TIMEOUT_MS
    int16_t status;              // HTTP status of the last response
    uint8_t header_stage;        // HTTP_STAGE_*
    int8_t last_result;          // http_result of the last request
    uint8_t flags;               // HTTP_FLAG_*
    uint8_t tls_no_verify;       // 1: "https://" servers are not authenticated
    int32_t body_capacity;       // bytes allocated for the memory body, without its NUL
    int32_t body_start;          // memory body bytes stored before the current response began
    const http_body_sink *sink;  // where the current request's body goes
    const char *content_type;    // Content-Type of a body sent by http_client_post; nullptr: a form
    int64_t deadline_ms;         // http_client_post's end (a time of steady_now_ms); 0: none
};

// --- URL and request ---------------------------------------------------------------------------

// Where a URL leads: transport, port and the host text, NUL-terminated.
struct http_target {
    uint32_t tls;
    uint16_t port;
    char host[HTTP_HOST_MAX + 1];
};

// Splits url over its whole length. HTTP_OK, or HTTP_ERR_URL when it cannot be split.
http_result http_split_url(const char *url, http_parser_url *parts);
// The target of a split URL. HTTP_OK, or HTTP_ERR_SCHEME, HTTP_ERR_NO_HOST, or HTTP_ERR_RESOLVE for
// a host over HTTP_HOST_MAX characters.
http_result http_url_target(const char *url, const http_parser_url *parts, http_target *target);
// The URL that reference (a Location value: absolute, or relative as "/next", "../up?x=1",
// "//host/path") names when read against base_url, the URL of the request it answered (RFC 3986's
// resolution); the fragment is dropped.
std::string http_resolve_reference(const std::string &base_url, const std::string &reference);

// Which hops of one request's redirect chain get the caller's extra header lines (a token, a
// database user): only those to the first URL's host and port, and none after a hop from https
// to http, so that neither another host nor a wire in clear ever sees them.
struct http_redirect_chain {
    http_target origin;    // the first URL's scheme, host and port
    bool has_origin;       // false when the first URL names none
    bool downgraded;       // a hop went from https to http
    bool extra_headers;    // the next exchange sends them
};
// The chain of a request to url: its first exchange sends the extra headers.
void http_redirect_chain_start(http_redirect_chain &chain, const std::string &url);
// The hop from from_url to to_url: whether the exchange with to_url sends them.
void http_redirect_chain_next(http_redirect_chain &chain, const std::string &from_url, const std::string &to_url);

// Sends the request for a split URL piece by piece with the client's method. HTTP_OK, or
// HTTP_ERR_SEND when a piece could not be sent.
http_result http_send_request(http_client *client, const char *url, const http_parser_url *parts,
                      const char *form_body, int32_t body_length, const char *extra_headers,
                      int32_t headers_length);

// --- Transport ---------------------------------------------------------------------------------

// Resolves, creates, configures and connects the client's socket, then runs the TLS handshake for
// "https://". HTTP_OK, or the first failure: the codes of http_url_target, then HTTP_ERR_RESOLVE,
// HTTP_ERR_SOCKET, HTTP_ERR_LINGER, HTTP_ERR_NONBLOCKING, HTTP_ERR_CONNECT, HTTP_ERR_CONNECT_WAIT
// or HTTP_ERR_TLS.
http_result http_client_connect(http_client *client, const char *url, const http_parser_url *parts);
// Waits until the client's socket meets one of flags (SOCKET_WAIT_*), for at most ms in all (or
// until the client's deadline, when that comes first), going on with the remaining time after a
// signal. 0 ready, -1 not (time-out, select failure or a pending socket error).
int http_client_wait(http_client *client, int flags, int ms);
// The limit of a wait of ms that begins at now_ms: ms, or what is left until the client's deadline
// when that is less (0 once it has passed).
int http_client_wait_limit(const http_client *client, int ms, int64_t now_ms);
// After a failed send, receive or handshake step: 0 to call again, -1 to give up.
int http_client_retry(http_client *client, int flags, int failed_result);
// Moves the whole buffer unless the peer closes first: bytes moved, or -1 on failure or abort.
int http_client_transfer(http_client *client, void *buffer, int length, http_direction direction);
// TLS context, connection and handshake on the connected socket, within the time limit. 0 or -1.
int http_client_tls_start(http_client *client, const char *host);
// Shuts down and frees the TLS connection, frees the TLS context, each if present.
void http_client_tls_release(http_client *client);
// Closes the client's socket if it is open.
void http_client_close_socket(http_client *client);

// --- Record ------------------------------------------------------------------------------------

// A NUL-terminated private copy of length bytes of text, or nullptr without memory.
char *http_copy_text(const char *text, size_t length);
// Frees an owned text and forgets it.
void http_free_text(char **text);

// --- Response ----------------------------------------------------------------------------------

// Receives the response to the request just sent and feeds it to the parser, whose callbacks
// capture the headers and hand the body to the client's sink, until the peer closes or a redirect
// is due (HTTP_OK), or until something fails: HTTP_ERR_RECEIVE, or HTTP_ERR_RESPONSE for a response
// refused by the parser or the sink.
http_result http_receive_response(http_client *client);
// Frees the header captures; their lengths and capacities go back to 0.
void http_client_free_captures(http_client *client);

// Appends count bytes to a capture buffer (allocated with at least 128 bytes, grown to the exact
// size), keeping it NUL-terminated. 0, or -1 without memory or past HTTP_HEADER_MAX bytes.
int http_client_append(char **buffer, uint16_t *length, uint16_t *capacity, const char *bytes, size_t count);
// True for the statuses whose Location names where the resource is now: 301, 302, 303, 307, 308.
bool http_is_redirect_status(int status);
// Acts on a complete header pair: the Location of a redirect status is kept, and starts a redirect
// when the request follows it (-1 stops the parser): a GET follows all five, a POST only 307 and
// 308, which keep the method and the body. Content-Length is noted. 0 to go on, -1 to stop.
int http_client_header_done(http_client *client);
// The leading decimal number of a Content-Length value, 0 when absent or beyond 2,147,483,647.
int32_t http_content_length_value(const char *text);

// --- Body sinks --------------------------------------------------------------------------------

// Where the body of a request goes: a table of functions, chosen once per request from
// HTTP_FLAG_FILE.
struct http_body_sink {
    // Stores a piece of body as the parser hands it over: 0, or -1 to stop the parser.
    int (*write)(http_client *client, const char *bytes, size_t length);
    // Receives the rest of the current response's body straight from the connection, without the
    // parser, once the headers of a final response have announced its length (not chunked) and the
    // sink holds body bytes; nullptr when every byte goes through the parser. HTTP_OK,
    // HTTP_ERR_RECEIVE, or HTTP_ERR_RESPONSE when the body cannot be stored.
    http_result (*receive_rest)(http_client *client);
    // Ends the request's body: HTTP_OK, or HTTP_ERR_RESPONSE when stored bytes were lost.
    http_result (*finish)(http_client *client);
};

// The body of a 2xx response to the download file, opened at its first byte.
extern const http_body_sink http_file_sink;
// Every response's body to the memory body, up to HTTP_MEMORY_BODY_MAX bytes.
extern const http_body_sink http_memory_sink;

// Closes the file of the file sink; false when buffered bytes could not be written.
bool http_client_close_file(http_client *client);
