// The run sequence, the outcome catalogue and the spinner, with every stage replaceable.
#include "driver.h"
#include "driver_seams.h"
#include "driver_state.h"
#include "outcomes.h"
#include "recording_commands.h"
#include "server_launch.h"
#include "shared_values.h"
#include "spinner.h"
#include "test_files.h"
#include "ui_texts.h"
#include "workstation.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <string>
#include <vector>

namespace {

struct box {
    box_style style;
    std::string caption;
    std::string text;
};
// What the fakes of one test do and saw: the boxes shown and the answer they get, and the stage table
// with every stage passing and counting its calls, of which one can be made to fail.
struct fake_run {
    std::vector<box> boxes;
    box_answer answer = BOX_ANSWER_OK;
    int failing_step = 0;
    int guard_failure = 1;  // what the guard returns when it fails
    std::vector<int> steps_run;
    int purges = 0;
    upgrade_ending ending = ENDING_FULL;
};
fake_run fake;

box_answer record_box(box_style style, const char *caption, const char *text)
{
    fake.boxes.push_back({style, caption, text});
    return fake.answer;
}

std::string hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (char byte : bytes) {
        unsigned char c = static_cast<unsigned char>(byte);
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string result_file() { return test_files::read_file("flashret.txt"); }

int step(int n, int pass, int fail)
{
    fake.steps_run.push_back(n);
    return n == fake.failing_step ? fail : pass;
}

const stage_functions FAKE_STAGE_FUNCTIONS = {
    .acquire_instance_guard = [](upgrade_run &) { return step(1, 0, fake.guard_failure); },
    .discover_device_link = [](upgrade_run &) { return step(2, 0, -4); },
    .show_startup_warning = [](upgrade_run &) { return step(3, 0, 0); },
    .fetch_device_info = [](upgrade_run &) { return step(4, 0, 1); },
    .parse_device_info = [](upgrade_run &) { return step(5, 0, -1); },
    .check_device_model = [](upgrade_run &) { return step(6, 0, -2); },
    .check_same_version = [](upgrade_run &) { return step(7, 0, -2); },
    .check_fits_database = [](upgrade_run &) { return step(8, 0, -3); },
    .prepare_workstation = [](upgrade_run &) { return step(9, 0, -1); },
    .purge_staged_images = [](upgrade_run &) {
        step(10, 0, 0);
        fake.purges++;
        return 0;
    },
    .stage_firmware = [](upgrade_run &) { return step(11, 0, -3); },
    .firewall_off = [](upgrade_run &) { return step(12, 0, 0); },
    .start_file_server = [](upgrade_run &) { return step(13, 0, -3); },
    .open_command_channel = [](upgrade_run &) { return step(14, 0, EXIT_NOT_CONNECTED); },
    .send_upgrade_command = [](upgrade_run &) { return step(15, 0, EXIT_COMMAND_NOT_SENT); },
    .start_spinner = [](upgrade_run &) { return step(16, 0, -1); },
    .await_reply = [](upgrade_run &) {
        step(17, 0, 0);
        return fake.ending;
    },
};

struct driver_test : ::testing::Test {
    test_files::working_dir dir;  // the result file lands in the current directory

    void SetUp() override
    {
        reset_driver_state();
        fake = fake_run{};
        g_driver_seams.message_box = record_box;
        g_stage_functions = FAKE_STAGE_FUNCTIONS;
        recording_commands::install();
    }
    void TearDown() override
    {
        recording_commands::restore();
        reset_driver_state();
    }
};

} // namespace

TEST_F(driver_test, SilentOutcomesWriteExactlyTheirCodes)
{
    const char *codes[OUTCOME_COUNT] = {"err1",  "err-4", "err0",  "err-2", "err-2", "err-2", "err-3",
                                        "err-1", "err-2", "err-3", "err-4", "err-5", "err-8", "err-3",
                                        "err-3", "err-3", "err-5", "err-6", "ok0",   "err-11", "err0",  "err-12", "chk0"};
    set_flag(g_silent_mode, 1);
    for (int id = 1; id <= OUTCOME_COUNT; id++) {
        report_outcome(static_cast<outcome_id>(id));
        EXPECT_EQ(result_file(), codes[id - 1]) << "outcome " << id;
    }
    EXPECT_TRUE(fake.boxes.empty());

    report_outcome(OUTCOME_NO_ADMIN_FIRMWARE);
    report_outcome(OUTCOME_UTILITIES_MISSING);
    EXPECT_EQ(result_file(), "err-8");
}

TEST_F(driver_test, InteractiveBoxesUseTheUiLanguage)
{
    report_outcome(OUTCOME_UPGRADE_OK);
    report_outcome(OUTCOME_ANOTHER_INSTANCE);
    set_flag(g_chinese_ui, 1);
    report_outcome(OUTCOME_ALREADY_LATEST);
    ASSERT_EQ(fake.boxes.size(), 3u);
    EXPECT_EQ(fake.boxes[0].style, BOX_STYLE_PLAIN);
    EXPECT_EQ(fake.boxes[0].caption, "Quorvane Camera Factory Upgrade Tool v2.91");
    EXPECT_EQ(fake.boxes[0].text, "Upgrade ok, camera will reboot!\nPlz wait 1min to init device!");
    EXPECT_EQ(fake.boxes[1].style, BOX_STYLE_ERROR);
    EXPECT_EQ(fake.boxes[1].text, "more than one instance!\nPlz wait last upgrader ok!");
#ifndef _WIN32  // the Windows build's Chinese texts are GBK: TextEncoding checks their bytes
    EXPECT_EQ(fake.boxes[2].caption, "类Quorvane相机出厂升级工具 v2.91");
    EXPECT_EQ(fake.boxes[2].text, "已是最新版本!\n无其他操作，可直接拔掉设备！");
#endif
    EXPECT_EQ(fake.boxes[2].style, BOX_STYLE_PLAIN);
    EXPECT_FALSE(test_files::exists("flashret.txt"));
}

// The Windows build hands GBK bytes to the ANSI calls; the Linux port prints UTF-8.
TEST_F(driver_test, TextEncoding)
{
    const outcome *shttpd = outcome_entry(OUTCOME_SHTTPD_NOT_WRITTEN);
    const outcome *latest = outcome_entry(OUTCOME_ALREADY_LATEST);
    const outcome *check = outcome_entry(OUTCOME_CAN_BE_UPGRADED);
    EXPECT_EQ(std::string(check->english), "The camera can be upgraded to 2.0.16.");
    set_flag(g_chinese_ui, 1);
#ifdef _WIN32
    EXPECT_EQ(hex(shttpd->english),
              "55706772616465206661696ca3a10a506c6561736520616c6c6f7720746f2072756e2053687474706421");
    EXPECT_EQ(hex(ui_caption()), "c0e051756f7276616e65cfe0bbfab3f6b3a7c9fdbcb6b9a4bedf2076322e3931");
    EXPECT_EQ(hex(latest->chinese),
              "d2d1cac7d7eed0c2b0e6b1be210acedec6e4cbfbb2d9d7f7a3acbfc9d6b1bdd3b0ceb5f4c9e8b1b8a3a1");
    EXPECT_EQ(hex(check->chinese), "cfe0bbfabfc9d2d4c9fdbcb6b5bd20322e302e3136a1a3");
#else
    EXPECT_EQ(hex(shttpd->english),
              "55706772616465206661696cefbc810a506c6561736520616c6c6f7720746f2072756e2053687474706421");
    EXPECT_EQ(std::string(ui_caption()), "类Quorvane相机出厂升级工具 v2.91");
    EXPECT_EQ(std::string(latest->chinese), "已是最新版本!\n无其他操作，可直接拔掉设备！");
    EXPECT_EQ(std::string(check->chinese), "相机可以升级到 2.0.16。");
#endif
}

TEST_F(driver_test, StartupWarning)
{
    set_flag(g_silent_mode, 1);
    EXPECT_FALSE(show_startup_warning());
    EXPECT_TRUE(fake.boxes.empty());

    set_flag(g_silent_mode, 0);
    EXPECT_FALSE(show_startup_warning());
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].style, BOX_STYLE_WARNING);
    EXPECT_EQ(fake.boxes[0].text.substr(0, 40), "This tool only provided for tester, may ");

    // Cancel ends the run there with 0: no later stage, nothing cleaned up.
    fake.answer = BOX_ANSWER_CANCEL;
    EXPECT_TRUE(show_startup_warning());
    g_stage_functions.show_startup_warning = REAL_STAGE_FUNCTIONS.show_startup_warning;
    EXPECT_EQ(run_upgrade(), EXIT_COMPLETED);
    EXPECT_EQ(fake.steps_run, (std::vector<int>{1, 2}));
    EXPECT_TRUE(recording_commands::calls.empty());
}

