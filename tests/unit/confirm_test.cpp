// The confirmation of the new version after the camera's "ok": the reads through its restart, the
// record's members, the Wi-Fi rejoins and the console's lines, on the test clock of exchange_fakes.h.
#include "confirm.h"
#include "driver_state.h"
#include "exchange_fakes.h"
#include "outcomes.h"
#include "run_record.h"
#include "shared_values.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace exchange_fakes;

namespace {

struct confirm_test : exchange_test {};

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
TEST_F(confirm_test, ConfirmationAfterTheOk)
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
        g_driver.settings.confirm = c.mode;
        g_driver.settings.confirm_seconds = 20;
        camera = c.camera;
        download_status = c.status;
        download_result = camera_read;
        EXPECT_EQ(answer_with({"ok"}), ENDING_FULL_THEN_CONFIRM) << c.name;
        EXPECT_EQ(raised, c.at_reply) << c.name;
        raised.clear();
        EXPECT_EQ(confirm_new_version(&run), c.confirmed) << c.name;
        EXPECT_EQ(raised, c.at_end) << c.name;
        EXPECT_EQ(flag_is_set(g_upgrade_ok), c.mode == CONFIRM_RECORD || c.confirmed) << c.name;
        const confirm_state &record = g_driver.record.confirm;
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
TEST_F(confirm_test, ConfirmationRejoinsTheWifiAndShowsTheWait)
{
    static std::vector<int64_t> rejoins;  // each rejoin's time: its profile command, the one run for the console
    static FILE *(*recorded_open)(const char *, const char *) = g_workstation_seams.commands.open;
    g_workstation_seams.commands.open = [](const char *command, const char *mode) {
        if (mode[0] == 'w')
            rejoins.push_back(fake_now);
        return recorded_open(command, mode);
    };
    g_driver.settings.confirm = CONFIRM_RECORD;
    g_driver.settings.confirm_seconds = 30;
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
TEST_F(confirm_test, ConfirmationWritesUnderTheRecordLock)
{
    g_driver.settings.confirm = CONFIRM_RECORD;
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
    EXPECT_TRUE(g_driver.record.confirm.confirmed);
}
