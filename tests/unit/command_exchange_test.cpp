// The command and the camera's answers: the exact command text, the classification of replies,
// the hand-over of texts from the channel's worker, and the outcome of each ending.
#include "driver.h"
#include "recording_commands.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<int> raised;
void record_outcome(int outcome) { raised.push_back(outcome); }

struct exchange_test : ::testing::Test {
    upgrade_run run;

    void SetUp() override
    {
        std::memset(&run, 0, sizeof run);
        std::strcpy(run.device_address, "192.168.88.1");
        recording_commands::install();
        raised.clear();
        set_outcome_reporter(record_outcome);
        set_flag(g_ws_reply_ready, 0);
        set_flag(g_upgrade_ok, 0);
        g_reply_limit_seconds = 1;
    }
    void TearDown() override
    {
        recording_commands::restore();
        set_outcome_reporter(nullptr);
        g_reply_limit_seconds = 600;
    }
};

// Delivers the texts as the channel's worker does, one after the other, while the driver waits.
int answer_with(upgrade_run *run, const std::vector<std::string> &texts)
{
    std::thread worker([&texts] {
        for (const auto &t : texts)
            on_ws_text(nullptr, t.data(), (uint32_t)t.size());
    });
    int ending = await_reply(run);
    worker.join();
    return ending;
}

} // namespace

TEST_F(exchange_test, RepliesAndTheirOutcomes)
{
    const struct {
        std::vector<std::string> texts;
        int outcome;
        int ending;
    } cases[] = {
        {{"{\"res\":\"ok\"}"}, OUTCOME_UPGRADE_OK, ENDING_FULL},
        {{"broken"}, OUTCOME_UPGRADE_OK, ENDING_FULL},                   // "ok" inside a word
        {{"fail, then ok"}, OUTCOME_UPGRADE_OK, ENDING_FULL},            // "ok" is tested first
        {{"{\"res\":\"fail\",\"code\":\"8\"}"}, OUTCOME_ALREADY_LATEST, ENDING_CLEANUP_ONLY},
        {{"fail\"8\""}, OUTCOME_ALREADY_LATEST, ENDING_CLEANUP_ONLY},
        {{"\"8\" fail"}, OUTCOME_UPGRADE_FAILED, ENDING_FULL},         // "8" only before "fail"
        {{"{\"res\":\"fail\",\"code\":\"3\"}"}, OUTCOME_UPGRADE_FAILED, ENDING_FULL},
        {{"auth", "progress 1", "progress 2", "ok"}, OUTCOME_UPGRADE_OK, ENDING_FULL},
        {{"auth ok"}, OUTCOME_UPGRADE_FAILED, ENDING_FULL},             // dropped: the wait times out
        {{}, OUTCOME_UPGRADE_FAILED, ENDING_FULL},
    };
    for (const auto &c : cases) {
        raised.clear();
        set_flag(g_upgrade_ok, 0);
        EXPECT_EQ(answer_with(&run, c.texts), c.ending) << (c.texts.empty() ? "(silence)" : c.texts.back());
        EXPECT_EQ(raised, std::vector<int>{c.outcome}) << (c.texts.empty() ? "(silence)" : c.texts.back());
        EXPECT_EQ(flag_is_set(g_upgrade_ok), c.outcome == OUTCOME_UPGRADE_OK);
    }
    EXPECT_TRUE(recording_commands::calls.empty());  // the USB link: no Wi-Fi command
}

// A text that does not fit the reply buffer is cut to fit with its terminator.
TEST_F(exchange_test, LongTextsAreCut)
{
    std::string text(10000, 'x');
    on_ws_text(nullptr, text.data(), (uint32_t)text.size());
    ASSERT_TRUE(flag_is_set(g_ws_reply_ready));
    EXPECT_EQ(g_ws_reply_len, 8191);
    EXPECT_EQ(std::strlen(g_ws_reply), 8191u);
    set_flag(g_ws_reply_ready, 0);

    std::string binary(9000, 'b');
    on_ws_binary(nullptr, binary.data(), (uint32_t)binary.size());  // copied into its own buffer only
    EXPECT_FALSE(flag_is_set(g_ws_reply_ready));
}

// A second text waits until the driver has taken the first: nothing is overwritten while it reads.
TEST_F(exchange_test, SecondTextWaitsForTheFirstToBeTaken)
{
    on_ws_text(nullptr, "first", 5);
    std::atomic<bool> delivered{false};
    std::thread worker([&] {
        on_ws_text(nullptr, "second", 6);
        delivered = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(delivered);
    EXPECT_STREQ(g_ws_reply, "first");
    set_flag(g_ws_reply_ready, 0);  // taken
    worker.join();
    EXPECT_STREQ(g_ws_reply, "second");
    EXPECT_EQ(g_ws_reply_len, 6);
}

TEST_F(exchange_test, CommandTextAndAFailedSend)
{
    test_files::scratch_dir dir;
    std::string image = dir.file("image.img");
    ASSERT_TRUE(test_files::write_file(image, "abc"));
    std::strcpy(run.host_address, "192.168.88.2");
    std::strcpy(run.firmware_file_name, "KTR_418s_1126_fac_up_2.0.16.img");
    std::snprintf(run.firmware_path, sizeof run.firmware_path, "%s", image.c_str());

    // No channel is open: the command cannot be queued.
    EXPECT_EQ(send_upgrade_command(&run), -6);
    EXPECT_STREQ(run.firmware_md5, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_STREQ(run.image_url, "http://192.168.88.2:8234/KTR_418s_1126_fac_up_2.0.16.img");
    EXPECT_STREQ(run.upgrade_command,
                 "{\"cmd\":\"pc_firmware_up\", \"dev\":\"1\", \"bin\":\"fac_firmware.bin\", \"nver\":\"2.0.16\", "
                 "\"md5\":\"900150983cd24fb0d6963f7d28e17f72\", "
                 "\"url\":\"http://192.168.88.2:8234/KTR_418s_1126_fac_up_2.0.16.img\"}");
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_SEND_FAILED});
    EXPECT_EQ(recording_commands::commands().size(), 3u);  // the clean-up ran
}
