// The client record, the request routine with its redirects, the receive loop that feeds the
// parser, the header capture and the two body sinks.
#include "http_client_internal.h"
#include "text_util.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const size_t FILE_BUFFER_BYTES = 65536;

http_client *client_of(http_parser *parser) { return static_cast<http_client *>(parser->data); }

// Stores code as the client's last result and returns it.
http_result set_result(http_client *client, http_result code)
{
    client->last_result = (int8_t)code;
    return code;
}

void free_text(char **text)
{
    std::free(*text);
    *text = nullptr;
}

char *copy_text(const char *text, size_t length)
{
    char *copy = static_cast<char *>(std::malloc(length + 1));
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = '\0';
    }
    return copy;
}

bool equal_ignoring_case(const char *a, const char *b)
{
    size_t n = std::strlen(a);
    return std::strlen(b) == n && ascii_equal_nocase(a, b, n);
}

// Closes the file of the file sink; false when buffered bytes could not be written.
bool close_file(http_client *client)
{
    if (!client->file)
        return true;
    bool ok = std::fclose(client->file) == 0;
    client->file = nullptr;
    return ok;
}

// Frees the header captures; their lengths and capacities go back to 0.
void free_captures(http_client *client)
{
    free_text(&client->header_name);
    free_text(&client->header_value);
    client->name_length = client->value_length = 0;
    client->name_capacity = client->value_capacity = 0;
}

// Releases what an exchange holds: the memory body, the header captures, the file, TLS and the
// socket (TLS first: its closing alert needs the socket still open).
void release_exchange(http_client *client)
{
    free_text(&client->memory_body);
    free_captures(client);
    close_file(client);
    http_client_tls_release(client);
    http_client_close_socket(client);
}

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
    client_of(parser)->status = (int16_t)parser->status_code;
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
        client->flags &= (uint8_t)~HTTP_FLAG_TRAILERS;
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
    client->status = (int16_t)parser->status_code;
    if (http_client_header_done(client) != 0)
        return -1;
    free_captures(client);
    client->header_stage = HTTP_STAGE_COMPLETE;
    return 0;
}

// File sink: the body of a 2xx response goes to the download file, opened at its first byte.
int on_body_to_file(http_parser *parser, const char *bytes, size_t length)
{
    http_client *client = client_of(parser);
    if (client->status < 200 || client->status > 299)
        return 0;
    if (!client->file && client->download_path) {
        client->file = std::fopen(client->download_path, "wb");
        // The body arrives in 4,096-byte pieces: a larger buffer saves most of the write calls.
        if (client->file)
            std::setvbuf(client->file, nullptr, _IOFBF, FILE_BUFFER_BYTES);
    }
    if (!client->file)
        return -1;
    if (client->progress &&
        client->progress(client, bytes, (int32_t)length, client->content_length, client->progress_user) != 0)
        return -1;
    // A short write (a full disk) loses the body: the request must not report success.
    return std::fwrite(bytes, 1, length, client->file) == length ? 0 : -1;
}

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
        body = static_cast<char *>(std::calloc((size_t)capacity + 1, 1));
    } else {
        capacity = client->body_capacity <= HTTP_MEMORY_BODY_MAX / 2 ? client->body_capacity * 2
                                                                       : HTTP_MEMORY_BODY_MAX;
        capacity = needed > capacity ? needed : capacity;
        body = static_cast<char *>(std::realloc(client->memory_body, (size_t)capacity + 1));
    }
    if (!body)
        return false;
    client->memory_body = body;
    client->body_capacity = capacity;
    return true;
}

// Memory sink: the body is kept in memory, the buffer grown before the bytes are copied in.
int on_body_to_memory(http_parser *parser, const char *bytes, size_t length)
{
    http_client *client = client_of(parser);
    if (length > (size_t)(HTTP_MEMORY_BODY_MAX - client->body_bytes))
        return -1;
    int32_t needed = client->body_bytes + (int32_t)length;
    if (!reserve_memory_body(client, needed))
        return -1;
    std::memcpy(client->memory_body + client->body_bytes, bytes, length);
    client->body_bytes = needed;
    return 0;
}

int on_message_complete(http_parser *) { return 0; }

// --- Request -----------------------------------------------------------------------------------

