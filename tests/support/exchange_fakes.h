// The exchange with the camera and the confirmation without a camera or a clock: a test clock that
// every wait and sleep advances at once (a limit of ten minutes is checked in an instant), the
// information file's download scripted, the channel the driver takes for its current one, and the
// outcomes raised recorded.
#pragma once

#include "driver.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct rws_client;

namespace exchange_fakes {

extern std::vector<int> raised;  // the outcomes raised, in order

// The test clock. A wait advances it by a second at most, as a wake-up each second would, so a
// script can act at a given time (at_each_wait, with the clock's new time).
extern int64_t fake_now;
extern std::function<void(int64_t now)> at_each_wait;
extern std::vector<int> slept;  // each sleep's milliseconds
void fake_sleep_ms(int ms);

// The information file's downloads, numbered from 1: what each returns (none set: 1, a failure)
// and, when it completes, its HTTP status.
extern std::function<int(int attempt)> download_result;
extern int downloads;
extern int download_status;

// The channel the driver takes for its current one (none at first).
extern const rws_client *current;

// A text from the camera, as the channel's worker hands it over.
void text(const std::string &t);

} // namespace exchange_fakes

// A run on the USB link with the fakes installed and the command recorder in place of the runners,
// in a working directory of its own: the information file's copy lies there, and ctest runs other
// test programs beside this one in the same directory.
struct exchange_test : ::testing::Test {
    upgrade_run run;
    test_files::working_dir dir;

    void SetUp() override;
    void TearDown() override;

    // The command has gone out; the texts arrive in one burst; the driver waits.
    int answer_with(const std::vector<std::string> &texts);
};
