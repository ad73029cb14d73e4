// The opening handshake: one fixed-form upgrade request, and a lenient judgement of the reply, once
// its header is complete, that looks only at the status code and the presence of an accept header.
#include "rws_private.h"
#include "text_util.h"

#include <cstdio>
#include <cstring>

size_t rws_handshake_compose(const rws_client *c, char *out, size_t capacity)
{
    const char *path = c->path ? c->path : "";
    const char *host = c->host ? c->host : "";
    const char *scheme = c->scheme ? c->scheme : "";
    // The Host line names the port unless it is 80; the Origin line never does.
    char port_suffix[16] = "";
    if (c->port != 80)
        std::snprintf(port_suffix, sizeof port_suffix, ":%i", static_cast<int>(c->port));
    int n = std::snprintf(out, capacity,
                          "GET %s HTTP/%s\r\nHost: %s%s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Origin: %s://%s\r\nSec-WebSocket-Key: %s\r\nSec-WebSocket-Protocol: chat, superchat\r\n"
                          "Sec-WebSocket-Version: 13\r\n\r\n",
                          path, "1.1", host, port_suffix, scheme, host, RWS_HANDSHAKE_KEY);
    return n < 0 ? capacity : static_cast<size_t>(n);
}

// True when the n bytes equal the text's first n, ASCII letters compared without case if fold.
static bool same_text(const uint8_t *bytes, const char *text, size_t n, bool fold)
{
    const char *chars = reinterpret_cast<const char *>(bytes);
    return fold ? ascii_equal_nocase(chars, text, n) : std::memcmp(chars, text, n) == 0;
}

// The first occurrence of the text needle in the bytes, or null; the bytes carry no terminator.
// Header names are case-insensitive, so those are searched with fold set.
static const uint8_t *find_text(const uint8_t *bytes, size_t length, const char *needle, bool fold)
{
    size_t n = std::strlen(needle);
    for (size_t i = 0; n <= length && i <= length - n; i++)
        if (same_text(bytes + i, needle, n, fold))
            return bytes + i;
    return nullptr;
}

// Scans for the empty line that ends the reply's header from the state *scan (RWS_REPLY_IN_LINE to
// RWS_REPLY_LINE_START_CR); lines end with LF, a CR before it is allowed. The offset just past that
// line, or -1 when the bytes end before it (*scan then holds where the next read goes on).
static long reply_header_end(const uint8_t *bytes, size_t length, int8_t *scan)
{
    for (size_t i = 0; i < length; i++) {
        uint8_t b = bytes[i];
        if (b == '\n') {
            if (*scan != RWS_REPLY_IN_LINE)
                return static_cast<long>(i + 1);
            *scan = RWS_REPLY_LINE_START;
        } else {
            *scan = (b == '\r' && *scan == RWS_REPLY_LINE_START) ? RWS_REPLY_LINE_START_CR : RWS_REPLY_IN_LINE;
        }
    }
    return -1;
}

size_t rws_reply_header_length(const uint8_t *bytes, size_t length)
{
    int8_t scan = RWS_REPLY_IN_LINE;
    long end = reply_header_end(bytes, length, &scan);
    return end < 0 ? 0 : static_cast<size_t>(end);
}

// The status code read with "%f %i" from the text after "HTTP/", or -1.
static int status_code_after(const uint8_t *from, const uint8_t *end)
{
    char text[256];
    size_t available = static_cast<size_t>(end - from);
    size_t n = available < sizeof text - 1 ? available : sizeof text - 1;
    std::memcpy(text, from, n);
    text[n] = '\0';
    float version = 0;
    int code = -1;
    return std::sscanf(text, "%f %i", &version, &code) == 2 ? code : -1;
}

rws_reply_verdict rws_handshake_judge(const uint8_t *reply, size_t length, char **accept_value)
{
    *accept_value = nullptr;
    // Only the header is read: what follows its empty line is frames.
    size_t header = rws_reply_header_length(reply, length);
    if (header > 0)
        length = header;
    const uint8_t *end = reply + length;
    const uint8_t *http = find_text(reply, length, "HTTP/", false);
    if (http == nullptr)
        return RWS_REPLY_NO_HTTP;
    int status = status_code_after(http + 5, end);
    const char name[] = "Sec-WebSocket-Accept";
    const uint8_t *accept = find_text(reply, length, name, true);
    if (accept) {
        const uint8_t *value = accept + sizeof name - 1;
        while (value < end && (*value == ':' || *value == ' '))
            value++;
        const uint8_t *stop = value;
        while (stop < end && *stop != '\r' && *stop != '\n')
            stop++;
        *accept_value = rws_copy_bytes_as_text(value, static_cast<size_t>(stop - value));
    }
    if (status == 101 && *accept_value)
        return RWS_REPLY_ACCEPTED;
    return status == 101 ? RWS_REPLY_NO_ACCEPT : RWS_REPLY_BAD_STATUS;
}

