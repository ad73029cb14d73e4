// A small blocking HTTP/1.1 client for "http://" and "https://" URLs: one GET or POST at a time,
// "Connection: close", redirects (301, 302, 303, 307, 308) followed, the body of a 2xx response
// written to a file or kept in memory. Every wait (connect, each send or receive stall, the TLS handshake) is bounded by the
// client's time limit, and a post's whole request by its deadline. The rest of the tool calls
// http_client_startup, http_download_file and, to deliver run records, http_client_post.
#pragma once

#include <cstdint>

// Result codes of a request (http_client_last_error); 0 is success. A new code needs its text in
// http_result_text, or the build's -Wswitch names it.
enum http_result {
    HTTP_ERR_NO_CLIENT = -1,          // no client: none was given, or none could be made (out of memory)
    HTTP_OK = 0,
    HTTP_ERR_LOCAL_PATH = 2,          // the local path cannot be copied
    HTTP_ERR_RESPONSE = 4,            // malformed response, or the body could not be stored (no output
                                      // file, file write failed, progress abort, memory exhausted, a
                                      // memory body over HTTP_MEMORY_BODY_MAX), or a header name or
                                      // value over 65,535 bytes
    HTTP_ERR_URL = 5,                 // the URL cannot be split
    HTTP_ERR_SCHEME = 6,              // a scheme other than "http://" or "https://"
    HTTP_ERR_NO_HOST = 7,             // no host in the URL
    HTTP_ERR_RESOLVE = 9,             // host not resolved (within the time limit of a wait), not IPv4,
                                      // address text not valid, or the host text is over 255 characters
    HTTP_ERR_SOCKET = 10,             // socket creation failed
    HTTP_ERR_LINGER = 11,             // setting the linger option failed
    HTTP_ERR_NONBLOCKING = 12,        // switching the socket to non-blocking mode failed
    HTTP_ERR_CONNECT = 13,            // connect failed at once
    HTTP_ERR_CONNECT_WAIT = 14,       // not connected within the time limit, or the socket reported an error
    HTTP_ERR_SEND = 16,               // sending the request failed (socket or TLS error, time limit, abort)
    HTTP_ERR_RECEIVE = 17,            // receiving the response failed (reset, time limit, abort)
    HTTP_ERR_TOO_MANY_REDIRECTS = 18, // a response asked for an eleventh redirect
    HTTP_ERR_METHOD = 19,             // a method other than 0 (GET) or 1 (POST)
    HTTP_ERR_TLS = 24,                // the TLS handshake failed, the server's certificate or name included
};

// What a result code of http_download_file means, in words for a support engineer (a value outside
// the enumeration: "unknown result").
const char *http_result_text(http_result code);

// Redirects one request follows; a response asking for one more ends it with
// HTTP_ERR_TOO_MANY_REDIRECTS.
const int HTTP_MAX_REDIRECTS = 10;
// Time limit of each wait when the client is given 0 or a negative value.
const int32_t HTTP_DEFAULT_TIMEOUT_MS = 15000;
// Largest body a request keeps in memory (http_client_get): one byte more fails it with
// HTTP_ERR_RESPONSE, whatever Content-Length announced.
const int32_t HTTP_MEMORY_BODY_MAX = 16 * 1024 * 1024;

struct http_client;

// Called for each body chunk of a 2xx response before it is written to the file; a non-zero
// return aborts the request (HTTP_ERR_RESPONSE).
using http_progress_fn = int (*)(http_client *client, const char *chunk, int32_t chunk_length,
                                 int32_t content_length, void *user_data);

// Starts the TLS library, then the socket service (Winsock 2.2). 0, or -1 when the TLS library
// failed (nothing else started then).
int http_client_startup();
// Stops one start of the socket service. 0.
int http_client_cleanup();

// Fetches url with a GET into the file at local_path, in one blocking call with its own client.
// timeout_ms bounds each single wait; 0 or negative means 15,000 ms. The file is created or
// truncated only when the first body byte of a 2xx response arrives: any other response and every
// failure before the body leave an existing file untouched. Returns HTTP_OK when the response was
// read to the end (whatever its status), HTTP_ERR_NO_CLIENT when no client could be made, else the
// failure's code.
http_result http_download_file(const char *url, const char *local_path, int32_t timeout_ms);
// http_download_file that also gives the response's HTTP status in status (0 when none was read):
// a completed exchange may be a 404, whose body no file received.
http_result http_download_file_status(const char *url, const char *local_path, int32_t timeout_ms, int *status);

