// An interrupted run: the event taken from the platform, the PC handed over by the run's thread,
// the clean-up, the record that names the event and the stage, and the end the system gives such a
// process, all within a bound.
#include "driver.h"

#include "run_record.h"

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

// What the process knows of interrupts: in g_run, made once and never destroyed, since an event may
// come while the process exits.
interrupt_state &state() { return g_run.interrupt; }

// Writes the record once, whoever comes first (the handling or its time limit), and ends the
// process; the one that comes second returns.
void end_interrupted_run()
{
    interrupt_state &s = state();
    if (s.ending.exchange(true))
        return;
    run_record_end_interrupted(s.event.load(), s.stage.load());
    wait_for_spinner_end(SPINNER_LAST_LINE_MS);
    platform_end_interrupted(s.code.load());
}

// The time limit's thread: should the clean-up still run at the limit, the run ends without it.
void enforce_interrupt_limit(void *)
{
    interrupt_state &s = state();
    int64_t left = s.started_ms.load() + s.limit_ms.load() - steady_now_ms();
    if (left > 0)
        sleep_ms(static_cast<int>(left));
    if (s.ending.load())
        return;
    DEBUG_LOG("the clean-up after %s did not end within %d ms: the run ends without waiting for it\n",
              s.event.load(), s.limit_ms.load());
    end_interrupted_run();
}

// The PC as a finished run leaves it, unless the stage that holds it does not give it up in time:
// then nothing more changes it, and the log says so.
void clean_up_after(const char *name, const char *stage)
{
    int64_t started = steady_now_ms();
    const int lock_wait_ms = state().limit_ms.load() - CLEANUP_RESERVE_MS;
    if (!pc_lock_take_for_interrupt(lock_wait_ms)) {
        DEBUG_LOG("the stage \"%s\" kept the PC for more than %d ms: the run ends without its clean-up\n", stage,
                  lock_wait_ms);
        return;
    }
    if (state().run_ended.load())
        return;
    cleanup_workstation();
    DEBUG_LOG("the clean-up after %s is done (%lld ms)\n", name, static_cast<long long>(steady_now_ms() - started));
}

// A later event: the first one's handling goes on; this one only waits for the process to end.
void await_first_interrupt(const char *name)
{
    DEBUG_LOG("%s while %s is handled: no second clean-up\n", name, state().event.load());
    sleep_ms(state().limit_ms.load() + 1000);
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
    s.limit_ms.store(std::strcmp(name, "CTRL_CLOSE_EVENT") == 0 ? CLOSE_LIMIT_MS : INTERRUPT_LIMIT_MS);
    s.started_ms.store(steady_now_ms());
    const char *stage = s.running_stage.load() != nullptr ? s.running_stage.load() : "guard";
    s.stage.store(stage);
    if (s.run_ended.load())
        platform_end_interrupted(code);  // the run has ended and written its record
    DEBUG_LOG("interrupted by %s during the stage \"%s\": the run's clean-up follows\n", name, stage);
    platform_console_line(interrupt_note());
    platform_thread_start(enforce_interrupt_limit, nullptr);
    clean_up_after(name, stage);
    if (s.run_ended.load())
        platform_end_interrupted(code);  // the run ended while its last stage held the PC
    end_interrupted_run();
    sleep_ms(s.limit_ms.load());  // the time limit's thread is ending the process
}

void note_running_stage(const char *name) { state().running_stage.store(name); }

void pc_wait_begin() { pc_lock_give(); }

void pc_wait_end()
{
    if (pc_lock_take())
        return;
    // The interrupt ends the process; should it not within its limit, the run's thread does.
    sleep_ms(state().limit_ms.load() + 1000);
    platform_end_interrupted(state().code.load());
}

void yield_if_interrupted()
{
    if (!flag_is_set(g_workstation.interrupt_pending))
        return;
    pc_wait_begin();
    pc_wait_end();
}

void note_run_ended()
{
    state().run_ended.store(true);
    DEBUG_LOG("the run has ended: an interrupt from here on ends the process at once\n");
}
