// The run record and the diagnostics log, through whole runs of replaced stages.
#include "diagnostics_log.h"
#include "driver_seams.h"
#include "driver_state.h"
#include "outcomes.h"
#include "run_id.h"
#include "run_end.h"
#include "run_record.h"
#include "test_files.h"
#include "whole_run.h"
#include "workstation.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace whole_run;

namespace {

struct run_record_test : whole_run_test {};

} // namespace

TEST_F(run_record_test, RecordOfAWholeRunInItsFieldOrder)
{
    g_workstation.download.progress.sent = 4096;
    ASSERT_EQ(run_upgrade(), EXIT_COMPLETED);
    std::string stage = R"(":\d+\.\d{3})";
    std::string expected = R"(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ","run_id":"[0-9a-f]{32}",)"
                           R"("tool":"1\.0\.3","station":"[^"]*",)"
                           R"("mode":"silent","run_kind":"upgrade","link":"usb","pc_address":"192\.168\.88\.2",)"
                           R"("camera_address":"192\.168\.88\.1","camera_mac":(null|"[0-9a-f:]+"),"model":"CAM\\u0001\\"\\\\\xe7\x9b\xb8\xe6\x9c\xba\xef\xbf\xbd )"
                           R"(\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xf0\x9f\x93\xb7",)"
                           R"("version_before":"2\.0\.15","version_after":null,)"
                           R"("confirm":\{"mode":"off","confirmed":null,"seconds":null,"versions":\[\],)"
                           R"("unreachable_seconds":null\},"root_permissions":null,"server_program":null,"image":"image\.img","image_bytes":5,)"
                           R"("image_md5":"0123456789abcdef0123456789abcdef","staging_error":null,"served_bytes":4096,"outcome":19,)"
                           R"("result":"ok0","exit_code":0,"seconds":\d+\.\d{3},"stages":\{"guard)" +
                           stage + R"(,"link)" + stage + R"(,.*,"spinner)" + stage + R"(,"reply)" + stage +
                           R"(,"cleanup)" + stage + R"(\},"warnings":\["settings: \\"x\\""\]\}\n)";
    EXPECT_TRUE(std::regex_match(test_files::read_file(logs_file("runs.jsonl")), std::regex(expected)))
        << test_files::read_file(logs_file("runs.jsonl"));
}

// The record's seconds come from the run's clock (the seam tests replace): with one that moves
// 250 ms at each look, every stage and the whole run last whole quarters of a second.
TEST_F(run_record_test, SecondsFromTheRunsClock)
{
    static std::atomic<int64_t> looks;
    looks = 0;
    g_workstation_seams.now_ms = [] { return 250 * ++looks; };
    ASSERT_EQ(run_upgrade(), EXIT_COMPLETED);
    std::string record = test_files::read_file(logs_file("runs.jsonl"));
    auto count = [&record](const char *pattern) {
        std::regex re(pattern);
        return std::distance(std::sregex_iterator(record.begin(), record.end(), re), std::sregex_iterator());
    };
    auto seconds = count(R"(":\d+\.\d{3}[,}])");
    auto quarters = count(R"(":\d+\.(000|250|500|750)[,}])");
    EXPECT_GT(seconds, 10) << record;
    EXPECT_EQ(quarters, seconds) << record;
}

// A strict confirmation after the "ok": its stage after the clean-up, the outcome it raised, the
// version it read and its member; the information file's copy gone.
TEST_F(run_record_test, RecordOfAConfirmedRun)
{
    g_driver.settings.confirm = CONFIRM_STRICT;
    g_stage_functions.await_reply = [](upgrade_run &) { return ENDING_FULL_THEN_CONFIRM; };
    g_driver_seams.download_device_info = [](const char *, int, int *status) {
        *status = 200;
        return test_files::write_file(".deviceRelateInfo.txt", "QUORVANE_CAM418S*ver:2.0.16") ? 0 : 4;
    };
    ASSERT_EQ(run_upgrade(), EXIT_COMPLETED);
    std::string seconds = R"(":\d+\.\d{3})";
    std::regex confirmed(R"(\{.*"version_after":"2\.0\.16","confirm":\{"mode":"strict","confirmed":true,"seconds)" +
                         seconds + R"(,"versions":\[\{"version":"2\.0\.16","seconds)" + seconds +
                         R"(\}\],"unreachable_seconds":0\.000\},.*"outcome":19,"result":"ok0",.*)" +
                         R"("reply)" + seconds + R"(,"cleanup)" + seconds + R"(,"confirm)" + seconds + R"(\},.*\n)");
    EXPECT_TRUE(std::regex_match(test_files::read_file(logs_file("runs.jsonl")), confirmed))
        << test_files::read_file(logs_file("runs.jsonl"));
    EXPECT_EQ(test_files::read_file("flashret.txt"), "ok0");
    EXPECT_FALSE(test_files::exists(".deviceRelateInfo.txt"));
}

