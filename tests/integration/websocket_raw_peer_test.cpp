// The client against scripted raw TCP peers on loopback: the handshake as sent and judged, frames
// arriving split or bunched, control frames, limits, send failures, connect limits, and the
// lifetime of the client on every road that ends a connection.
#include "ws_test_support.h"

#include "platform.h"

#include <cstring>

using namespace ws_test;

namespace {

class WsRaw : public client_test {};

// Gives a time limit of the worker another value until the end of the scope, so that a test that
// shortens one, and fails half-way, never shortens it for the tests after it.
struct limit_for_test {
    int &limit;
    int saved;
    limit_for_test(int &limit_, int ms) : limit(limit_), saved(limit_) { limit = ms; }
    ~limit_for_test() { limit = saved; }
};

// The request the client sends to 127.0.0.1:port with path "/".
std::string request_for(int port)
{
    rws_client *c = rws_client_create();
    rws_client_set_url(c, "ws", "127.0.0.1", port, "/");
    char out[RWS_REQUEST_BUFFER];
    std::string request(out, rws_handshake_compose(c, out, sizeof out));
    rws_client_disconnect(c);
    return request;
}

} // namespace

TEST_F(WsRaw, HandshakeThenOwnCloseDropsQueueSendsOneCloseFrameAndNoCallback)
{
    raw_session s;
    ASSERT_TRUE(s.open);
    EXPECT_EQ(s.request, request_for(s.peer.port()));
    EXPECT_TRUE(rws_client_is_connected(s.client));
    EXPECT_STREQ(s.client->accept_value, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    // Holding state_lock keeps the worker between passes, so the queued text is still there when
    // the disconnect discards it (the lock is recursive, as the disconnect takes it too).
    rws_mutex state_lock = s.client->state_lock;
    rws_mutex_lock(state_lock);
    ASSERT_TRUE(rws_client_send_text(s.client, "never sent"));
    rws_client_disconnect(s.client);
    rws_mutex_unlock(state_lock); // the worker still holds the client
    int opcode = 0;
    std::string payload;
    bool masked = false;
    ASSERT_TRUE(s.conn->read_frame(&opcode, &payload, &masked));
    EXPECT_EQ(opcode, RWS_OP_CLOSE);
    EXPECT_TRUE(masked);
    EXPECT_EQ(payload, "1"); // the first message number; no status code
    EXPECT_TRUE(s.conn->wait_eof());
    ASSERT_TRUE(rws_thread_wait_all(3000));
    EXPECT_EQ(s.rec.disconnected, 0);
}

// Replies are judged once their header is complete, whatever reads bring it, or when the peer ends
// the connection before that; the header, its empty line included, may be 8192 bytes long.
TEST_F(WsRaw, HandshakeReplies)
{
    const std::string status = "HTTP/1.1 101 Switching Protocols\r\n";
    const std::string headers = "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: x\r\n\r\n";
    const std::string padded = status + "Sec-WebSocket-Accept: x\r\nX-Pad: ";
    const std::string longest = padded + std::string(RWS_MAX_REPLY_HEADER - padded.size() - 4, 'p') + "\r\n\r\n";
    ASSERT_EQ(longest.size(), 8192u);
    const struct {
        const char *name;
        std::string reply;
        std::string later; // sent 200 ms after the reply
        bool end;          // then the peer ends the connection
        bool opens;
        int code; // the fault when refused (0: none)
        const char *text;
    } cases[] = {
        {"no HTTP/", "SSH-2.0-peer\r\n\r\n", "", false, false, 0, ""},
        {"status 200", "HTTP/1.1 200 OK\r\nSec-WebSocket-Accept: x\r\n\r\n", "", false, false, 3, "HTPP code not found or non 101"},
        {"no accept", status + "\r\n", "", false, false, 3, "Accept key not found"},
        {"empty accept", status + "Sec-WebSocket-Accept: \r\n\r\n", "", false, false, 3, "Accept key not found"},
        {"status line, then the end", status, "", true, false, 3, "Accept key not found"},
        {"lower case", status + "sec-websocket-accept: x\r\n\r\n", "", false, true, 0, ""},
        {"canonical case", status + "Sec-Websocket-Accept: x\r\n\r\n", "", false, true, 0, ""},
        {"split reply", status, "Sec-WebSocket-Accept: x\r\n\r\n", false, true, 0, ""},
        {"status line, then the header lines", status, headers, false, true, 0, ""},
        {"the longest header", longest, "", false, true, 0, ""},
        {"one byte longer", padded + "p" + longest.substr(padded.size()), "", false, false, 3, "Accept key not found"},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        raw_session s(k.reply);
        ASSERT_TRUE(s.conn);
        if (!k.later.empty()) {
            rws_thread_sleep(200);
            s.conn->send(k.later);
        }
        if (k.end)
            s.conn->close();
        if (k.opens) {
            ASSERT_TRUE(s.rec.wait(3000, [&] { return s.rec.connected == 1; }));
            EXPECT_STREQ(s.client->accept_value, "x");
            rws_client_disconnect(s.client);
            continue;
        }
        ASSERT_TRUE(s.rec.wait_disconnected());
        EXPECT_EQ(s.rec.connected, 0);
        EXPECT_EQ(s.rec.had_fault, k.code != 0);
        EXPECT_EQ(s.rec.fault_code, k.code);
        EXPECT_EQ(s.rec.fault_text, k.text);
        if (!k.end) {
            EXPECT_TRUE(s.conn->wait_eof());
        }
        rws_client_disconnect(s.client);
    }
}

// What the server sends behind its reply, in the same read or split anywhere, is kept when it
// begins a frame; anything else there is dropped, and the frames after it still arrive.
TEST_F(WsRaw, BytesBehindTheReply)
{
    const std::string reply = ACCEPT_REPLY, hello = server_frame(0x81, "hello");
    const std::string head = reply.substr(0, reply.size() - 2); // the reply without its empty line
    const struct {
        const char *name;
        std::vector<std::string> sends; // 50 ms apart
    } cases[] = {
        {"a whole frame", {reply + hello}},
        {"a frame split after 3 bytes", {reply + hello.substr(0, 3), hello.substr(3)}},
        {"the empty line later", {head, "\r\n" + hello}},
        {"the empty line split", {head + "\r", "\n" + hello}},
        {"a stray line end", {reply + "\r\n", hello}},
        {"a stray line end in the next read", {reply, "\r\n", hello}},
        {"a bare line feed", {reply + "\n", hello}},
        {"a body", {reply + "not a frame", hello}},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        raw_session s(k.sends[0]);
        ASSERT_TRUE(s.conn);
        for (size_t i = 1; i < k.sends.size(); i++) {
            rws_thread_sleep(50);
            s.conn->send(k.sends[i]);
        }
        ASSERT_TRUE(s.rec.wait_messages(1));
        EXPECT_EQ(s.rec.connected, 1);
        rws_thread_sleep(50);
        ASSERT_EQ(s.rec.messages.size(), 1u);
        EXPECT_EQ(s.rec.messages[0].bytes, "hello");
        rws_client_disconnect(s.client);
    }
}

// Frames that arrive together with the end of the connection (an orderly close or a reset) are
// delivered, in order, before on_disconnected; an incomplete last frame is dropped. Also when the
// reply, a frame and the end come at once.
TEST_F(WsRaw, FramesThatCameWithTheEndAreDelivered)
{
    for (bool reset : {false, true}) {
        for (bool with_reply : {false, true}) {
            SCOPED_TRACE(std::string(reset ? "reset" : "close") + (with_reply ? ", with the reply" : ""));
            raw_session s("");
            ASSERT_TRUE(s.conn);
            std::string frames = server_frame(0x81, "one") + server_frame(0x81, "ok") + server_frame(0x81, "cut").substr(0, 3);
            if (with_reply) {
                s.conn->send(ACCEPT_REPLY + frames);
            } else {
                s.conn->send(ACCEPT_REPLY);
                ASSERT_TRUE(s.rec.wait(3000, [&] { return s.rec.connected == 1; }));
                s.conn->send(frames);
            }
            reset ? s.conn->reset() : s.conn->close();
            ASSERT_TRUE(s.rec.wait_disconnected());
            EXPECT_EQ(s.rec.connected, 1);
            ASSERT_EQ(s.rec.messages.size(), 2u);
            EXPECT_EQ(s.rec.messages[0].bytes, "one");
            EXPECT_EQ(s.rec.messages[1].bytes, "ok");
            EXPECT_LE(s.rec.messages[1].at, s.rec.disconnected_at);
            EXPECT_EQ(s.rec.fault_code, RWS_FAULT_SOCKET_IO);
            rws_client_disconnect(s.client);
        }
    }
}

TEST_F(WsRaw, ServerThatNeverAnswersWaitsUntilDisconnect)
{
    raw_session s("");
    ASSERT_TRUE(s.conn);
    rws_thread_sleep(300);
    EXPECT_EQ(s.client->state.load(), RWS_ST_HANDSHAKE_WAIT);
    rws_client_disconnect(s.client); // mid-handshake
    EXPECT_TRUE(s.conn->wait_eof());
    ASSERT_TRUE(rws_thread_wait_all(3000));
    EXPECT_EQ(s.rec.connected + s.rec.disconnected, 0);
}

TEST_F(WsRaw, TcpCloseAfterHandshakeIsFault4)
{
    raw_session s;
    ASSERT_TRUE(s.open);
    s.conn->close();
    ASSERT_TRUE(s.rec.wait_disconnected());
    EXPECT_EQ(s.rec.fault_code, RWS_FAULT_SOCKET_IO);
    EXPECT_EQ(s.rec.fault_text, "Failed read/write socket");
    rws_client_disconnect(s.client);
}

TEST_F(WsRaw, FramesSplitBunchedAndLarge)
{
    raw_session s;
    ASSERT_TRUE(s.open);
    // 20,000 bytes in one send: the buffer grows by exactly what each read brings (8192, 8192,
    // 3616) beyond what the handshake reply left in it.
    std::string burst = server_frame(0x81, pattern(20000 - 4));
    ASSERT_EQ(burst.size(), 20000u);
    s.conn->send(burst);
    ASSERT_TRUE(s.rec.wait_messages(1));
    EXPECT_EQ(s.rec.messages[0].bytes, pattern(19996));
    EXPECT_EQ(s.rec.messages[0].rx_capacity, std::strlen(ACCEPT_REPLY) + 20000u);
    // Two frames in one read: handled in two passes.
    s.conn->send(server_frame(0x81, "one") + server_frame(0x81, "two"));
    ASSERT_TRUE(s.rec.wait_messages(3));
    EXPECT_EQ(s.rec.messages[1].bytes, "one");
    EXPECT_EQ(s.rec.messages[2].bytes, "two");
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(s.rec.messages[2].at - s.rec.messages[1].at).count(), 4);
    // Three bytes at a time.
    std::string slow = server_frame(0x81, pattern(300));
    for (size_t i = 0; i < slow.size(); i += 3) {
        s.conn->send(slow.substr(i, 3));
        rws_thread_sleep(1);
    }
    ASSERT_TRUE(s.rec.wait_messages(4));
    EXPECT_EQ(s.rec.messages[3].bytes, pattern(300));
    rws_client_disconnect(s.client);
}

