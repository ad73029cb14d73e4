// The client record and its operations: create and free, the setters, and the request routine that
// runs one exchange per URL, following redirects, with the body sink chosen for the request.
#include "http_client_internal.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Stores code as the client's last result and returns it.
http_result set_result(http_client *client, http_result code)
{
    client->last_result = static_cast<int8_t>(code);
    return code;
}

// Releases what an exchange holds: the memory body, the header captures, the file, TLS and the
// socket (TLS first: its closing alert needs the socket still open).
void release_exchange(http_client *client)
{
    http_free_text(&client->memory_body);
    http_client_free_captures(client);
    http_client_close_file(client);
    http_client_tls_release(client);
    http_client_close_socket(client);
}

// Frees what the previous exchange left and resets the per-response state. The download path
// remains.
void reset_for_exchange(http_client *client)
{
    release_exchange(client);
    http_free_text(&client->location);
    client->flags &= static_cast<uint8_t>(~(HTTP_FLAG_REDIRECT | HTTP_FLAG_TRAILERS));
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
    return code == HTTP_OK ? http_receive_response(client) : code;
}

} // namespace

char *http_copy_text(const char *text, size_t length)
{
    char *copy = static_cast<char *>(std::malloc(length + 1));
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = '\0';
    }
    return copy;
}

void http_free_text(char **text)
{
    std::free(*text);
    *text = nullptr;
}

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
    http_free_text(&client->location);
    http_free_text(&client->download_path);
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

// The stored byte holds an http_result (set_result wrote it): the one place it turns back into one.
http_result http_client_last_error(http_client *client)
{
    return client ? static_cast<http_result>(client->last_result) : HTTP_ERR_NO_CLIENT;
}

int http_client_status(http_client *client) { return client ? client->status : -1; }

char *http_client_get(http_client *client, const char *url, uint32_t method)
{
    if (!client)
        return nullptr;
    client->flags &= static_cast<uint8_t>(~HTTP_FLAG_FILE);
    client->method = method;
    http_client_request(client, url, nullptr, 0, nullptr, 0); // stores its code as the last result
    return client->memory_body;
}

http_result http_client_download(http_client *client, const char *url, const char *local_path)
{
    if (!client)
        return HTTP_ERR_NO_CLIENT;
    client->method = 0;
    client->flags |= HTTP_FLAG_FILE;
    http_free_text(&client->download_path);
    if (local_path) {
        client->download_path = http_copy_text(local_path, std::strlen(local_path));
        if (!client->download_path)
            return set_result(client, HTTP_ERR_LOCAL_PATH);
    }
    return http_client_request(client, url, nullptr, 0, nullptr, 0);
}

http_result http_client_post(http_client *client, const char *url, const char *content_type, const char *body,
                             int32_t body_length, const char *extra_headers, int32_t headers_length,
                             int64_t deadline_ms)
{
    if (!client)
        return HTTP_ERR_NO_CLIENT;
    client->flags &= static_cast<uint8_t>(~HTTP_FLAG_FILE);
    client->method = 1;
    client->content_type = content_type ? content_type : "application/octet-stream";
    client->deadline_ms = deadline_ms;
    http_result code = http_client_request(client, url, body, body_length, extra_headers, headers_length);
    client->content_type = nullptr;
    client->deadline_ms = 0;
    return code;
}

const char *http_client_body(http_client *client) { return client ? client->memory_body : nullptr; }

const char *http_client_location(http_client *client) { return client ? client->location : nullptr; }

http_result http_client_request(http_client *client, const char *url, const char *form_body,
                                int32_t body_length, const char *extra_headers, int32_t headers_length)
{
    if (!client)
        return HTTP_ERR_NO_CLIENT;
    client->sink = (client->flags & HTTP_FLAG_FILE) ? &http_file_sink : &http_memory_sink;
    // Redirects run as a loop over one record, never as nested requests; each Location is read
    // against the URL it answered.
    std::string current = url ? url : "";
    http_redirect_chain chain;
    http_redirect_chain_start(chain, current);
    http_result code = HTTP_OK;
    for (int redirects = 0;; redirects++) {
        code = run_exchange(client, url ? current.c_str() : nullptr, form_body, body_length,
                            chain.extra_headers ? extra_headers : nullptr, chain.extra_headers ? headers_length : 0);
        if (code != HTTP_OK || !(client->flags & HTTP_FLAG_REDIRECT))
            break;
        if (redirects == HTTP_MAX_REDIRECTS) {
            code = HTTP_ERR_TOO_MANY_REDIRECTS;
            break;
        }
        std::string next = http_resolve_reference(current, client->location);
        http_redirect_chain_next(chain, current, next);
        current = next;
    }
    // A redirect not followed names its target whole, for the caller to show.
    if (client->location) {
        std::string target = http_resolve_reference(current, client->location);
        http_free_text(&client->location);
        client->location = http_copy_text(target.data(), target.size());
    }
    http_result finished = client->sink->finish(client);
    return set_result(client, code == HTTP_OK ? finished : code);
}
