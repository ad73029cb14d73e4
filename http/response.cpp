// The response: the receive loop that feeds the parser, the parser callbacks, and the capture of
// the header pairs the client acts on (a redirect's Location, Content-Length).
#include "http_client_internal.h"
#include "text_util.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

http_client *client_of(http_parser *parser) { return static_cast<http_client *>(parser->data); }

// --- Parser callbacks --------------------------------------------------------------------------

// A new response begins (after a 1xx interim one, say): what an earlier response announced does not
// frame this one, and the bytes the memory body holds so far are not part of this response's body.
int on_message_begin(http_parser *parser)
{
    http_client *client = client_of(parser);
    client->content_length = 0;
    client->body_start = client->body_bytes;
    return 0;
}

int on_status(http_parser *parser, const char *, size_t)
{
    client_of(parser)->status = static_cast<int16_t>(parser->status_code);
    return 0;
}

int on_header_field(http_parser *parser, const char *bytes, size_t length)
{
    http_client *client = client_of(parser);
    if (client->header_stage == HTTP_STAGE_VALUE && http_client_header_done(client) != 0)
        return -1;
    // Trailers follow a chunked body; the headers of a response after a 1xx one are no trailers.
    if (parser->flags & F_TRAILING)
        client->flags |= HTTP_FLAG_TRAILERS;
    else
        client->flags &= static_cast<uint8_t>(~HTTP_FLAG_TRAILERS);
    client->header_stage = HTTP_STAGE_NAME;
    return http_client_append(&client->header_name, &client->name_length, &client->name_capacity, bytes, length);
}

int on_header_value(http_parser *parser, const char *bytes, size_t length)
{
    http_client *client = client_of(parser);
    if (client->header_stage != HTTP_STAGE_NAME && client->header_stage != HTTP_STAGE_VALUE)
        return 0;
    client->header_stage = HTTP_STAGE_VALUE;
    return http_client_append(&client->header_value, &client->value_length, &client->value_capacity, bytes,
                              length);
}

int on_headers_complete(http_parser *parser)
{
    http_client *client = client_of(parser);
    client->status = static_cast<int16_t>(parser->status_code);
    if (http_client_header_done(client) != 0)
        return -1;
    http_client_free_captures(client);
    client->header_stage = HTTP_STAGE_COMPLETE;
    return 0;
}

int on_body(http_parser *parser, const char *bytes, size_t length)
{
    http_client *client = client_of(parser);
    return client->sink->write(client, bytes, length);
}

int on_message_complete(http_parser *) { return 0; }

// --- Receive loop ------------------------------------------------------------------------------

// Once the headers of a final response are complete and the sink holds body bytes, the rest of a
// body that this response's own Content-Length announced can bypass the parser. A chunked body keeps
// its framing and a 1xx response is followed by another: both stay with the parser.
bool receives_body_directly(const http_client *client, const http_parser *parser)
{
    return client->sink->receive_rest && client->header_stage == HTTP_STAGE_COMPLETE && client->memory_body &&
           client->content_length != 0 && !(parser->flags & F_CHUNKED) && client->status >= 200;
}

http_result receive_loop(http_client *client, http_parser *parser, const http_parser_settings *settings)
{
    char buffer[HTTP_RECEIVE_CHUNK + 1];
    for (;;) {
        if (receives_body_directly(client, parser))
            return client->sink->receive_rest(client);
        std::memset(buffer, 0, sizeof buffer);
        int received = http_client_transfer(client, buffer, HTTP_RECEIVE_CHUNK, HTTP_RECEIVE);
        if (received == 0)
            return HTTP_OK;
        if (received < 0)
            return HTTP_ERR_RECEIVE;
        size_t parsed = http_parser_execute(parser, settings, buffer, static_cast<size_t>(received));
        if (client->flags & HTTP_FLAG_REDIRECT)
            return HTTP_OK;
        // A callback that refuses the last bytes of a buffer (a failed write, a progress abort)
        // stops the parser without shortening its count: its error state tells.
        if (parsed != static_cast<size_t>(received) || HTTP_PARSER_ERRNO(parser) != HPE_OK)
            return HTTP_ERR_RESPONSE;
    }
}

} // namespace

http_result http_receive_response(http_client *client)
{
    http_parser_settings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.on_message_begin = on_message_begin;
    settings.on_status = on_status;
    settings.on_header_field = on_header_field;
    settings.on_header_value = on_header_value;
    settings.on_headers_complete = on_headers_complete;
    settings.on_body = on_body;
    settings.on_message_complete = on_message_complete;
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    parser.data = client;
    return receive_loop(client, &parser, &settings);
}

// --- Header capture ----------------------------------------------------------------------------

void http_client_free_captures(http_client *client)
{
    http_free_text(&client->header_name);
    http_free_text(&client->header_value);
    client->name_length = client->value_length = 0;
    client->name_capacity = client->value_capacity = 0;
}

int http_client_append(char **buffer, uint16_t *length, uint16_t *capacity, const char *bytes, size_t count)
{
    if (!*buffer)
        *length = 0;
    size_t needed = static_cast<size_t>(*length) + count;
    if (needed > HTTP_HEADER_MAX)
        return -1; // the 16-bit capture cannot hold it: the response is refused
    if (!*buffer) {
        size_t size = count > 128 ? count : 128;
        *buffer = static_cast<char *>(std::calloc(size + 1, 1));
        if (!*buffer)
            return -1;
        *capacity = static_cast<uint16_t>(size);
    } else if (needed > *capacity) {
        char *grown = static_cast<char *>(std::realloc(*buffer, needed + 1));
        if (!grown)
            return -1;
        *buffer = grown;
        *capacity = static_cast<uint16_t>(needed);
    }
    std::memcpy(*buffer + *length, bytes, count);
    *length = static_cast<uint16_t>(needed);
    (*buffer)[needed] = '\0';
    return 0;
}

int32_t http_content_length_value(const char *text)
{
    while (*text == ' ' || *text == '\t')
        text++;
    if (*text == '+')
        text++;
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + (*text - '0');
        if (value > INT32_MAX)
            return 0; // too large to be believed: treated as absent
    }
    return static_cast<int32_t>(value);
}

bool http_is_redirect_status(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

int http_client_header_done(http_client *client)
{
    if (!client->name_length || !client->value_length || !client->header_name || !client->header_value)
        return 0;
    // Trailers come after the body has begun: they can neither redirect nor resize it.
    if (!(client->flags & HTTP_FLAG_TRAILERS)) {
        // Only a redirect's Location moves the request: a 201's names what it made, and its body
        // is the answer.
        if (text_equal_nocase(client->header_name, "Location") && http_is_redirect_status(client->status)) {
            char *copy = http_copy_text(client->header_value, client->value_length);
            if (!copy)
                return -1;
            std::free(client->location);
            client->location = copy;
            if (client->method == 0 || client->status == 307 || client->status == 308) {
                client->flags |= HTTP_FLAG_REDIRECT;
                return -1;
            }
        }
        if (text_equal_nocase(client->header_name, "Content-Length"))
            client->content_length = http_content_length_value(client->header_value);
    }
    client->name_length = client->value_length = 0;
    return 0;
}
