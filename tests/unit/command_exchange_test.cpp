// The command and the camera's answers: the exact command text, the classification of replies, the
// hand-over of texts from the channel's worker, the time limits and the outcome of each ending, on
// the test clock of exchange_fakes.h.
#include "command_exchange.h"
#include "device_channel.h"
#include "driver_seams.h"
#include "embedded_assets.h"
#include "exchange_fakes.h"
#include "outcomes.h"
#include "recording_commands.h"
#include "reply_mailbox.h"
#include "rws.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace exchange_fakes;

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
        {{"{\"code\":\"8\",\"res\":\"fail\"}"}, OUTCOME_UPGRADE_FAILED, ENDING_FULL},
        {{"{\"res\":\"fail\",\"code\":\"3\"}"}, OUTCOME_UPGRADE_FAILED, ENDING_FULL},
        {{"auth", "progress 1", "progress 2", "ok"}, OUTCOME_UPGRADE_OK, ENDING_FULL},
        {{"progress", "fail", "ok"}, OUTCOME_UPGRADE_FAILED, ENDING_FULL}, // arrival order decides
        {{"auth ok"}, OUTCOME_UPGRADE_FAILED, ENDING_FULL},             // dropped: the wait times out
        {{}, OUTCOME_UPGRADE_FAILED, ENDING_FULL},
    };
    for (const auto &c : cases) {
        const std::string name = c.texts.empty() ? "(silence)" : c.texts.back();
        EXPECT_EQ(answer_with(c.texts), c.ending) << name;
        EXPECT_EQ(raised, std::vector<int>{c.outcome}) << name;
        EXPECT_EQ(flag_is_set(g_upgrade_ok), c.outcome == OUTCOME_UPGRADE_OK) << name;
    }
    EXPECT_TRUE(recording_commands::calls.empty());  // the USB link: no Wi-Fi command
    EXPECT_EQ(downloads, 0);                         // no confirm mode: no read after the reply
}

// Texts that came before the command never answer it; a full mailbox drops its oldest text; a long
// text is cut to fit g_ws_reply with its terminator.
TEST_F(exchange_test, WhatTheMailboxKeeps)
{
    text("ok");
    text("{\"res\":\"ok\"}");
    EXPECT_FALSE(flag_is_set(g_ws_reply_ready));
    answer_with({"fail"});
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_FAILED});

    std::vector<std::string> texts{"ok"};
    for (int i = 0; i < REPLY_MAILBOX_SIZE; i++)
        texts.push_back("progress " + std::to_string(i));
    answer_with(texts);
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_FAILED});
    EXPECT_STREQ(g_ws_reply, "progress 63");

    answer_with({std::string(10000, 'x')});
    EXPECT_EQ(g_ws_reply_len, 8191);
    EXPECT_EQ(std::strlen(g_ws_reply), 8191u);
    std::string binary(9000, 'b');
    reply_mailbox_open();
    on_ws_binary(nullptr, binary.data(), static_cast<uint32_t>(binary.size()));  // copied into its own buffer only
    EXPECT_FALSE(flag_is_set(g_ws_reply_ready));
}

// The answer may come until 600 s after the send; the wait ends once they have passed.
TEST_F(exchange_test, TheReplyLimitIsTenMinutes)
{
    answer_with({});
    EXPECT_GT(fake_now, 600000);
    EXPECT_LE(fake_now, 601000);
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_FAILED});

    fake_now = 0;
    at_each_wait = [](int64_t now) {
        if (now >= 599500 && now < 600500)
            text("ok");
    };
    answer_with({});
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_OK});
}

// Over USB the wait ends as soon as the command's channel has ended with no text left; on both links
// it ends at once when the channel ended before the command was sent (the camera never got it: no
// recovery over Wi-Fi); the end of another channel (an earlier attempt) changes nothing. Over Wi-Fi
// a channel that ends after the command keeps the full wait, then the recovery asks the camera.
TEST_F(exchange_test, TheEndOfTheChannel)
{
    rws_client *channel = rws_client_create(), *earlier = rws_client_create();
    current = channel;
    reply_mailbox_open();
    text("progress");
    on_ws_disconnected(channel);
    EXPECT_EQ(await_reply(&run), ENDING_FULL);
    EXPECT_LT(fake_now, 1000);
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_FAILED});

    raised.clear();
    on_ws_disconnected(channel);  // before the mailbox opens: a camera that restarts its service
    reply_mailbox_open();
    EXPECT_EQ(await_reply(&run), ENDING_FULL);
    EXPECT_LT(fake_now, 1000);
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_FAILED});

    raised.clear();
    reply_mailbox_open();
    text("ok");
    on_ws_disconnected(channel);  // the answer came just before the end: it counts
    await_reply(&run);
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_OK});

    raised.clear();
    reply_mailbox_open();
    on_ws_disconnected(earlier);
    await_reply(&run);
    EXPECT_GT(fake_now, 600000);

    raised.clear();
    fake_now = 0;
    std::strcpy(run.device_address, "10.0.0.1");
    on_ws_disconnected(channel);
    reply_mailbox_open();
    EXPECT_EQ(await_reply(&run), ENDING_FULL);
    EXPECT_LT(fake_now, 1000);
    EXPECT_EQ(downloads, 0);  // no recovery: nothing can have changed
    EXPECT_TRUE(recording_commands::calls.empty()) << "no Wi-Fi rejoin";
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_FAILED});

    raised.clear();
    reply_mailbox_open();
    on_ws_disconnected(channel);  // after the command: the camera may be restarting its access point
    await_reply(&run);
    EXPECT_GT(fake_now, 600000);
    EXPECT_EQ(downloads, 17);  // then the recovery asked the camera
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_FAILED});
    rws_client_disconnect(channel);
    rws_client_disconnect(earlier);
}

