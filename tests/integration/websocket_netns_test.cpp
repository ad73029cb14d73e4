// A host name that cannot be resolved. Runs only inside a network namespace that has nothing but
// loopback (tests/support/isolated), so the lookup fails without any query leaving the machine.
#include "ws_test_support.h"

#include "platform.h"

#include <cstdlib>
#include <cstring>

using namespace ws_test;

class WsIsolated : public client_test {};

TEST_F(WsIsolated, UnresolvableHostGivesTheResolversText)
{
    ASSERT_NE(std::getenv("WS_ISOLATED_NETNS"), nullptr) << "run only through tests/support/isolated";
    const char host[] = "camera.invalid";
    // What the resolver itself says for this name here: the text the client must report.
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    int code = getaddrinfo(host, "9999", &hints, &list);
    ASSERT_NE(code, 0);
    std::string expected = system_error_text(code);

    recorder rec;
    rws_client *c = rws_client_create();
    rws_client_set_url(c, "ws", host, 9999, "/");
    rws_client_set_user_data(c, &rec);
    rws_client_set_on_disconnected(c, on_disconnected);
    steady::time_point start = steady::now();
    ASSERT_TRUE(rws_client_connect(c));
    ASSERT_TRUE(rec.wait_disconnected(30000));
    EXPECT_GE(ms_since(start), 4 * 200); // four attempts 200 ms apart
    EXPECT_EQ(rec.fault_code, RWS_FAULT_CONNECT);
    EXPECT_EQ(rec.fault_text, expected);
    EXPECT_NE(rec.fault_text, "");
    rws_client_disconnect(c);
}
