#include "asset_header.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <string>

using test_files::read_file;
using test_files::scratch_dir;
using test_files::write_file;

namespace {

// The header is written in text mode: line ends are CR LF on Windows.
std::string native_lines(const std::string &text)
{
#ifdef _WIN32
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
#else
    return text;
#endif
}

std::string element(unsigned char b, bool last)
{
    static const char digits[] = "0123456789abcdef";
    std::string s = "0x";
    s += digits[b >> 4];
    s += digits[b & 15];
    return last ? s : s + ",";
}

// An independent composition of the firmware layout, line by line.
std::string firmware_layout(const std::string &model, const std::string &version, const std::string &bytes)
{
    std::string s = "#define DEV_MODEL \"" + model + "\"\n#define VER_STR \"" + version + "\"\n";
    s += "uint8_t g_firmware_buffer[] = {\n        ";
    for (size_t i = 0; i < bytes.size(); i++) {
        s += element((unsigned char)bytes[i], i + 1 == bytes.size());
        if ((i + 1) % 64 == 0)
            s += "\n        ";
    }
    s += "\n        };\nuint64_t g_firmware_buffer_len=" + std::to_string(bytes.size()) + ";\n";
    return s;
}

struct generator_test : ::testing::Test {
    scratch_dir dir;
    std::string in = dir.file("asset.bin");
    std::string out = dir.file("asset.h");

    std::string firmware_of(const std::string &bytes)
    {
        EXPECT_TRUE(write_file(in, bytes));
        EXPECT_EQ(generate_firmware_header(in.c_str(), "QUORVANE_CAM418S", "2.0.16", out.c_str()), 0);
        return read_file(out);
    }
};

} // namespace

TEST_F(generator_test, ThreeBytesMakeOneElementsLine)
{
    EXPECT_EQ(firmware_of(std::string("\x00\xab\xff", 3)),
              native_lines("#define DEV_MODEL \"QUORVANE_CAM418S\"\n"
                           "#define VER_STR \"2.0.16\"\n"
                           "uint8_t g_firmware_buffer[] = {\n"
                           "        0x00,0xab,0xff\n"
                           "        };\n"
                           "uint64_t g_firmware_buffer_len=3;\n"));
    EXPECT_EQ(g_asset_length, 3u);
}

TEST_F(generator_test, LineBreaksAroundSixtyFourElements)
{
    for (size_t n : {63u, 64u, 65u, 128u, 129u, 1000u}) {
        std::string bytes;
        for (size_t i = 0; i < n; i++)
            bytes += (char)(i * 37 + 11);
        EXPECT_EQ(firmware_of(bytes), native_lines(firmware_layout("QUORVANE_CAM418S", "2.0.16", bytes)))
            << "for " << n << " bytes";
    }
    // The exact text of the two cases the layout singles out.
    std::string sixty_four = firmware_of(std::string(64, '\x01'));
    EXPECT_NE(sixty_four.find(native_lines("0x01\n        \n        };")), std::string::npos);
    std::string sixty_five = firmware_of(std::string(65, '\x01'));
    EXPECT_NE(sixty_five.find(native_lines("0x01,\n        0x01\n        };")), std::string::npos);
}

TEST_F(generator_test, EmptyInputGivesNoElements)
{
    EXPECT_EQ(firmware_of(""), native_lines("#define DEV_MODEL \"QUORVANE_CAM418S\"\n"
                                            "#define VER_STR \"2.0.16\"\n"
                                            "uint8_t g_firmware_buffer[] = {\n"
                                            "        \n"
                                            "        };\n"
                                            "uint64_t g_firmware_buffer_len=0;\n"));
}

TEST_F(generator_test, UtilityVariant)
{
    ASSERT_TRUE(write_file(in, "MZ"));
    ASSERT_EQ(generate_utility_header(in.c_str(), "0.1.2", out.c_str()), 0);
    EXPECT_EQ(read_file(out), native_lines("#define UTILITY_VER_STR \"0.1.2\"\n"
                                           "uint8_t g_utility_buffer[] = {\n"
                                           "        0x4d,0x5a\n"
                                           "        };\n"
                                           "uint64_t g_utility_buffer_len=2;\n"));
}

TEST_F(generator_test, StubHasBlankLineBeforeLength)
{
    ASSERT_EQ(write_firmware_stub_header("QUORVANE_CAM418S", "2.0.16", out.c_str()), 0);
    EXPECT_EQ(read_file(out), native_lines("#define DEV_MODEL \"QUORVANE_CAM418S\"\n"
                                           "#define VER_STR \"2.0.16\"\n"
                                           "uint8_t g_firmware_buffer[] = {0};\n"
                                           "\n"
                                           "uint64_t g_firmware_buffer_len=1;\n"));
}

TEST_F(generator_test, OversizedInputTouchesNoFile)
{
    ASSERT_TRUE(test_files::make_file_of_size(in, ASSET_INPUT_MAX + 1));
    EXPECT_EQ(generate_firmware_header(in.c_str(), "M", "V", out.c_str()), ASSET_TOO_LARGE);
    EXPECT_EQ(generate_utility_header(in.c_str(), "V", out.c_str()), ASSET_TOO_LARGE);
    EXPECT_FALSE(test_files::exists(out));

    ASSERT_TRUE(write_file(out, "old header"));
    EXPECT_EQ(generate_firmware_header(in.c_str(), "M", "V", out.c_str()), ASSET_TOO_LARGE);
    EXPECT_EQ(read_file(out), "old header");
}

TEST_F(generator_test, MissingInputAndUncreatableOutput)
{
    std::string missing = dir.file("missing.bin");
    EXPECT_EQ(generate_firmware_header(missing.c_str(), "M", "V", out.c_str()), ASSET_NO_INPUT);
    EXPECT_EQ(generate_utility_header(missing.c_str(), "V", out.c_str()), ASSET_NO_INPUT);
    EXPECT_FALSE(test_files::exists(out));

    std::string nowhere = dir.file("no-such-dir/asset.h");
    ASSERT_TRUE(write_file(in, "abc"));
    EXPECT_EQ(generate_firmware_header(in.c_str(), "M", "V", nowhere.c_str()), ASSET_NO_OUTPUT);
    EXPECT_EQ(generate_utility_header(in.c_str(), "V", nowhere.c_str()), ASSET_NO_OUTPUT);
    EXPECT_EQ(write_firmware_stub_header("M", "V", nowhere.c_str()), -1);
}
