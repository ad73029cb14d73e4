// The console's texts of a run in the UI language (g_chinese_ui): the spinner's note and its lines
// about the camera's download, the confirmation's lines and the interrupt's line.
#pragma once

#include <cstddef>
#include <cstdint>

// The spinner's note.
const char *progress_note();

// The console's line when an interrupt stops the run.
const char *interrupt_note();

// The spinner's lines about the camera's download, into out (of size bytes; cut to fit): while it
// runs "Camera downloading firmware: 7.4 / 15.5 MB (47 %)", once every byte is sent "Firmware sent
// to camera: 15.5 MB in 1.3 s. Camera is installing it, plz wait...", and when the camera starts
// the download over "Camera is downloading the firmware again.". Megabytes are of 10^6 bytes and,
// like the seconds, rounded half up to one decimal; the percentage is rounded down, so that 100 %
// means every byte.
void download_progress_text(char *out, size_t size, int64_t sent, int64_t total);
void download_done_text(char *out, size_t size, int64_t total, int64_t elapsed_ms);
void download_again_text(char *out, size_t size);

// The console's lines of the confirmation, into out (of size bytes): the wait's start, its progress
// every 10 s (version empty when none was read), and its end.
void confirm_begin_text(char *out, size_t size, int limit_seconds);
void confirm_progress_text(char *out, size_t size, int seconds, bool answers, const char *version);
void confirm_end_text(char *out, size_t size, bool confirmed, int seconds, const char *version);
