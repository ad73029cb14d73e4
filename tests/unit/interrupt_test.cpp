// An interrupted run's roads, with the seams' clock and pause, a time limit's thread the test runs
// when it wants, and a process's end that only records: a stage that keeps the PC past the lock's
// wait, a clean-up that outlives the limit, a console's close after a first event (Wine delivers no
// close, so this is the only test of that road) and a box shown while an interrupt comes.
#include "driver_seams.h"
#include "driver_state.h"
#include "interrupt.h"
#include "outcomes.h"
#include "pc_lock.h"
#include "recording_commands.h"
#include "shared_values.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// The test clock: the pause advances it on the thread that handles the first event; any other
// thread's pause waits a real millisecond for it to move.
std::atomic<int64_t> clock_ms;
thread_local bool t_moves_clock = false;
int64_t test_now() { return clock_ms.load(); }
void test_pause(int ms)
{
    if (t_moves_clock)
        clock_ms += ms;
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Each end of the process: the code and the time, and how many commands the clean-up had run.
struct process_end {
    int code;
    int64_t at_ms;
    size_t commands;
};
std::vector<process_end> ends;
void record_end(int code) { ends.push_back({code, clock_ms.load(), recording_commands::calls.size()}); }

// The time limit's thread, kept for the test to run.
void (*limit_body)(void *) = nullptr;
unsigned long keep_thread(void (*body)(void *), void *)
{
    limit_body = body;
    return 1;
}

// Handles one event on a thread of its own, as the platform's hook does, and gives back the PC lock
// that the tool keeps until its process ends.
void interrupt_on_own_thread(int code, const char *name)
{
    std::thread([code, name] {
        t_moves_clock = true;
        handle_interrupt(code, name);
        pc_lock_give();
    }).join();
}

struct interrupt_test : ::testing::Test {
    void SetUp() override
    {
        reset_driver_state();
        recording_commands::install();
        g_workstation_seams.commands.start_thread = keep_thread;
        g_workstation_seams.now_ms = test_now;
        g_workstation_seams.sleep_ms = test_pause;
        g_driver_seams.end_interrupted = record_end;
        clock_ms = 0;
        ends.clear();
        limit_body = nullptr;
        note_running_stage("staging");
    }
    void TearDown() override
    {
        recording_commands::restore();
        reset_driver_state();
    }
};

} // namespace

// A stage that keeps the PC: the interrupt waits for it until only the clean-up's reserve of its
// limit is left (4.5 s after a console's close, 15 s after the other events), then ends the run
// without a clean-up, its record naming the event and the stage.
TEST_F(interrupt_test, AStageKeepsThePc)
{
    const struct {
        int code;
        const char *event;
        int64_t from_ms, before_ms;
    } cases[] = {{2, "SIGINT", 13500, 15000}, {2, "CTRL_CLOSE_EVENT", 3000, 4500}};
    for (const auto &c : cases) {
        SetUp();
        ASSERT_TRUE(pc_lock_take());  // the run's thread, inside a stage
        interrupt_on_own_thread(c.code, c.event);
        pc_lock_give();
        ASSERT_EQ(ends.size(), 1u) << c.event;
        EXPECT_EQ(ends[0].code, c.code);
        EXPECT_GE(ends[0].at_ms, c.from_ms) << c.event;
        EXPECT_LT(ends[0].at_ms, c.before_ms) << c.event;
        EXPECT_TRUE(recording_commands::calls.empty()) << c.event << ": no clean-up";
        EXPECT_EQ(g_driver.record.interrupted, c.event);
        EXPECT_EQ(g_driver.record.interrupted_stage, "staging");
        EXPECT_NE(limit_body, nullptr) << "the time limit's thread was started";
    }
}

// A clean-up command that does not end before the limit: the limit's thread ends the process then,
// once; the clean-up's own end comes second and ends nothing.
TEST_F(interrupt_test, TheCleanupOutlivesItsLimit)
{
    static FILE *(*recorded_open)(const char *, const char *) = g_workstation_seams.commands.open;
    g_workstation_seams.commands.open = [](const char *command, const char *mode) {
        if (recording_commands::calls.empty())
            limit_body(nullptr);  // the limit passes while the first command runs
        return recorded_open(command, mode);
    };
    interrupt_on_own_thread(15, "SIGTERM");
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].code, 15);
    EXPECT_GE(ends[0].at_ms, 15000);
    EXPECT_EQ(ends[0].commands, 0u) << "the process ended before the clean-up's commands";
    EXPECT_EQ(recording_commands::calls.size(), 3u);
    EXPECT_EQ(g_driver.record.interrupted, "SIGTERM");
}

// The console is closed 5 s after a Ctrl+C whose handling waits for the PC: Windows ends the process
// about 5 s after the close, so from then on the handling has the close's limit, not what is left
// of the first event's.
TEST_F(interrupt_test, AConsoleCloseCutsTheLimit)
{
    static std::thread close;
    g_workstation_seams.sleep_ms = [](int ms) {
        test_pause(ms);
        if (t_moves_clock && clock_ms.load() >= 5000 && !close.joinable()) {
            close = std::thread([] { handle_interrupt(2, "CTRL_CLOSE_EVENT"); });
            for (int i = 0; i < 2000 && g_driver.interrupt.close_deadline_ms.load() == 0; i++)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    ASSERT_TRUE(pc_lock_take());
    interrupt_on_own_thread(0, "CTRL_C_EVENT");
    close.join();
    pc_lock_give();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].code, 0);
    EXPECT_GE(ends[0].at_ms, 5000 + 4500 - 1500);
    EXPECT_LT(ends[0].at_ms, 5000 + 4500);
    EXPECT_EQ(g_driver.record.interrupted, "CTRL_C_EVENT");
}

// A stage shows a box while it holds the PC (twice over): the interrupt that comes meanwhile cleans
// up at once, and the run's thread, the box answered, goes no further.
TEST_F(interrupt_test, ABoxDoesNotKeepThePc)
{
    g_driver_seams.message_box = [](box_style, const char *, const char *) {
        interrupt_on_own_thread(2, "SIGINT");
        return BOX_ANSWER_OK;
    };
    ASSERT_TRUE(pc_lock_take());
    ASSERT_TRUE(pc_lock_take());
    report_outcome(OUTCOME_UPGRADE_FAILED);
    ASSERT_EQ(ends.size(), 2u) << "the interrupt's end, then the run thread's own";
    EXPECT_EQ(ends[0].commands, 3u) << "the clean-up ran while the box showed";
    EXPECT_LT(ends[0].at_ms, 1500);
    EXPECT_EQ(g_driver.record.interrupted, "SIGINT");
    EXPECT_EQ(pc_lock_give_all(), 0) << "the run's thread holds the PC no more";
}