TEST_F(WsRaw, FrameSizeLimit)
{
    raw_session s;
    ASSERT_TRUE(s.open);
    // A frame declared one byte over the limit is refused as soon as its header is in.
    std::string header = server_frame(0x82, std::string(RWS_MAX_FRAME_SIZE - 9, 'z')).substr(0, 10);
    s.conn->send(header);
    ASSERT_TRUE(s.rec.wait_disconnected());
    EXPECT_EQ(s.rec.fault_code, RWS_FAULT_TOO_LARGE);
    EXPECT_EQ(s.rec.fault_text, "Frame or message larger than 16 MiB");
    int opcode = 0;
    std::string payload;
    ASSERT_TRUE(s.conn->read_frame(&opcode, &payload)); // the client said goodbye
    EXPECT_EQ(opcode, RWS_OP_CLOSE);
    rws_client_disconnect(s.client);
}

TEST_F(WsRaw, PingsBothWays)
{
    steady::time_point start = steady::now();
    raw_session s;
    ASSERT_TRUE(s.open);
    s.conn->send(server_frame(0x89, "hi"));
    int opcode = 0;
    std::string payload;
    bool masked = false;
    ASSERT_TRUE(s.conn->read_frame(&opcode, &payload, &masked));
    EXPECT_EQ(opcode, RWS_OP_PONG);
    EXPECT_TRUE(masked);
    EXPECT_EQ(payload, "hi");
    // The client's first ping comes on the 400th pass of 5 ms, about 2 s after the worker started.
    ASSERT_TRUE(s.conn->read_frame(&opcode, &payload, &masked, 6000));
    EXPECT_EQ(opcode, RWS_OP_PING);
    EXPECT_EQ(payload, "1");
    EXPECT_GE(ms_since(start), 1900);
    rws_client_disconnect(s.client);
}

