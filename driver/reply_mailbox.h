// The reply mailbox: the hand-over of the camera's texts from the command channel's worker to the
// driver, the channel's callbacks that fill it, and the driver's wait on it for a deciding answer.
#pragma once

#include "shared_values.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

struct rws_client;

// The camera's text the driver took last (NUL-terminated; a longer one is cut to 8,191 bytes) and
// its length. Written and read by the driver's thread only; the worker hands texts over through the
// mailbox.
extern char g_ws_reply[8192];
extern int32_t g_ws_reply_len;

extern shared_flag g_ws_connected;    // the current command channel has connected
extern shared_flag g_ws_reply_ready;  // a text from the camera waits in the mailbox

// Opened just before the command is sent; a text that arrives while it is closed is logged and
// dropped. It keeps up to REPLY_MAILBOX_SIZE texts in arrival order (when full, the oldest text not
// yet taken is dropped and logged), and notes the end of the current channel from the moment that
// channel is opened (closing the mailbox forgets it). g_ws_reply_ready is set while it holds a text.
const int REPLY_MAILBOX_SIZE = 64;
void reply_mailbox_open();
void reply_mailbox_close();

// The lock of the mailbox's contents (g_driver.mailbox).
std::mutex &reply_mailbox_lock();

// The channel's callbacks, run on its worker thread; none of them waits. The connection and the end
// count only for the current channel (g_driver_seams.current_channel), never for an earlier attempt.
void on_ws_text(rws_client *client, const char *text, uint32_t length);
void on_ws_binary(rws_client *client, const char *data, uint32_t length);
void on_ws_connected(rws_client *client);
void on_ws_disconnected(rws_client *client);

// A new channel is about to be opened: nothing an earlier one did counts for it.
void watch_new_channel();

// How a wait for the camera's answer ended.
enum reply_result {
    REPLY_UNDECIDED,
    REPLY_SUCCESS,
    REPLY_ALREADY_LATEST,
    REPLY_FAILURE,
    REPLY_TIMEOUT,
    REPLY_CHANNEL_ENDED,
    REPLY_ENDED_BEFORE_COMMAND,  // the channel ended while the mailbox was closed: the camera never got the command
};

// Waits for a deciding answer, at most the reply limit counted from now; every text is judged in
// arrival order. With stop_at_channel_end, the wait also ends once the channel has ended and no
// text is left to take: nothing can arrive any more. A channel that ended before the mailbox opened
// ends the wait at once in any case: the command never went out.
reply_result wait_for_answer(bool stop_at_channel_end);

// How much of a camera's text of this length the diagnostics log shows.
int camera_text_shown(size_t length);
