// The client and the command channel against a server we did not write: the ws package's server
// (tools/ws_peer), started once per test run; its port is in the file named by WS_PEER_PORT_FILE.
#include "ws_test_support.h"

#include "device_channel.h"

#include <cstdlib>
#include <fstream>

using namespace ws_test;

namespace {

int peer_port()
{
    const char *file = std::getenv("WS_PEER_PORT_FILE");
    int port = 0;
    if (file) {
        std::ifstream in(file);
        in >> port;
    }
    return port;
}

class WsPeer : public client_test {
protected:
    void SetUp() override
    {
        client_test::SetUp();
        port = peer_port();
        ASSERT_GT(port, 0) << "no ws peer: run these through ctest";
    }
    int port = 0;
};

// A watch id of its own for each test process, so parallel runs never read each other's records.
std::string watch_id() { return std::to_string((long)steady::now().time_since_epoch().count() % 1000000007L); }

} // namespace

TEST_F(WsPeer, ExchangesTextsBothWays)
{
    recorder rec;
    rws_client *c = start_client(rec, port, "/echo");
    ASSERT_TRUE(rec.wait(3000, [&] { return rec.connected == 1; }));
    std::string text = pattern(300);
    ASSERT_TRUE(rws_client_send_text(c, text.c_str()));
    ASSERT_TRUE(rws_client_send_text(c, "second"));
    ASSERT_TRUE(rec.wait_messages(2));
    EXPECT_EQ(rec.messages[0].opcode, 1);
    EXPECT_EQ(rec.messages[0].bytes, text);
    EXPECT_EQ(rec.messages[1].bytes, "second");
    rws_client_disconnect(c);
}

TEST_F(WsPeer, ReceivesLargeBinaryAndFragmentedMessages)
{
    recorder rec;
    rws_client *c = start_client(rec, port, "/big");
    ASSERT_TRUE(rec.wait_messages(3, 10000));
    EXPECT_EQ(rec.messages[0].bytes.size(), 300u);
    EXPECT_EQ(rec.messages[1].bytes.size(), 1000000u);
    EXPECT_EQ(rec.messages[1].bytes.substr(0, 4), "dkry"); // (i * 7 + 3) mod 26 from 'a'
    EXPECT_EQ(rec.messages[2].opcode, 2);
    EXPECT_EQ(rec.messages[2].bytes, std::string("\x01\x02\x03", 3));
    rws_client_disconnect(c);

    recorder frag;
    c = start_client(frag, port, "/fragment");
    ASSERT_TRUE(frag.wait_messages(2));
    EXPECT_EQ(frag.messages[0].bytes, "abc");
    EXPECT_EQ(frag.messages[1].bytes, "done");
    rws_client_disconnect(c);
}

TEST_F(WsPeer, AnswersPings)
{
    recorder rec;
    rws_client *c = start_client(rec, port, "/ping");
    ASSERT_TRUE(rec.wait_messages(1));
    EXPECT_EQ(rec.messages[0].bytes, "pong:srv-ping");
    rws_client_disconnect(c);
}

TEST_F(WsPeer, ClosedByServer)
{
    recorder rec;
    rws_client *c = start_client(rec, port, "/close");
    ASSERT_TRUE(rec.wait_disconnected());
    EXPECT_EQ(rec.connected, 1);
    EXPECT_EQ(rec.fault_code, RWS_FAULT_PEER_CLOSED);
    EXPECT_EQ(rec.fault_text, "Connection was closed by endpoint");
    rws_client_disconnect(c);
}

