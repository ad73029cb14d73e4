// An interrupted run: the event taken from the platform, the PC handed over by the run's thread,
// the clean-up, the record that names the event and the stage, and the end the system gives such a
// process, all within a bound. The clock, the pause, the time limit's thread and the process's end
// go through the seams, so that tests reach every road.
#include "interrupt.h"

#include "debug_log.h"
#include "driver_seams.h"
#include "driver_state.h"
#include "pc_lock.h"
#include "run_end.h"
#include "run_record.h"
#include "shared_values.h"
#include "spinner.h"
#include "ui_texts.h"
#include "workstation.h"

#include <cstdint>
#include <cstring>

namespace {

// How much of the limit is kept for the clean-up after the wait for the stage that holds the PC.
const int CLEANUP_RESERVE_MS = 1500;
// From the event to the process's end: a console being closed gives about 5 s; the other events
// come with no deadline of the system's, and a loaded PC gets more time to clean up.
const int CLOSE_LIMIT_MS = 4500;
const int INTERRUPT_LIMIT_MS = 15000;
// How long the end waits for the spinner's last line.
const int SPINNER_LAST_LINE_MS = 300;
// How often the interrupt's waits look again: at the PC lock, and at a deadline that a console's
// close may bring forward.
const int LOOK_EVERY_MS = 20;

// What the process knows of interrupts: in g_driver, made once and never destroyed, since an event may
// come while the process exits.
interrupt_state &state() { return g_driver.interrupt; }

int64_t now() { return g_workstation_seams.now_ms(); }

bool is_close(const char *name) { return std::strcmp(name, "CTRL_CLOSE_EVENT") == 0; }

// When the process must have ended: the first event's limit, or sooner once a console's close
// followed it (0 before the first event).
int64_t deadline()
{
    int64_t limit = state().deadline_ms.load(), close = state().close_deadline_ms.load();
    return close != 0 && (limit == 0 || close < limit) ? close : limit;
}

// Pauses until the deadline, looked at again after each short pause, is extra_ms behind.
void wait_past_deadline(int extra_ms)
{
    for (int64_t left; (left = deadline() + extra_ms - now()) > 0;)
        g_workstation_seams.sleep_ms(left < LOOK_EVERY_MS ? static_cast<int>(left) : LOOK_EVERY_MS);
}

// Writes the record once, whoever comes first (the handling or its time limit), and ends the
// process; the one that comes second returns.
void end_interrupted_run()
{
    interrupt_state &s = state();
    if (s.ending.exchange(true))
        return;
    close_interrupted_run(s.event.load(), s.stage.load());
    wait_for_spinner_end(SPINNER_LAST_LINE_MS);
    g_driver_seams.end_interrupted(s.code.load());
}

// The time limit's thread: should the clean-up still run at the deadline, the run ends without it.
void enforce_interrupt_limit(void *)
{
    interrupt_state &s = state();
    wait_past_deadline(0);
    if (s.ending.load())
        return;
    DEBUG_LOG("the clean-up after %s did not end within %lld ms: the run ends without waiting for it\n",
              s.event.load(), static_cast<long long>(deadline() - s.started_ms.load()));
    end_interrupted_run();
}

// Takes the PC from the stage that holds it, waiting until the clean-up's reserve is all that is
// left of the time. False when the stage kept it.
bool take_pc_in_time()
{
    for (;;) {
        if (pc_lock_take_for_interrupt(0))
            return true;
        if (now() >= deadline() - CLEANUP_RESERVE_MS)
            return false;
        g_workstation_seams.sleep_ms(LOOK_EVERY_MS);
    }
}

// The PC as a finished run leaves it, unless the stage that holds it does not give it up in time:
// then nothing more changes it, and the log says so.
void clean_up_after(const char *name, const char *stage)
{
    int64_t started = now();
    if (!take_pc_in_time()) {
        DEBUG_LOG("the stage \"%s\" kept the PC for %lld ms: the run ends without its clean-up\n", stage,
                  static_cast<long long>(now() - started));
        return;
    }
    if (state().run_ended.load())
        return;
    cleanup_workstation();
    DEBUG_LOG("the clean-up after %s is done (%lld ms)\n", name, static_cast<long long>(now() - started));
}

// Stores value unless the atomic already holds an earlier time.
void keep_earliest(copyable_atomic<int64_t> &time, int64_t value)
{
    int64_t held = time.load();
    while ((held == 0 || value < held) && !time.compare_exchange_weak(held, value)) {
    }
}

// A later event: the first one's handling goes on; this one only waits for the process to end. A
// console's close leaves the process about 5 s: the handling then has no more than the close's own
// limit from now.
void await_first_interrupt(const char *name)
{
    DEBUG_LOG("%s while %s is handled: no second clean-up\n", name, state().event.load());
    if (is_close(name)) {
        keep_earliest(state().close_deadline_ms, now() + CLOSE_LIMIT_MS);
        DEBUG_LOG("the handling of %s now ends within %lld ms\n", state().event.load(),
                  static_cast<long long>(deadline() - now()));
    }
    wait_past_deadline(1000);
}

} // namespace

void enable_interrupt_handling() { state().enabled.store(true); }

void watch_interrupts()
{
    if (state().enabled.load() && platform_watch_interrupts(handle_interrupt) != 0)
        DEBUG_LOG("interrupts cannot be handled: Ctrl+C and the like end the run without its clean-up\n");
}

void handle_interrupt(int code, const char *name)
{
    interrupt_state &s = state();
    if (s.taken.exchange(true)) {
        await_first_interrupt(name);
        return;
    }
    s.code.store(code);
    s.event.store(name);
    s.started_ms.store(now());
    s.deadline_ms.store(now() + (is_close(name) ? CLOSE_LIMIT_MS : INTERRUPT_LIMIT_MS));
    const char *stage = s.running_stage.load() != nullptr ? s.running_stage.load() : "guard";
    s.stage.store(stage);
    if (s.run_ended.load()) {
        g_driver_seams.end_interrupted(code);  // the run has ended and written its record
        return;
    }
    DEBUG_LOG("interrupted by %s during the stage \"%s\": the run's clean-up follows\n", name, stage);
    platform_console_line(interrupt_note());
    g_workstation_seams.commands.start_thread(enforce_interrupt_limit, nullptr);
    clean_up_after(name, stage);
    if (s.run_ended.load()) {
        g_driver_seams.end_interrupted(code);  // the run ended while its last stage held the PC
        return;
    }
    end_interrupted_run();
    wait_past_deadline(1000);  // the time limit's thread is ending the process
}

void note_running_stage(const char *name) { state().running_stage.store(name); }

void give_pc_up() { pc_lock_give(); }

void take_pc_back()
{
    if (!pc_lock_take())
        await_interrupt_end();
}

void await_interrupt_end()
{
    wait_past_deadline(1000);
    g_driver_seams.end_interrupted(state().code.load());
}

void yield_if_interrupted()
{
    if (!flag_is_set(g_workstation.interrupt_pending))
        return;
    give_pc_up();
    take_pc_back();
}

box_answer show_box(box_style style, const char *caption, const char *text)
{
    int held = pc_lock_give_all();
    box_answer answer = g_driver_seams.message_box(style, caption, text);
    if (!pc_lock_take_again(held))
        await_interrupt_end();
    return answer;
}

void note_run_ended()
{
    state().run_ended.store(true);
    DEBUG_LOG("the run has ended: an interrupt from here on ends the process at once\n");
}