TEST_F(WsRaw, CloseFrameFromServerThenApplicationCloses)
{
    raw_session s;
    ASSERT_TRUE(s.open);
    s.conn->send(server_frame(0x88, std::string("\x03\xe8", 2)));
    int opcode = 0;
    std::string payload;
    ASSERT_TRUE(s.conn->read_frame(&opcode, &payload));
    steady::time_point answered = steady::now();
    EXPECT_EQ(opcode, RWS_OP_CLOSE);
    ASSERT_TRUE(s.rec.wait_disconnected());
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(s.rec.disconnected_at - answered).count(), 150);
    EXPECT_EQ(s.rec.fault_code, RWS_FAULT_PEER_CLOSED);
    EXPECT_EQ(s.rec.fault_text, "Connection was closed by endpoint");
    EXPECT_NE(s.rec.callback_thread, std::this_thread::get_id());
    ASSERT_TRUE(rws_thread_wait_all(3000));
    EXPECT_EQ(rws_live_clients(), 1); // the worker has ended; the client waits for the application
    EXPECT_EQ(rws_fault_code(rws_client_get_error(s.client)), RWS_FAULT_PEER_CLOSED);
    rws_client_disconnect(s.client); // as the driver does when its wait ends
    EXPECT_EQ(rws_live_clients(), 0);
}

