// The HTTP client against scripted responses: result codes, redirects, the file and memory sinks.
#include "http_client_internal.h"
#include "http_peer.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using test_files::exists;
using test_files::read_file;
using test_files::write_file;

const char OLD_CONTENT[] = "old contents";
const int SHORT_LIMIT_MS = 300;

std::string ok_response(const std::string &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

peer_script answer(const std::string &response) { return {read_request(), send_bytes(response), close_conn()}; }

std::string redirect_to(const std::string &url) { return "HTTP/1.1 302 Found\r\nLocation: " + url + "\r\n\r\n"; }

// What one download left behind.
struct outcome {
    int code;
    int status;
    long long ms;
};

outcome download(const std::string &url, const std::string &path, int timeout_ms = 2000)
{
    http_client_startup();
    http_client *client = http_client_new();
    http_client_set_timeout(client, timeout_ms);
    auto start = std::chrono::steady_clock::now();
    int code = http_client_download(client, url.c_str(), path.c_str());
    long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    outcome result = {code, http_client_status(client), ms};
    http_client_free(client);
    return result;
}

// A 200 response head after `before`, padded so that the next byte lands at offset `at`.
std::string head_padded_to(size_t at, const std::string &before = "")
{
    std::string head = before + "HTTP/1.1 200 OK\r\nX-Pad: ";
    head += std::string(at - head.size() - 2, 'p');
    return head + "\r\n";
}

// A chunked encoding of count pieces of size bytes ('a', 'b', ... from first), the last chunk
// included, and the body it carries.
struct chunked_text {
    std::string chunks;
    std::string body;
};

chunked_text chunked(int count, size_t size, char first)
{
    chunked_text out;
    char line[32];
    std::snprintf(line, sizeof line, "%zx\r\n", size);
    for (int i = 0; i < count; i++) {
        std::string piece(size, (char)(first + i));
        out.chunks += line + piece + "\r\n";
        out.body += piece;
    }
    out.chunks += "0\r\n\r\n";
    return out;
}

// A response and the memory body it must leave.
struct memory_case {
    const char *name;
    std::string response;
    std::string body;
};

// Responses of a single connection, with what they must leave in a file that held OLD_CONTENT.
TEST(HttpResponse, SingleResponseTable)
{
    std::string big_value(65535, 'v');
    std::string big_name(65536, 'N');
    struct {
        const char *name;
        peer_script script;
        int code;
        int status;
        const char *file; // expected content; nullptr: untouched
    } cases[] = {
        {"200 with body", answer(ok_response("hello")), 0, 200, "hello"},
        {"garbage", answer("SSH-2.0-not-http\r\n\r\n"), HTTP_ERR_RESPONSE, 0, nullptr},
        {"headers cut off", {read_request(), send_bytes("HTTP/1.1 200 OK\r\nContent-Le"), close_conn()}, 0, 200,
         nullptr},
        {"closes without answering", {read_request(), close_conn()}, 0, 0, nullptr},
        {"404 with body", answer("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"), 0, 404, nullptr},
        {"200 with Content-Length 0", answer(ok_response("")), 0, 200, nullptr},
        {"body cut short by the close",
         {read_request(), send_bytes("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst ten."), close_conn()}, 0,
         200, "first ten."},
        {"no Content-Length, body until the close",
         {read_request(), send_bytes("HTTP/1.0 200 OK\r\n\r\nto the end"), close_conn()}, 0, 200, "to the end"},
        {"chunked body", answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"),
         0, 200, "abcde"},
        {"trailer Location is not followed",
         answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n"
                "Location: http://127.0.0.1:9/x\r\nX-After: 1\r\n\r\n"),
         0, 200, "hello"},
        {"header value of 65,535 bytes", answer("HTTP/1.1 200 OK\r\nX-Big: " + big_value + "\r\nContent-Length: 2\r\n\r\nok"),
         0, 200, "ok"},
        {"header value of 65,536 bytes",
         answer("HTTP/1.1 200 OK\r\nX-Big: " + big_value + "v\r\nContent-Length: 2\r\n\r\nok"), HTTP_ERR_RESPONSE, 200,
         nullptr},
        {"header name of 65,536 bytes", answer("HTTP/1.1 200 OK\r\n" + big_name + ": 1\r\nContent-Length: 2\r\n\r\nok"),
         HTTP_ERR_RESPONSE, 200, nullptr},
    };
    test_files::scratch_dir dir;
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.file("out.txt");
        write_file(path, OLD_CONTENT);
        script_peer peer({c.script});
        outcome got = download(peer.url("/f"), path);
        EXPECT_EQ(c.code, got.code);
        EXPECT_EQ(c.status, got.status);
        EXPECT_EQ(c.file ? c.file : OLD_CONTENT, read_file(path));
    }
}

