// The PC lock: the run's thread and an interrupt never change the PC at the same time, and after an
// interrupt has taken the lock nothing but that interrupt changes it.
#include "workstation.h"

#include <chrono>
#include <mutex>

shared_flag g_interrupt_pending{0};

namespace {

// How often a take that finds the lock held looks whether an interrupt has become pending.
const int TAKE_POLL_MS = 20;

// Made once and never destroyed: an interrupt may still hold it while the process exits.
std::recursive_timed_mutex &pc_mutex()
{
    static std::recursive_timed_mutex *mutex = new std::recursive_timed_mutex;
    return *mutex;
}

// Set on the thread that handles the interrupt: the one thread that still takes the lock then.
thread_local bool t_interrupt_thread = false;

bool yields_to_interrupt() { return flag_is_set(g_interrupt_pending) && !t_interrupt_thread; }

} // namespace

bool pc_lock_take()
{
    while (!pc_mutex().try_lock_for(std::chrono::milliseconds(TAKE_POLL_MS)))
        if (yields_to_interrupt())
            return false;
    if (!yields_to_interrupt())
        return true;
    pc_mutex().unlock();  // taken just before the interrupt's wait could: its turn now
    return false;
}

void pc_lock_give() { pc_mutex().unlock(); }

bool pc_lock_take_for_interrupt(int limit_ms)
{
    t_interrupt_thread = true;
    set_flag(g_interrupt_pending, 1);
    return pc_mutex().try_lock_for(std::chrono::milliseconds(limit_ms));
}