// A connection of the first attempt that comes while the second waits never counts for the second.
TEST_F(exchange_test, ALateConnectionOfTheFirstAttempt)
{
    static rws_client *first_attempt;
    first_attempt = rws_client_create();
    g_driver_seams.current_channel = device_channel_client;
    g_workstation_seams.sleep_ms = [](int ms) {
        fake_sleep_ms(ms);
        if (slept.size() == 5)  // the second attempt's first second
            on_ws_connected(first_attempt);
    };
    run.device_address[0] = '\0';  // the channels are refused at once: no worker, no callback
    EXPECT_EQ(open_command_channel(&run), EXIT_NOT_CONNECTED);
    EXPECT_EQ(slept.size(), 8u);
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_CANNOT_CONNECT});
    rws_client_disconnect(first_attempt);
}

// The Wi-Fi recovery asks the camera up to 17 times, 2 s apart, rejoining the Wi-Fi before each
// try after the first; only the target version in the file it fetched counts as success.
TEST_F(exchange_test, WifiRecoveryTriesSeventeenTimes)
{
    std::strcpy(run.device_address, "10.0.0.1");
    download_result = [](int attempt) {
        if (attempt < 17)
            return 5;
        return test_files::write_file(".deviceRelateInfo.txt", "QUORVANE_CAM418S*ver:2.0.16") ? 0 : 5;
    };
    answer_with({"fail"});
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_OK});
    EXPECT_EQ(downloads, 17);
    EXPECT_EQ(std::count(slept.begin(), slept.end(), 2000), 17);
    const size_t first_run = recording_commands::commands().size();

    downloads = 0;
    slept.clear();
    download_result = [](int) { return 5; };
    answer_with({"fail"});
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_FAILED});
    EXPECT_EQ(downloads, 17);
    // Seventeen rejoins in the first run, eighteen in the second (one more after its last try).
    const size_t second_run = recording_commands::commands().size() - first_run;
    EXPECT_GT(first_run, 0u);
    EXPECT_EQ(second_run * 17, first_run * 18);
    std::remove(".deviceRelateInfo.txt");
}

// A text that arrives at the instant the mailbox opens is either dropped or taken whole.
TEST_F(exchange_test, TextAtTheInstantOfTheSend)
{
    for (int i = 0; i < 200; i++) {
        raised.clear();
        reply_mailbox_close();
        std::thread worker([] { text("{\"res\":\"ok\"}"); });
        reply_mailbox_open();
        worker.join();
        await_reply(&run);
        if (raised == std::vector<int>{OUTCOME_UPGRADE_OK}) {
            EXPECT_STREQ(g_ws_reply, "{\"res\":\"ok\"}");
        } else {
            EXPECT_EQ(raised, std::vector<int>{OUTCOME_UPGRADE_FAILED});
        }
    }
}

TEST_F(exchange_test, CommandTextAndAFailedSend)
{
    std::string image = dir.file("image.img");
    ASSERT_TRUE(test_files::write_file(image, "abc"));
    std::strcpy(run.host_address, "192.168.88.2");
    std::strcpy(run.firmware_file_name, "KTR_418s_1126_fac_up_2.0.16.img");
    std::snprintf(run.firmware_path, sizeof run.firmware_path, "%s", image.c_str());

    // No channel is open: the command cannot be queued. It carries the digest the build computed
    // from the carried image, whatever the staged file holds now.
    EXPECT_EQ(send_upgrade_command(&run), -6);
    EXPECT_STREQ(run.firmware_md5, g_firmware_image_md5);
    std::string md5 = g_firmware_image_md5;
    EXPECT_STREQ(run.image_url, "http://192.168.88.2:8234/KTR_418s_1126_fac_up_2.0.16.img");
    EXPECT_EQ(std::string(run.upgrade_command),
              "{\"cmd\":\"pc_firmware_up\", \"dev\":\"1\", \"bin\":\"fac_firmware.bin\", \"nver\":\"2.0.16\", "
              "\"md5\":\"" + md5 + "\", \"url\":\"http://192.168.88.2:8234/KTR_418s_1126_fac_up_2.0.16.img\"}");
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_SEND_FAILED});
    EXPECT_EQ(recording_commands::commands().size(), 3u);  // the clean-up ran
}