// Once the headers of a final response are complete and the memory body exists, the rest of a body
// that this response's own Content-Length announced is received straight into it, without the
// parser. A chunked body keeps its framing and a 1xx response is followed by another: both stay
// with the parser.
bool receives_body_directly(const http_client *client, const http_parser *parser)
{
    return !(client->flags & HTTP_FLAG_FILE) && client->header_stage == HTTP_STAGE_COMPLETE &&
           client->memory_body && client->content_length != 0 && !(parser->flags & F_CHUNKED) &&
           client->status >= 200;
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

// Receives the rest of an announced body into the memory body, growing it as it fills, until the
// announced length is there or the peer closes: HTTP_OK, HTTP_ERR_RECEIVE, or HTTP_ERR_RESPONSE
// when the body cannot be stored.
http_result receive_rest_of_body(http_client *client)
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

// Receives the response until the peer closes or a redirect is due (HTTP_OK), or until something
// fails: HTTP_ERR_RECEIVE, or HTTP_ERR_RESPONSE for a response refused by the parser or a sink.
http_result receive_response(http_client *client, http_parser *parser, const http_parser_settings *settings)
{
    char buffer[HTTP_RECEIVE_CHUNK + 1];
    for (;;) {
        if (receives_body_directly(client, parser))
            return receive_rest_of_body(client);
        std::memset(buffer, 0, sizeof buffer);
        int received = http_client_transfer(client, buffer, HTTP_RECEIVE_CHUNK, HTTP_RECEIVE);
        if (received == 0)
            return HTTP_OK;
        if (received < 0)
            return HTTP_ERR_RECEIVE;
        size_t parsed = http_parser_execute(parser, settings, buffer, (size_t)received);
        if (client->flags & HTTP_FLAG_REDIRECT)
            return HTTP_OK;
        // A callback that refuses the last bytes of a buffer (a failed write, a progress abort)
        // stops the parser without shortening its count: its error state tells.
        if (parsed != (size_t)received || HTTP_PARSER_ERRNO(parser) != HPE_OK)
            return HTTP_ERR_RESPONSE;
    }
}

// Frees what the previous exchange left and resets the per-response state. The location and the
// download path remain.
void reset_for_exchange(http_client *client)
{
    release_exchange(client);
    client->flags &= (uint8_t) ~(HTTP_FLAG_REDIRECT | HTTP_FLAG_TRAILERS);
    client->body_bytes = client->body_capacity = client->body_start = 0;
    client->content_length = 0;
    client->header_stage = HTTP_STAGE_NONE;
    client->status = 0;
    client->last_result = HTTP_OK;
    if (client->timeout_ms == 0)
        client->timeout_ms = HTTP_DEFAULT_TIMEOUT_MS;
}

// One connection: connect, send the request, receive the response. HTTP_OK, or the first failure.
http_result run_exchange(http_client *client, const char *url, const char *form_body, int32_t body_length,
                         const char *extra_headers, int32_t headers_length)
{
    reset_for_exchange(client);
    if (client->method > 1)
        return HTTP_ERR_METHOD;
    http_parser_url parts;
    http_result code = http_split_url(url, &parts);
    if (code == HTTP_OK)
        code = http_client_connect(client, url, &parts);
    if (code == HTTP_OK)
        code = http_send_request(client, url, &parts, form_body, body_length, extra_headers, headers_length);
    if (code != HTTP_OK)
        return code;

    http_parser_settings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.on_message_begin = on_message_begin;
    settings.on_status = on_status;
    settings.on_header_field = on_header_field;
    settings.on_header_value = on_header_value;
    settings.on_headers_complete = on_headers_complete;
    settings.on_body = (client->flags & HTTP_FLAG_FILE) ? on_body_to_file : on_body_to_memory;
    settings.on_message_complete = on_message_complete;
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    parser.data = client;
    return receive_response(client, &parser, &settings);
}

} // namespace

// --- Header capture ----------------------------------------------------------------------------

int http_client_append(char **buffer, uint16_t *length, uint16_t *capacity, const char *bytes, size_t count)
{
    if (!*buffer)
        *length = 0;
    size_t needed = (size_t)*length + count;
    if (needed > HTTP_HEADER_MAX)
        return -1; // the 16-bit capture cannot hold it: the response is refused
    if (!*buffer) {
        size_t size = count > 128 ? count : 128;
        *buffer = static_cast<char *>(std::calloc(size + 1, 1));
        if (!*buffer)
            return -1;
        *capacity = (uint16_t)size;
    } else if (needed > *capacity) {
        char *grown = static_cast<char *>(std::realloc(*buffer, needed + 1));
        if (!grown)
            return -1;
        *buffer = grown;
        *capacity = (uint16_t)needed;
    }
    std::memcpy(*buffer + *length, bytes, count);
    *length = (uint16_t)needed;
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
    return (int32_t)value;
}

