// Staging with the firmware image linked in, as the tool carries it.
#include "md5.h"
#include "test_files.h"
#include "workstation.h"

#include <gtest/gtest.h>

#include <string>

TEST(Staging, StagedFileIsTheEmbeddedImage)
{
    test_files::scratch_dir dir;
    std::string staged = dir.file("KTR_418s_1126_fac_up_2.0.16.img");
    ASSERT_TRUE(test_files::write_file(staged, std::string(20000000, 'x')));  // replaced, not appended
    ASSERT_EQ(extract_firmware_resource(staged.c_str()), 0);

    std::string image = test_files::read_file(FIRMWARE_IMAGE_FILE);
    std::string bytes = test_files::read_file(staged);
    ASSERT_EQ(bytes.size(), image.size());
    EXPECT_TRUE(bytes == image);
    EXPECT_EQ(bytes.substr(0, 3), "\x1f\x8b\x08");
    char staged_md5[33], image_md5[33];
    md5_file_hex(staged.c_str(), staged_md5);
    md5_file_hex(FIRMWARE_IMAGE_FILE, image_md5);
    EXPECT_STREQ(staged_md5, image_md5);

    // A destination that cannot be written leaves nothing behind and says so.
    std::string nowhere = dir.file("no-such-dir/image.img");
    EXPECT_EQ(extract_firmware_resource(nowhere.c_str()), -3);
    EXPECT_FALSE(test_files::exists(nowhere));
}
