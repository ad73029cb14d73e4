// The opening handshake: one fixed-form upgrade request, and a lenient judgement of the reply that
// looks only at the status code and the presence of an accept header.
#include "rws_private.h"

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
        std::snprintf(port_suffix, sizeof port_suffix, ":%i", (int)c->port);
    int n = std::snprintf(out, capacity,
                          "GET %s HTTP/%s\r\nHost: %s%s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Origin: %s://%s\r\nSec-WebSocket-Key: %s\r\nSec-WebSocket-Protocol: chat, superchat\r\n"
                          "Sec-WebSocket-Version: 13\r\n\r\n",
                          path, "1.1", host, port_suffix, scheme, host, RWS_HANDSHAKE_KEY);
    return n < 0 ? capacity : (size_t)n;
}

// The first occurrence of the text needle in the bytes, or null; the bytes carry no terminator.
static const uint8_t *find_text(const uint8_t *bytes, size_t length, const char *needle)
{
    size_t n = std::strlen(needle);
    for (size_t i = 0; n <= length && i <= length - n; i++)
        if (std::memcmp(bytes + i, needle, n) == 0)
            return bytes + i;
    return nullptr;
}

// The status code read with "%f %i" from the text after "HTTP/", or -1.
static int status_code_after(const uint8_t *from, const uint8_t *end)
{
    char text[256];
    size_t n = (size_t)(end - from) < sizeof text - 1 ? (size_t)(end - from) : sizeof text - 1;
    std::memcpy(text, from, n);
    text[n] = '\0';
    float version = 0;
    int code = -1;
    return std::sscanf(text, "%f %i", &version, &code) == 2 ? code : -1;
}

rws_reply_verdict rws_handshake_judge(const uint8_t *reply, size_t length, char **accept_value)
{
    *accept_value = nullptr;
    const uint8_t *end = reply + length;
    const uint8_t *http = find_text(reply, length, "HTTP/");
    if (http == nullptr)
        return RWS_REPLY_NO_HTTP;
    int status = status_code_after(http + 5, end);
    const char name[] = "Sec-WebSocket-Accept";
    const uint8_t *accept = find_text(reply, length, name);
    if (accept) {
        const uint8_t *value = accept + sizeof name - 1;
        while (value < end && (*value == ':' || *value == ' '))
            value++;
        const uint8_t *stop = value;
        while (stop < end && *stop != '\r' && *stop != '\n')
            stop++;
        *accept_value = rws_copy_bytes_as_text(value, (size_t)(stop - value));
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

void rws_handshake_wait_step(rws_client *c)
{
    if (!rws_read_socket(c)) {
        c->state = RWS_ST_DROPPED;
        return;
    }
    if (c->rx_length == 0)
        return;
    // Only the first read that brings data is judged.
    rws_fault_clear(c);
    char *accept = nullptr;
    rws_reply_verdict verdict = rws_handshake_judge(c->rx_buffer, c->rx_length, &accept);
    rws_release_text(&c->accept_value);
    c->accept_value = accept;
    if (verdict == RWS_REPLY_ACCEPTED) {
        c->rx_length = 0;
        c->connected = true;
        c->state = RWS_ST_OPENED;
        return;
    }
    if (verdict == RWS_REPLY_BAD_STATUS)
        rws_fault_set(c, RWS_FAULT_HANDSHAKE_REPLY, RWS_TEXT_BAD_STATUS);
    else if (verdict == RWS_REPLY_NO_ACCEPT)
        rws_fault_set(c, RWS_FAULT_HANDSHAKE_REPLY, RWS_TEXT_NO_ACCEPT);
    rws_close_socket(c);
    c->state = RWS_ST_DROPPED;
}
