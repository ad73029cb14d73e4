// The HTTP client's response path on arbitrary responses from scripted in-memory connections: the
// parser callbacks, header capture, both body sinks, the progress callback and redirects (each
// redirect takes the next scripted response).
//
// Input: one options byte, then the responses of successive connections, separated by
// "\n~~next~~\n". Options: bits 0-1 the operation (0 http_download_file into a file, 1
// http_client_get into memory, 2 a download whose progress callback aborts at the chunk given by
// bits 5-7 (0: never), 3 a POST with a form body and an extra header into memory); bits 2-4 the
// receive call that fails as a reset would (0: none).
#include "check.h"
#include "http_client_internal.h"
#include "memory_transport.h"
#include "text_util.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace {

const char SEPARATOR[] = "\n~~next~~\n";
const char URL[] = "http://192.168.88.1/deviceRelateInfo.txt";
const char OLD_CONTENT[] = "old contents";
const char FORM[] = "a=1&b=2";
const char EXTRA[] = "X-Extra: yes\r\n";

std::string output_path;
int abort_at_chunk = 0;
int chunks_seen = 0;

std::vector<std::string> split_responses(const uint8_t *data, size_t size)
{
    std::vector<std::string> out;
    std::string all((const char *)data, size);
    size_t from = 0;
    for (;;) {
        size_t at = all.find(SEPARATOR, from);
        out.push_back(all.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos)
            return out;
        from = at + sizeof SEPARATOR - 1;
    }
}

void write_old_content()
{
    std::ofstream(output_path, std::ios::binary | std::ios::trunc) << OLD_CONTENT;
}

std::string read_output()
{
    std::ifstream in(output_path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sees every chunk before it is written: only the body of a 2xx response may reach the file.
int progress(http_client *client, const char *chunk, int32_t length, int32_t, void *)
{
    check(chunk != nullptr && length > 0, "empty progress chunk");
    check(client->status >= 200 && client->status <= 299, "body of a response outside 2xx written");
    return ++chunks_seen == abort_at_chunk ? 1 : 0;
}

// Every request is one head: the request line, Host, the fixed headers, then for the POST the
// form headers and the extra line (only to the first request's host), the empty line, and the form
// body; nothing from a redirect target can add a line.
void check_request(const memory_connection &c, const memory_connection &first, bool post)
{
    std::string head = c.request.substr(0, c.request.find("\r\n\r\n") + 4);
    size_t lines = 0;
    for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2))
        lines++;
    bool extra = head.find(EXTRA) != std::string::npos;
    check(!extra || (post && text_equal_nocase(c.host.c_str(), first.host.c_str())), "extra line to another host");
    check(lines == (post ? 8u : 6u) + (extra ? 1u : 0u), "request head with a line too many or too few");
    check(head.compare(0, post ? 5 : 4, post ? "POST " : "GET ") == 0, "request line");
    check(head.find("\r\nHost:" + c.host + "\r\n") != std::string::npos, "Host line is not the connected host");
    check(c.request.size() == head.size() + (post ? sizeof FORM - 1 : 0), "bytes after the request");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    output_path = (dir / ("facup-fuzz-http-" + std::to_string(std::random_device()()) + ".out")).string();
    std::atexit([] { std::remove(output_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int mode = data[0] & 3;
    const int failing_receive = (data[0] >> 2) & 7;
    abort_at_chunk = mode == 2 ? (data[0] >> 5) & 7 : 0;
    chunks_seen = 0;
    memory_transport_reset(split_responses(data + 1, size - 1), failing_receive);

    int code;
    http_client *client = nullptr;
    if (mode == 0) {
        write_old_content();
        code = http_download_file(URL, output_path.c_str(), 0);
    } else if (mode == 2) {
        write_old_content();
        client = http_client_new();
        http_client_set_progress(client, progress, nullptr);
        code = http_client_download(client, URL, output_path.c_str());
    } else {
        client = http_client_new();
        client->method = mode == 3 ? 1 : 0;
        if (mode == 1)
            http_client_get(client, URL, 0);
        else
            http_client_request(client, URL, FORM, sizeof FORM - 1, EXTRA, sizeof EXTRA - 1);
        code = http_client_last_error(client);
        check(client->body_bytes >= 0 && client->body_bytes <= client->body_capacity, "memory body bounds");
        // The buffer follows the bytes that came, never the Content-Length announced.
        check(client->body_capacity <= std::max(HTTP_BODY_FIRST_MAX, 2 * client->body_bytes),
              "memory body larger than its bytes call for");
        if (client->memory_body && client->body_bytes > 0)
            check(client->memory_body[client->body_bytes] == '\0', "memory body not terminated");
    }

    const std::vector<memory_connection> &made = memory_transport_connections();
    check(made.size() <= 1 + HTTP_MAX_REDIRECTS, "more connections than redirects allow");
    for (const memory_connection &c : made)
        check_request(c, made[0], mode == 3);
    switch (code) {
    case HTTP_OK:
    case HTTP_ERR_RESPONSE:
    case HTTP_ERR_URL:
    case HTTP_ERR_SCHEME:
    case HTTP_ERR_NO_HOST:
    case HTTP_ERR_RESOLVE:
    case HTTP_ERR_CONNECT:
    case HTTP_ERR_RECEIVE:
    case HTTP_ERR_TOO_MANY_REDIRECTS:
        break;
    default:
        check(false, "result code outside the ones a response can cause");
    }
    if (code == HTTP_ERR_TOO_MANY_REDIRECTS)
        check(made.size() == 1 + HTTP_MAX_REDIRECTS, "redirect bound reached early");
    if (mode == 2 && abort_at_chunk > 0 && chunks_seen >= abort_at_chunk)
        check(code == HTTP_ERR_RESPONSE, "an aborted download must fail with 4");
    // The file is created or truncated only when a body chunk is about to be written.
    if (mode == 2 && chunks_seen == 0)
        check(read_output() == OLD_CONTENT, "file touched without a body");
    http_client_free(client);
    return 0;
}
