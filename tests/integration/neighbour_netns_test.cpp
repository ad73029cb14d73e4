// The neighbour table of a real link. Runs only inside tests/e2e/sandbox's PC namespace through
// neighbour_netns_run.sh, which first sends traffic to the camera's address (answered) and to an
// address of the link that nobody holds, and names the camera's interface address.
#include "neighbour_table.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(NeighbourTable, ReadsTheLinkPeersAddress)
{
    const char *peer = std::getenv("NEIGHBOUR_PEER_ADDRESS");
    ASSERT_NE(peer, nullptr) << "run only through neighbour_netns_run.sh";
    char text[NEIGHBOUR_TEXT_SIZE];
    EXPECT_EQ(neighbour_link_address("192.168.88.1", text), NEIGHBOUR_FOUND);
    EXPECT_STREQ(text, peer);
    EXPECT_EQ(neighbour_link_address("192.168.88.77", text), NEIGHBOUR_NO_ADDRESS) << "asked for, never answered";
    EXPECT_STREQ(text, NEIGHBOUR_UNKNOWN);
    EXPECT_EQ(neighbour_link_address("192.168.88.99", text), NEIGHBOUR_NO_ENTRY);
    EXPECT_STREQ(text, NEIGHBOUR_UNKNOWN);
}
