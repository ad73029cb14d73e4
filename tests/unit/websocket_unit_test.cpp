// The WebSocket client without a network: frame codec byte for byte, message assembly and
// delivery, the handshake request and the judgement of replies, configuration checks.
#include "rws_private.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string bytes_of(const rws_packet *p) { return std::string((const char *)p->data, p->size); }

// Unmasks the payload of an outgoing frame.
std::string unmasked_payload(const rws_packet *p)
{
    std::string out((const char *)p->data + p->header_size, p->size - p->header_size);
    for (size_t i = 0; i < out.size(); i++)
        out[i] = (char)(out[i] ^ p->mask[i % 4]);
    return out;
}

rws_packet *built(int opcode, const std::string &payload, bool masked = true)
{
    rws_packet *p = rws_packet_new();
    p->opcode = opcode;
    p->is_masked = masked;
    rws_packet_build(p, payload.data(), (uint32_t)payload.size());
    return p;
}

// Messages handed to the callbacks of the client under test.
std::vector<std::pair<int, std::string>> delivered;
void record_text(rws_client *, const char *d, uint32_t n) { delivered.push_back({1, std::string(d, n)}); }
void record_binary(rws_client *, const char *d, uint32_t n) { delivered.push_back({2, std::string(d, n)}); }

// A client record that frames are dispatched into directly, as the worker does.
struct offline_client {
    rws_client *c = rws_client_create();
    offline_client()
    {
        delivered.clear();
        rws_client_set_on_text(c, record_text);
        rws_client_set_on_binary(c, record_binary);
    }
    ~offline_client() { rws_client_disconnect(c); }
    // Parses the server frame and dispatches it.
    void feed(const std::string &frame)
    {
        const uint8_t *b = (const uint8_t *)frame.data();
        ASSERT_EQ(rws_packet_wire_size(b, frame.size()), frame.size());
        rws_dispatch(c, rws_packet_parse(b, frame.size()));
    }
};

std::string frame(int b0, const std::string &payload) { return std::string(1, (char)b0) + (char)payload.size() + payload; }

} // namespace

TEST(WsFrames, OutgoingHeaders)
{
    const struct {
        int opcode;
        size_t length;
        std::string header; // up to the masking key
    } cases[] = {
        {RWS_OP_TEXT, 0, "\x81\x80"},
        {RWS_OP_TEXT, 125, "\x81\xfd"},
        {RWS_OP_TEXT, 126, std::string("\x81\xfe\x00\x7e", 4)},
        {RWS_OP_TEXT, 65535, std::string("\x81\xfe\xff\xff", 4)},
        {RWS_OP_TEXT, 65536, std::string("\x81\xff\x00\x00\x00\x00\x00\x01\x00\x00", 10)},
        {RWS_OP_PING, 1, "\x89\x81"},
        {RWS_OP_PONG, 1, "\x8a\x81"},
        {RWS_OP_CLOSE, 1, "\x88\x81"},
    };
    for (const auto &k : cases) {
        std::string payload(k.length, 'x');
        rws_packet *p = built(k.opcode, payload);
        SCOPED_TRACE(k.length);
        EXPECT_EQ(bytes_of(p).substr(0, k.header.size()), k.header);
        EXPECT_EQ(p->header_size, k.header.size() + 4);
        EXPECT_EQ(p->size, p->header_size + k.length);
        EXPECT_EQ(std::memcmp(p->data + k.header.size(), p->mask, 4), 0);
        EXPECT_EQ(unmasked_payload(p), payload);
        EXPECT_TRUE(p->is_final);
        rws_packet_free(p);
    }
}

