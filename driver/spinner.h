// The banner and the progress spinner: one step a second until the run stops, and between the
// steps the camera's download as lines of their own.
#pragma once

#include <cstddef>

// Prints the banner and starts the spinner thread. 0 when the thread runs, -1 when it cannot start.
int start_spinner();

// The spinner thread's body: the progress note, then one step a second until the run stops; between
// the steps, the camera's download (download_progress_now) as a line of its own whenever its text
// changes.
int spinner_thread();

// What the spinner has shown of the camera's download.
const size_t DOWNLOAD_LINE_SIZE = 256;
struct download_shown {
    char line[DOWNLOAD_LINE_SIZE] = "";  // the latest line
    int download = 0;                    // the download it was about (download_progress::downloads)
    bool closing = false;                // the closing line was shown: it ends the lines of the run
};

// Prints the camera's download (download_progress_now) as a line of its own when its text differs
// from the one shown before: the progress, or once every byte of a download is sent, the closing
// line; first a line of its own when the camera has started the download over. Nothing while no
// report came, and nothing after the closing line.
void show_download(download_shown &shown);

// Draws step n (clamped to 0..10,000): one "#" per ten steps and the turning character.
void spinner_step(int n);

// Waits, at most limit_ms, until the spinner thread has printed its last line: a process that
// exits while one of its threads is still writing may lose that output or fail in its exit.
void wait_for_spinner_end(int limit_ms);
const int SPINNER_END_WAIT_MS = 2000;  // the wait of a run's end
