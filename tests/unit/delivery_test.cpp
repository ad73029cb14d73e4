// The outbox and the delivery of the run records to a collector (a scripted loopback peer), alone
// and through whole runs of replaced stages.
#include "clock.h"
#include "delivery.h"
#include "diagnostics_log.h"
#include "driver_state.h"
#include "http_peer.h"
#include "run_id.h"
#include "run_end.h"
#include "test_files.h"
#include "utc_time.h"
#include "whole_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace whole_run;

namespace {

struct delivery_test : whole_run_test {};

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

report_settings report_to(const std::string &url, int batch = 1) { return {url, "X-User: line 4", 1, "", batch}; }

} // namespace

// A record stays in the outbox until a collector answers it with a 2xx: not on a 500, a 404, a 429
// or a redirect the post does not follow, nor when the collector takes the connection and never
// answers (the deadline ends the attempt), nor when nothing listens. A record refused as malformed
// (400, 413, 422) is set aside for good. What is sent is the record's line with its header and type.
TEST_F(delivery_test, OutboxKeptUntilDelivered)
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
    open_run(&run);
    diagnostics_keep(true);
    ASSERT_EQ(outbox_keep(id_of(1), "{}", OUTBOX_MAX_RECORDS), 0);
    script_peer moved({status("301 Moved Permanently\r\nLocation: /new?q=2")});
    outbox_send(report_to(moved.url("/in")), steady_now_ms() + 500);
    close_run(EXIT_COMPLETED);
    std::string log = test_files::read_file(logs_file(run_logs().at(0)));
    EXPECT_NE(log.find("moved to \"" + moved.url("/new?q=2") + "\""), std::string::npos) << log;
}

// Oldest first; a refusal does not stop the others, an unreachable collector stops the rest; past
// the bound the oldest are dropped, and only files named as records count.
TEST_F(delivery_test, OutboxOrderAndBound)
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

// report_batch: records one a line in a request, oldest first; a batch refused as malformed is sent
// again record by record, so that only the refused record is set aside; a request never passes
// 1 MiB; a collector that stops reading in the middle of a batch costs the deadline, not a record.
TEST_F(delivery_test, OutboxInBatches)
{
    ASSERT_EQ(platform_mkdir(root_dir().c_str()), 0);
    for (int n = 1; n <= 5; n++)
        ASSERT_EQ(outbox_keep(id_of(n), "{\"n\":" + std::to_string(n) + "}", OUTBOX_MAX_RECORDS), 0);
    test_files::write_file(root_dir() + "/logs/outbox/" + id_of(4) + ".json", "{\"n\":4}");  // no line end
    auto answer = [](const char *status) {
        std::string head = std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 0\r\n\r\n";
        return peer_script{read_request(), send_bytes(head), close_conn()};
    };
    script_peer peer({answer("400 Bad Request"), answer("200 OK"), answer("422 Unprocessable Content"),
                      answer("200 OK"), answer("200 OK")});
    EXPECT_EQ(outbox_send(report_to(peer.url("/"), 3), steady_now_ms() + 5000), 4);
    peer.finish();
    auto body_of = [](const script_peer &p, size_t n) {
        return p.request(n).substr(p.request(n).find("\r\n\r\n") + 4);
    };
    auto body = [&](size_t n) { return body_of(peer, n); };
    EXPECT_EQ(body(0), "{\"n\":1}\n{\"n\":2}\n{\"n\":3}\n");
    EXPECT_EQ(body(2), "{\"n\":2}\n");
    EXPECT_EQ(body(4), "{\"n\":4}\n{\"n\":5}\n");
    EXPECT_EQ(outbox_names(), (std::vector<std::string>{"refused"}));
    EXPECT_EQ(outbox_refused_count(), 1u);

    const std::string large(400 * 1000, 'x');
    for (int n = 6; n <= 8; n++)
        ASSERT_EQ(outbox_keep(id_of(n), large, OUTBOX_MAX_RECORDS), 0);
    script_peer stalled({{hold_conn()}});
    int64_t started = steady_now_ms();
    EXPECT_EQ(outbox_send(report_to(stalled.url("/"), 1000), started + 500), 0);
    EXPECT_LT(steady_now_ms() - started, 1500);
    EXPECT_EQ(outbox_record_count(), 3u);
    script_peer taker({answer("200 OK"), answer("200 OK")});
    EXPECT_EQ(outbox_send(report_to(taker.url("/"), 1000), steady_now_ms() + 5000), 3);
    taker.finish();
    EXPECT_EQ(body_of(taker, 0).size(), 2 * (large.size() + 1)) << "a third would pass 1 MiB";
    EXPECT_EQ(body_of(taker, 1).size(), large.size() + 1);
}

// Whole runs: without a report URL nothing new but the id; with one, the holder of the guard delivers
// (the outbox that waited first, its record kept there before the run counts as ended, temporary
// files left for more than a day removed), a refused copy and an interrupted run only keep their
// record.
TEST_F(delivery_test, DeliveryOfTheRunsRecord)
{
    ASSERT_EQ(run_upgrade(), EXIT_COMPLETED);
    EXPECT_FALSE(fs::exists(root_dir() + "/logs/outbox"));
    EXPECT_EQ(test_files::read_file(logs_file("runs.jsonl")).find("\"outbox\""), std::string::npos);

    script_peer peer({{read_request(), send_bytes(OK), close_conn()}, {read_request(), send_bytes(OK), close_conn()}});
    g_driver.settings.report = report_to(peer.url("/"));
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
    open_run(&run);
    close_interrupted_run("SIGTERM", "reply");
    EXPECT_EQ(outbox_record_count(), 1u);
}

// The whole delivery ends by report_seconds, not only each record's own wait: three records and a
// collector that answers each after 0.6 s, with a bound of 1 s, end within 1.8 s with what was not
// sent still waiting.
TEST_F(delivery_test, DeliveryEndsByItsDeadline)
{
    peer_script slow = {read_request(), pause_ms(600), send_bytes(OK), close_conn()};
    script_peer peer({slow, slow, slow});
    g_driver.settings.report = report_to(peer.url("/"));
    ASSERT_EQ(platform_mkdir(root_dir().c_str()), 0);
    for (int n : {1, 2})
        ASSERT_EQ(outbox_keep(id_of(n), "{}", OUTBOX_MAX_RECORDS), 0);
    int64_t started = steady_now_ms();
    EXPECT_EQ(run_upgrade(), EXIT_COMPLETED);
    EXPECT_LT(steady_now_ms() - started, 1800);
    EXPECT_GE(outbox_record_count(), 1u);
    EXPECT_LE(peer.connections(), 2u) << "the third record is never tried";
}