TEST_F(WsRaw, ApplicationClosesAtTheInstantTheServerCloses)
{
    for (int delay = 0; delay <= 8; delay++) {
        SCOPED_TRACE(delay);
        raw_session s;
        ASSERT_TRUE(s.open);
        s.conn->send(server_frame(0x88, ""));
        rws_thread_sleep(delay);
        rws_client_disconnect(s.client);
        ASSERT_TRUE(rws_thread_wait_all(3000));
        EXPECT_LE(s.rec.disconnected, 1);
        EXPECT_EQ(rws_live_clients(), 0);
    }
}

TEST_F(WsRaw, PartialSendsAreCompleted)
{
    raw_session s;
    ASSERT_TRUE(s.open);
    std::string big = pattern(12 * 1024 * 1024); // more than the socket buffers hold
    ASSERT_TRUE(rws_client_send_text(s.client, big.c_str()));
    rws_thread_sleep(500); // the client is now waiting for room
    int opcode = 0;
    std::string payload;
    ASSERT_TRUE(s.conn->read_frame(&opcode, &payload, nullptr, 10000));
    EXPECT_EQ(opcode, RWS_OP_TEXT);
    EXPECT_TRUE(payload == big);
    rws_client_disconnect(s.client);
}

TEST_F(WsRaw, StalledSendEndsWithFault4)
{
    limit_for_test short_stall(g_rws_waits.send_ms, 300);
    raw_session s;
    ASSERT_TRUE(s.open);
    std::string big = pattern(32 * 1024 * 1024); // more than the socket buffers hold; the peer never reads
    ASSERT_TRUE(rws_client_send_text(s.client, big.c_str()));
    steady::time_point start = steady::now();
    ASSERT_TRUE(s.rec.wait_disconnected(10000));
    EXPECT_LT(ms_since(start), 3000); // one stall of 300 ms, then the close step's 200 ms
    EXPECT_EQ(s.rec.fault_code, RWS_FAULT_SOCKET_IO);
    EXPECT_EQ(s.rec.fault_text, "Failed read/write socket");
    rws_client_disconnect(s.client);
}