TEST(WsFrames, MaskingWithKnownKeyAndKeyRange)
{
    rws_packet *p = rws_packet_new();
    const uint8_t key[4] = {0x37, 0xfa, 0x21, 0x3d};
    std::memcpy(p->mask, key, 4);
    p->opcode = RWS_OP_TEXT;
    p->is_masked = true;
    rws_packet_build(p, "Hello", 5);
    // The example of RFC 6455, section 5.7.
    EXPECT_EQ(bytes_of(p), std::string("\x81\x85\x37\xfa\x21\x3d\x7f\x9f\x4d\x51\x58", 11));
    rws_packet_free(p);
    // Keys are (r1 / 16383 + 1) * r2 with 15-bit draws: never above 3 * 32767.
    for (int i = 0; i < 200; i++) {
        rws_packet *q = rws_packet_new();
        uint32_t k = (uint32_t)q->mask[0] | (uint32_t)q->mask[1] << 8 | (uint32_t)q->mask[2] << 16 |
                     (uint32_t)q->mask[3] << 24;
        EXPECT_LE(k, 3u * 32767u);
        rws_packet_free(q);
    }
}

TEST(WsFrames, IncomingSizesAndParsing)
{
    const std::string abc = "\x81\x03" "abc";
    const std::string long_form = std::string("\x82\x7f\x12\x34\x56\x78\x00\x00\x00\x02", 10) + "xy";
    const std::string masked = std::string("\x81\x83\x01\x02\x03\x04", 6) + std::string("\x60\x60\x60", 3);
    const struct {
        std::string bytes;
        uint64_t wire_size;
    } sizes[] = {
        {"", 0}, {"\x81", 0}, {abc.substr(0, 3), 0}, {abc, 5}, {abc + "\x81", 5},
        {long_form, 12}, {long_form.substr(0, 11), 0}, {std::string("\x81\x7e\x00", 3), 0},
    };
    for (const auto &k : sizes)
        EXPECT_EQ(rws_packet_wire_size((const uint8_t *)k.bytes.data(), k.bytes.size()), k.wire_size) << k.bytes.size();

    rws_packet *p = rws_packet_parse((const uint8_t *)abc.data(), 5);
    EXPECT_EQ(p->opcode, RWS_OP_TEXT);
    EXPECT_TRUE(p->is_final);
    EXPECT_EQ(bytes_of(p), "abc");
    rws_packet_free(p);
    p = rws_packet_parse((const uint8_t *)long_form.data(), 12); // bytes 2 to 5 are not part of the length
    EXPECT_EQ(bytes_of(p), "xy");
    EXPECT_EQ(p->header_size, 10);
    rws_packet_free(p);
    p = rws_packet_parse((const uint8_t *)masked.data(), 9); // a masked server frame is accepted
    EXPECT_EQ(bytes_of(p), "abc");
    rws_packet_free(p);
    EXPECT_EQ(rws_packet_parse(nullptr, 5), nullptr);
    EXPECT_EQ(rws_packet_parse((const uint8_t *)"\x81", 1), nullptr);
    uint64_t declared = 0;
    EXPECT_TRUE(rws_packet_declared_size((const uint8_t *)long_form.data(), 10, &declared));
    EXPECT_EQ(declared, 12u);
}

TEST(WsFrames, SizeLimitBoundary)
{
    // Headers only: 10 bytes of header plus the declared payload make the frame's size.
    auto header = [](uint32_t payload, bool masked) {
        std::string h = std::string("\x82", 1) + (char)(masked ? 0xff : 0x7f) + std::string(4, '\x01');
        for (int i = 3; i >= 0; i--)
            h += (char)(payload >> (8 * i));
        return masked ? h + "mask" : h;
    };
    const struct {
        uint32_t payload;
        bool masked;
        bool over;
    } cases[] = {
        {RWS_MAX_FRAME_SIZE - 10, false, false}, {RWS_MAX_FRAME_SIZE - 9, false, true},
        {RWS_MAX_FRAME_SIZE - 14, true, false},  {RWS_MAX_FRAME_SIZE - 13, true, true},
        {0xffffffffu, false, true},
    };
    for (const auto &k : cases) {
        std::string h = header(k.payload, k.masked);
        EXPECT_EQ(rws_packet_over_limit((const uint8_t *)h.data(), h.size()), k.over) << k.payload;
        EXPECT_FALSE(rws_packet_over_limit((const uint8_t *)h.data(), h.size() - 1)); // header not complete
    }
}