// True for the Windows build running under Wine (the test runner sets WINEPREFIX).
bool under_wine()
{
#ifdef _WIN32
    return std::getenv("WINEPREFIX") != nullptr;
#else
    return false;
#endif
}

// A reset while the body arrives is a receive failure. Under Wine the reset does not reach the
// program as one: Wine's socket server takes the error for itself and the client sees the end of
// the stream (result 0), so that is what the Windows build shows there.
TEST(HttpResponse, ResetMidBodyIsReceiveFailure)
{
    test_files::scratch_dir dir;
    std::string body(5000, 'b');
    script_peer peer({{read_request(), send_bytes("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body),
                       pause_ms(200), reset_conn()}});
    outcome got = download(peer.url("/f"), dir.file("out.bin"), 1000);
    EXPECT_EQ(under_wine() ? HTTP_OK : HTTP_ERR_RECEIVE, got.code);
    // The bytes parsed before the reset stay in the file.
    EXPECT_LE(read_file(dir.file("out.bin")).size(), body.size());
}

TEST(HttpResponse, SilentServerEndsByTimeLimit)
{
    test_files::scratch_dir dir;
    script_peer peer({{read_request(), hold_conn()}});
    outcome got = download(peer.url("/f"), dir.file("out.txt"), SHORT_LIMIT_MS);
    EXPECT_EQ(HTTP_ERR_RECEIVE, got.code);
    EXPECT_GE(got.ms, SHORT_LIMIT_MS - 20);
    EXPECT_LT(got.ms, SHORT_LIMIT_MS + 1500);
    EXPECT_FALSE(exists(dir.file("out.txt")));
}

// A redirect to another host (127.0.0.2) and port: a new connection there, the Host header naming
// the host alone; the first response's body is never written.
TEST(HttpResponse, RedirectToOtherHostAndPort)
{
    test_files::scratch_dir dir;
    struct {
        const char *name;
        std::string before, after; // the response around the target URL
    } cases[] = {
        {"302", "HTTP/1.1 302 Found\r\nLocation: ", "\r\nContent-Length: 5\r\n\r\nfirst"},
        {"301, Location in any case", "HTTP/1.1 301 Moved\r\nContent-Length: 5\r\nlOcAtIoN: ", "\r\n\r\nfirst"},
        {"303", "HTTP/1.1 303 See Other\r\nLocation: ", "\r\n\r\n"},
        {"307", "HTTP/1.1 307 Temporary Redirect\r\nLocation: ", "\r\n\r\n"},
        {"308", "HTTP/1.1 308 Permanent Redirect\r\nLocation: ", "\r\n\r\n"},
        {"302 after 103 Early Hints", "HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\nHTTP/1.1 302 Found\r\nLocation: ",
         "\r\n\r\n"},
        {"Location split over two reads", "HTTP/1.1 302 Found\r\nX-Pad: " + std::string(4094 - 30, 'p') + "\r\nLocation: ",
         "\r\n\r\n"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        script_peer second({answer(ok_response("from the second"))}, "127.0.0.2");
        script_peer first({answer(c.before + second.url("/next?x=1") + c.after)});
        outcome got = download(first.url("/f"), dir.file("out.txt"));
        EXPECT_EQ(0, got.code);
        EXPECT_EQ(200, got.status);
        EXPECT_EQ("from the second", read_file(dir.file("out.txt")));
        second.finish();
        EXPECT_EQ(0u, second.request(0).find("GET /next?x=1 HTTP/1.1\r\nHost:127.0.0.2\r\n"));
    }
}

// A Location on a status that is no redirect names something else (what a 201 made, say): the
// response is the answer, its body written, and nothing else is fetched.
TEST(HttpResponse, LocationOfNoRedirectIsNotFollowed)
{
    test_files::scratch_dir dir;
    for (const char *status : {"200 OK", "201 Created", "304 Not Modified", "300 Multiple Choices"}) {
        SCOPED_TRACE(status);
        script_peer second({answer(ok_response("from the second"))}, "127.0.0.2");
        script_peer first({answer(std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 5\r\nLocation: " +
                                  second.url("/next") + "\r\n\r\nfirst")});
        write_file(dir.file("out.txt"), OLD_CONTENT);
        outcome got = download(first.url("/f"), dir.file("out.txt"));
        EXPECT_EQ(0, got.code);
        EXPECT_EQ(std::atoi(status), got.status);
        EXPECT_EQ(got.status / 100 == 2 ? "first" : OLD_CONTENT, read_file(dir.file("out.txt")));
        EXPECT_EQ(0u, second.connections());
    }
}

// A relative Location is read against the URL it answered: once a path, once a path beside the
// request's, the query its own.
TEST(HttpResponse, RelativeLocationIsResolved)
{
    test_files::scratch_dir dir;
    for (const char *location : {"/dir/elsewhere?q=2", "elsewhere?q=2", "./../dir/elsewhere?q=2"}) {
        SCOPED_TRACE(location);
        script_peer peer({answer(redirect_to(location)), answer(ok_response("moved"))});
        outcome got = download(peer.url("/dir/f?q=1"), dir.file("out.txt"));
        EXPECT_EQ(0, got.code);
        EXPECT_EQ("moved", read_file(dir.file("out.txt")));
        peer.finish();
        EXPECT_EQ(0u, peer.request(1).find("GET /dir/elsewhere?q=2 HTTP/1.1\r\nHost:127.0.0.1\r\n")) << peer.request(1);
    }
}

// References read against a base, as RFC 3986 resolves them (its examples, and the fragment
// dropped).
TEST(HttpResponse, ReferencesResolved)
{
    const std::string base = "http://a/b/c/d;p?q";
    struct {
        const char *reference, *url;
    } cases[] = {
        {"g", "http://a/b/c/g"},           {"./g", "http://a/b/c/g"},       {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},              {"//g", "http://g"},             {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},       {"#s", "http://a/b/c/d;p?q"},    {"g#s", "http://a/b/c/g"},
        {"", "http://a/b/c/d;p?q"},        {".", "http://a/b/c/"},          {"..", "http://a/b/"},
        {"../g", "http://a/b/g"},          {"../../../g", "http://a/g"},    {"/./g", "http://a/g"},
        {"g.", "http://a/b/c/g."},         {"..g", "http://a/b/c/..g"},     {"./../g", "http://a/b/g"},
        {"g/../h", "http://a/b/c/h"},      {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"https://b:8443/x/../y", "https://b:8443/y"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.url, http_resolve_reference(base, c.reference)) << c.reference;
    EXPECT_EQ("http://h:81/x", http_resolve_reference("http://h:81", "x"));
}

// The extra header lines follow a redirect chain only while it stays at the first URL's host and
// port and has never gone from https to http.
TEST(HttpResponse, ExtraHeadersStayWithTheFirstHost)
{
    struct {
        const char *name;
        std::vector<std::string> urls; // the first URL, then each hop's
        bool sent;                     // with the last
    } cases[] = {
        {"the same host", {"http://c:8123/a", "http://C:8123/b?x"}, true},
        {"another host", {"http://c:8123/a", "http://d:8123/a"}, false},
        {"another port", {"http://c:8123/a", "http://c:8124/a"}, false},
        {"back at the first host", {"http://c/a", "http://d/a", "http://c/b"}, true},
        {"https to https", {"https://c/a", "https://c:443/b"}, true},
        {"https to http", {"https://c:80/a", "http://c:80/a"}, false},
        {"https to http and back", {"https://c/a", "http://c:443/a", "https://c/a"}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        http_redirect_chain chain;
        http_redirect_chain_start(chain, c.urls[0]);
        EXPECT_TRUE(chain.extra_headers);
        for (size_t i = 1; i < c.urls.size(); i++)
            http_redirect_chain_next(chain, c.urls[i - 1], c.urls[i]);
        EXPECT_EQ(c.sent, chain.extra_headers);
    }
}

// Ten redirects are followed; an eleventh ends the request with its own code. The peer redirects
// to itself ({PORT} is its own port).
TEST(HttpResponse, RedirectBound)
{
    test_files::scratch_dir dir;
    for (int redirects : {HTTP_MAX_REDIRECTS, HTTP_MAX_REDIRECTS + 1}) {
        SCOPED_TRACE(redirects);
        std::vector<peer_script> scripts((size_t)redirects, answer(redirect_to("http://127.0.0.1:{PORT}/again")));
        scripts.push_back(answer(ok_response("arrived")));
        script_peer peer(scripts);
        std::string path = dir.file("out" + std::to_string(redirects));
        outcome got = download(peer.url("/f"), path);
        if (redirects == HTTP_MAX_REDIRECTS) {
            EXPECT_EQ(0, got.code);
            EXPECT_EQ("arrived", read_file(path));
        } else {
            EXPECT_EQ(HTTP_ERR_TOO_MANY_REDIRECTS, got.code);
            EXPECT_FALSE(exists(path));
        }
        EXPECT_EQ((size_t)HTTP_MAX_REDIRECTS + 1, peer.connections());
    }
}

// A POST redirected by a 307 or 308 is sent again, body included, to the new URL, and its extra
// headers only to the same host and port; a 301, 302 or 303 is not followed (the POST would be
// sent again, or turned into a GET) but names where it points. A 201's Location is no redirect.
TEST(HttpResponse, RedirectedPostResendsBody)
{
    http_client_startup();
    const std::string form = "Content-Type:application/x-www-form-urlencoded\r\nContent-Length:3\r\n\r\na=1";
    struct {
        const char *status;
        bool same_peer; // the Location names the first peer itself, else a second one
        bool followed;
    } cases[] = {
        {"307 Temporary Redirect", true, true}, {"308 Permanent Redirect", false, true},
        {"301 Moved Permanently", false, false}, {"302 Found", true, false},
        {"303 See Other", false, false},        {"201 Created", false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        // Each peer has a script for each connection it is to get, so that finish() never waits.
        std::vector<peer_script> again_script = {answer(ok_response("done"))}, none;
        script_peer second(c.followed && !c.same_peer ? again_script : none);
        std::vector<peer_script> first_scripts = {answer(std::string("HTTP/1.1 ") + c.status + "\r\nLocation: " +
                                                         (c.same_peer ? "/two" : second.url("/two")) +
                                                         "\r\nContent-Length: 4\r\n\r\nmade")};
        if (c.followed && c.same_peer)
            first_scripts.push_back(again_script[0]);
        script_peer first(first_scripts);
        http_client *client = http_client_new();
        client->method = 1;
        const char body[] = "a=1", headers[] = "X-K: v\r\n";
        EXPECT_EQ(0, http_client_request(client, first.url("/one").c_str(), body, 3, headers, 8));
        EXPECT_STREQ(c.followed ? "done" : "made", client->memory_body);
        EXPECT_EQ(c.followed ? 200 : std::atoi(c.status), http_client_status(client));
        bool redirect = http_is_redirect_status(std::atoi(c.status));
        std::string target = c.same_peer ? first.url("/two") : second.url("/two");
        EXPECT_EQ(!c.followed && redirect ? target : "", http_client_location(client) ? http_client_location(client) : "");
        first.finish();
        second.finish();
        EXPECT_EQ("POST /one HTTP/1.1\r\n", first.request(0).substr(0, 20));
        EXPECT_NE(std::string::npos, first.request(0).find("X-K: v\r\n" + form));
        std::string again = c.same_peer ? first.request(1) : second.request(0);
        EXPECT_EQ(c.followed ? "POST /two HTTP/1.1\r\n" : "", again.substr(0, 20));
        if (c.followed) {
            std::string after_fixed = again.substr(again.find("\r\n", again.find("User-Agent")) + 2);
            EXPECT_EQ((c.same_peer ? "X-K: v\r\n" : "") + form, after_fixed);
        }
        http_client_free(client);
    }
}

// The memory sink keeps the body whatever Content-Length claimed, never writing past its buffer.
TEST(HttpResponse, MemorySink)
{
    http_client_startup();
    std::string long_body(3000, 'm');
    chunked_text pieces = chunked(20, 500, 'a');
    memory_case cases[] = {
        {"Content-Length", ok_response("hello"), "hello"},
        {"large Content-Length body", ok_response(std::string(20000, 'z')), std::string(20000, 'z')},
        {"chunked, no Content-Length", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + pieces.chunks,
         pieces.body},
        // 4294967297 is 1 in 32 bits; 4294967295 is -1: neither may size the buffer.
        {"Content-Length past 32 bits", "HTTP/1.1 200 OK\r\nContent-Length: 4294967297\r\n\r\n" + long_body, long_body},
        {"Content-Length of -1 in 32 bits", "HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n" + long_body,
         long_body},
        {"body shorter than Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort", "short"},
        {"404 body kept too", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", "gone"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        script_peer peer({answer(c.response)});
        http_client *client = http_client_new();
        http_client_set_timeout(client, 2000);
        const char *body = http_client_get(client, peer.url("/m").c_str(), 0);
        EXPECT_EQ(0, http_client_last_error(client));
        ASSERT_NE(nullptr, body);
        EXPECT_EQ(c.body, std::string(body, (size_t)client->body_bytes));
        EXPECT_EQ('\0', body[client->body_bytes]);
        EXPECT_LE(client->body_bytes, client->body_capacity);
        http_client_free(client);
    }
}

// A 1xx interim response with a Content-Length (the parser reads that many bytes as its body, and
// the memory sink keeps them) before the final response: the final body, received partly straight
// into memory, is neither framed nor ended by what the interim response announced.
TEST(HttpResponse, InterimResponseBeforeMemoryBody)
{
    http_client_startup();
    const std::string interim = "HTTP/1.1 100 Continue\r\nContent-Length: 4\r\n\r\nabcd";
    const std::string chunked_end = "Transfer-Encoding: chunked\r\n\r\n", length_end = "Content-Length: 6000\r\n\r\n";
    std::string final_body(6000, 'f'), long_interim(5000, 'i');
    chunked_text pieces = chunked(3, 3000, 'x');
    memory_case cases[] = {
        {"chunked 200 whose head ends the first receive",
         head_padded_to(HTTP_RECEIVE_CHUNK - chunked_end.size(), interim) + chunked_end + pieces.chunks,
         "abcd" + pieces.body},
        {"200 with Content-Length whose head ends the first receive",
         head_padded_to(HTTP_RECEIVE_CHUNK - length_end.size(), interim) + length_end + final_body, "abcd" + final_body},
        {"interim body past the first receive",
         "HTTP/1.1 100 Continue\r\nContent-Length: 5000\r\n\r\n" + long_interim + ok_response("final"),
         long_interim + "final"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        script_peer peer({answer(c.response)});
        std::unique_ptr<http_client, void (*)(http_client *)> client(http_client_new(), http_client_free);
        http_client_set_timeout(client.get(), 2000);
        const char *body = http_client_get(client.get(), peer.url("/m").c_str(), 0);
        EXPECT_EQ(HTTP_OK, http_client_last_error(client.get()));
        EXPECT_EQ(200, http_client_status(client.get()));
        EXPECT_EQ(c.body, body ? std::string(body, (size_t)client->body_bytes) : "");
    }
}

// The memory body holds HTTP_MEMORY_BODY_MAX bytes and not one more, with Content-Length (received
// straight into the growing body) or without (through the parser); a close right at the limit
// still ends a body announced longer.
TEST(HttpResponse, MemoryBodyLimit)
{
    http_client_startup();
    const int32_t max = HTTP_MEMORY_BODY_MAX;
    struct {
        const char *name;
        int32_t announced; // Content-Length, 0: none (body until the close)
        int32_t sent;
        int code;
    } cases[] = {
        {"announced and sent at the limit", max, max, 0},
        {"announced past the limit, closed at it", max + 1, max, 0},
        {"announced and sent past the limit", max + 1, max + 1, HTTP_ERR_RESPONSE},
        {"until the close, at the limit", 0, max, 0},
        {"until the close, past the limit", 0, max + 1, HTTP_ERR_RESPONSE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string body((size_t)c.sent, 'L');
        body.back() = 'E';
        std::string head = c.announced ? "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(c.announced) + "\r\n\r\n"
                                       : std::string("HTTP/1.0 200 OK\r\n\r\n");
        script_peer peer({answer(head + body)});
        // Freed before the peer, whatever fails: the peer may still be sending to it.
        std::unique_ptr<http_client, void (*)(http_client *)> client(http_client_new(), http_client_free);
        http_client_set_timeout(client.get(), 5000);
        const char *got = http_client_get(client.get(), peer.url("/m").c_str(), 0);
        EXPECT_EQ(c.code, http_client_last_error(client.get()));
        EXPECT_LE(client->body_bytes, max);
        if (c.code == 0) {
            EXPECT_EQ((int32_t)body.size(), client->body_bytes);
            EXPECT_TRUE(got && client->body_bytes == c.sent && body.compare(0, body.size(), got, body.size()) == 0);
        }
    }
}

// The progress callback sees each chunk with the Content-Length; a non-zero return aborts (4).
TEST(HttpResponse, ProgressCallback)
{
    test_files::scratch_dir dir;
    http_client_startup();
    std::string body(10000, 'q');
    for (int stop_after : {0, 1}) {
        SCOPED_TRACE(stop_after);
        script_peer peer({answer(ok_response(body))});
        struct seen {
            int calls = 0;
            int32_t bytes = 0;
            int32_t content_length = 0;
            int stop_after;
        } state;
        state.stop_after = stop_after;
        http_client *client = http_client_new();
        http_client_set_progress(
            client,
            [](http_client *, const char *, int32_t length, int32_t content_length, void *user) {
                auto *s = static_cast<seen *>(user);
                s->calls++;
                s->bytes += length;
                s->content_length = content_length;
                return s->stop_after != 0 && s->calls >= s->stop_after ? 1 : 0;
            },
            &state);
        int code = http_client_download(client, peer.url("/p").c_str(), dir.file("p.bin").c_str());
        http_client_free(client);
        EXPECT_EQ(10000, state.content_length);
        if (stop_after == 0) {
            EXPECT_EQ(0, code);
            EXPECT_EQ(10000, state.bytes);
            EXPECT_EQ(body, read_file(dir.file("p.bin")));
        } else {
            EXPECT_EQ(HTTP_ERR_RESPONSE, code);
            EXPECT_EQ(1, state.calls);
            EXPECT_EQ("", read_file(dir.file("p.bin")));
        }
    }
}

// Header capture grows to the exact size needed; the 16-bit lengths bound it at 65,535 bytes.
TEST(HttpResponse, HeaderValues)
{
    char *buffer = nullptr;
    uint16_t length = 0, capacity = 0;
    std::string a(100, 'a'), b(200, 'b');
    ASSERT_EQ(0, http_client_append(&buffer, &length, &capacity, a.data(), a.size()));
    EXPECT_EQ(128, capacity);
    ASSERT_EQ(0, http_client_append(&buffer, &length, &capacity, b.data(), b.size()));
    EXPECT_EQ(300, capacity);
    EXPECT_EQ(300, length);
    EXPECT_EQ(a + b, std::string(buffer));
    free(buffer);

    buffer = nullptr;
    std::string c(300, 'c');
    ASSERT_EQ(0, http_client_append(&buffer, &length, &capacity, c.data(), c.size()));
    EXPECT_EQ(300, capacity);
    std::string rest(65535 - 300, 'r');
    EXPECT_EQ(0, http_client_append(&buffer, &length, &capacity, rest.data(), rest.size()));
    EXPECT_EQ(65535, length);
    EXPECT_EQ(-1, http_client_append(&buffer, &length, &capacity, "x", 1));
    EXPECT_EQ(65535, length);
    free(buffer);

    // Content-Length values that a signed 32-bit count cannot hold are taken as absent.
    struct {
        const char *text;
        int32_t value;
    } cases[] = {{"0", 0}, {"1234", 1234}, {" 42", 42}, {"17abc", 17}, {"2147483647", 2147483647},
                 {"2147483648", 0}, {"4294967297", 0}, {"", 0}, {"-5", 0}};
    for (const auto &v : cases)
        EXPECT_EQ(v.value, http_content_length_value(v.text)) << v.text;
}

} // namespace
