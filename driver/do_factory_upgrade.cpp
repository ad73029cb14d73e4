// The run sequence: seventeen stages from the single-instance guard to the final report, each of
// which passes or ends the run with its exit code; the banner and the progress spinner.
#include "driver.h"

#include <cstdio>
#include <cstring>

shared_flag g_upgrade_ok{0};
shared_flag g_ws_connected{0};
shared_flag g_ws_reply_ready{0};

namespace {

const char BANNER[] = "Tester Upgrader v1.0.3\r";
const int SPINNER_LAST_STEP = 10000;


void spinner_body(void *) { spinner_thread(); }

} // namespace

upgrade_stages g_stages = {
    acquire_instance_guard,
    discover_device_link,
    show_startup_warning,
    fetch_device_info,
    parse_device_info,
    check_device_model,
    check_same_version,
    check_fits_database,
    prepare_workstation,
    purge_staged_images,
    stage_firmware,
    firewall_off,
    start_file_server,
    open_command_channel,
    send_upgrade_command,
    start_spinner,
    await_reply,
};

void init_ui_language()
{
    set_flag(g_chinese_ui, platform_ui_is_chinese() ? 1 : 0);
    platform_set_console_title(ui_caption());
}

int facup_main(int argc, char **argv)
{
    init_ui_language();
    if (argc == 2 && std::strcmp(argv[1], "-s") == 0)
        set_flag(g_silent_mode, 1);
    return run_upgrade();
}

int run_upgrade()
{
    upgrade_run run;
    std::memset(&run, 0, sizeof run);
    set_outcome_reporter(report_outcome);
    const upgrade_stages &stage = g_stages;

    if (stage.acquire_instance_guard() == 1)
        return -1;
    if (stage.discover_device_link(run.host_address, run.device_address) != 0)
        return -2;
    stage.show_startup_warning();
    if (stage.fetch_device_info(run.device_address) == 0)
        return -3;
    if (stage.parse_device_info(&run.device_version_found, run.device_version, run.previous_version) != 0)
        return -4;
    if (stage.check_device_model() != 0)
        return -5;
    if (stage.check_same_version(run.device_version) != 0)
        return -6;
    if (stage.check_fits_database(run.device_version) != 0)
        return -7;
    if (stage.prepare_workstation() != 0) {
        report_outcome(OUTCOME_UTILITIES_MISSING);
        cleanup_workstation();
        return -8;
    }
    stage.purge_staged_images();
    if (stage.stage_firmware(run.firmware_file_name, run.firmware_path) != 0)
        return -9;
    stage.firewall_off();
    if (stage.start_file_server() != 0)
        return -10;
    int rc = stage.open_command_channel(&run);
    if (rc != 0)
        return rc;
    if (stage.send_upgrade_command(&run) != 0)
        return -6;
    if (stage.start_spinner() != 0) {
        cleanup_workstation();
        return -7;
    }

    int ending = stage.await_reply(&run);
    cleanup_workstation();
    if (ending == ENDING_FULL) {
        stage.purge_staged_images();
        std::remove(g_staged_image_path);
    }
    return 0;
}

int start_spinner()
{
    std::puts(BANNER);
    return platform_thread_start(spinner_body, nullptr) != 0 ? 0 : -1;
}

int spinner_thread()
{
    std::puts(progress_note());
    std::puts("");
    for (int n = 0; n <= SPINNER_LAST_STEP; n++) {
        if (flag_is_set(g_upgrade_quit) || flag_is_set(g_upgrade_ok)) {
            std::puts("Upgrade quit.\r");
            break;
        }
        spinner_step(n);
        sleep_ms(1000);
    }
    std::printf("\n");
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