TEST(WsAssembly, MessagesFromFrames)
{
    const struct {
        const char *name;
        std::vector<std::string> frames;
        std::vector<std::pair<int, std::string>> expected;
    } cases[] = {
        {"single text", {frame(0x81, "abc")}, {{1, "abc"}}},
        {"fragments", {frame(0x01, "ab"), frame(0x80, "c")}, {{1, "abc"}}},
        {"empty final continuation", {frame(0x01, "ab"), frame(0x80, "")}, {{1, "ab"}}},
        {"empty text", {frame(0x81, "")}, {}},
        {"empty first fragment dropped", {frame(0x01, ""), frame(0x80, "c")}, {}},
        {"continuation alone", {frame(0x80, "zz")}, {}},
        {"binary", {frame(0x82, "\x01\x02")}, {{2, "\x01\x02"}}},
        {"control between fragments", {frame(0x01, "a"), frame(0x8a, "p"), frame(0x80, "b")}, {{1, "ab"}}},
        {"unknown opcode", {frame(0x83, "q")}, {}},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        offline_client oc;
        for (const std::string &f : k.frames)
            oc.feed(f);
        rws_deliver(oc.c);
        EXPECT_EQ(delivered, k.expected);
        EXPECT_EQ(oc.c->rx_messages, nullptr);
    }
}

TEST(WsAssembly, FinishedMessageBehindUnfinishedOneIsDeliveredAtOnce)
{
    offline_client oc;
    oc.feed(frame(0x01, "ab"));   // pending text
    oc.feed(frame(0x80, "c"));    // completes it
    oc.feed(frame(0x01, "de"));   // a new pending message
    rws_deliver(oc.c);
    EXPECT_EQ(delivered, (std::vector<std::pair<int, std::string>>{{1, "abc"}}));
    ASSERT_NE(oc.c->rx_messages, nullptr); // the pending one stays
    oc.feed(frame(0x80, "f"));
    rws_deliver(oc.c);
    EXPECT_EQ(delivered.back(), (std::pair<int, std::string>{1, "def"}));
    EXPECT_EQ(oc.c->rx_messages, nullptr);
}

TEST(WsAssembly, ControlFrames)
{
    offline_client oc;
    oc.feed(frame(0x89, "x"));
    ASSERT_NE(oc.c->tx_queue, nullptr);
    rws_packet *pong = oc.c->tx_queue->value;
    EXPECT_EQ(pong->data[0], 0x8a);
    EXPECT_EQ(pong->data[1], 0x81);
    EXPECT_EQ(unmasked_payload(pong), "x");
    oc.feed(std::string("\x88\x02\x03\xe8", 4));
    EXPECT_EQ(oc.c->state.load(), RWS_ST_DROPPED);
    EXPECT_EQ(rws_fault_code(rws_client_get_error(oc.c)), RWS_FAULT_PEER_CLOSED);
    EXPECT_STREQ(rws_fault_text(rws_client_get_error(oc.c)), "Connection was closed by endpoint");
}

TEST(WsAssembly, MessageOverTheLimitEndsTheConnection)
{
    offline_client oc;
    std::string half(RWS_MAX_FRAME_SIZE / 2, 'a');
    rws_packet *first = built(RWS_OP_TEXT, half, false);
    first->data[0] = 0x01; // not final
    oc.feed(bytes_of(first));
    oc.feed(bytes_of(first) .replace(0, 1, "\x00", 1)); // continuation: exactly the limit
    EXPECT_EQ(oc.c->state.load(), RWS_ST_NEW);
    oc.feed(frame(0x80, "z")); // one byte more
    EXPECT_EQ(oc.c->state.load(), RWS_ST_DROPPED);
    EXPECT_EQ(rws_fault_code(rws_client_get_error(oc.c)), RWS_FAULT_TOO_LARGE);
    rws_packet_free(first);
}

TEST(WsAssembly, MessageNumbersForPingsAndCloses)
{
    offline_client oc;
    rws_packet *ping1 = rws_make_control(oc.c, RWS_OP_PING);
    rws_packet *ping2 = rws_make_control(oc.c, RWS_OP_PING);
    rws_packet *close = rws_make_control(oc.c, RWS_OP_CLOSE);
    EXPECT_EQ(unmasked_payload(ping1), "1");
    EXPECT_EQ(unmasked_payload(ping2), "2");
    EXPECT_EQ(close->data[0], 0x88);
    EXPECT_EQ(unmasked_payload(close), "3");
    for (rws_packet *p : {ping1, ping2, close})
        rws_packet_free(p);
    oc.c->message_counter = 9999999;
    EXPECT_EQ(rws_next_message_id(oc.c), 10000000u);
    EXPECT_EQ(rws_next_message_id(oc.c), 1u);
}

