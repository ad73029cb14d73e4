// The run record and the diagnostics log, through whole runs of replaced stages.
#include "commands.h"
#include "delivery.h"
#include "diagnostics_log.h"
#include "http_peer.h"
#include "metrics_file.h"
#include "recording_commands.h"
#include "run_record.h"
#include "test_files.h"
#include "utc_time.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string root_dir()
{
    char root[COMMAND_LINE_SIZE];
    format_text(root, sizeof root, PATH_WORKING_ROOT_FMT, g_brand_word);
    return root;
}
std::string logs_file(const std::string &name) { return root_dir() + "/logs/" + name; }

std::vector<std::string> run_logs()
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(root_dir() + "/logs"))
        if (entry.path().filename().string().rfind("run-", 0) == 0)
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string staged_file;  // the image the staging stage "stages"
int guard_result = 0;

void log_from_a_thread()
{
    for (int i = 0; i < 500; i++)
        DEBUG_LOG("thread line %d\n", i);
}

// A run that gets everywhere and fills what the real stages fill.
const upgrade_stages FULL_RUN = {
    [] {
        if (guard_result == 1)
            raise_outcome(OUTCOME_ANOTHER_INSTANCE);
        return guard_result;
    },
    [](char *host, char *device) {
        std::strcpy(host, "192.168.88.2");
        std::strcpy(device, USB_CAMERA_ADDRESS);
        DEBUG_LOG("early\x01line\n");
        return 0;
    },
    [] { run_record_add_warning("settings: \"x\""); },
    [](const char *) { return 1; },
    [](unsigned char *found, char *version, char *previous) {
        *found = 1;
        std::strcpy(version, "2.0.15");
        std::strcpy(previous, "2.0.15");
        // Controls escaped, UTF-8 kept, a byte that begins no character (a lone lead byte, a stray
        // continuation byte, an overlong "/", a surrogate) replaced.
        std::strcpy(g_device_model, "CAM\x01\"\\\xe7\x9b\xb8\xe6\x9c\xba\xc3 \x80\xc0\xaf\xed\xa0\x80\xf0\x9f\x93\xb7");
        g_device_model_found = 1;
        return 0;
    },
    [] { return 0; },
    [](const char *) { return 0; },
    [](const char *) { return 0; },
    [] { return platform_mkdir(root_dir().c_str()) == 0 || platform_exists(root_dir().c_str()) ? 0 : -1; },
    [] {},
    [](char *name, char *path) {
        std::strcpy(name, "image.img");
        std::strcpy(path, staged_file.c_str());
        return 0;
    },
    [] {},
    [] { return 0; },
    [](upgrade_run *) {
        std::thread a(log_from_a_thread), b(log_from_a_thread);
        a.join();
        b.join();
        return STAGE_GO_ON;
    },
    [](upgrade_run *run) {
        std::strcpy(run->firmware_md5, "0123456789abcdef0123456789abcdef");
        return STAGE_GO_ON;
    },
    [] { return 0; },
    [](upgrade_run *) {
        raise_outcome(OUTCOME_UPGRADE_OK);
        return ENDING_FULL;
    },
};

struct run_record_test : ::testing::Test {
    test_files::scratch_dir dir;
    fs::path saved_cwd = fs::current_path();

    void SetUp() override
    {
        fs::current_path(dir.path());
        reset_run_state();
        recording_commands::install();
        fs::remove_all(root_dir());
        g_stages = FULL_RUN;
        guard_result = 0;
        staged_file = dir.file("staged.img");
        test_files::write_file(staged_file, "12345");
        set_flag(g_silent_mode, 1);
    }
    void TearDown() override
    {
        recording_commands::restore();
        reset_run_state();
        fs::current_path(saved_cwd);
        fs::remove_all(root_dir());
    }
};

} // namespace

