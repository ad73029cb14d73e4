// The memory sink: the body of every response is kept in the memory body, which grows with the
// bytes that arrive (never from an announced length) up to HTTP_MEMORY_BODY_MAX. The rest of a body
// whose length was announced is received straight into it, without the parser.
#include "http_client_internal.h"

#include <cstdlib>
#include <cstring>

namespace {

// Makes room for needed bytes of memory body: the first allocation takes Content-Length up to
// HTTP_BODY_FIRST_MAX, each later one doubles the room, so no announced length sizes the buffer
// and no receive copies the whole body again. False past HTTP_MEMORY_BODY_MAX or without memory.
bool reserve_memory_body(http_client *client, int32_t needed)
{
    if (needed > HTTP_MEMORY_BODY_MAX)
        return false;
    if (client->memory_body && needed <= client->body_capacity)
        return true;
    int32_t capacity;
    char *body;
    if (!client->memory_body) {
        capacity = client->content_length < HTTP_BODY_FIRST_MAX ? client->content_length : HTTP_BODY_FIRST_MAX;
        capacity = needed > capacity ? needed : capacity;
        body = static_cast<char *>(std::calloc(static_cast<size_t>(capacity) + 1, 1));
    } else {
        capacity = client->body_capacity <= HTTP_MEMORY_BODY_MAX / 2 ? client->body_capacity * 2
                                                                       : HTTP_MEMORY_BODY_MAX;
        capacity = needed > capacity ? needed : capacity;
        body = static_cast<char *>(std::realloc(client->memory_body, static_cast<size_t>(capacity) + 1));
    }
    if (!body)
        return false;
    client->memory_body = body;
    client->body_capacity = capacity;
    return true;
}

// The buffer is grown before the bytes are copied in.
int write_to_memory(http_client *client, const char *bytes, size_t length)
{
    if (length > static_cast<size_t>(HTTP_MEMORY_BODY_MAX - client->body_bytes))
        return -1;
    int32_t needed = client->body_bytes + static_cast<int32_t>(length);
    if (!reserve_memory_body(client, needed))
        return -1;
    std::memcpy(client->memory_body + client->body_bytes, bytes, length);
    client->body_bytes = needed;
    return 0;
}

// A memory body at HTTP_MEMORY_BODY_MAX with more announced: HTTP_OK only if the peer closes now;
// one more byte is past what the client keeps (HTTP_ERR_RESPONSE).
http_result end_at_body_max(http_client *client)
{
    char extra;
    int received = http_client_transfer(client, &extra, 1, HTTP_RECEIVE);
    if (received < 0)
        return HTTP_ERR_RECEIVE;
    return received == 0 ? HTTP_OK : HTTP_ERR_RESPONSE;
}

// Receives the rest of the current response's announced body, growing the memory body as it
// fills, until the announced length is there or the peer closes.
http_result receive_rest_into_memory(http_client *client)
{
    for (;;) {
        int32_t left = client->content_length - (client->body_bytes - client->body_start);
        if (left <= 0)
            return HTTP_OK;
        if (client->body_bytes == HTTP_MEMORY_BODY_MAX)
            return end_at_body_max(client);
        if (!reserve_memory_body(client, client->body_bytes + 1))
            return HTTP_ERR_RESPONSE;
        int room = client->body_capacity - client->body_bytes;
        int wanted = left < room ? left : room;
        int received = http_client_transfer(client, client->memory_body + client->body_bytes, wanted, HTTP_RECEIVE);
        if (received < 0)
            return HTTP_ERR_RECEIVE;
        client->body_bytes += received;
        if (received < wanted)
            return HTTP_OK; // the peer closed: a body cut short is kept as it is
    }
}

// The body is handed out as text: a NUL after its last byte (the buffer always has room for it).
http_result finish_memory(http_client *client)
{
    if (client->memory_body && client->body_bytes > 0)
        client->memory_body[client->body_bytes] = '\0';
    return HTTP_OK;
}

} // namespace

const http_body_sink http_memory_sink = {write_to_memory, receive_rest_into_memory, finish_memory};
