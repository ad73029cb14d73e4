// The download reports: each download of a file posts report lines to one queue, and a thread of
// its own writes them to standard output, so that no worker ever waits for the reader of that
// output. A line that finds the queue full is dropped.
#include "clock.h"
#include "download_report.h"
#include "file_server.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace {

const size_t REPORT_QUEUE_LINES = 32; // lines waiting for the writer at most

// The lines posted and not yet written, and whether a writer takes them.
struct report_queue {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<std::string> lines;
    bool writing = false; // guarded by lock
};
report_queue g_queue;

// The writer: takes one line at a time and writes it outside the lock, for ever.
void write_reports()
{
    for (;;) {
        std::string line;
        {
            std::unique_lock<std::mutex> hold(g_queue.lock);
            g_queue.ready.wait(hold, [] { return !g_queue.lines.empty(); });
            line = std::move(g_queue.lines.front());
            g_queue.lines.pop_front();
        }
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}

// Hands the download's current state to the writer, or drops it when the queue is full.
void post_report(download_reports *reports)
{
    char line[DOWNLOAD_REPORT_SIZE];
    if (!format_download_report(line, sizeof line, reports->name, reports->sent, reports->size))
        return;
    reports->last = steady_now_ms();
    {
        std::lock_guard<std::mutex> hold(g_queue.lock);
        if (!g_queue.writing || g_queue.lines.size() >= REPORT_QUEUE_LINES)
            return;
        g_queue.lines.emplace_back(line);
    }
    g_queue.ready.notify_one();
}

} // namespace

bool start_report_writer()
{
    try {
        std::thread(write_reports).detach();
    } catch (const std::system_error &) {
        return false;
    }
    std::lock_guard<std::mutex> hold(g_queue.lock);
    g_queue.writing = true;
    return true;
}

void reports_begin(download_reports *reports, const char *name, uint64_t size)
{
    *reports = {name, size, 0, 0};
    if (name != nullptr)
        post_report(reports);
}

void reports_add(download_reports *reports, uint64_t bytes)
{
    if (reports == nullptr || reports->name == nullptr)
        return;
    reports->sent += bytes;
    if (steady_now_ms() - reports->last >= REPORT_INTERVAL_MS)
        post_report(reports);
}

void reports_end(download_reports *reports)
{
    if (reports->name != nullptr)
        post_report(reports);
}