TEST(WsHandshake, RequestForTheCamera)
{
    rws_client *c = rws_client_create();
    rws_client_set_url(c, "ws", "192.168.88.1", 9999, "/");
    char out[RWS_REQUEST_BUFFER];
    size_t n = rws_handshake_compose(c, out, sizeof out);
    const std::string expected = "GET / HTTP/1.1\r\nHost: 192.168.88.1:9999\r\nUpgrade: websocket\r\n"
                                 "Connection: Upgrade\r\nOrigin: ws://192.168.88.1\r\n"
                                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                 "Sec-WebSocket-Protocol: chat, superchat\r\nSec-WebSocket-Version: 13\r\n\r\n";
    EXPECT_EQ(n, 224u);
    EXPECT_EQ(std::string(out, n), expected);
    rws_client_set_port(c, 80);
    n = rws_handshake_compose(c, out, sizeof out);
    EXPECT_NE(std::string(out, n).find("\r\nHost: 192.168.88.1\r\nUpgrade"), std::string::npos);
    rws_client_disconnect(c);
}

TEST(WsHandshake, ReplyJudgement)
{
    const std::string status = "HTTP/1.1 101 Switching Protocols\r\n";
    const struct {
        std::string reply;
        rws_reply_verdict verdict;
        const char *accept;
    } cases[] = {
        {status + "Sec-WebSocket-Accept: abc=\r\n\r\n", RWS_REPLY_ACCEPTED, "abc="},
        {status + "Sec-WebSocket-Accept:x\r\n\r\n\x81\x01z", RWS_REPLY_ACCEPTED, "x"},
        {"junk HTTP/1.1 0x65\r\nSec-WebSocket-Accept: : k", RWS_REPLY_ACCEPTED, "k"},
        {"HTTP/1.1 200 OK\r\nSec-WebSocket-Accept: abc\r\n\r\n", RWS_REPLY_BAD_STATUS, "abc"},
        {"HTTP/1.1 ok\r\n\r\n", RWS_REPLY_BAD_STATUS, nullptr},
        {status + "\r\n", RWS_REPLY_NO_ACCEPT, nullptr},
        {status + "sec-websocket-accept: abc\r\n\r\n", RWS_REPLY_ACCEPTED, "abc"},
        {status + "Sec-Websocket-Accept: abc\r\n\r\n", RWS_REPLY_ACCEPTED, "abc"},
        {status + "Sec-WebSocket-Accept: \r\n\r\n", RWS_REPLY_NO_ACCEPT, nullptr},
        {status, RWS_REPLY_NO_ACCEPT, nullptr}, // the peer ended the connection after its status line
        {status + "\r\nSec-WebSocket-Accept: x\r\n\r\n", RWS_REPLY_NO_ACCEPT, nullptr}, // behind the header
        {"SSH-2.0-server\r\n", RWS_REPLY_NO_HTTP, nullptr},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.reply);
        char *accept = nullptr;
        EXPECT_EQ(rws_handshake_judge((const uint8_t *)k.reply.data(), k.reply.size(), &accept), k.verdict);
        EXPECT_EQ(accept ? std::string(accept) : "<none>", k.accept ? k.accept : "<none>");
        rws_release(accept);
    }
}

// The header ends with its first empty line, the line ends LF or CR LF; 0 while it has not.
TEST(WsHandshake, ReplyHeaderLength)
{
    const struct {
        std::string bytes;
        size_t length;
    } cases[] = {
        {"HTTP/1.1 101 x\r\nA: b\r\n\r\n\x81", 24},
        {"HTTP/1.1 101 x\nA: b\n\n", 21},
        {"HTTP/1.1 101 x\nA: b\n\r\n", 22},
        {"HTTP/1.1 101 x\r\nA: b\r\n\r", 0},
        {"HTTP/1.1 101 x\r\nA: b\r\r\n", 0},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.bytes);
        EXPECT_EQ(rws_reply_header_length((const uint8_t *)k.bytes.data(), k.bytes.size()), k.length);
    }
}

