// Whole runs of replaced stages through the real run record, diagnostics log and delivery: a stage
// table that gets everywhere and fills what the real stages fill, and a fixture that gives each
// test a scratch directory as its current one and no working root.
#pragma once

#include "driver.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace whole_run {

// The working root, a file of its logs directory, and the run logs there (sorted by name).
std::string root_dir();
std::string logs_file(const std::string &name);
std::vector<std::string> run_logs();

// What the guard stage returns: 0 taken, 1 another instance (its outcome raised), -1 none made.
extern int guard_result;

// A run that gets everywhere: the guard as guard_result says, the USB link, a warning from the
// warning stage, a model and version to escape, a 5-byte staged image, log lines from two threads
// in the channel stage, and an "ok".
extern const stage_functions FULL_RUN;

} // namespace whole_run

// Each test in a scratch directory of its own, with FULL_RUN, silent mode and no working root.
struct whole_run_test : ::testing::Test {
    test_files::working_dir dir;

    void SetUp() override;
    void TearDown() override;
};
