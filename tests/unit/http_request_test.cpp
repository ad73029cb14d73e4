// The HTTP client's URLs and requests: the exact bytes it sends, and the URLs it refuses.
#include "clock.h"
#include "http_client_internal.h"
#include "http_peer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The fixed header lines of every request, as the tool must send them.
const std::string FIXED_LINES = "\r\nConnection: close\r\nAccept: */*\r\n"
                                "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; rv:29.0) Gecko/20100101 Firefox/29.0\r\n";
const std::string FORM_LINES = "Content-Type:application/x-www-form-urlencoded\r\nContent-Length:";
const std::string REPLY = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

struct request_case {
    const char *name;
    uint32_t method;
    std::string url_tail;  // appended to "<scheme>://<host>:<port>"
    std::string body;      // form body ("" = none)
    std::string headers;   // extra header block ("" = none)
    std::string expected;  // the request, with HOST standing for the host text
};

std::string with_host(std::string text, const std::string &host)
{
    size_t at = text.find("HOST");
    return at == std::string::npos ? text : text.replace(at, 4, host);
}

TEST(HttpRequest, SendsExactBytes)
{
    ASSERT_EQ(120u, FIXED_LINES.size());
    http_client_startup();
    const std::string head = " HTTP/1.1\r\nHost:HOST" + FIXED_LINES;
    const request_case cases[] = {
        {"get without path", 0, "", "", "", "GET /" + head + "\r\n"},
        {"get with path", 0, "/deviceRelateInfo.txt", "", "", "GET /deviceRelateInfo.txt" + head + "\r\n"},
        {"query without path", 0, "?a=1&b=2", "", "", "GET /?a=1&b=2" + head + "\r\n"},
        {"path, query and fragment", 0, "/d/f.txt?x=y#part", "", "", "GET /d/f.txt?x=y" + head + "\r\n"},
        {"fragment only", 0, "/f#frag", "", "", "GET /f" + head + "\r\n"},
        {"user information is not sent", 0, "/u", "", "", "GET /u" + head + "\r\n"},
        {"extra headers", 0, "/h", "", "X-One: 1\r\nX-Two: two\r\n",
         "GET /h" + head + "X-One: 1\r\nX-Two: two\r\n\r\n"},
        {"post with form body", 1, "/form", "a=1&b=%20", "",
         "POST /form" + head + FORM_LINES + "9\r\n\r\na=1&b=%20"},
        {"post with body and headers", 1, "/both?q", "k=v", "X-Extra: yes\r\n",
         "POST /both?q" + head + "X-Extra: yes\r\n" + FORM_LINES + "3\r\n\r\nk=v"},
        {"post without body", 1, "/empty", "", "", "POST /empty" + head + "\r\n"},
    };
    for (const request_case &c : cases) {
        SCOPED_TRACE(c.name);
        script_peer peer({{read_request(), send_bytes(REPLY), close_conn()}});
        std::string authority = "127.0.0.1:" + std::to_string(peer.port());
        std::string url = (std::string(c.name) == "user information is not sent" ? "http://user:pw@" : "http://") +
                          authority + c.url_tail;
        http_client *client = http_client_new();
        client->method = c.method;
        int code = http_client_request(client, url.c_str(), c.body.empty() ? nullptr : c.body.data(),
                                       (int32_t)c.body.size(), c.headers.empty() ? nullptr : c.headers.data(),
                                       (int32_t)c.headers.size());
        EXPECT_EQ(0, code);
        ASSERT_NE(nullptr, client->memory_body);
        EXPECT_STREQ("ok", client->memory_body);
        peer.finish();
        // The Host header carries the host alone, never the port.
        EXPECT_EQ(with_host(c.expected, "127.0.0.1"), peer.request(0));
        http_client_free(client);
    }
}

TEST(HttpRequest, TargetOfUrl)
{
    struct {
        const char *url;
        int code;
        uint32_t tls;
        uint16_t port;
        const char *host;
    } cases[] = {
        {"http://10.0.0.1/deviceRelateInfo.txt", 0, 0, 80, "10.0.0.1"},
        {"HTTPS://camera.example/x", 0, 1, 443, "camera.example"},
        {"hTtPs://camera.example:8443", 0, 1, 8443, "camera.example"},
        {"http://192.168.88.1:8080/a?b#c", 0, 0, 8080, "192.168.88.1"},
        // The port is read whole, however many leading zeros it has.
        {"http://192.168.88.1:000000080/x", 0, 0, 80, "192.168.88.1"},
        {"http://192.168.88.1:00000080/x", 0, 0, 80, "192.168.88.1"},
        {"https://192.168.88.1:65535", 0, 1, 65535, "192.168.88.1"},
        {"ftp://192.168.88.1/file", HTTP_ERR_SCHEME, 0, 0, ""},
        {"/deviceRelateInfo.txt", HTTP_ERR_NO_HOST, 0, 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.url);
        http_parser_url parts;
        ASSERT_EQ(0, http_split_url(c.url, &parts));
        http_target target;
        ASSERT_EQ(c.code, http_url_target(c.url, &parts, &target));
        if (c.code == 0) {
            EXPECT_EQ(c.tls, target.tls);
            EXPECT_EQ(c.port, target.port);
            EXPECT_STREQ(c.host, target.host);
        }
    }
}