void rws_handshake_send_step(rws_client *c)
{
    char request[RWS_REQUEST_BUFFER];
    size_t length = rws_handshake_compose(c, request, sizeof request);
    // rws_client_connect refuses a configuration whose request does not fit, so the first test
    // only guards the buffer.
    if (length < sizeof request && rws_send_bytes(c, request, length)) {
        c->state = RWS_ST_HANDSHAKE_WAIT;
        return;
    }
    if (c->error)
        c->error->code = RWS_FAULT_HANDSHAKE_SEND;
    else
        rws_fault_set(c, RWS_FAULT_HANDSHAKE_SEND, RWS_TEXT_SEND_HANDSHAKE);
    rws_close_socket(c);
    c->state = RWS_ST_DROPPED;
}

bool rws_starts_frame(uint8_t first)
{
    int opcode = first & 0x0f;
    if ((first & 0x70) != 0)
        return false;
    if (opcode == RWS_OP_CONTINUATION || opcode == RWS_OP_TEXT || opcode == RWS_OP_BINARY)
        return true;
    // Control frames are never fragmented: without FIN, a stray line feed (0x0a) would pass as a pong.
    return (first & 0x80) != 0 && (opcode == RWS_OP_CLOSE || opcode == RWS_OP_PING || opcode == RWS_OP_PONG);
}

void rws_handshake_skip_reply(rws_client *c)
{
    if (c->reply_scan == RWS_REPLY_DONE || c->rx_length == 0)
        return;
    if (c->reply_scan != RWS_REPLY_ENDED) {
        long end = reply_header_end(c->rx_buffer, c->rx_length, &c->reply_scan);
        if (end < 0) {
            c->rx_length = 0;
            return;
        }
        c->reply_scan = RWS_REPLY_ENDED;
        rws_rx_consume(c, static_cast<uint32_t>(end));
        if (c->rx_length == 0)
            return;
    }
    // The first bytes after the header, in whichever read they come.
    c->reply_scan = RWS_REPLY_DONE;
    if (!rws_starts_frame(c->rx_buffer[0])) {
        rws_log("dropped %u bytes after the handshake reply: not a frame\n", c->rx_length);
        c->rx_length = 0;
    }
}

// Ends the connection after a reply that was not accepted, with fault 3 and the text (null: none).
static void drop_reply(rws_client *c, const char *text)
{
    if (text)
        rws_fault_set(c, RWS_FAULT_HANDSHAKE_REPLY, text);
    c->rx_length = 0;
    rws_close_socket(c);
    c->state = RWS_ST_DROPPED;
}

void rws_handshake_wait_step(rws_client *c)
{
    // A peer may answer and end the connection in one go: what arrived is judged all the same.
    bool ended = !rws_read_socket(c);
    if (c->rx_length == 0) {
        if (ended)
            c->state = RWS_ST_DROPPED;
        return;
    }
    // A server may write its reply in pieces: reads are gathered until the header is complete. The
    // wait has no limit of its own; the driver's wait for the connection bounds it.
    size_t seen = c->rx_length < RWS_MAX_REPLY_HEADER ? c->rx_length : RWS_MAX_REPLY_HEADER;
    bool complete = rws_reply_header_length(c->rx_buffer, seen) > 0;
    if (!complete && !ended && seen < RWS_MAX_REPLY_HEADER)
        return;
    rws_fault_clear(c);
    if (!complete && seen == RWS_MAX_REPLY_HEADER) {
        rws_log("WebSocket handshake reply header longer than %u bytes: refused\n",
                static_cast<unsigned>(RWS_MAX_REPLY_HEADER));
        drop_reply(c, RWS_TEXT_NO_ACCEPT);
        return;
    }
    char *accept = nullptr;
    rws_reply_verdict verdict = rws_handshake_judge(c->rx_buffer, c->rx_length, &accept);
    rws_release_text(&c->accept_value);
    c->accept_value = accept;
    if (verdict == RWS_REPLY_ACCEPTED) {
        rws_log("WebSocket handshake accepted by %s:%i\n", c->host, static_cast<int>(c->port));
        // Frames the server sent right behind its reply stay for the frame passes.
        c->reply_scan = RWS_REPLY_IN_LINE;
        rws_handshake_skip_reply(c);
        if (ended)
            rws_fault_set(c, RWS_FAULT_SOCKET_IO, RWS_TEXT_SOCKET_IO);
        c->connected = !ended;
        c->state = RWS_ST_OPENED;
        return;
    }
    if (verdict == RWS_REPLY_BAD_STATUS)
        drop_reply(c, RWS_TEXT_BAD_STATUS);
    else
        drop_reply(c, verdict == RWS_REPLY_NO_ACCEPT ? RWS_TEXT_NO_ACCEPT : nullptr);
}