TEST_F(driver_test, SpinnerSteps)
{
    const struct {
        int n;
        std::string output;
    } cases[] = {
        {0, "[-]\r"},
        {9, "[\\]\r"},
        {10, "#\r[|]\r"},
        {26, "##\r[|]\r"},
        {10000, std::string(1000, '#') + "\r[-]\r"},
        {-5, "[-]\r"},
        {20000, std::string(1000, '#') + "\r[-]\r"},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStdout();
        spinner_step(c.n);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output) << "step " << c.n;
    }
}

TEST_F(driver_test, SpinnerStopsOnceTheRunEnds)
{
    set_flag(g_upgrade_quit, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(spinner_thread(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(progress_note()) + "\n\nUpgrade quit.\r\n\n");
}

// The download lines round megabytes and seconds half up and the percentage down, in both languages.
TEST_F(driver_test, DownloadLines)
{
    const int64_t image = 15490649;
    const struct {
        int64_t sent;
        const char *text;
    } progress[] = {
        {0, "0.0 / 15.5 MB (0 %)"},
        {7400000, "7.4 / 15.5 MB (47 %)"},
        {7449999, "7.4 / 15.5 MB (48 %)"},
        {7450000, "7.5 / 15.5 MB (48 %)"},
        {image - 1, "15.5 / 15.5 MB (99 %)"},
    };
    char line[256];
    for (const auto &c : progress) {
        download_progress_text(line, sizeof line, c.sent, image);
        EXPECT_EQ(std::string(line), std::string("Camera downloading firmware: ") + c.text) << c.sent;
    }
    download_done_text(line, sizeof line, image, 1249);
    EXPECT_STREQ(line, "Firmware sent to camera: 15.5 MB in 1.2 s. Camera is installing it, plz wait...");
    download_done_text(line, sizeof line, image, 61250);
    EXPECT_STREQ(line, "Firmware sent to camera: 15.5 MB in 61.3 s. Camera is installing it, plz wait...");

    set_flag(g_chinese_ui, 1);
    char done[256];
    download_progress_text(line, sizeof line, 7400000, image);
    download_done_text(done, sizeof done, image, 1250);
#ifdef _WIN32
    EXPECT_EQ(hex(line), "cfe0bbfad5fdd4dacfc2d4d8b9ccbcfea3ba372e34202f2031352e35204d4220283437202529");
    EXPECT_EQ(hex(done), "b9ccbcfed2d1b7a2cbcdb8f8cfe0bbfaa3ba31352e35204d42a3acd3c3cab120312e3320c3eba1a3cfe0bbfad5fdd4da"
                         "b0b2d7b0a3acc7ebc9d4baf2a1ada1ad");
#else
    EXPECT_EQ(std::string(line), "相机正在下载固件：7.4 / 15.5 MB (47 %)");
    EXPECT_EQ(std::string(done), "固件已发送给相机：15.5 MB，用时 1.3 秒。相机正在安装，请稍候……");
#endif
}

// A download reported whole shows its closing line once, before the spinner stops.
TEST_F(driver_test, SpinnerShowsTheDownloadBeforeItStops)
{
    watch_download_of("KTR.img");
    take_download_report("Shttpd-progress KTR.img 15490649 15490649", nullptr);
    set_flag(g_upgrade_ok, 1);
    testing::internal::CaptureStdout();
    spinner_thread();
    std::string out = testing::internal::GetCapturedStdout();
    watch_download_of("");
    char done[256];
    download_done_text(done, sizeof done, 15490649, 0);
    EXPECT_EQ(out, std::string(progress_note()) + "\n\n" + done + "\nUpgrade quit.\r\n\n");
}

// The closing line comes with every byte only, once per run; a download that the camera starts over
// gets a line of its own.
TEST_F(driver_test, DownloadLinesOfARun)
{
    watch_download_of("KTR.img");
    download_shown shown;
    testing::internal::CaptureStdout();
    for (const char *sent : {"1000000", "15490648", "0", "15490649", "15490649", "0", "15490649"}) {
        take_download_report((std::string("Shttpd-progress KTR.img ") + sent + " 15490649").c_str(), nullptr);
        show_download(shown);
    }
    std::string out = testing::internal::GetCapturedStdout();
    watch_download_of("");
    EXPECT_EQ(out, "Camera downloading firmware: 1.0 / 15.5 MB (6 %)\n"
                   "Camera downloading firmware: 15.5 / 15.5 MB (99 %)\n"
                   "Camera is downloading the firmware again.\n"
                   "Camera downloading firmware: 0.0 / 15.5 MB (0 %)\n"
                   "Firmware sent to camera: 15.5 MB in 0.0 s. Camera is installing it, plz wait...\n");
}

TEST_F(driver_test, CommandLine)
{
    const struct {
        std::vector<const char *> argv;
        bool silent;
        bool check;
    } cases[] = {
        {{"facup"}, false, false},
        {{"facup", "-s"}, true, false},
        {{"facup", "-S"}, false, false},
        {{"facup", "-s", "x"}, false, false},
        {{"facup", "x"}, false, false},
        {{"facup", "-c"}, false, true},
        {{"facup", "-c", "-s"}, true, true},
        {{"facup", "-s", "-c"}, true, true},
        {{"facup", "-C"}, false, false},
        {{"facup", "-c", "-c"}, false, false},
        {{"facup", "-s", "-s"}, false, false},
        {{"facup", "-c", "-s", "x"}, false, false},
        {{"facup", "-cs"}, false, false},
    };
    for (const auto &c : cases) {
        set_flag(g_silent_mode, 0);
        g_workstation.check_only = false;
        std::vector<char *> argv;
        for (const char *a : c.argv)
            argv.push_back(const_cast<char *>(a));
        EXPECT_EQ(facup_main(static_cast<int>(argv.size()), argv.data()), 0);
        EXPECT_EQ(flag_is_set(g_silent_mode), c.silent) << c.argv.size() << " arguments";
        EXPECT_EQ(g_workstation.check_only, c.check) << c.argv.size() << " arguments";
    }
}

// A check runs the tests of an upgrade, without the start-up warning, and stops before the PC is
// changed: no command, not even the clean-up's (also when a test refuses the camera), and the
// information file's copy deleted.
TEST_F(driver_test, CheckRunChangesNothing)
{
    g_workstation.check_only = true;
    g_stage_functions.show_startup_warning = [](upgrade_run &) { return show_startup_warning() ? 1 : 0; };
    ASSERT_TRUE(test_files::write_file(".deviceRelateInfo.txt", "QUORVANE_CAM418S*ver:2.0.15"));
    EXPECT_EQ(run_upgrade(), EXIT_COMPLETED);
    EXPECT_EQ(fake.steps_run, (std::vector<int>{1, 2, 4, 5, 6, 7, 8}));
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].style, BOX_STYLE_PLAIN);
    EXPECT_EQ(fake.boxes[0].text, "The camera can be upgraded to 2.0.16.");
    EXPECT_TRUE(recording_commands::calls.empty());
    EXPECT_FALSE(test_files::exists(".deviceRelateInfo.txt"));

    set_flag(g_silent_mode, 1);
    g_stage_functions.check_same_version = [](upgrade_run &) { return stop_run(OUTCOME_SAME_VERSION, -2); };
    EXPECT_EQ(run_upgrade(), EXIT_SAME_VERSION);
    EXPECT_EQ(result_file(), "err-2");
    EXPECT_TRUE(recording_commands::calls.empty());
    g_workstation.check_only = false;
    EXPECT_EQ(run_upgrade(), EXIT_SAME_VERSION);
    EXPECT_FALSE(recording_commands::calls.empty()) << "an upgrade's refusal cleans up";
}

