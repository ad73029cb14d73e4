#include "md5.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using test_files::scratch_dir;

namespace {

std::string digest_of(const std::string &path)
{
    char out[33];
    std::memset(out, 'x', sizeof out);
    md5_file_hex(path.c_str(), out);
    return std::string(out, strnlen(out, sizeof out));
}

// Bytes (i * 7 + 3) mod 256: every block differs, so a block fed twice or skipped changes the digest.
std::string pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = (char)((i * 7 + 3) & 0xff);
    return s;
}

} // namespace

TEST(Md5FileHex, Rfc1321TestSuite)
{
    const struct {
        const char *text;
        const char *digest;
    } suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    scratch_dir dir;
    for (const auto &v : suite) {
        std::string path = dir.file("suite.txt");
        ASSERT_TRUE(test_files::write_file(path, v.text));
        EXPECT_EQ(digest_of(path), v.digest) << "for \"" << v.text << "\"";
    }
}

TEST(Md5FileHex, PaddingBoundaries)
{
    const struct {
        size_t size;
        const char *digest;
    } vectors[] = {
        {0, "d41d8cd98f00b204e9800998ecf8427e"},    {1, "8666683506aacd900bbd5a74ac4edf68"},
        {55, "52c0e574e1198de5fe3f8f11440dcb1b"},   {56, "46c9907fc908ee68b1e7b8e71286a518"},
        {63, "a62f6d59e837867693f042f5b8f5a236"},   {64, "7160b8fb5e9e4023d549c3971fbaeead"},
        {65, "70bd662e7aefbda85a0f7244167b7897"},   {119, "e84905d4214f4d1ca56c2cdcc152b143"},
        {120, "e3eb5a6c8669ea01a8c185b8abc8a5dc"},  {1048577, "94555923a3e58a9476e51e0b34f14f96"},
    };
    scratch_dir dir;
    for (const auto &v : vectors) {
        std::string path = dir.file("data.bin");
        ASSERT_TRUE(test_files::write_file(path, pattern(v.size)));
        std::string got = digest_of(path);
        EXPECT_EQ(got, v.digest) << "for " << v.size << " bytes";
        EXPECT_EQ(got.size(), 32u);
    }
}

// How many blocks the reader hands to the compression: the length goes into the last data block
// when 8 bytes are left for it, else into one more block.
TEST(Md5ReadBlock, BlockCountPerSize)
{
    const struct {
        size_t size;
        int blocks;
    } cases[] = {{0, 1}, {55, 1}, {56, 2}, {63, 2}, {64, 2}, {65, 2}, {119, 2}, {120, 3}, {128, 3}};
    scratch_dir dir;
    for (const auto &c : cases) {
        std::string path = dir.file("data.bin");
        ASSERT_TRUE(test_files::write_file(path, pattern(c.size)));
        FILE *f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        uint8_t block[64];
        uint32_t bits[2] = {0, 0};
        int32_t stage = MD5_STAGE_DATA;
        int blocks = 0;
        while (md5_read_block(block, f, bits, &stage) && blocks < 100)
            blocks++;
        std::fclose(f);
        EXPECT_EQ(blocks, c.blocks) << "for " << c.size << " bytes";
        EXPECT_EQ(bits[0], c.size * 8);
        EXPECT_EQ(stage, MD5_STAGE_DONE);
        // The last block ends with the bit count, low word first, little-endian.
        EXPECT_EQ(block[56] | (block[57] << 8), (int)((c.size * 8) & 0xffff));
    }
}

TEST(Md5ReadBlock, BitCountCarriesIntoHighWord)
{
    scratch_dir dir;
    std::string path = dir.file("empty.bin");
    ASSERT_TRUE(test_files::write_file(path, ""));
    FILE *f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    uint8_t block[64];
    uint32_t bits[2] = {0xfffffffcu, 7};
    int32_t stage = MD5_STAGE_DATA;
    ASSERT_EQ(md5_read_block(block, f, bits, &stage), 1);
    std::fclose(f);
    EXPECT_EQ(bits[0], 0xfffffffcu);
    EXPECT_EQ(block[60], 7);
    EXPECT_EQ(block[55], 0);
    EXPECT_EQ(block[0], 0x80);
}

TEST(Md5FileHex, MissingFileGivesEmptyText)
{
    scratch_dir dir;
    EXPECT_EQ(digest_of(dir.file("no-such-file")), "");
}

TEST(Md5ToHex, DigestByteOrder)
{
    const uint32_t state[4] = {0x04030201u, 0x08070605u, 0x0c0b0a09u, 0xf0e0d0c0u};
    char out[40];
    std::memset(out, 'x', sizeof out);
    md5_to_hex(state, out);
    EXPECT_STREQ(out, "0102030405060708090a0b0cc0d0e0f0");
}