TEST_F(run_record_test, RoadsThatEndEarly)
{
    // No working root: no record, and the root is not made for one.
    g_stage_functions.parse_device_info = [](upgrade_run &) { return -1; };
    EXPECT_EQ(run_upgrade(), EXIT_INFO_FILE_UNUSABLE);
    EXPECT_FALSE(test_files::exists(root_dir()));

    ASSERT_EQ(platform_mkdir(root_dir().c_str()), 0);
    EXPECT_EQ(run_upgrade(), EXIT_INFO_FILE_UNUSABLE);
    guard_result = 1;
    EXPECT_EQ(run_upgrade(), EXIT_ANOTHER_INSTANCE);
    std::string records = test_files::read_file(logs_file("runs.jsonl"));
    std::regex parse_failure(R"(\{.*"version_before":null,.*"image":null,"image_bytes":null,.*"outcome":null,)"
                             R"("result":null,"exit_code":-4,.*"stages":\{"guard.*"parse":[0-9.]+\},.*\n)");
    std::regex another_instance(R"(\{.*"camera_address":null,.*"outcome":1,"result":"err1","exit_code":-1,.*\n)");
    std::string first = records.substr(0, records.find('\n') + 1);
    EXPECT_TRUE(std::regex_match(first, parse_failure)) << first;
    EXPECT_TRUE(std::regex_match(records.substr(first.size()), another_instance)) << records;
}

// An interrupted run's record: no exit code, the event and the stage, the outcome raised before it.
TEST_F(run_record_test, RecordOfAnInterruptedRun)
{
    ASSERT_EQ(platform_mkdir(root_dir().c_str()), 0);
    upgrade_run run = {};
    open_run(&run);
    diagnostics_keep(true);  // as the guard's holder does
    report_outcome(OUTCOME_UPGRADE_OK);
    close_interrupted_run("SIGTERM", "cleanup");
    std::regex interrupted(R"(\{.*"outcome":19,"result":"ok0","exit_code":null,"interrupted":"SIGTERM",)"
                           R"("interrupted_stage":"cleanup","seconds":.*\n)");
    EXPECT_TRUE(std::regex_match(test_files::read_file(logs_file("runs.jsonl")), interrupted));
    std::string log = test_files::read_file(logs_file(run_logs().at(0)));
    EXPECT_NE(log.find("run ended: interrupted by SIGTERM during the stage \"cleanup\""), std::string::npos) << log;
}

// Past 10 MB the copy that holds the guard starts a new file; the older one replaces runs.1.jsonl.
TEST_F(run_record_test, RotationPastTenMegabytes)
{
    ASSERT_TRUE(fs::create_directories(root_dir() + "/logs"));
    ASSERT_TRUE(test_files::write_file(logs_file("runs.1.jsonl"), "old"));
    ASSERT_TRUE(test_files::make_file_of_size(logs_file("runs.jsonl"), RUN_RECORD_ROTATE_ABOVE));
    run_upgrade();
    EXPECT_EQ(test_files::read_file(logs_file("runs.1.jsonl")), "old");

    ASSERT_TRUE(test_files::make_file_of_size(logs_file("runs.jsonl"), RUN_RECORD_ROTATE_ABOVE + 1));
    for (int refused_or_unguarded : {1, -1}) {
        guard_result = refused_or_unguarded;
        run_upgrade();
        EXPECT_EQ(test_files::read_file(logs_file("runs.1.jsonl")), "old") << "only the guard's holder rotates";
    }

    ASSERT_TRUE(test_files::make_file_of_size(logs_file("runs.jsonl"), RUN_RECORD_ROTATE_ABOVE + 1));
    guard_result = 0;
    run_upgrade();
    EXPECT_EQ(file_size_of(logs_file("runs.1.jsonl").c_str()), RUN_RECORD_ROTATE_ABOVE + 1);
    std::string fresh = test_files::read_file(logs_file("runs.jsonl"));
    EXPECT_EQ(fresh.find('\n'), fresh.size() - 1) << "one record";
}

