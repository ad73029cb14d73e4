// The driver's seams as the tool fills them.
#include "driver_seams.h"

#include "debug_log.h"
#include "device_channel.h"
#include "device_link.h"
#include "outcomes.h"

#include <chrono>

namespace {

const int REPLY_LIMIT_SECONDS = 600;

void real_wait(std::condition_variable &changed, std::unique_lock<std::mutex> &lock, int ms)
{
    changed.wait_for(lock, std::chrono::milliseconds(ms));
}

} // namespace

constexpr driver_seams REAL_DRIVER_SEAMS = {
    .message_box = platform_message_box,
    .wait = real_wait,
    .download_device_info = download_device_info,
    .current_channel = device_channel_client,
    .reply_limit_seconds = REPLY_LIMIT_SECONDS,
    .end_interrupted = platform_end_interrupted,
};
driver_seams g_driver_seams = REAL_DRIVER_SEAMS;

const workstation_seams TOOL_WORKSTATION_SEAMS = [] {
    workstation_seams seams = REAL_WORKSTATION_SEAMS;
    seams.report_outcome = report_outcome;
    seams.log_line = debug_log_line;
    return seams;
}();
