// The banner and the progress spinner: one step a second until the run stops, and between the
// steps the camera's download as lines of their own.
#include "spinner.h"

#include "driver_state.h"
#include "outcomes.h"
#include "platform.h"
#include "shared_values.h"
#include "text_util.h"
#include "tool_version.h"
#include "ui_texts.h"
#include "waits.h"
#include "workstation.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

const char BANNER[] = "Tester Upgrader v" FACUP_TOOL_VERSION "\r";
const int SPINNER_LAST_STEP = 10000;
const int DOWNLOAD_CHECK_MS = 250;      // how often the spinner looks at the camera's download

void spinner_body(void *) { spinner_thread(); }

bool run_stopping() { return flag_is_set(g_upgrade_quit) || flag_is_set(g_upgrade_ok); }

// The spinner's pause of a second, looking at the download every DOWNLOAD_CHECK_MS meanwhile; it
// ends early once the run stops, so that the spinner is gone soon after the clean-up.
void pause_showing_download(download_shown &shown)
{
    for (int waited = 0; waited < 1000 && !run_stopping(); waited += DOWNLOAD_CHECK_MS) {
        g_workstation_seams.sleep_ms(DOWNLOAD_CHECK_MS);
        show_download(shown);
    }
}

bool spinner_ended(const void *) { return !flag_is_set(g_driver.spinner_running); }

} // namespace

void wait_for_spinner_end(int limit_ms) { wait_until(spinner_ended, nullptr, limit_ms); }

int start_spinner()
{
    std::puts(BANNER);
    set_flag(g_driver.spinner_running, 1);
    if (g_workstation_seams.commands.start_thread(spinner_body, nullptr) != 0)
        return 0;
    set_flag(g_driver.spinner_running, 0);
    return -1;
}

int spinner_thread()
{
    platform_console_line(progress_note());
    std::puts("");
    download_shown shown;
    for (int n = 0; n <= SPINNER_LAST_STEP; n++) {
        if (run_stopping()) {
            show_download(shown);  // the closing report may have come just before the answer
            std::puts("Upgrade quit.\r");
            break;
        }
        spinner_step(n);
        pause_showing_download(shown);
    }
    std::printf("\n");
    std::fflush(stdout);
    set_flag(g_driver.spinner_running, 0);
    return 0;
}

void spinner_step(int n)
{
    if (n < 0)
        n = 0;
    if (n > SPINNER_LAST_STEP)
        n = SPINNER_LAST_STEP;
    for (int i = 0; i < n / 10; i++)
        std::putchar('#');
    if (n > 9)
        std::putchar('\r');
    std::printf("[%c]\r", "-\\|/"[n % 4]);
    std::fflush(stdout);
}

namespace {

void print_download_line(download_shown &shown, const char *text)
{
    platform_console_line(text);
    format_text(shown.line, sizeof shown.line, "%s", text);
}

} // namespace

void show_download(download_shown &shown)
{
    const download_progress progress = download_progress_now();
    int64_t sent = progress.sent, total = progress.size, elapsed_ms = progress.elapsed_ms;
    int download = progress.downloads;
    if (sent < 0 || total <= 0 || shown.closing)
        return;
    char text[DOWNLOAD_LINE_SIZE];
    if (shown.download != 0 && download != shown.download) {
        download_again_text(text, sizeof text);
        print_download_line(shown, text);
    }
    shown.download = download;
    shown.closing = sent == total;
    if (shown.closing)
        download_done_text(text, sizeof text, total, elapsed_ms);
    else
        download_progress_text(text, sizeof text, sent, total);
    if (std::strcmp(text, shown.line) != 0)
        print_download_line(shown, text);
}
