// URLs and requests: splitting a URL into its target, and writing the request text piece by piece.
#include "http_client_internal.h"
#include "text_util.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The literal pieces of every request.
const char REQUEST_GET[] = "GET ";
const char REQUEST_POST[] = "POST ";
const char REQUEST_VERSION_HOST[] = " HTTP/1.1\r\nHost:";
const char REQUEST_FIXED_HEADERS[] =
    "\r\nConnection: close\r\nAccept: */*\r\nUser-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; rv:29.0) "
    "Gecko/20100101 Firefox/29.0\r\n";
const char REQUEST_FORM_HEADERS[] = "Content-Type:application/x-www-form-urlencoded\r\nContent-Length";
const char REQUEST_END[] = "\r\n";

bool has_field(const http_parser_url *parts, int field) { return (parts->field_set & (1u << field)) != 0; }

// True when the n characters at text equal the (ASCII) literal, ignoring case.
bool starts_ignoring_case(const char *text, size_t available, const char *literal)
{
    size_t n = std::strlen(literal);
    return available >= n && ascii_equal_nocase(text, literal, n);
}

// Sends one piece; a piece is sent whole or the request fails.
bool send_piece(http_client *client, const char *bytes, size_t length)
{
    if (length == 0)
        return true;
    int whole = static_cast<int>(length);
    return http_client_transfer(client, const_cast<char *>(bytes), whole, HTTP_SEND) == whole;
}

bool send_field(http_client *client, const char *url, const http_parser_url *parts, int field)
{
    return send_piece(client, url + parts->field_data[field].off, parts->field_data[field].len);
}

} // namespace

http_result http_split_url(const char *url, http_parser_url *parts)
{
    http_parser_url_init(parts);
    if (!url || http_parser_parse_url(url, std::strlen(url), 0, parts) != 0)
        return HTTP_ERR_URL;
    return HTTP_OK;
}

http_result http_url_target(const char *url, const http_parser_url *parts, http_target *target)
{
    target->tls = 0;
    target->port = 80;
    if (has_field(parts, UF_SCHEMA)) {
        const char *scheme = url + parts->field_data[UF_SCHEMA].off;
        size_t available = std::strlen(scheme);
        if (starts_ignoring_case(scheme, available, "http://")) {
            target->port = 80;
        } else if (starts_ignoring_case(scheme, available, "https://")) {
            target->port = 443;
            target->tls = 1;
        } else {
            return HTTP_ERR_SCHEME;
        }
    }
    if (!has_field(parts, UF_HOST))
        return HTTP_ERR_NO_HOST;
    // The parser has read the port whole, leading zeros included, and refused one above 65535.
    if (has_field(parts, UF_PORT))
        target->port = parts->port;
    size_t host_length = parts->field_data[UF_HOST].len;
    if (host_length > HTTP_HOST_MAX)
        return HTTP_ERR_RESOLVE; // refused before it is copied
    std::memset(target->host, 0, sizeof target->host);
    std::memcpy(target->host, url + parts->field_data[UF_HOST].off, host_length);
    return HTTP_OK;
}

http_result http_send_request(http_client *client, const char *url, const http_parser_url *parts,
                              const char *form_body, int32_t body_length, const char *extra_headers,
                              int32_t headers_length)
{
    bool has_body = form_body && body_length > 0;
    bool ok = client->method == 1 ? send_piece(client, REQUEST_POST, sizeof REQUEST_POST - 1)
                                  : send_piece(client, REQUEST_GET, sizeof REQUEST_GET - 1);
    ok = ok && (has_field(parts, UF_PATH) ? send_field(client, url, parts, UF_PATH) : send_piece(client, "/", 1));
    if (ok && has_field(parts, UF_QUERY))
        ok = send_piece(client, "?", 1) && send_field(client, url, parts, UF_QUERY);
    ok = ok && send_piece(client, REQUEST_VERSION_HOST, sizeof REQUEST_VERSION_HOST - 1) &&
         send_field(client, url, parts, UF_HOST) &&
         send_piece(client, REQUEST_FIXED_HEADERS, sizeof REQUEST_FIXED_HEADERS - 1);
    if (ok && extra_headers && headers_length > 0)
        ok = send_piece(client, extra_headers, static_cast<size_t>(headers_length));
    if (ok && client->content_type) {
        // A post names its body's type and length, also for an empty body.
        std::string lines = std::string("Content-Type: ") + client->content_type + "\r\nContent-Length: " +
                            std::to_string(has_body ? body_length : 0) + "\r\n";
        ok = send_piece(client, lines.data(), lines.size());
    } else if (ok && has_body) {
        char line[256] = {0};
        int n = std::snprintf(line, sizeof line, "%s:%d\r\n", REQUEST_FORM_HEADERS, body_length);
        ok = send_piece(client, line, static_cast<size_t>(n));
    }
    ok = ok && send_piece(client, REQUEST_END, sizeof REQUEST_END - 1);
    if (ok && has_body)
        ok = send_piece(client, form_body, static_cast<size_t>(body_length));
    return ok ? HTTP_OK : HTTP_ERR_SEND;
}