// A zero-filled client (time limit 0, server verification on), or nullptr without memory.
http_client *http_client_new();
// Closes and frees everything the client owns, then the client. Accepts nullptr.
void http_client_free(http_client *client);

// Time limit of each wait; a negative value is stored as 0 (the default). -1 without a client, else 0.
int http_client_set_timeout(http_client *client, int32_t timeout_ms);
// Progress callback of the file sink and its user data. -1 without a client, else 0.
int http_client_set_progress(http_client *client, http_progress_fn callback, void *user_data);
// verify 0 stops checking the certificate chain and host name of "https://" servers (the
// connection stays encrypted but the server is not authenticated); any other value checks them,
// which is the default. -1 without a client, else 0.
int http_client_set_tls_verify(http_client *client, int verify);
// Makes the running and every later transfer of this client fail (HTTP_ERR_SEND or HTTP_ERR_RECEIVE).
// -1 without a client, else 0.
int http_client_abort(http_client *client);

// Result code of the last request; HTTP_ERR_NO_CLIENT without a client.
http_result http_client_last_error(http_client *client);
// HTTP status of the last response (0 when none was read); -1 without a client.
int http_client_status(http_client *client);

// Runs a request with method 0 (GET) or 1 (POST) whose body is kept in memory, up to
// HTTP_MEMORY_BODY_MAX bytes. Returns the body, NUL-terminated and owned by the client (valid until
// its next request or release), or nullptr when there was none; the result code is
// http_client_last_error.
char *http_client_get(http_client *client, const char *url, uint32_t method);
// Runs a GET whose 2xx body goes to the file at local_path. Returns HTTP_OK on success, else the
// result code (HTTP_ERR_LOCAL_PATH when the path cannot be copied), or HTTP_ERR_NO_CLIENT without a
// client.
http_result http_client_download(http_client *client, const char *url, const char *local_path);
// Sends a POST of body (body_length bytes) to url as content_type ("application/octet-stream" when
// nullptr), with Content-Length (also for an empty body) and an optional block of extra header
// lines (each ending in "\r\n"); follows up to HTTP_MAX_REDIRECTS redirects of status 307 or 308,
// resending the same body (a 301, 302 or 303 is not followed: its status and
// http_client_location tell), with the client's time limit for each wait and, for "https://", its
// server verification. The extra lines go only to url's own host and port, and never after a
// redirect from https to http. deadline_ms (a time of steady_now_ms; 0: none) ends the whole
// request: each wait, a host name's lookup included, gets at most the time left, and a transfer past
// it fails (HTTP_ERR_RESOLVE, HTTP_ERR_CONNECT_WAIT, HTTP_ERR_SEND, HTTP_ERR_RECEIVE or HTTP_ERR_TLS).
// The response body is kept in memory (http_client_body). Returns HTTP_OK when a response was read to the end, whatever its
// status (http_client_status tells), else the failure's code; HTTP_ERR_NO_CLIENT without a client.
http_result http_client_post(http_client *client, const char *url, const char *content_type, const char *body,
                             int32_t body_length, const char *extra_headers, int32_t headers_length,
                             int64_t deadline_ms);
// Where the client's last response pointed when its status was a redirect (301, 302, 303, 307, 308)
// that the request did not follow: its Location as a whole URL, owned by the client until its next
// request or release; nullptr otherwise or without a client.
const char *http_client_location(http_client *client);
// The body of the client's last response kept in memory (http_client_get, http_client_post),
// NUL-terminated and owned by the client until its next request or release; nullptr when there was
// none or without a client.
const char *http_client_body(http_client *client);
// Sends the client's method to url, with an optional form body (sent as
// application/x-www-form-urlencoded when body_length is above 0) and an optional block of extra
// header lines (each ending in "\r\n"), reads the response into the current sink and follows up to
// HTTP_MAX_REDIRECTS redirects. A Location is a redirect only on 301, 302, 303, 307 and 308, read
// against the URL it answered when it is relative; a GET follows all five, a POST 307 and 308 only,
// resending the same body. The extra lines go only to url's own host and port, and never after a
// redirect from https to http. Returns the result code, HTTP_ERR_NO_CLIENT without a client.
http_result http_client_request(http_client *client, const char *url, const char *form_body,
                                int32_t body_length, const char *extra_headers, int32_t headers_length);
