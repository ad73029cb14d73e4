// The camera's download as the file server reports it: the Shttpd launch asks for the reports
// through its environment, and the pipe's draining thread hands each line to take_download_report,
// which keeps the reports of the staged image in g_download_progress.
#include "workstation.h"

#include "download_report.h"

#include <cstring>
#include <mutex>

download_progress g_download_progress;

namespace {

// The image whose reports count and when its first report came (-1: none yet), under one lock:
// a launch may start watching while an earlier server's last lines still arrive.
struct download_watch {
    std::mutex lock;
    char image_name[255] = "";
    int64_t first_ms = -1;
};
download_watch g_watch;

} // namespace

void watch_download_of(const char *image_path)
{
    std::lock_guard<std::mutex> hold(g_watch.lock);
    format_text(g_watch.image_name, sizeof g_watch.image_name, "%s", path_base_name(image_path));
    g_watch.first_ms = -1;
    g_download_progress.sent = -1;
    g_download_progress.size = -1;
    g_download_progress.elapsed_ms = -1;
    g_download_progress.downloads = 0;
}

void take_download_report(const char *line, void *)
{
    download_report report;
    if (!parse_download_report(line, &report))
        return;
    std::lock_guard<std::mutex> hold(g_watch.lock);
    if (g_watch.image_name[0] == '\0' || std::strlen(g_watch.image_name) != report.name_len ||
        std::memcmp(g_watch.image_name, report.name, report.name_len) != 0)
        return;
    int64_t now = steady_now_ms();
    // A count that goes back is the camera fetching the image anew: its time starts over.
    if (g_watch.first_ms < 0 || report.sent < g_download_progress.sent) {
        g_watch.first_ms = now;
        g_download_progress.downloads++;
    }
    // The count last: a reader that sees it sees the size, time and download that go with it.
    g_download_progress.size = report.size;
    g_download_progress.elapsed_ms = now - g_watch.first_ms;
    g_download_progress.sent = report.sent;
}

int spawn_reporting_server(char *command_line)
{
    watch_download_of(g_staged_image_path);
    return spawn_with_pipe(nullptr, command_line, take_download_report, nullptr, DOWNLOAD_REPORT_ENTRY);
}
