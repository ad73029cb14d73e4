// Staging with the firmware image linked in, as the tool carries it.
#include "embedded_assets.h"
#include "md5.h"
#include "test_files.h"
#include "workstation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Changes one byte of the staged file between staging's write and its read-back, as a scanner or
// another user might.
void change_a_byte(const char *path)
{
    std::string bytes = test_files::read_file(path);
    bytes[bytes.size() / 2] ^= 1;
    test_files::write_file(path, bytes);
}

struct staging_test : ::testing::Test {
    void TearDown() override
    {
        reset_workstation_state();
        g_workstation_seams = REAL_WORKSTATION_SEAMS;
    }
};

} // namespace

TEST_F(staging_test, StagedFileIsTheEmbeddedImage)
{
    test_files::scratch_dir dir;
    std::string staged = dir.file("KTR_418s_1126_fac_up_2.0.16.img");
    ASSERT_TRUE(test_files::write_file(staged, std::string(20000000, 'x')));  // replaced, not appended
    ASSERT_EQ(stage_image(staged.c_str()), 0);

    std::string image = test_files::read_file(FIRMWARE_IMAGE_FILE);
    std::string bytes = test_files::read_file(staged);
    ASSERT_EQ(bytes.size(), image.size());
    EXPECT_TRUE(bytes == image);
    EXPECT_EQ(bytes.substr(0, 3), "\x1f\x8b\x08");
    char image_md5[33];
    md5_file_hex(FIRMWARE_IMAGE_FILE, image_md5);
    EXPECT_STREQ(g_firmware_image_md5, image_md5);  // the build's digest is the image's
    EXPECT_STREQ(g_workstation.notes.staging_error, "");

    // A destination that cannot be written leaves nothing behind and says why.
    std::string nowhere = dir.file("no-such-dir/image.img");
    EXPECT_EQ(stage_image(nowhere.c_str()), -3);
    EXPECT_FALSE(test_files::exists(nowhere));
    EXPECT_EQ(std::string(g_workstation.notes.staging_error).rfind("writing " + nowhere + " failed: ", 0), 0u)
        << g_workstation.notes.staging_error;
}

// A file changed after the write is never served: it is deleted, and the cause names both digests.
TEST_F(staging_test, ChangedImageIsRefused)
{
    test_files::scratch_dir dir;
    std::string staged = dir.file("KTR_418s_1126_fac_up_2.0.16.img");
    std::vector<std::string> logged;
    static std::vector<std::string> *lines;
    lines = &logged;
    g_workstation_seams.image_staged = change_a_byte;
    g_workstation_seams.log_line = [](const char *, int, const char *text) { lines->push_back(text); };
    EXPECT_EQ(stage_image(staged.c_str()), -4);
    EXPECT_FALSE(test_files::exists(staged));
    std::string note = g_workstation.notes.staging_error;
    EXPECT_EQ(note.find("the staged image's MD5 "), 0u) << note;
    size_t carried = note.find(std::string("differs from the carried image's ") + g_firmware_image_md5);
    EXPECT_NE(carried, std::string::npos) << note;
    EXPECT_EQ(note.find(g_firmware_image_md5), note.rfind(g_firmware_image_md5)) << "the staged digest differs";
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "the firmware image could not be staged: " + note + "\n");
}