TEST_F(run_record_test, RecordOfAWholeRunInItsFieldOrder)
{
    g_workstation.download.progress.sent = 4096;
    ASSERT_EQ(run_upgrade(), EXIT_COMPLETED);
    std::string stage = R"(":\d+\.\d{3})";
    std::string expected = R"(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ","run_id":"[0-9a-f]{32}",)"
                           R"("tool":"1\.0\.3","station":"[^"]*",)"
                           R"("mode":"silent","link":"usb","pc_address":"192\.168\.88\.2",)"
                           R"("camera_address":"192\.168\.88\.1","model":"CAM\\u0001\\"\\\\\xe7\x9b\xb8\xe6\x9c\xba\xef\xbf\xbd )"
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

// A strict confirmation after the "ok": its stage after the clean-up, the outcome it raised, the
// version it read and its member; the information file's copy gone.
TEST_F(run_record_test, RecordOfAConfirmedRun)
{
    g_run.confirm = CONFIRM_STRICT;
    g_stages.await_reply = [](upgrade_run *) { return ENDING_FULL_THEN_CONFIRM; };
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
    g_stages.parse_device_info = [](unsigned char *, char *, char *) { return -1; };
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
    run_record_begin(&run);
    diagnostics_keep(true);  // as the guard's holder does
    report_outcome(OUTCOME_UPGRADE_OK);
    run_record_end_interrupted("SIGTERM", "cleanup");
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

TEST(diagnostics_text, UtcTimesAndEscapes)
{
    char text[64];
    format_utc(0, UTC_MILLISECONDS, text, sizeof text);
    EXPECT_STREQ(text, "1970-01-01T00:00:00.000Z");
    format_utc(951868799999, UTC_MILLISECONDS, text, sizeof text);
    EXPECT_STREQ(text, "2000-02-29T23:59:59.999Z");
    format_utc(4107542400000, UTC_COMPACT, text, sizeof text);  // 2100 has no 29 February
    EXPECT_STREQ(text, "21000301T000000Z");
    format_utc(-1, UTC_SECONDS, text, sizeof text);  // before 1970 the day still begins at midnight
    EXPECT_STREQ(text, "1969-12-31T23:59:59Z");

    escape_log_text("\n\nSocket text: a\tb\r\x01\x7f\xc3.\r\n", text, sizeof text);
    EXPECT_STREQ(text, "Socket text: a\\tb\\r\\x01\\x7f\xc3.");
    escape_log_text("ab\x01", text, 6);
    EXPECT_STREQ(text, "ab") << "an escape is never cut in half";
}

TEST(metrics_text, CountersCarriedOverFromCompleteLinesOnly)
{
    run_metrics run = {"err0", 0, 1700000000500, 12.25, 3, 2};
    std::string first = metrics_text("", run);
    EXPECT_NE(first.find("facup_runs_total{result=\"ok0\"} 0\n"), std::string::npos) << first;
    EXPECT_NE(first.find("facup_runs_total{result=\"err0\"} 1\n"), std::string::npos);
    EXPECT_NE(first.find("facup_last_run_timestamp_seconds 1700000000.500\n"), std::string::npos);
    EXPECT_NE(first.find("facup_outbox_records 3\n# HELP facup_outbox_refused"), std::string::npos);
    EXPECT_NE(first.find("facup_outbox_refused 2\n# HELP facup_info"), std::string::npos);

    run.result = "ok0";
    std::string second = metrics_text(first, run);
    EXPECT_NE(second.find("{result=\"ok0\"} 1\n"), std::string::npos);
    EXPECT_NE(second.find("{result=\"err0\"} 1\n"), std::string::npos);

    // A torn last line, foreign series and malformed counters are not read; a run without an
    // outcome counts under its own label.
    std::string odd = "facup_runs_total{result=\"err-5\"} 7\nfacup_runs_total{result=\"ok0\"} 4x\n"
                      "other_total{result=\"ok0\"} 9\nfacup_runs_total{result=\"Bad\"} 2\n"
                      "facup_runs_total{result=\"err0\"} 1";
    run.result = nullptr;
    std::string third = metrics_text(odd, run);
    EXPECT_NE(third.find("{result=\"err-5\"} 7\n"), std::string::npos) << third;
    EXPECT_NE(third.find("{result=\"ok0\"} 0\n"), std::string::npos);
    EXPECT_NE(third.find("{result=\"none\"} 1\n"), std::string::npos);
    EXPECT_EQ(third.find("err0"), std::string::npos);
    EXPECT_EQ(third.find("Bad"), std::string::npos);
}

TEST_F(run_record_test, MetricsFileReplacedWhole)
{
    std::string path = logs_file("station.prom");
    fs::create_directories(root_dir() + "/logs");
    run_metrics run = {"ok0", 0, 0, 1.0, 0, 0};
    ASSERT_EQ(metrics_file_update(path.c_str(), run), 0);
    ASSERT_EQ(metrics_file_update(path.c_str(), run), 0);
    EXPECT_NE(test_files::read_file(path).find("{result=\"ok0\"} 2\n"), std::string::npos);
    EXPECT_FALSE(test_files::exists(path + ".tmp"));
    EXPECT_EQ(metrics_file_update((root_dir() + "/missing/x.prom").c_str(), run), -1);
}

namespace {

std::vector<std::string> outbox_names()
{
    std::vector<std::string> names;
    if (fs::exists(root_dir() + "/logs/outbox"))
        for (const auto &entry : fs::directory_iterator(root_dir() + "/logs/outbox"))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A run id that sorts as n does.
std::string id_of(int n)
{
    char time[16];
    std::snprintf(time, sizeof time, "%012x", n);
    return time + std::string(RUN_ID_LENGTH - RUN_ID_TIME_DIGITS, 'a');
}

const std::string OK = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
const std::string REFUSED = "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 9\r\n\r\nno table!";

report_settings report_to(const std::string &url) { return {url, "X-User: line 4", 1, ""}; }

} // namespace

// A record stays in the outbox until a collector answers it with a 2xx: not on a 500, a 404, a 429
// or a redirect the post does not follow, nor when the collector takes the connection and never
// answers (the deadline ends the attempt), nor when nothing listens. A record refused as malformed
// (400, 413, 422) is set aside for good. What is sent is the record's line with its header and type.
TEST_F(run_record_test, OutboxKeptUntilDelivered)
{
    ASSERT_EQ(platform_mkdir(root_dir().c_str()), 0);
    closed_port nothing;
    auto status = [](const char *line) {
        return peer_script{read_request(), send_bytes(std::string("HTTP/1.1 ") + line + "\r\n\r\n"), close_conn()};
    };
    struct {
        const char *name;
        peer_script script;
        size_t left, refused;
    } cases[] = {
        {"500", {read_request(), send_bytes(REFUSED), close_conn()}, 1, 0},
        {"404", status("404 Not Found"), 1, 0},
        {"429", status("429 Too Many Requests"), 1, 0},
        {"301", status("301 Moved Permanently\r\nLocation: /new"), 1, 0},
        {"400", status("400 Bad Request"), 0, 1},
        {"413", status("413 Content Too Large"), 0, 1},
        {"422", status("422 Unprocessable Content"), 0, 1},
        {"no answer", {read_request(), hold_conn()}, 1, 0},
        {"nothing listens", {}, 1, 0},
        {"2xx", {read_request(), send_bytes(OK), close_conn()}, 0, 0},
        {"201 with Location", status("201 Created\r\nLocation: /records/17\r\nContent-Length: 0"), 0, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_dir() + "/logs/outbox");
        ASSERT_EQ(outbox_keep(id_of(1), "{\"a\":1}", OUTBOX_MAX_RECORDS), 0);
        script_peer peer(c.script.empty() ? std::vector<peer_script>{} : std::vector<peer_script>{c.script});
        std::string url = c.script.empty() ? "http://127.0.0.1:" + std::to_string(nothing.port()) + "/in?q=1"
                                            : peer.url("/in?q=1");
        EXPECT_EQ(outbox_send(report_to(url), steady_now_ms() + 500), c.left + c.refused == 0 ? 1 : 0);
        EXPECT_EQ(outbox_record_count(), c.left);
        EXPECT_EQ(outbox_refused_count(), c.refused);
        std::string set_aside = root_dir() + "/logs/outbox/refused/" + id_of(1) + ".json";
        EXPECT_EQ(test_files::exists(set_aside) ? test_files::read_file(set_aside) : "", c.refused ? "{\"a\":1}\n" : "");
        peer.finish();
        if (!c.script.empty()) {
            EXPECT_NE(peer.request(0).find("X-User: line 4\r\nContent-Type: application/json\r\nContent-Length: 8\r\n"
                                           "\r\n{\"a\":1}\n"),
                      std::string::npos)
                << peer.request(0);
        }
    }
    // Where a 301 points is in the run's diagnostics log, as a whole URL for report_url.
    upgrade_run run = {};
    run_record_begin(&run);
    diagnostics_keep(true);
    ASSERT_EQ(outbox_keep(id_of(1), "{}", OUTBOX_MAX_RECORDS), 0);
    script_peer moved({status("301 Moved Permanently\r\nLocation: /new?q=2")});
    outbox_send(report_to(moved.url("/in")), steady_now_ms() + 500);
    run_record_end(0);
    std::string log = test_files::read_file(logs_file(run_logs().at(0)));
    EXPECT_NE(log.find("moved to \"" + moved.url("/new?q=2") + "\""), std::string::npos) << log;
}

// Oldest first; a refusal does not stop the others, an unreachable collector stops the rest; past
// the bound the oldest are dropped, and only files named as records count.
TEST_F(run_record_test, OutboxOrderAndBound)
{
    ASSERT_EQ(platform_mkdir(root_dir().c_str()), 0);
    for (int n : {3, 1, 2})
        ASSERT_EQ(outbox_keep(id_of(n), "{\"n\":" + std::to_string(n) + "}", OUTBOX_MAX_RECORDS), 0);
    test_files::write_file(root_dir() + "/logs/outbox/notes.json", "{}");
    test_files::write_file(root_dir() + "/logs/outbox/" + id_of(0) + ".json.tmp", "{");
    EXPECT_EQ(outbox_record_count(), 3u);
    script_peer peer({{read_request(), send_bytes(OK), close_conn()},
                      {read_request(), send_bytes(REFUSED), close_conn()},
                      {read_request(), send_bytes(OK), close_conn()}});
    EXPECT_EQ(outbox_send(report_to(peer.url("/")), steady_now_ms() + 5000), 2);
    peer.finish();
    for (int i = 0; i < 3; i++)
        EXPECT_NE(peer.request((size_t)i).find("{\"n\":" + std::to_string(i + 1) + "}"), std::string::npos);
    EXPECT_EQ(outbox_names(), (std::vector<std::string>{id_of(0) + ".json.tmp", id_of(2) + ".json", "notes.json"}));

    ASSERT_EQ(outbox_keep(id_of(4), "{}", OUTBOX_MAX_RECORDS), 0);
    closed_port nothing;
    EXPECT_EQ(outbox_send(report_to("http://127.0.0.1:" + std::to_string(nothing.port()) + "/"), steady_now_ms() + 5000),
              0);
    EXPECT_EQ(outbox_record_count(), 2u);

    for (int n = 5; n < 9; n++)
        ASSERT_EQ(outbox_keep(id_of(n), "{}", 3), 0);
    EXPECT_EQ(outbox_names(), (std::vector<std::string>{id_of(0) + ".json.tmp", id_of(6) + ".json",
                                                        id_of(7) + ".json", id_of(8) + ".json", "notes.json"}));
}

// Whole runs: without a report URL nothing new but the id; with one, the holder of the guard delivers
// (the outbox that waited first, its record kept there before the run counts as ended, temporary
// files left for more than a day removed), a refused copy and an interrupted run only keep their
// record.
TEST_F(run_record_test, DeliveryOfTheRunsRecord)
{
    ASSERT_EQ(run_upgrade(), EXIT_COMPLETED);
    EXPECT_FALSE(fs::exists(root_dir() + "/logs/outbox"));
    EXPECT_EQ(test_files::read_file(logs_file("runs.jsonl")).find("\"outbox\""), std::string::npos);

    script_peer peer({{read_request(), send_bytes(OK), close_conn()}, {read_request(), send_bytes(OK), close_conn()}});
    g_run.report = report_to(peer.url("/"));
    guard_result = 1;
    EXPECT_EQ(run_upgrade(), EXIT_ANOTHER_INSTANCE);
    ASSERT_EQ(outbox_record_count(), 1u);
    EXPECT_EQ(peer.connections(), 0u);
    std::string refused = test_files::read_file(root_dir() + "/logs/outbox/" + outbox_names()[0]);

    // Run ids sort by their run's starting millisecond: the next run starts in a later one.
    for (int64_t refused_start = utc_now_ms(); utc_now_ms() == refused_start;) {
    }
    guard_result = 0;
    std::string stale = root_dir() + "/logs/outbox/" + id_of(1) + ".json.tmp";
    std::string young = root_dir() + "/logs/outbox/" + id_of(2) + ".json.tmp";
    test_files::write_file(stale, "{\"cut");
    test_files::write_file(young, "{\"being written");
    fs::last_write_time(stale, fs::last_write_time(stale) - std::chrono::hours(25));
    fs::last_write_time(young, fs::last_write_time(young) - std::chrono::hours(23));
    EXPECT_EQ(run_upgrade(), EXIT_COMPLETED);
    peer.finish();
    EXPECT_EQ(outbox_names(), std::vector<std::string>{id_of(2) + ".json.tmp"});
    std::string log = test_files::read_file(root_dir() + "/logs/" + run_logs().back());
    log = log.substr(log.rfind(" started on station "));  // runs of one second share a log
    size_t kept = log.find("the run's record is kept in the outbox"), ended = log.find("the run has ended");
    EXPECT_TRUE(kept != std::string::npos && ended != std::string::npos && kept < ended) << log;
    std::string records = test_files::read_file(logs_file("runs.jsonl"));
    std::string last = records.substr(records.rfind('\n', records.size() - 2) + 1);
    EXPECT_NE(peer.request(0).find("\r\n\r\n" + refused), std::string::npos) << "the oldest first";
    EXPECT_NE(peer.request(1).find("\r\n\r\n" + last), std::string::npos) << "the run's own, as in runs.jsonl";
    EXPECT_NE(last.find("\"outbox\":1,"), std::string::npos) << last;

    upgrade_run run = {};
    run_record_begin(&run);
    run_record_end_interrupted("SIGTERM", "reply");
    EXPECT_EQ(outbox_record_count(), 1u);
}

// The whole delivery ends by report_seconds, not only each record's own wait: three records and a
// collector that answers each after 0.6 s, with a bound of 1 s, end within 1.8 s with what was not
// sent still waiting.
TEST_F(run_record_test, DeliveryEndsByItsDeadline)
{
    peer_script slow = {read_request(), pause_ms(600), send_bytes(OK), close_conn()};
    script_peer peer({slow, slow, slow});
    g_run.report = report_to(peer.url("/"));
    ASSERT_EQ(platform_mkdir(root_dir().c_str()), 0);
    for (int n : {1, 2})
        ASSERT_EQ(outbox_keep(id_of(n), "{}", OUTBOX_MAX_RECORDS), 0);
    int64_t started = steady_now_ms();
    EXPECT_EQ(run_upgrade(), EXIT_COMPLETED);
    EXPECT_LT(steady_now_ms() - started, 1800);
    EXPECT_GE(outbox_record_count(), 1u);
    EXPECT_LE(peer.connections(), 2u) << "the third record is never tried";
}
