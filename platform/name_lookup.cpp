// A host name's IPv4 address within a time limit: getaddrinfo on a thread of its own, whose job
// record is shared, so that a lookup abandoned at the limit finishes into memory it still owns.
#include "name_lookup.h"

#include "platform.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace {

// One lookup, shared by the caller and the lookup's thread; the last of them to let go frees it.
struct lookup_job {
    std::string host;
    std::mutex lock;
    std::condition_variable answered;
    bool done = false;
    bool found = false;
    in_addr address = {};
};

// The lookup's thread: the system's resolver, then the answer handed over.
void run_lookup(void *argument)
{
    std::unique_ptr<std::shared_ptr<lookup_job>> held(static_cast<std::shared_ptr<lookup_job> *>(argument));
    lookup_job &job = **held;
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    bool found = getaddrinfo(job.host.c_str(), nullptr, &hints, &list) == 0 && list != nullptr &&
                 list->ai_family == AF_INET;
    in_addr address = {};
    if (found)
        address = reinterpret_cast<sockaddr_in *>(list->ai_addr)->sin_addr;
    if (list != nullptr)
        freeaddrinfo(list);
    std::lock_guard<std::mutex> hold(job.lock);
    job.done = true;
    job.found = found;
    job.address = address;
    job.answered.notify_all();
}

} // namespace

name_lookup_result lookup_ipv4(const char *host, in_addr *address, int timeout_ms)
{
    auto job = std::make_shared<lookup_job>();
    job->host = host;
    auto *for_thread = new std::shared_ptr<lookup_job>(job);
    if (platform_thread_start(run_lookup, for_thread) == 0) {
        delete for_thread;
        return LOOKUP_NOT_FOUND;
    }
    std::unique_lock<std::mutex> hold(job->lock);
    auto limit = std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
    if (!job->answered.wait_for(hold, limit, [&job] { return job->done; }))
        return LOOKUP_TIMED_OUT;
    if (!job->found)
        return LOOKUP_NOT_FOUND;
    *address = job->address;
    return LOOKUP_FOUND;
}
