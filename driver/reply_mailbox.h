// Inside the driver: the reply mailbox's side that the command exchange uses, the wait for a
// deciding answer and the camera's text as the diagnostics log shows it.
#pragma once

#include "driver.h"

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

// A new channel is about to be opened: nothing an earlier one did counts for it.
void watch_new_channel();

// Waits for a deciding answer, at most the reply limit counted from now; every text is judged in
// arrival order. With stop_at_channel_end, the wait also ends once the channel has ended and no
// text is left to take: nothing can arrive any more. A channel that ended before the mailbox opened
// ends the wait at once in any case: the command never went out.
reply_result wait_for_answer(bool stop_at_channel_end);

// How much of a camera's text of this length the diagnostics log shows.
int camera_text_shown(size_t length);