int http_client_header_done(http_client *client)
{
    if (!client->name_length || !client->value_length || !client->header_name || !client->header_value)
        return 0;
    // Trailers come after the body has begun: they can neither redirect nor resize it.
    if (!(client->flags & HTTP_FLAG_TRAILERS)) {
        if (equal_ignoring_case(client->header_name, "Location")) {
            char *copy = copy_text(client->header_value, client->value_length);
            if (!copy)
                return -1;
            std::free(client->location);
            client->location = copy;
            client->flags |= HTTP_FLAG_REDIRECT;
            return -1;
        }
        if (equal_ignoring_case(client->header_name, "Content-Length"))
            client->content_length = http_content_length_value(client->header_value);
    }
    client->name_length = client->value_length = 0;
    return 0;
}

// --- Record and operations ---------------------------------------------------------------------

http_client *http_client_new()
{
    auto *client = static_cast<http_client *>(std::calloc(1, sizeof(http_client)));
    if (client)
        client->socket = NO_SOCKET;
    return client;
}

void http_client_free(http_client *client)
{
    if (!client)
        return;
    release_exchange(client);
    free_text(&client->location);
    free_text(&client->download_path);
    std::free(client);
}

int http_client_set_timeout(http_client *client, int32_t timeout_ms)
{
    if (!client)
        return -1;
    client->timeout_ms = timeout_ms < 0 ? 0 : timeout_ms;
    return 0;
}

int http_client_set_progress(http_client *client, http_progress_fn callback, void *user_data)
{
    if (!client)
        return -1;
    client->progress = callback;
    client->progress_user = user_data;
    return 0;
}

int http_client_set_tls_verify(http_client *client, int verify)
{
    if (!client)
        return -1;
    client->tls_no_verify = verify ? 0 : 1;
    return 0;
}

int http_client_abort(http_client *client)
{
    if (!client)
        return -1;
    client->flags |= HTTP_FLAG_ABORT;
    return 0;
}

int http_client_last_error(http_client *client) { return client ? client->last_result : -1; }

int http_client_status(http_client *client) { return client ? client->status : -1; }

char *http_client_get(http_client *client, const char *url, uint32_t method)
{
    if (!client)
        return nullptr;
    client->flags &= (uint8_t)~HTTP_FLAG_FILE;
    client->method = method;
    http_client_request(client, url, nullptr, 0, nullptr, 0); // stores its code as the last result
    return client->memory_body;
}

int http_client_download(http_client *client, const char *url, const char *local_path)
{
    if (!client)
        return -1;
    client->method = 0;
    client->flags |= HTTP_FLAG_FILE;
    free_text(&client->download_path);
    if (local_path) {
        client->download_path = copy_text(local_path, std::strlen(local_path));
        if (!client->download_path)
            return set_result(client, HTTP_ERR_LOCAL_PATH);
    }
    return http_client_request(client, url, nullptr, 0, nullptr, 0);
}

int http_client_request(http_client *client, const char *url, const char *form_body, int32_t body_length,
                        const char *extra_headers, int32_t headers_length)
{
    if (!client)
        return -1;
    // Redirects run as a loop over one record, never as nested requests; the URL is copied because
    // each Location replaces the stored one.
    std::string current = url ? url : "";
    http_result code = HTTP_OK;
    for (int redirects = 0;; redirects++) {
        code = run_exchange(client, url ? current.c_str() : nullptr, form_body, body_length, extra_headers,
                            headers_length);
        if (code != HTTP_OK || !(client->flags & HTTP_FLAG_REDIRECT))
            break;
        if (redirects == HTTP_MAX_REDIRECTS) {
            code = HTTP_ERR_TOO_MANY_REDIRECTS;
            break;
        }
        current = client->location;
    }
    if (!close_file(client) && code == HTTP_OK)
        code = HTTP_ERR_RESPONSE;
    if (client->memory_body && client->body_bytes > 0)
        client->memory_body[client->body_bytes] = '\0';
    return set_result(client, code);
}
