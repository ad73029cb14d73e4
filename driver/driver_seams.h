// Where the driver reaches the user and the outside world in ways that tests replace: how a box is
// shown, what the exchange with the camera waits on and asks through, so that its time limits
// are checked without waiting them out, and how an interrupted run ends the process. The clock and
// the pause are the workstation's (g_workstation_seams). REAL_DRIVER_SEAMS holds the tool's own.
#pragma once

#include "platform.h"
#include "workstation.h"

#include <condition_variable>
#include <mutex>

struct rws_client;

struct driver_seams {
    // Shows a box and returns the answer (BOX_ANSWER_*): the platform's message box.
    box_answer (*message_box)(box_style style, const char *caption, const char *text);
    // Waits for the mailbox: up to ms, or until a text or the channel's end arrives; the lock is
    // held again on return.
    void (*wait)(std::condition_variable &changed, std::unique_lock<std::mutex> &lock, int ms);
    int (*download_device_info)(const char *device, int limit_ms, int *status);
    // The command channel's current client (null when none is open): device_channel_client.
    const rws_client *(*current_channel)();
    // How long the driver waits for a deciding answer after the send: 600 seconds in the tool;
    // test programs shorten it.
    int reply_limit_seconds;
    // Ends the process as the system would for an interrupt event: platform_end_interrupted, which
    // never returns (a test's may: the interrupt's handling then returns too).
    void (*end_interrupted)(int code);
};
extern driver_seams g_driver_seams;
extern const driver_seams REAL_DRIVER_SEAMS;

// The workstation's seams as the tool fills them: the platform's (REAL_WORKSTATION_SEAMS), the
// catalogue's routine for the outcomes its steps raise (report_outcome) and the run's diagnostics
// log for its lines (debug_log_line). facup_main and reset_driver_state install it.
extern const workstation_seams TOOL_WORKSTATION_SEAMS;
