// The command and the camera's answers: the exact command text, the classification of replies, the
// hand-over of texts from the channel's worker, the time limits and the outcome of each ending. The
// clock, the sleeps and the information-file download are test doubles: a limit of ten minutes is
// checked in an instant.
#include "device_channel.h"
#include "driver.h"
#include "embedded_assets.h"
#include "recording_commands.h"
#include "run_record.h"
#include "rws.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<int> raised;
void record_outcome(outcome_id outcome) { raised.push_back(outcome); }

// The test clock: every wait and sleep advances it at once. A wait advances it by a second at most,
// as a wake-up each second would, so a script can act at a given time.
int64_t fake_now;
std::function<void(int64_t now)> at_each_wait;
std::vector<int> slept;
std::function<int(int attempt)> download_result;  // the recovery's downloads, numbered from 1
int downloads;
int download_status;  // the HTTP status of each completed download

int64_t fake_now_ms() { return fake_now; }
void fake_sleep_ms(int ms)
{
    slept.push_back(ms);
    fake_now += ms;
}
void fake_wait(std::condition_variable &, std::unique_lock<std::mutex> &lock, int ms)
{
    lock.unlock();
    fake_now += ms < 1000 ? ms : 1000;
    if (at_each_wait)
        at_each_wait(fake_now);
    lock.lock();
}
int fake_download(const char *, int, int *status)
{
    downloads++;
    if (status != nullptr)
        *status = download_status;
    return download_result ? download_result(downloads) : 1;
}

void text(const std::string &t) { on_ws_text(nullptr, t.data(), static_cast<uint32_t>(t.size())); }

// The channel the driver takes for its current one.
const rws_client *current = nullptr;
const rws_client *current_channel() { return current; }

struct exchange_test : ::testing::Test {
    upgrade_run run;

    void SetUp() override
    {
        std::memset(&run, 0, sizeof run);
        std::strcpy(run.device_address, "192.168.88.1");
        reset_run_state();
        recording_commands::install();
        raised.clear();
        g_workstation_seams.report_outcome = record_outcome;
        g_workstation_seams.now_ms = fake_now_ms;
        g_workstation_seams.sleep_ms = fake_sleep_ms;
        g_driver_seams.wait = fake_wait;
        g_driver_seams.download_device_info = fake_download;
        g_driver_seams.current_channel = current_channel;
        current = nullptr;
        fake_now = 0;
        at_each_wait = nullptr;
        slept.clear();
        download_result = nullptr;
        downloads = 0;
        download_status = 200;
    }
    void TearDown() override
    {
        recording_commands::restore();
        g_workstation_seams.report_outcome = nullptr;
        reset_run_state();
    }

    // The command has gone out; the texts arrive in one burst; the driver waits.
    int answer_with(const std::vector<std::string> &texts)
    {
        raised.clear();
        set_flag(g_upgrade_ok, 0);
        reply_mailbox_open();
        for (const auto &t : texts)
            text(t);
        return await_reply(&run);
    }
};

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
    test_files::scratch_dir dir;
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

namespace {

// The camera during the confirmation, by the test clock: absent (the download fails) until back_ms,
// then showing version (a 2xx answer; "" for none).
struct camera_script {
    int64_t back_ms;
    const char *version;
};
camera_script camera;

int camera_read(int)
{
    if (fake_now < camera.back_ms)
        return 13;  // refused
    if (camera.version[0] != '\0')
        test_files::write_file(".deviceRelateInfo.txt", std::string("QUORVANE_CAM418S*ver:") + camera.version);
    return 0;
}

} // namespace