// Refusals that end a request before anything is sent; none of them may look a name up (a host
// text starting with a digit is read as an address only: that case runs in a namespace of its own,
// tests/integration/http_real_servers.py).
TEST(HttpRequest, RefusedUrls)
{
    http_client_startup();
    struct {
        const char *name;
        std::string url;
        uint32_t method;
        int code;
    } cases[] = {
        {"cannot be split", "http://", 0, HTTP_ERR_URL},
        {"port 65536", "http://127.0.0.1:65536/x", 0, HTTP_ERR_URL},
        {"no URL", "", 0, HTTP_ERR_URL},
        {"scheme ftp", "ftp://127.0.0.1/x", 0, HTTP_ERR_SCHEME},
        {"bare path", "/deviceRelateInfo.txt", 0, HTTP_ERR_NO_HOST},
        {"broadcast address", "http://255.255.255.255/x", 0, HTTP_ERR_RESOLVE},
        {"method 2", "http://127.0.0.1:9/x", 2, HTTP_ERR_METHOD},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        http_client *client = http_client_new();
        EXPECT_EQ(nullptr, http_client_get(client, c.url.c_str(), c.method));
        EXPECT_EQ(c.code, http_client_last_error(client));
        http_client_free(client);
    }
    http_client *client = http_client_new();
    EXPECT_EQ(nullptr, http_client_get(client, nullptr, 0));
    EXPECT_EQ(HTTP_ERR_URL, http_client_last_error(client));
    http_client_free(client);
}

// The longest host text that fits (255 characters) is used; one more is refused. A dotted address
// with leading zeros makes a long host that needs no name lookup.
TEST(HttpRequest, LongestHostText)
{
    http_client_startup();
    script_peer peer({{read_request(), send_bytes(REPLY), close_conn()}});
    std::string tail = "177.0.0.1"; // octal 0177 is 127
    std::string host = std::string(255 - tail.size(), '0') + tail;
    ASSERT_EQ(255u, host.size());
    std::string url = "http://" + host + ":" + std::to_string(peer.port()) + "/";
    http_client *client = http_client_new();
    EXPECT_STREQ("ok", http_client_get(client, url.c_str(), 0));
    peer.finish();
    EXPECT_NE(std::string::npos, peer.request(0).find("\r\nHost:" + host + "\r\n"));

    std::string too_long = "http://0" + host + ":" + std::to_string(peer.port()) + "/";
    EXPECT_EQ(nullptr, http_client_get(client, too_long.c_str(), 0));
    EXPECT_EQ(HTTP_ERR_RESOLVE, http_client_last_error(client));
    http_client_free(client);
}

} // namespace

namespace {

// A post: the exact bytes sent (the URL's query as written, the extra header line, the JSON type and
// length), a redirect resending them, and the status of each answer.
TEST(HttpRequest, PostSendsJsonAndReadsTheStatus)
{
    http_client_startup();
    const std::string body = "{\"run_id\":\"0a\",\"result\":\"ok0\"}";
    const std::string query = "/?query=INSERT%20INTO%20facup.runs%20FORMAT%20JSONEachRow"
                              "&input_format_skip_unknown_fields=1&date_time_input_format=best_effort";
    const std::string sent = "POST " + query + " HTTP/1.1\r\nHost:127.0.0.1" + FIXED_LINES +
                             "X-Token: a b\r\nContent-Type: application/json\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n" + body;
    struct {
        const char *name;
        std::vector<peer_script> scripts;
        int status;
    } cases[] = {
        {"2xx", {{read_request(), send_bytes("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), close_conn()}}, 200},
        {"500", {{read_request(), send_bytes("HTTP/1.1 500 Oops\r\nContent-Length: 4\r\n\r\nbusy"), close_conn()}},
         500},
        {"redirect",
         {{read_request(), send_bytes("HTTP/1.1 307 Again\r\nLocation: http://127.0.0.1:{PORT}" + query + "\r\n\r\n"),
           close_conn()},
          {read_request(), send_bytes("HTTP/1.1 204 No Content\r\n\r\n"), close_conn()}},
         204},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        script_peer peer(c.scripts);
        http_client *client = http_client_new();
        const std::string header = "X-Token: a b\r\n";
        EXPECT_EQ(HTTP_OK, http_client_post(client, peer.url(query).c_str(), "application/json", body.data(),
                                            (int32_t)body.size(), header.data(), (int32_t)header.size(), 0));
        EXPECT_EQ(c.status, http_client_status(client));
        peer.finish();
        for (size_t i = 0; i < c.scripts.size(); i++)
            EXPECT_EQ(sent, peer.request(i));
        http_client_free(client);
    }
}

// A peer that takes the connection and never answers: the deadline ends the request. Without it the
// client would wait its 15 s per wait, and the peer would close first after its 10 s (HTTP_OK).
TEST(HttpRequest, PostEndsByItsDeadline)
{
    http_client_startup();
    script_peer peer({{read_request(), hold_conn()}});
    http_client *client = http_client_new();
    int64_t deadline = steady_now_ms() + 300;
    EXPECT_EQ(HTTP_ERR_RECEIVE, http_client_post(client, peer.url("/").c_str(), "application/json", "{}", 2, nullptr,
                                                 0, deadline));
    EXPECT_EQ(0, http_client_status(client));
    EXPECT_EQ(0, client->deadline_ms) << "a later request has no deadline";
    http_client_free(client);
}

// Each wait gets the time left until the deadline when that is less than the client's limit.
TEST(HttpRequest, WaitLimitIsTheTimeLeft)
{
    http_client client = {};
    EXPECT_EQ(15000, http_client_wait_limit(&client, 15000, 1000)) << "no deadline";
    client.deadline_ms = 5000;
    EXPECT_EQ(15000, http_client_wait_limit(&client, 15000, -20000));
    EXPECT_EQ(4000, http_client_wait_limit(&client, 15000, 1000));
    EXPECT_EQ(1, http_client_wait_limit(&client, 15000, 4999));
    EXPECT_EQ(0, http_client_wait_limit(&client, 15000, 5000));
    EXPECT_EQ(0, http_client_wait_limit(&client, 15000, 9000));
}

} // namespace