#ifdef _WIN32
// A record file that another program holds open without delete sharing cannot move: nothing
// rotates, both generations stay whole, this run's line is still appended, and the next run rotates.
TEST_F(run_record_test, RotationWhileTheFileIsHeld)
{
    ASSERT_TRUE(fs::create_directories(root_dir() + "/logs"));
    ASSERT_TRUE(test_files::write_file(logs_file("runs.1.jsonl"), "old\n"));
    ASSERT_TRUE(test_files::make_file_of_size(logs_file("runs.jsonl"), RUN_RECORD_ROTATE_ABOVE + 1));
    HANDLE held = CreateFileA(logs_file("runs.jsonl").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    run_upgrade();
    CloseHandle(held);
    EXPECT_EQ(test_files::read_file(logs_file("runs.1.jsonl")), "old\n");
    std::string current = test_files::read_file(logs_file("runs.jsonl"));
    std::string line = current.substr(RUN_RECORD_ROTATE_ABOVE + 1);
    EXPECT_EQ(line.rfind("{\"time\":", 0), 0u) << "the run's own line follows the older ones";
    EXPECT_EQ(line.find('\n'), line.size() - 1);

    run_upgrade();
    EXPECT_EQ(test_files::read_file(logs_file("runs.1.jsonl")), current);
    std::string fresh = test_files::read_file(logs_file("runs.jsonl"));
    EXPECT_EQ(fresh.find('\n'), fresh.size() - 1) << "one record";
}
#endif

TEST_F(run_record_test, DiagnosticsLog)
{
    // The root appears at the working-directory stage; the link stage's line was logged before it.
    ASSERT_EQ(run_upgrade(), EXIT_COMPLETED);
    std::vector<std::string> logs = run_logs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_TRUE(std::regex_match(logs[0], std::regex(R"(run-\d{8}T\d{6}Z-\d+\.log)"))) << logs[0];
    std::string log = test_files::read_file(logs_file(logs[0]));
    // The log's first line and the record name the run by the same id.
    std::string id = log.substr(log.find(" run ") + 5, RUN_ID_LENGTH);
    EXPECT_NE(log.find(" run " + id + " started on station"), std::string::npos) << log;
    EXPECT_LT(log.find(" run " + id + " started on station"), log.find('\n')) << log;
    EXPECT_NE(test_files::read_file(logs_file("runs.jsonl")).find("\"run_id\":\"" + id + "\""), std::string::npos);
    size_t early = log.find(R"( early\x01line)"), later = log.find("upgrade ok");
    EXPECT_LT(early, later) << log;
    EXPECT_NE(log.find("result code ok0, message \"Upgrade ok, camera will reboot!\\nPlz"), std::string::npos);

    // Every line whole and stamped, from both threads of the channel stage.
    std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z [a-z_]+\.cpp:\d+ [^\n]*)");
    int lines = 0, thread_lines = 0;
    for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1, lines++) {
        std::string one = log.substr(at, end - at);
        EXPECT_TRUE(std::regex_match(one, line)) << one;
        thread_lines += one.find(" thread line ") != std::string::npos;
    }
    EXPECT_EQ(thread_lines, 1000);

    // A copy another instance refused keeps no log and prunes nothing.
    for (int i = 0; i < 55; i++)
        test_files::write_file(logs_file("run-20000101T0000" + std::to_string(10 + i) + "Z-1.log"), "");
    const std::vector<std::string> others = {"run-notes.log", "run-20000101T000000Z-.log", "run-20000101T000000Z-1.log.1",
                                             "run-20000101T000000-1.log"};
    for (const std::string &name : others)
        test_files::write_file(logs_file(name), "");
    fs::remove(logs_file(logs[0]));
    guard_result = 1;
    run_upgrade();
    EXPECT_EQ(run_logs().size(), 55u + others.size());

    // Only the newest 50 of the tool's own logs stay, this run's among them; other files stay.
    guard_result = 0;
    run_upgrade();
    logs = run_logs();
    ASSERT_EQ(logs.size(), 50u + others.size());
    for (const std::string &name : others)
        EXPECT_TRUE(test_files::exists(logs_file(name))) << name;
    EXPECT_FALSE(test_files::exists(logs_file("run-20000101T000015Z-1.log"))) << "the oldest went";
    EXPECT_TRUE(test_files::exists(logs_file("run-20000101T000016Z-1.log")));
    EXPECT_NE(logs.back().rfind("run-2000", 0), 0u) << "this run's log stays";
}

// Ids begin with the start in hex (so that they sort by it) and differ within one millisecond.
TEST(diagnostics_text, RunIds)
{
    std::string first = new_run_id(0x0123456789abLL), second = new_run_id(0x0123456789abLL);
    EXPECT_TRUE(std::regex_match(first, std::regex("0123456789ab[0-9a-f]{20}"))) << first;
    EXPECT_NE(first, second);
    EXPECT_LT(new_run_id(0x0123456789abLL), new_run_id(0x0123456789acLL));
}

TEST(diagnostics_text, Escapes)
{
    char text[64];
    escape_log_text("\n\nSocket text: a\tb\r\x01\x7f\xc3.\r\n", text, sizeof text);
    EXPECT_STREQ(text, "Socket text: a\\tb\\r\\x01\\x7f\xc3.");
    escape_log_text("ab\x01", text, 6);
    EXPECT_STREQ(text, "ab") << "an escape is never cut in half";
}