// After an "ok" the version is read back every 2 s until the target version shows or the time is up:
// strict reports the result then, record keeps the "ok"; a 404 never confirms, whatever file lies
// about; the record keeps the versions, the absence and the seconds from the "ok".
TEST_F(exchange_test, ConfirmationAfterTheOk)
{
    const struct {
        const char *name;
        confirm_mode mode;
        camera_script camera;
        int status;
        std::vector<int> at_reply, at_end;
        bool confirmed;
        int64_t ended_ms;
        int64_t unreachable_ms;
        std::vector<std::string> versions;
    } cases[] = {
        {"back after 15 s", CONFIRM_STRICT, {15000, "2.0.16"}, 200, {}, {OUTCOME_UPGRADE_OK}, true, 16000, 16000,
         {"2.0.16"}},
        {"rolled back, strict", CONFIRM_STRICT, {3000, "2.0.15"}, 200, {}, {OUTCOME_NOT_CONFIRMED}, false, 20000, 4000,
         {"2.0.15"}},
        {"rolled back, record", CONFIRM_RECORD, {0, "2.0.15"}, 200, {OUTCOME_UPGRADE_OK}, {}, false, 20000, 0,
         {"2.0.15"}},
        {"a 404 with the new version's file", CONFIRM_STRICT, {0, "2.0.16"}, 404, {}, {OUTCOME_NOT_CONFIRMED}, false,
         20000, 0, {}},
        {"never back", CONFIRM_STRICT, {INT64_MAX, ""}, 200, {}, {OUTCOME_NOT_CONFIRMED}, false, 20000, 20000, {}},
    };
    for (const auto &c : cases) {
        SetUp();  // a fresh run state for each case
        g_run.confirm = c.mode;
        g_run.confirm_seconds = 20;
        camera = c.camera;
        download_status = c.status;
        download_result = camera_read;
        EXPECT_EQ(answer_with({"ok"}), ENDING_FULL_THEN_CONFIRM) << c.name;
        EXPECT_EQ(raised, c.at_reply) << c.name;
        raised.clear();
        EXPECT_EQ(confirm_new_version(&run), c.confirmed) << c.name;
        EXPECT_EQ(raised, c.at_end) << c.name;
        EXPECT_EQ(flag_is_set(g_upgrade_ok), c.mode == CONFIRM_RECORD || c.confirmed) << c.name;
        const confirm_state &record = g_run.record.confirm;
        EXPECT_EQ(record.ended_ms, c.ended_ms) << c.name;
        EXPECT_EQ(record.unreachable_ms, c.unreachable_ms) << c.name;
        std::vector<std::string> versions;
        for (const auto &seen : record.versions)
            versions.push_back(seen.first);
        EXPECT_EQ(versions, c.versions) << c.name;
        EXPECT_STREQ(run.version_after, c.versions.empty() ? "" : c.versions.back().c_str()) << c.name;
        EXPECT_EQ(downloads, static_cast<int>(c.ended_ms / 2000 + 1)) << c.name;  // every 2 s from the start
        EXPECT_FALSE(test_files::exists(".deviceRelateInfo.txt")) << c.name;
        std::memset(run.version_after, 0, sizeof run.version_after);
    }
}

// Over Wi-Fi, reads that bring no information file (no answer, or a status other than 2xx: another
// network's host at the camera's address) rejoin the camera's access point 10 s after the first of
// them and every 10 s after; over USB never. The console shows the start, a line each 10 s and the
// end.
TEST_F(exchange_test, ConfirmationRejoinsTheWifiAndShowsTheWait)
{
    static std::vector<int64_t> rejoins;  // each rejoin's time: its profile command, the one run for the console
    static FILE *(*recorded_open)(const char *, const char *) = g_workstation_seams.commands.open;
    g_workstation_seams.commands.open = [](const char *command, const char *mode) {
        if (mode[0] == 'w')
            rejoins.push_back(fake_now);
        return recorded_open(command, mode);
    };
    g_run.confirm = CONFIRM_RECORD;
    g_run.confirm_seconds = 30;
    download_result = camera_read;
    const struct {
        const char *address;
        int status;  // of the camera's answers; none before INT64_MAX
        int64_t back_ms;
        std::vector<int64_t> rejoins;
    } cases[] = {
        {"192.168.88.1", 200, INT64_MAX, {}},
        {"10.0.0.1", 200, INT64_MAX, {10000, 20000}},
        {"10.0.0.1", 404, 0, {10000, 20000}},
        {"10.0.0.1", 200, 0, {}},  // answers, with a file that shows no version
    };
    for (const auto &c : cases) {
        std::strcpy(run.device_address, c.address);
        camera = {c.back_ms, ""};
        download_status = c.status;
        fake_now = 0;
        rejoins.clear();
        answer_with({"ok"});
        ::testing::internal::CaptureStdout();
        confirm_new_version(&run);
        std::string console = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(rejoins, c.rejoins) << c.address << " " << c.status;
        if (&c == &cases[0]) {  // USB, no answer
            EXPECT_EQ(console,
                      "Confirming the new firmware: waiting up to 30 s for the camera to come back with 2.0.16...\n"
                      "Confirming: 10 s waited, the camera does not answer\n"
                      "Confirming: 20 s waited, the camera does not answer\n"
                      "New firmware not confirmed: the camera showed no version within 30 s.\n");
        }
    }
}

// The confirmation writes what it reads back under the record's lock: an interrupt composing the
// record on another thread never reads a member half written.
TEST_F(exchange_test, ConfirmationWritesUnderTheRecordLock)
{
    g_run.confirm = CONFIRM_RECORD;
    camera = {0, "2.0.16"};
    download_result = camera_read;
    answer_with({"ok"});
    std::unique_lock<std::mutex> composing(run_record_lock());
    std::thread confirmation([this] { confirm_new_version(&run); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_STREQ(run.version_after, "") << "written while the record was being composed";
    composing.unlock();
    confirmation.join();
    EXPECT_STREQ(run.version_after, "2.0.16");
    EXPECT_TRUE(g_run.record.confirm.confirmed);
}