TEST_F(WsPeer, ClosesItselfWithoutCallback)
{
    std::string id = watch_id();
    recorder rec;
    rws_client *c = start_client(rec, port, ("/watch?id=" + id).c_str());
    ASSERT_TRUE(rec.wait(3000, [&] { return rec.connected == 1; }));
    rws_client_send_text(c, "hi");
    rws_thread_sleep(100);
    rws_client_disconnect(c);
    ASSERT_TRUE(rws_thread_wait_all(3000));
    EXPECT_EQ(rec.disconnected, 0);

    // The server saw the text, then the client's close frame, whose payload (a message number and
    // no status code) it rejects as malformed.
    recorder report;
    c = start_client(report, port, ("/report?id=" + id).c_str());
    ASSERT_TRUE(report.wait_messages(1));
    EXPECT_EQ(report.messages[0].bytes.substr(0, 6), "error:") << report.messages[0].bytes;
    EXPECT_NE(report.messages[0].bytes.find(";texts:hi"), std::string::npos) << report.messages[0].bytes;
    rws_client_disconnect(c);
}


TEST_F(WsPeer, CommandChannel)
{
    recorder rec;
    default_recorder = &rec;
    ASSERT_EQ(device_channel_open("127.0.0.1", port, on_disconnected, on_connected, on_text, on_binary), 0);
    // Sent before the connection is open: it goes out once it is.
    EXPECT_EQ(device_channel_send("{\"cmd\":\"pc_firmware_up\"}"), 0);
    EXPECT_EQ(device_channel_send(""), -1);
    ASSERT_TRUE(rec.wait_messages(1));
    EXPECT_EQ(rec.connected, 1);
    EXPECT_EQ(rec.messages[0].bytes, "{\"cmd\":\"pc_firmware_up\"}");
    EXPECT_EQ(device_channel_close(), 0);
    EXPECT_EQ(device_channel_send("late"), -1);
    EXPECT_EQ(device_channel_close(), 0);
    ASSERT_TRUE(rws_thread_wait_all(3000));
    EXPECT_EQ(rec.disconnected, 0);
}

TEST_F(WsPeer, CommandChannelRefusals)
{
    recorder rec;
    default_recorder = &rec;
    const struct {
        const char *address;
        int port;
        const char *text;
    } cases[] = {{"", 9999, "No URL host provided"}, {"127.0.0.1", 0, "No URL port provided"}};
    for (const auto &k : cases) {
        ASSERT_EQ(device_channel_open(k.address, k.port, on_disconnected, on_connected, on_text, on_binary), 0);
        EXPECT_EQ(rws_fault_code(rws_client_get_error(g_ws_client)), RWS_FAULT_CONFIG);
        EXPECT_STREQ(rws_fault_text(rws_client_get_error(g_ws_client)), k.text);
        device_channel_close();
    }
    rws_thread_sleep(300);
    EXPECT_EQ(rec.connected + rec.disconnected, 0);

    // A port where nothing listens: on_disconnected on the worker thread, code 5.
    int closed_port;
    {
        raw_peer gone;
        closed_port = gone.port();
    }
    ASSERT_EQ(device_channel_open("127.0.0.1", closed_port, on_disconnected, on_connected, on_text, on_binary), 0);
    ASSERT_TRUE(rec.wait_disconnected());
    EXPECT_EQ(rec.fault_code, RWS_FAULT_CONNECT);
    EXPECT_EQ(rec.fault_text, "Failed connect to host");
    EXPECT_NE(rec.callback_thread, std::this_thread::get_id());
    device_channel_close();
}

TEST_F(WsPeer, ServerClosesThenChannelCloses)
{
    recorder rec;
    default_recorder = &rec;
    ASSERT_EQ(device_channel_open("127.0.0.1", port, on_disconnected, on_connected, on_text, on_binary), 0);
    ASSERT_TRUE(rec.wait(3000, [&] { return rec.connected == 1; }));
    EXPECT_EQ(device_channel_send("close me"), 0); // the peer's "/" closes on request
    ASSERT_TRUE(rec.wait_disconnected());
    EXPECT_EQ(rec.fault_code, RWS_FAULT_PEER_CLOSED);
    ASSERT_TRUE(rws_thread_wait_all(3000));
    EXPECT_EQ(device_channel_close(), 0); // the camera closed first, as when it reboots
}
