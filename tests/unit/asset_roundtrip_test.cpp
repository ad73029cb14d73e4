// The generated headers, compiled: the arrays must give back the input file byte for byte.
#include "test_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "roundtrip_firmware.h"
#include "roundtrip_utility.h"

TEST(GeneratedHeader, ArraysEqualTheInputFile)
{
    std::string input = test_files::read_file(ROUNDTRIP_INPUT);
    ASSERT_GT(input.size(), 1000u) << ROUNDTRIP_INPUT;
    ASSERT_EQ(g_firmware_buffer_len, input.size());
    ASSERT_EQ(sizeof g_firmware_buffer, input.size());
    EXPECT_EQ(std::memcmp(g_firmware_buffer, input.data(), input.size()), 0);
    ASSERT_EQ(g_utility_buffer_len, input.size());
    EXPECT_EQ(std::memcmp(g_utility_buffer, input.data(), input.size()), 0);
    EXPECT_STREQ(DEV_MODEL, "QUORVANE_CAM418S");
    EXPECT_STREQ(VER_STR, "2.0.16");
    EXPECT_STREQ(UTILITY_VER_STR, "0.1.2");
}
