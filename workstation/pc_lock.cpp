// The PC lock: the run's thread and an interrupt never change the PC at the same time, and after an
// interrupt has taken the lock nothing but that interrupt changes it. A mutex, a condition and an
// owner with a depth: a thread may take the lock again while it holds it.
#include "pc_lock.h"

#include "workstation.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

struct pc_lock_state {
    std::mutex lock;
    std::condition_variable freed;  // the lock was given up, or an interrupt became pending
    std::thread::id owner;
    int depth = 0;
};

// Made once and never destroyed: an interrupt may still hold it while the process exits.
pc_lock_state &pc()
{
    static pc_lock_state *state = new pc_lock_state;
    return *state;
}

// Set on the thread that handles the interrupt: the one thread that still takes the lock then.
thread_local bool t_interrupt_thread = false;

bool yields_to_interrupt() { return flag_is_set(g_workstation.interrupt_pending) && !t_interrupt_thread; }

// Takes the lock for the calling thread (its state's mutex held) when it is free or already the
// caller's.
bool take_if_free(pc_lock_state &s)
{
    if (s.depth > 0 && s.owner != std::this_thread::get_id())
        return false;
    s.owner = std::this_thread::get_id();
    s.depth++;
    return true;
}

} // namespace

bool pc_lock_take()
{
    pc_lock_state &s = pc();
    std::unique_lock<std::mutex> hold(s.lock);
    for (;;) {
        if (yields_to_interrupt())
            return false;
        if (take_if_free(s))
            return true;
        s.freed.wait(hold);
    }
}

void pc_lock_give()
{
    pc_lock_state &s = pc();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.depth > 0 && s.owner == std::this_thread::get_id() && --s.depth == 0) {
        s.owner = std::thread::id();
        s.freed.notify_all();
    }
}

bool pc_lock_take_for_interrupt(int limit_ms)
{
    t_interrupt_thread = true;
    set_flag(g_workstation.interrupt_pending, 1);
    pc_lock_state &s = pc();
    std::unique_lock<std::mutex> hold(s.lock);
    s.freed.notify_all();  // threads waiting to take it give up now
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (!take_if_free(s))
        if (s.freed.wait_until(hold, deadline) == std::cv_status::timeout)
            return take_if_free(s);
    return true;
}

int pc_lock_give_all()
{
    pc_lock_state &s = pc();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.depth == 0 || s.owner != std::this_thread::get_id())
        return 0;
    int count = s.depth;
    s.depth = 0;
    s.owner = std::thread::id();
    s.freed.notify_all();
    return count;
}

bool pc_lock_take_again(int count)
{
    if (count <= 0)
        return true;
    if (!pc_lock_take())
        return false;
    pc_lock_state &s = pc();
    std::lock_guard<std::mutex> hold(s.lock);
    s.depth += count - 1;
    return true;
}
