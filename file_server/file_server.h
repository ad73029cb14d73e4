// Shttpd, the HTTP/1.0 file server the tool carries: serves the files of one root directory on one
// port until it is killed. The request core (head reading, request rules, replies) does no I/O, so
// that tests can feed it bytes; the server runs it on accepted connections.
#pragma once

#include "socket.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Error codes of the file server.
enum file_server_error {
    FILE_SERVER_OK = 0,
    FILE_SERVER_ERR_SOCKETS = 1, // the socket service did not start
    FILE_SERVER_ERR_LISTEN = 2,  // the listening socket could not be made, bound or opened
    FILE_SERVER_ERR_THREADS = 3, // the worker threads could not be started
};

const int FILE_SERVER_WORKERS = 18;        // connections served at once
const int FILE_SERVER_BACKLOG = 5;         // listen backlog
const size_t REQUEST_LINE_SIZE = 1024;     // the request line kept; longer ones are cut to fit
const size_t REQUEST_HEAD_LIMIT = 32768;   // request line and header lines together
const size_t FILE_NAME_SIZE = 1024;        // root directory, request path and "index.html"
const int IDLE_LIMIT_MS = 30000;           // longest wait for progress of one receive or send
const int IDLE_LIMIT_MAX_MS = 3600000;
const unsigned ZERO_COPY_PIECE = 256 * 1024; // bytes per zero-copy call, each bounded by the limit
const size_t COPY_CHUNK_SIZE = 256 * 1024;   // bytes per read and send when copying

// --- Request head -------------------------------------------------------------------------------

enum head_state {
    HEAD_REQUEST_LINE, // reading the request line
    HEAD_HEADERS,      // request line complete, reading header lines
    HEAD_COMPLETE,     // the empty line that ends the head has been read
    HEAD_TOO_LARGE,    // more than REQUEST_HEAD_LIMIT bytes without the end of the head
};

// The head of one request as it arrives. Line ends are "\n" with an optional "\r" before it.
struct request_head {
    head_state state;
    char line[REQUEST_LINE_SIZE]; // the request line without its line end, NUL-terminated
    size_t line_len;
    size_t header_len; // bytes of the current header line, "\r" not counted
    size_t head_bytes; // bytes of the head consumed so far
};

void request_head_init(request_head *head);

// Consumes bytes of data into the head and returns how many it took. It stops after the request
// line (state HEAD_HEADERS), after the end of the head (HEAD_COMPLETE), or when the head grows past
// its limit (HEAD_TOO_LARGE); bytes of the request line past REQUEST_LINE_SIZE - 1 are dropped.
size_t request_head_feed(request_head *head, const char *data, size_t len);

// --- Request rules ------------------------------------------------------------------------------

enum request_verdict {
    REQUEST_SERVE,           // the file name is set; serve it if it is a regular file
    REQUEST_NOT_FOUND,       // the 404 reply (path outside the root, or no usable file name)
    REQUEST_NOT_IMPLEMENTED, // the 501 reply (fewer than three words, or not GET or POST)
};

// Applies the request line rules: three words at least, the method GET or POST in any case, the
// query cut from a GET path, "index.html" for a path ending in "/", and paths that would leave the
// root refused. On REQUEST_SERVE, file_name (of size bytes) holds root followed by the path.
request_verdict resolve_request(const char *line, const char *root, char *file_name, size_t size);

// True when a request path stays inside the root: it begins with "/", holds no backslash, colon or
// control character, and no segment made only of dots and spaces with two dots or more (".." and
// the names Windows reads as ".."), percent-encoded dots counting as dots.
bool request_path_is_safe(const char *path, size_t len);

// The content type for a file name, from the text after its last "." compared in lower case.
const char *content_type_of(const char *file_name);

// --- Replies ------------------------------------------------------------------------------------

extern const char REPLY_NOT_FOUND[];       // the whole 404 reply
extern const char REPLY_NOT_IMPLEMENTED[]; // the whole 501 reply

// Writes the 200 reply's head for file_name into out (of size bytes). Returns its length, or 0
// when it does not fit.
size_t compose_ok_head(const char *file_name, char *out, size_t size);

// --- Download reports ---------------------------------------------------------------------------

const int REPORT_INTERVAL_MS = 250; // the shortest time between two reports of one download

// The reports of one download (lines of download_report.h on standard output): the file's name
// under the root (null: the download is not reported), its size, the bytes sent so far and when
// the latest report was made (a steady_now_ms time).
struct download_reports {
    const char *name;
    uint64_t size;
    uint64_t sent;
    int64_t last;
};

// Starts the thread that writes the reports; until it runs every report is dropped. False when it
// cannot start.
bool start_report_writer();

// Starts a download's reports with one of no bytes sent; a null name reports nothing.
void reports_begin(download_reports *reports, const char *name, uint64_t size);

// Counts bytes sent and reports them when REPORT_INTERVAL_MS have passed since the latest report.
// A null reports counts nothing.
void reports_add(download_reports *reports, uint64_t bytes);

// The download's last report, however soon after the one before.
void reports_end(download_reports *reports);

// --- Connections --------------------------------------------------------------------------------

// Sends the bytes of the file f, just opened for reading, over s from its start to its end: in
// zero-copy pieces when zero_copy is set and the system can, else (also when the system refuses the
// first piece) by reading and sending chunks of COPY_CHUNK_SIZE. False when the connection failed
// or a send made no progress within limit_ms (which socket_set_io_limit must have set on s too).
// Each piece or chunk sent is counted in reports (null: not reported).
bool send_file_body(socket_t s, FILE *f, int limit_ms, bool zero_copy, download_reports *reports);

// --- The server ---------------------------------------------------------------------------------

struct file_server_config {
    int port;              // TCP port, any local IPv4 address
    const char *root;      // directory whose files are served
    int idle_limit_ms;     // IDLE_LIMIT_MS unless a test shortens it
    bool report_downloads; // print the reports of every file download on standard output
};

// Starts the socket service, listens, starts the workers (and the report writer when reports are
// asked for; without it the server serves unreported) and accepts connections for ever. Returns
// only when it could not start: FILE_SERVER_ERR_SOCKETS, FILE_SERVER_ERR_LISTEN or
// FILE_SERVER_ERR_THREADS, with a line on standard error.
int file_server_run(const file_server_config &config);

// The program's entry: "<program> <PORT> <ROOT_DIR>". With any other argument count it prints the
// usage line and returns -1; an unusable port gives the usage line and -1 too. The environment
// variable SHTTPD_IDLE_LIMIT_MS (1 to IDLE_LIMIT_MAX_MS) replaces the idle limit, for tests;
// DOWNLOAD_REPORT_VARIABLE set to "1" asks for the download reports (the command line stays two
// arguments). Otherwise returns only when the server could not start: 1.
int shttpd_main(int argc, char **argv);
