// The file server's request core (fed bytes, no sockets) and its file sending over loopback.
#include "file_server.h"
#include "file_transfer.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>

namespace {

const char *const ROOT = "/srv/root";

struct rule_case {
    const char *line;
    request_verdict verdict;
    const char *file_name; // for REQUEST_SERVE
};

const rule_case rule_cases[] = {
    {"GET /a.img HTTP/1.0", REQUEST_SERVE, "/srv/root/a.img"},
    {"get /a.img HTTP/1.0", REQUEST_SERVE, "/srv/root/a.img"},
    {"Post /a.img HTTP/1.1", REQUEST_SERVE, "/srv/root/a.img"},
    {"GET\t/a.img  HTTP/1.0 trailing words", REQUEST_SERVE, "/srv/root/a.img"},
    {"HEAD /a.img HTTP/1.0", REQUEST_NOT_IMPLEMENTED, nullptr},
    {"PUT /a.img HTTP/1.0", REQUEST_NOT_IMPLEMENTED, nullptr},
    {"GETS /a.img HTTP/1.0", REQUEST_NOT_IMPLEMENTED, nullptr},
    {"GET /a.img", REQUEST_NOT_IMPLEMENTED, nullptr},
    {"GET", REQUEST_NOT_IMPLEMENTED, nullptr},
    {"", REQUEST_NOT_IMPLEMENTED, nullptr},
    // "/" and directories get index.html.
    {"GET / HTTP/1.0", REQUEST_SERVE, "/srv/root/index.html"},
    {"GET /sub/ HTTP/1.0", REQUEST_SERVE, "/srv/root/sub/index.html"},
    // The "?" rules: GET loses its query unless the "?" ends the path; POST keeps the path whole.
    {"GET /a.img?x=1 HTTP/1.0", REQUEST_SERVE, "/srv/root/a.img"},
    {"GET /a.img? HTTP/1.0", REQUEST_SERVE, "/srv/root/a.img?"},
    {"GET /a?b? HTTP/1.0", REQUEST_SERVE, "/srv/root/a"},
    {"GET /?x HTTP/1.0", REQUEST_SERVE, "/srv/root/index.html"},
    {"POST /a.img?x=1 HTTP/1.0", REQUEST_SERVE, "/srv/root/a.img?x=1"},
    {"GET ?x HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    // Paths that would leave the root.
    {"GET a.img HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /../etc/passwd HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /sub/../../x HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /.. HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /../ HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /%2e%2e/x HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /%2E./x HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /.%2e HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /..%20/x HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /.../x HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"POST /a?/../../x HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /..\\x HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /sub\\a.img HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET \\..\\x HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /C:/Windows/win.ini HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /a.img:stream HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    {"GET /a\x01.img HTTP/1.0", REQUEST_NOT_FOUND, nullptr},
    // Dots that stay inside the root.
    {"GET /..a HTTP/1.0", REQUEST_SERVE, "/srv/root/..a"},
    {"GET /a..b HTTP/1.0", REQUEST_SERVE, "/srv/root/a..b"},
    {"GET /./a.img HTTP/1.0", REQUEST_SERVE, "/srv/root/./a.img"},
    {"GET /.hidden HTTP/1.0", REQUEST_SERVE, "/srv/root/.hidden"},
    {"GET /%2e%2eb HTTP/1.0", REQUEST_SERVE, "/srv/root/%2e%2eb"},
};

TEST(FileServerRequest, RulesForTheRequestLine)
{
    for (const rule_case &c : rule_cases) {
        char name[FILE_NAME_SIZE];
        name[0] = '\0';
        EXPECT_EQ(resolve_request(c.line, ROOT, name, sizeof name), c.verdict) << c.line;
        if (c.verdict == REQUEST_SERVE) {
            EXPECT_STREQ(name, c.file_name) << c.line;
        }
    }
}

// The file name is never cut: the longest that fits is served, one byte more is not found.
TEST(FileServerRequest, FileNameThatJustFits)
{
    char name[FILE_NAME_SIZE];
    auto resolve = [&](const std::string &path) {
        return resolve_request(("GET " + path + " HTTP/1.0").c_str(), ROOT, name, sizeof name);
    };
    std::string path = "/" + std::string(FILE_NAME_SIZE - 1 - std::strlen(ROOT) - 1, 'a');
    EXPECT_EQ(resolve(path), REQUEST_SERVE);
    EXPECT_EQ(std::strlen(name), FILE_NAME_SIZE - 1);
    EXPECT_EQ(resolve(path + "a"), REQUEST_NOT_FOUND);
    // "index.html" counts too.
    std::string dir = "/" + std::string(FILE_NAME_SIZE - 1 - std::strlen(ROOT) - 12, 'd') + "/";
    EXPECT_EQ(resolve(dir), REQUEST_SERVE);
    EXPECT_EQ(resolve("/d" + dir.substr(1)), REQUEST_NOT_FOUND);
}

TEST(FileServerRequest, ContentTypes)
{
    const struct {
        const char *name;
        const char *type;
    } cases[] = {
        {"/r/app.js", "application/javascript"}, {"/r/a.HTM", "text/html"},
        {"/r/index.html", "text/html"},          {"/r/s.css", "text/css"},
        {"/r/notes.TxT", "text/plain"},
        {"/r/KTR_418s_1126_fac_up_2.0.16.img", "application/octet-stream"},
        {"/r/README", "application/octet-stream"}, {"/r/a.txt.bak", "application/octet-stream"},
        {"/r/a.", "application/octet-stream"},     {"/r.txt/file", "application/octet-stream"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(content_type_of(c.name), c.type) << c.name;
}

TEST(FileServerReply, TextsByteForByte)
{
    EXPECT_STREQ(REPLY_NOT_FOUND, "HTTP/1.0 404 Method Not Implemented\r\nServer: Httpd/0.1.2\r\n"
                                  "Content-Type: text/html\r\n\r\n<HTML><HEAD><TITLE>404 Not Found\r\n"
                                  "</TITLE></HEAD>\r\n<BODY><P>404 Not Found. File is not exist.\r\n"
                                  "</BODY></HTML>\r\n");
    EXPECT_STREQ(REPLY_NOT_IMPLEMENTED, "HTTP/1.0 501 Method Not Implemented\r\nServer: Httpd/0.1.2\r\n"
                                        "Content-Type: text/html\r\n\r\n"
                                        "<HTML><HEAD><TITLE>Method Not Implemented\r\n"
                                        "</TITLE></HEAD>\r\n<BODY><P>HTTP request method not supported.\r\n"
                                        "</BODY></HTML>\r\n");
    char head[256];
    size_t n = compose_ok_head("/r/a.img", head, sizeof head);
    EXPECT_EQ(std::string(head, n), "HTTP/1.0 200 OK\r\nServer: Httpd/0.1.2\r\n"
                                    "Content-Type: application/octet-stream;charset=UTF-8\r\n\r\n");
    EXPECT_EQ(compose_ok_head("/r/a.img", head, n), 0u);
    EXPECT_EQ(compose_ok_head("/r/a.img", head, n + 1), n);
}

// Feeds text one byte at a time, as a slow client would send it, until the head's state changes;
// returns the bytes consumed.
size_t feed_bytewise(request_head *head, const std::string &text)
{
    const head_state start = head->state;
    size_t used = 0;
    while (used < text.size() && head->state == start)
        used += request_head_feed(head, text.data() + used, 1);
    return used;
}

TEST(FileServerHead, StopsAfterTheRequestLineThenAfterTheHead)
{
    const std::string text = "GET /a.img HTTP/1.0\r\nHost: x\r\nAccept: */*\r\n\r\nbody";
    for (bool bytewise : {false, true}) {
        request_head head;
        request_head_init(&head);
        size_t used =
            bytewise ? feed_bytewise(&head, text) : request_head_feed(&head, text.data(), text.size());
        EXPECT_EQ(head.state, HEAD_HEADERS);
        EXPECT_EQ(used, 21u);
        EXPECT_STREQ(head.line, "GET /a.img HTTP/1.0");
        std::string rest = text.substr(used);
        used = bytewise ? feed_bytewise(&head, rest) : request_head_feed(&head, rest.data(), rest.size());
        EXPECT_EQ(head.state, HEAD_COMPLETE);
        EXPECT_EQ(rest.substr(used), "body");
        EXPECT_EQ(request_head_feed(&head, "x", 1), 0u);
    }
}

TEST(FileServerHead, BareLineFeedsEndLinesToo)
{
    request_head head;
    request_head_init(&head);
    const std::string text = "GET / HTTP/1.0\nHost: x\n\n";
    size_t used = request_head_feed(&head, text.data(), text.size());
    used += request_head_feed(&head, text.data() + used, text.size() - used);
    EXPECT_EQ(head.state, HEAD_COMPLETE);
    EXPECT_EQ(used, text.size());
    EXPECT_STREQ(head.line, "GET / HTTP/1.0");
}

// The request line keeps REQUEST_LINE_SIZE - 1 bytes; the rest of the line is read and dropped.
TEST(FileServerHead, OverlongRequestLineIsCut)
{
    for (size_t extra : {0u, 1u, 5000u}) {
        std::string line = "GET /" + std::string(REQUEST_LINE_SIZE - 1 - 5 + extra, 'a');
        request_head head;
        request_head_init(&head);
        std::string text = line + "\r\n\r\n";
        size_t used = feed_bytewise(&head, text);
        EXPECT_EQ(head.state, HEAD_HEADERS) << extra;
        EXPECT_EQ(used, line.size() + 2) << extra;
        EXPECT_EQ(std::string(head.line), line.substr(0, REQUEST_LINE_SIZE - 1)) << extra;
    }
}

// A head of exactly REQUEST_HEAD_LIMIT bytes is read; one byte more is too large.
TEST(FileServerHead, HeadSizeLimit)
{
    const std::string start = "GET / HTTP/1.0\r\n";
    for (size_t size : {REQUEST_HEAD_LIMIT, REQUEST_HEAD_LIMIT + 1}) {
        std::string text = start + "X: " + std::string(size - start.size() - 3 - 4, 'v') + "\r\n\r\n";
        ASSERT_EQ(text.size(), size);
        request_head head;
        request_head_init(&head);
        size_t used = request_head_feed(&head, text.data(), text.size());
        used += request_head_feed(&head, text.data() + used, text.size() - used);
        EXPECT_EQ(head.state, size == REQUEST_HEAD_LIMIT ? HEAD_COMPLETE : HEAD_TOO_LARGE) << size;
    }
    // Endless header lines end at the limit too.
    request_head head;
    request_head_init(&head);
    request_head_feed(&head, start.data(), start.size());
    const std::string line = "X-Filler: 0123456789\r\n";
    for (int i = 0; i < 5000 && head.state == HEAD_HEADERS; i++)
        request_head_feed(&head, line.data(), line.size());
    EXPECT_EQ(head.state, HEAD_TOO_LARGE);
}

// --- Sending a file over a loopback connection ---------------------------------------------------

struct socket_pair {
    socket_t server = NO_SOCKET;
    socket_t client = NO_SOCKET;
    ~socket_pair()
    {
        if (server != NO_SOCKET)
            socket_close(server);
        if (client != NO_SOCKET)
            socket_close(client);
    }
};

// A connected pair on 127.0.0.1: server is the accepted side. client_buffer > 0 shrinks the client's
// receive buffer, so that a client that stops reading stalls the sender early.
bool connect_pair(socket_pair *pair, int client_buffer)
{
    socket_t listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_value len = sizeof addr;
    bool ok = listener != NO_SOCKET && bind(listener, (sockaddr *)&addr, sizeof addr) == 0 &&
              listen(listener, 1) == 0 && getsockname(listener, (sockaddr *)&addr, &len) == 0;
    if (ok) {
        pair->client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (client_buffer > 0)
            setsockopt(pair->client, SOL_SOCKET, SO_RCVBUF, (const char *)&client_buffer,
                       sizeof client_buffer);
        ok = connect(pair->client, (sockaddr *)&addr, sizeof addr) == 0;
        if (ok)
            pair->server = accept(listener, nullptr, nullptr);
    }
    if (listener != NO_SOCKET)
        socket_close(listener);
    return ok && pair->server != NO_SOCKET;
}

std::string random_bytes(size_t n)
{
    std::mt19937 rng(20261208);
    std::string s(n, '\0');
    for (char &c : s)
        c = (char)(rng() & 0xff);
    return s;
}

// Both ways of sending, zero-copy and copying, deliver the file byte for byte.
TEST(FileServerSend, BothPathsDeliverTheFileByteForByte)
{
    test_files::scratch_dir dir;
    const std::string bytes = random_bytes(3 * 1024 * 1024 + 12345);
    ASSERT_TRUE(test_files::write_file(dir.file("f.bin"), bytes));
    ASSERT_EQ(socket_startup(), 0);
    for (bool zero_copy : {true, false}) {
        socket_pair pair;
        ASSERT_TRUE(connect_pair(&pair, 0));
        std::FILE *f = std::fopen(dir.file("f.bin").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        bool sent = false;
        std::thread sender([&] {
            sent = send_file_body(pair.server, f, 10000, zero_copy, nullptr);
            socket_close(pair.server);
            pair.server = NO_SOCKET;
        });
        std::string got;
        char buf[65536];
        for (;;) {
            auto n = recv(pair.client, buf, (int)sizeof buf, 0);
            if (n <= 0)
                break;
            got.append(buf, (size_t)n);
        }
        sender.join();
        std::fclose(f);
        EXPECT_TRUE(sent) << zero_copy;
        EXPECT_EQ(got.size(), bytes.size()) << zero_copy;
        EXPECT_TRUE(got == bytes) << zero_copy;
    }
    socket_cleanup();
}

// A client that stops reading fails the send after the limit without progress, on either path.
TEST(FileServerSend, ClientThatStopsReadingIsGivenUp)
{
    test_files::scratch_dir dir;
    ASSERT_TRUE(test_files::make_file_of_size(dir.file("big.bin"), 64ull * 1024 * 1024));
    ASSERT_EQ(socket_startup(), 0);
    for (bool zero_copy : {true, false}) {
        socket_pair pair;
        ASSERT_TRUE(connect_pair(&pair, 4096));
        socket_set_io_limit(pair.server, 300);
        std::FILE *f = std::fopen(dir.file("big.bin").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        auto start = std::chrono::steady_clock::now();
        bool sent = send_file_body(pair.server, f, 300, zero_copy, nullptr);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fclose(f);
        EXPECT_FALSE(sent) << zero_copy;
        EXPECT_LT(seconds, 10.0) << zero_copy;
    }
    socket_cleanup();
}

} // namespace