TEST(WsClient, ConfigurationChecks)
{
    const std::string host155(155, 'h');
    const struct {
        const char *scheme, *host, *path;
        int port;
        bool callback;
        const char *text; // null: accepted
    } cases[] = {
        {nullptr, nullptr, nullptr, -1, false, "No on_disconnected callback provided"},
        {"ws", nullptr, "/", 9999, true, "No URL host provided"},
        {"ws", "", "/", 9999, true, "No URL host provided"},
        {"ws", "h", "/", 0, true, "No URL port provided"},
        {"ws", "h", "/", -5, true, "No URL port provided"},
        {"", "h", "/", 9999, true, "No URL scheme provided"},
        {"", "h", nullptr, 0, true, "No URL path provided"},
        // 200 fixed characters with these parts, plus twice the host and the path beyond "/".
        {"ws", host155.c_str(), "/a", 9999, true, nullptr},  // 511 bytes and the terminator: fits
        {"ws", host155.c_str(), "/ab", 9999, true, "Handshake request longer than 512 bytes"},
    };
    for (const auto &k : cases) {
        rws_client *c = rws_client_create();
        rws_client_set_url(c, k.scheme, k.host, k.port, k.path);
        if (k.callback)
            rws_client_set_on_disconnected(c, [](rws_client *) {});
        if (k.text) {
            EXPECT_FALSE(rws_client_connect(c));
            EXPECT_EQ(rws_fault_code(rws_client_get_error(c)), RWS_FAULT_CONFIG);
            EXPECT_STREQ(rws_fault_text(rws_client_get_error(c)), k.text);
        } else {
            char out[RWS_REQUEST_BUFFER + 8];
            EXPECT_EQ(rws_handshake_compose(c, out, sizeof out), RWS_REQUEST_BUFFER - 1);
        }
        rws_client_disconnect(c); // refused or never started: released at once
    }
    EXPECT_EQ(rws_live_clients(), 0);
}

TEST(WsClient, NullArgumentsAndQueueBeforeConnect)
{
    EXPECT_EQ(rws_client_get_port(nullptr), -1);
    EXPECT_EQ(rws_fault_code(nullptr), 0);
    EXPECT_EQ(rws_fault_text(nullptr), nullptr);
    EXPECT_FALSE(rws_client_connect(nullptr));
    EXPECT_FALSE(rws_client_send_text(nullptr, "abc"));
    rws_client_disconnect(nullptr);
    rws_client *c = rws_client_create();
    rws_client_set_scheme(c, "");
    EXPECT_EQ(rws_client_get_scheme(c), nullptr);
    EXPECT_FALSE(rws_client_send_text(c, ""));
    EXPECT_FALSE(rws_client_send_text(c, nullptr));
    EXPECT_EQ(c->tx_queue, nullptr);
    EXPECT_TRUE(rws_client_send_text(c, "abc"));
    ASSERT_NE(c->tx_queue, nullptr);
    EXPECT_EQ(c->tx_queue->value->data[0], 0x81);
    EXPECT_EQ(unmasked_payload(c->tx_queue->value), "abc");
    EXPECT_FALSE(rws_client_is_connected(c));
    // A text whose frame size would pass 32 bits is refused.
    EXPECT_TRUE(rws_text_fits(UINT32_MAX - 14));
    EXPECT_FALSE(rws_text_fits(UINT32_MAX - 13));
    // A second connect is refused without touching what the running worker owns: its fault.
    c->state = RWS_ST_IDLE;
    rws_fault_set(c, RWS_FAULT_SOCKET_IO, "kept");
    rws_fault *fault = rws_client_get_error(c);
    EXPECT_FALSE(rws_client_connect(c));
    EXPECT_EQ(rws_client_get_error(c), fault);
    EXPECT_STREQ(rws_fault_text(fault), "kept");
    rws_client_disconnect(c);
    EXPECT_EQ(rws_live_clients(), 0);
}