TEST_F(driver_test, ExitCodeOfEachStage)
{
    const struct {
        int step;
        int exit_code;
        bool driver_cleans_up;
    } cases[] = {
        {1, -1, false}, {2, -2, false},  {4, -3, false},  {5, -4, false}, {6, -5, false},  {7, -6, false},
        {8, -7, false}, {9, -8, true},   {11, -9, false}, {13, -10, false}, {14, -7, false}, {15, -6, false},
        {16, -7, true},
    };
    set_flag(g_silent_mode, 1);
    for (const auto &c : cases) {
        fake.failing_step = c.step;
        fake.steps_run.clear();
        recording_commands::calls.clear();
        std::remove("flashret.txt");
        EXPECT_EQ(run_upgrade(), c.exit_code) << "step " << c.step;
        EXPECT_EQ(fake.steps_run.back(), c.step);
        EXPECT_EQ(!recording_commands::calls.empty(), c.driver_cleans_up) << "step " << c.step;
        EXPECT_EQ(test_files::exists("flashret.txt"), c.step == 9) << "step " << c.step;
    }
    EXPECT_EQ(result_file(), "");  // step 16 left the file alone
}

// A guard that could not be created has cleaned up; the run goes on all the same.
TEST_F(driver_test, RunGoesOnWhenTheGuardCannotBeCreated)
{
    fake.failing_step = 1;
    fake.guard_failure = -1;
    EXPECT_EQ(run_upgrade(), 0);
    EXPECT_EQ(fake.steps_run.size(), 18u);
}

