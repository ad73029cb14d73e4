// The array the tool carries is the server this build made, byte for byte.
#include "test_files.h"
#include "utility_asset.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(UtilityAsset, ArrayEqualsTheBuiltServer)
{
    std::string server = test_files::read_file(SHTTPD_FILE);
    ASSERT_GT(server.size(), 1024u) << SHTTPD_FILE;
    ASSERT_EQ(g_utility_buffer_len, server.size());
    EXPECT_EQ(std::memcmp(g_utility_buffer, server.data(), server.size()), 0);
#ifdef _WIN32
    EXPECT_EQ(std::memcmp(g_utility_buffer, "MZ", 2), 0); // a Windows executable
#else
    EXPECT_EQ(std::memcmp(g_utility_buffer, "\x7f" "ELF", 4), 0);
#endif
}
