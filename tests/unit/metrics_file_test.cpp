// The station's counters: carried over from the previous file's complete lines, and the file
// replaced whole.
#include "metrics_file.h"
#include "test_files.h"
#include "whole_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace whole_run;

namespace {

struct metrics_file_test : whole_run_test {};

} // namespace

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

TEST_F(metrics_file_test, MetricsFileReplacedWhole)
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