// Writing to a connection the peer has closed fails the send; no signal ends the process.
TEST_F(WsRaw, SendToClosedPeerFailsWithoutSignal)
{
    raw_peer peer;
    socket_t s = connect_loopback(peer.port());
    ASSERT_NE(s, NO_SOCKET);
    peer.accept()->close();
    rws_client *c = rws_client_create();
    c->socket = s;
    ASSERT_EQ(socket_startup(), 0); // rws_close_socket ends one start of the socket service
    bool sent = true;
    for (int i = 0; i < 50 && sent; i++) {
        sent = rws_send_bytes(c, "abc", 3);
        rws_thread_sleep(10);
    }
    EXPECT_FALSE(sent);
    EXPECT_EQ(rws_fault_code(rws_client_get_error(c)), RWS_FAULT_SOCKET_IO);
    std::string text = rws_fault_text(rws_client_get_error(c));
    EXPECT_TRUE(text == system_error_text(SOCK_ERR_PIPE) || text == system_error_text(SOCK_ERR_RESET)) << text;
    EXPECT_EQ(c->socket, NO_SOCKET);
    rws_client_disconnect(c);
}

TEST_F(WsRaw, ConnectFailures)
{
    // A refused port: four passes 200 ms apart, then fault 5.
    int closed_port;
    {
        raw_peer gone;
        closed_port = gone.port();
    }
    recorder refused;
    steady::time_point start = steady::now();
    rws_client *refused_client = start_client(refused, closed_port);
    ASSERT_TRUE(refused.wait_disconnected());
    EXPECT_GE(ms_since(start), 750);
    EXPECT_EQ(refused.fault_code, RWS_FAULT_CONNECT);
    EXPECT_EQ(refused.fault_text, "Failed connect to host");
    rws_client_disconnect(refused_client);

    // A listener whose queue is full answers no SYN: each connect ends at the time limit.
    limit_for_test short_connect(g_rws_waits.connect_ms, 200);
    raw_peer silent(0);
    std::vector<socket_t> fillers;
    for (int i = 0; i < 3; i++)
        fillers.push_back(connect_loopback(silent.port(), true));
    rws_thread_sleep(100);
    recorder timed_out;
    start = steady::now();
    rws_client *timed_out_client = start_client(timed_out, silent.port());
    ASSERT_TRUE(timed_out.wait_disconnected());
    EXPECT_GE(ms_since(start), 4 * 200);
    EXPECT_LT(ms_since(start), 4000);
    EXPECT_EQ(timed_out.fault_code, RWS_FAULT_CONNECT);
    EXPECT_EQ(timed_out.fault_text, "Failed connect to host");
    rws_client_disconnect(timed_out_client);

    // Closing while connecting ends the worker at once, silently.
    g_rws_waits.connect_ms = RWS_REAL_WAITS.connect_ms;
    recorder closing;
    rws_client *c = start_client(closing, silent.port());
    rws_thread_sleep(300);
    start = steady::now();
    rws_client_disconnect(c);
    EXPECT_LT(ms_since(start), 500);
    ASSERT_TRUE(rws_thread_wait_all(3000));
    EXPECT_EQ(closing.connected + closing.disconnected, 0);
    for (socket_t f : fillers)
        socket_close(f);
}
