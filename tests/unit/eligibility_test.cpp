// The information file and the eligibility tests, case by case. These tests own the working root
// (the fits database lives in the firmware directory) and work in a directory of their own.
#include "commands.h"
#include "eligibility.h"
#include "outcomes.h"
#include "recording_commands.h"
#include "test_files.h"
#include "text_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<int> raised;
void record_outcome(outcome_id outcome) { raised.push_back(outcome); }

struct eligibility_test : ::testing::Test {
    test_files::working_dir dir;
    unsigned char found = 0;
    char version[64] = {0}, previous[64] = {0};
    std::string database;

    void SetUp() override
    {
        recording_commands::install();
        raised.clear();
        g_workstation_seams.report_outcome = record_outcome;
        set_flag(g_silent_mode, 1);
        g_device_model[0] = '\0';
        g_device_model_found = 0;
        char path[COMMAND_LINE_SIZE], firmware[COMMAND_LINE_SIZE];
        format_text(path, sizeof path, PATH_FITS_DATABASE_FMT, g_brand_word);
        format_text(firmware, sizeof firmware, PATH_FIRMWARE_DIR_FMT, g_brand_word);
        database = path;
        fs::create_directories(firmware);
        std::remove(path);
    }
    void TearDown() override
    {
        recording_commands::restore();
        g_workstation_seams.report_outcome = nullptr;
        set_flag(g_silent_mode, 0);
    }
    // Writes the information file and parses it.
    int parse(const std::string &content)
    {
        found = 0;
        version[0] = previous[0] = '\0';
        g_device_model[0] = '\0';
        g_device_model_found = 0;
        EXPECT_TRUE(test_files::write_file(".deviceRelateInfo.txt", content));
        return parse_device_info(&found, version, previous);
    }
    // The three tests in run order; the result of the first that refuses, or 0.
    int check()
    {
        raised.clear();
        if (int rc = check_device_model())
            return rc;
        if (int rc = check_same_version(version))
            return rc;
        return check_fits_database(version);
    }
};

} // namespace

TEST_F(eligibility_test, Decisions)
{
    const struct {
        const char *content;
        int result;
        int outcome;  // 0: none
    } cases[] = {
        {"QUORVANE_CAM418S*ver:2.0.15", 0, 0},
        {"QUORVANE_CAM418S\n*ver:2.0.15\n", 0, 0},
        {"QUORVANE_CAM418*ver:2.0.15", -2, OUTCOME_FIRST_BURN_MODEL},
        {"QUORVANE_CAM_418*ver:2.0.15", -2, OUTCOME_FIRST_BURN_MODEL},
        {"QUORVANE_CAM_419*ver:2.0.15", -2, OUTCOME_MODEL_INVALID},
        {"ZEPHLAR_CAM419*ver:2.0.15", -2, OUTCOME_MODEL_INVALID},
        {"QUORVANE_CAM418S*ver:2.0.16", -2, OUTCOME_SAME_VERSION},
        {"QUORVANE_CAM418S*ver:2.0.16\n", -2, OUTCOME_SAME_VERSION},
        {"camera one*ver:1.3.66", -3, OUTCOME_NO_FITS_DATABASE},  // no marker: no model, last row
        {"camera one*ver:1.3.67", 0, 0},
        {"camera one*ver:1.4.0", 0, 0},
        {"camera one*ver:2.0.0", 0, 0},
        {"camera one*ver:0.9.9", -3, OUTCOME_NO_FITS_DATABASE},
        {"camera one*ver:1.3", 0, 0},                              // no second "." : no test
        {"camera one*ver:x.y.z", -3, OUTCOME_NO_FITS_DATABASE},   // parts without digits are 0
        {"*QUORVANE_CAM418*ver:1.0.0", -3, OUTCOME_NO_FITS_DATABASE},  // "*" first: no model
        {"127.0.0.1 box*ver:1.0.18", -2, OUTCOME_MODEL_INVALID},       // any other model is refused
    };
    for (const auto &c : cases) {
        ASSERT_EQ(parse(c.content), 0) << c.content;
        EXPECT_EQ(check(), c.result) << c.content;
        EXPECT_EQ(raised, c.outcome ? std::vector<int>{c.outcome} : std::vector<int>{}) << c.content;
    }
}

TEST_F(eligibility_test, ParsedValues)
{
    ASSERT_EQ(parse("QUORVANE_CAM418S\n*ver:2.0.15\n"), 0);
    EXPECT_STREQ(g_device_model, "QUORVANE_CAM418S\n");  // a line end before "*" stays
    EXPECT_EQ(g_device_model_found, 1);
    EXPECT_STREQ(version, "2.0.15");
    EXPECT_STREQ(previous, "2.0.15");
    EXPECT_EQ(found, 1);

    EXPECT_EQ(parse("0123456789"), -1);  // 10 bytes
    std::remove(".deviceRelateInfo.txt");
    EXPECT_EQ(parse_device_info(&found, version, previous), -1);
}

TEST_F(eligibility_test, DatabaseSizeThreshold)
{
    ASSERT_EQ(parse("camera one*ver:1.3.66"), 0);
    ASSERT_TRUE(test_files::write_file(database, std::string(1023, 'd')));
    EXPECT_EQ(check_fits_database(version), -3);
    ASSERT_TRUE(test_files::write_file(database, std::string(1024, 'd')));
    EXPECT_EQ(check_fits_database(version), 0);
}

// Texts that do not fit their buffers are not stored: never an overflow.
TEST_F(eligibility_test, BufferLimits)
{
    std::string v63(63, '7'), v64(64, '7');
    ASSERT_EQ(parse("QUORVANE_CAM418S*ver:" + v63), 0);
    EXPECT_EQ(std::string(version), v63);
    ASSERT_EQ(parse("QUORVANE_CAM418S*ver:" + v64), 0);
    EXPECT_EQ(found, 0);
    EXPECT_STREQ(version, "");

    std::string m127 = "QUORVANE_CAM418S" + std::string(111, 'm'), m128 = m127 + "m";
    ASSERT_EQ(parse(m127 + "*ver:1.0.0"), 0);
    EXPECT_EQ(std::string(g_device_model), m127);
    ASSERT_EQ(parse(m128 + "*ver:1.0.0"), 0);
    EXPECT_EQ(g_device_model_found, 0);

    std::string big = "QUORVANE_CAM418*ver:2.0.16" + std::string(1023 - 26, ' ');
    ASSERT_EQ(big.size(), 1023u);
    ASSERT_EQ(parse(big), 0);
    EXPECT_EQ(g_device_model_found, 1);
    ASSERT_EQ(parse(big + " "), 0);  // 1,024 bytes: not parsed, every test passes
    EXPECT_EQ(g_device_model_found, 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(check(), 0);
}

// A CR LF pair: Windows text mode reads it as one character, so the file is not parsed at all; the
// Linux port reads every byte and keeps the CR.
TEST_F(eligibility_test, CrLfPair)
{
    ASSERT_EQ(parse("QUORVANE_CAM418S*ver:2.0.16\r\n"), 0);
#ifdef _WIN32
    EXPECT_EQ(found, 0);
    EXPECT_EQ(g_device_model_found, 0);
#else
    EXPECT_STREQ(version, "2.0.16\r");
#endif
    EXPECT_EQ(check(), 0);
}
