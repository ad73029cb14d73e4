// Thread and mutex wrapper of the WebSocket client, on std::thread and std::recursive_mutex (the
// recursive kind behaves like the critical sections the client was designed around). Workers are
// never joined by the client: each finished thread reaps the one that finished before it, and the
// record of the last one stays until the process ends.
#include "clock.h"
#include "rws_private.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

struct rws_mutex_rec {
    std::recursive_mutex m;
};

struct rws_thread_rec {
    void (*fn)(void *);
    void *arg;
    std::thread thread;
};

namespace {

// The process-wide reaper: the last finished thread and the number still running.
struct reaper_rec {
    std::mutex lock;
    std::condition_variable ended;
    rws_thread_rec *last = nullptr;
    int running = 0;
};

// Made on first use and never destroyed, so a worker that ends while the process exits still finds it.
reaper_rec &reaper()
{
    static reaper_rec *r = new reaper_rec;
    return *r;
}

// Waits for the previously finished thread (already past its last use of the reaper) and frees it.
void reap_last(reaper_rec &r)
{
    if (r.last == nullptr)
        return;
    r.last->thread.join();
    delete r.last;
    r.last = nullptr;
}

void thread_main(rws_thread_rec *t)
{
    t->fn(t->arg);
    reaper_rec &r = reaper();
    std::lock_guard<std::mutex> hold(r.lock);
    reap_last(r);
    r.last = t;
    r.running--;
    r.ended.notify_all();
}

} // namespace

rws_mutex rws_mutex_create() { return new rws_mutex_rec; }

void rws_mutex_lock(rws_mutex m)
{
    if (m)
        m->m.lock();
}

void rws_mutex_unlock(rws_mutex m)
{
    if (m)
        m->m.unlock();
}

void rws_mutex_delete(rws_mutex m) { delete m; }

rws_thread rws_thread_start(void (*fn)(void *), void *arg)
{
    if (fn == nullptr)
        return nullptr;
    reaper_rec &r = reaper();
    rws_thread_rec *t = new rws_thread_rec{fn, arg, std::thread()};
    // The reaper lock is held until the handle is stored, so the new thread cannot reach its end
    // (where the next thread would join it) before its record is complete.
    std::lock_guard<std::mutex> hold(r.lock);
    try {
        t->thread = std::thread(thread_main, t);
    } catch (const std::system_error &) {
        rws_assert_failed("t->thread", __FILE__, __LINE__);
    }
    r.running++;
    return t;
}

void rws_thread_sleep(int ms) { sleep_ms(ms); }

bool rws_thread_wait_all(int ms)
{
    reaper_rec &r = reaper();
    std::unique_lock<std::mutex> hold(r.lock);
    if (!r.ended.wait_for(hold, std::chrono::milliseconds(ms), [&] { return r.running == 0; }))
        return false;
    reap_last(r);
    return true;
}