TEST_F(driver_test, EndingsAfterTheReply)
{
    std::string staged = dir.file("staged.img");
    std::snprintf(g_staged_image_path, sizeof g_staged_image_path, "%s", staged.c_str());

    ASSERT_TRUE(test_files::write_file(staged, "image"));
    fake.ending = ENDING_CLEANUP_ONLY;
    EXPECT_EQ(run_upgrade(), 0);
    EXPECT_EQ(fake.purges, 1);
    EXPECT_TRUE(test_files::exists(staged));
    EXPECT_EQ(recording_commands::calls.size(), 3u);

    fake.purges = 0;
    fake.ending = ENDING_FULL;
    EXPECT_EQ(run_upgrade(), 0);
    EXPECT_EQ(fake.purges, 2);
    EXPECT_FALSE(test_files::exists(staged));
    EXPECT_EQ(fake.steps_run.size(), 2u * 17u + 1u);  // each run's 17 stages, and the full ending's second purge
}

// A confirmation after the clean-up still reads the camera: the run keeps the single-instance guard
// until its end, so that no copy started meanwhile upgrades a camera at the same address.
TEST_F(driver_test, TheGuardIsKeptThroughTheConfirmation)
{
    static bool guard_held_while_reading;
    guard_held_while_reading = false;
    g_stage_functions.acquire_instance_guard = REAL_STAGE_FUNCTIONS.acquire_instance_guard;
    fake.ending = ENDING_FULL_THEN_CONFIRM;
    g_driver.settings.confirm = CONFIRM_RECORD;
    g_driver_seams.download_device_info = [](const char *, int, int *status) {
        guard_held_while_reading = g_instance_mutex != nullptr;
        *status = 200;
        return test_files::write_file(".deviceRelateInfo.txt", "QUORVANE_CAM418S*ver:2.0.16") ? 0 : 1;
    };
    EXPECT_EQ(run_upgrade(), 0);
    EXPECT_TRUE(guard_held_while_reading);
    EXPECT_TRUE(g_driver.record.confirm.confirmed);
    EXPECT_EQ(g_instance_mutex, nullptr) << "given back at the run's end";
}
