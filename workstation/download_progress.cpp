// The camera's download as the file server reports it: the Shttpd launch asks for the reports
// through its environment, and the pipe's draining thread hands each line to take_download_report,
// which keeps the reports of the staged image in g_workstation.download.
#include "text_util.h"
#include "workstation.h"

#include "download_report.h"
#include "server_launch.h"

#include <cstring>
#include <mutex>

namespace {

// Guards g_workstation.download: a launch may start watching while an earlier server's last lines
// still arrive. Made once and never destroyed, as the state it guards.
std::mutex &download_lock()
{
    static std::mutex *lock = new std::mutex;
    return *lock;
}

} // namespace

void watch_download_of(const char *image_path)
{
    std::lock_guard<std::mutex> hold(download_lock());
    download_watch &watch = g_workstation.download;
    watch = download_watch{};
    format_text(watch.image_name, sizeof watch.image_name, "%s", path_base_name(image_path));
}

void take_download_report(const char *line, void *)
{
    download_report report;
    if (!parse_download_report(line, &report))
        return;
    std::lock_guard<std::mutex> hold(download_lock());
    download_watch &watch = g_workstation.download;
    if (watch.image_name[0] == '\0' || std::strlen(watch.image_name) != report.name_len ||
        std::memcmp(watch.image_name, report.name, report.name_len) != 0)
        return;
    int64_t now = g_workstation_seams.now_ms();
    // A count that goes back is the camera fetching the image anew: its time starts over.
    if (watch.first_ms < 0 || report.sent < watch.progress.sent) {
        watch.first_ms = now;
        watch.progress.downloads++;
    }
    watch.progress.size = report.size;
    watch.progress.elapsed_ms = now - watch.first_ms;
    watch.progress.sent = report.sent;
}

download_progress download_progress_now()
{
    std::lock_guard<std::mutex> hold(download_lock());
    return g_workstation.download.progress;
}

void reset_workstation_state()
{
    std::lock_guard<std::mutex> hold(download_lock());
    g_workstation = workstation_state{};
}

int spawn_reporting_server(char *command_line)
{
    watch_download_of(g_staged_image_path);
    return spawn_with_pipe(nullptr, command_line, take_download_report, nullptr, DOWNLOAD_REPORT_ENTRY);
}
