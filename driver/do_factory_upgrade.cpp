// The run sequence: seventeen stages from the single-instance guard to the final report, each of
// which passes or ends the run with its exit code; the banner and the progress spinner.
#include "driver.h"

#include "diagnostics_log.h"
#include "run_record.h"
#include "settings.h"
#include "waits.h"

#include <cstdio>
#include <cstring>

shared_flag g_upgrade_ok{0};
shared_flag g_ws_connected{0};
shared_flag g_ws_reply_ready{0};

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
        sleep_ms(DOWNLOAD_CHECK_MS);
        show_download(shown);
    }
}

// Set while the spinner thread runs: the process waits for it before it exits.
shared_flag g_spinner_running{0};
const int SPINNER_END_WAIT_MS = 2000;

bool spinner_ended(const void *) { return !flag_is_set(g_spinner_running); }

// One stage of the run over its stage function in g_stages: STAGE_GO_ON when the run goes on,
// otherwise the run's exit code. A stage that stops the run has raised its outcome and, where its
// rules say so, cleaned up. The adapters turn each stage function's own result into that contract.
using run_stage = exit_code (*)(upgrade_run &run);

// A stage function's "0 passes" as a stage's result: STAGE_GO_ON, otherwise the exit code given.
exit_code go_on_at_zero(int result, exit_code stop) { return result == 0 ? STAGE_GO_ON : stop; }

// Runs a stage function that cannot stop the run.
exit_code go_on_after(void (*stage_function)())
{
    stage_function();
    return STAGE_GO_ON;
}

// Only another instance stops the run: a guard that cannot be created lets it go on. The copy that
// holds the guard is the one that may rotate the run records and prune the diagnostics logs; a
// refused copy keeps no log. From a run that goes on, interrupts clean up; the refused copy ends on
// them as the system ends any program.
exit_code guard_stage(upgrade_run &)
{
    int result = g_stages.acquire_instance_guard();
    if (result != 1)
        diagnostics_keep(result == 0);
    if (result == 0)
        run_record_rotate();
    if (result == 1)
        return EXIT_ANOTHER_INSTANCE;
    watch_interrupts();
    return STAGE_GO_ON;
}

exit_code link_stage(upgrade_run &run)
{
    int result = g_stages.discover_device_link(run.host_address, run.device_address);
    return go_on_at_zero(result, EXIT_NO_LINK_ADDRESS);
}

// Cancel on the warning ends the process inside the stage; every other answer goes on.
exit_code warning_stage(upgrade_run &) { return go_on_after(g_stages.show_startup_warning); }

// The information-file fetch answers 1 when the camera answered, 0 when it did not.
exit_code presence_stage(upgrade_run &run)
{
    return g_stages.fetch_device_info(run.device_address) == 0 ? EXIT_CAMERA_SILENT : STAGE_GO_ON;
}

// An unusable information file ends the run without an outcome and without a clean-up.
exit_code parse_stage(upgrade_run &run)
{
    int result = g_stages.parse_device_info(&run.device_version_found, run.device_version, run.previous_version);
    return go_on_at_zero(result, EXIT_INFO_FILE_UNUSABLE);
}

exit_code model_stage(upgrade_run &) { return go_on_at_zero(g_stages.check_device_model(), EXIT_MODEL_REFUSED); }

exit_code same_version_stage(upgrade_run &run)
{
    return go_on_at_zero(g_stages.check_same_version(run.device_version), EXIT_SAME_VERSION);
}

exit_code fits_database_stage(upgrade_run &run)
{
    return go_on_at_zero(g_stages.check_fits_database(run.device_version), EXIT_NO_FITS_DATABASE);
}

// The stage has raised the outcome of what failed; the driver adds the one that ends the run, which
// in silent mode replaces the stage's result code.
exit_code workstation_stage(upgrade_run &)
{
    if (g_stages.prepare_workstation() != 0)
        return stop_run(OUTCOME_UTILITIES_MISSING, EXIT_WORKSTATION_NOT_READY);
    return STAGE_GO_ON;
}

exit_code purge_stage(upgrade_run &) { return go_on_after(g_stages.purge_staged_images); }

exit_code staging_stage(upgrade_run &run)
{
    int result = g_stages.stage_firmware(run.firmware_file_name, run.firmware_path);
    if (result == 0) {
        run.firmware_bytes = file_size_of(run.firmware_path);
        DEBUG_LOG("firmware image staged: %s, %u bytes\n", run.firmware_path, run.firmware_bytes);
    }
    return go_on_at_zero(result, EXIT_FIRMWARE_NOT_STAGED);
}

exit_code firewall_stage(upgrade_run &) { return go_on_after(g_stages.firewall_off); }

exit_code file_server_stage(upgrade_run &)
{
    return go_on_at_zero(g_stages.start_file_server(), EXIT_FILE_SERVER_NOT_STARTED);
}

exit_code channel_stage(upgrade_run &run) { return g_stages.open_command_channel(&run); }

exit_code command_stage(upgrade_run &run) { return g_stages.send_upgrade_command(&run); }

// A spinner that cannot start raises no outcome; the driver only cleans up.
exit_code spinner_stage(upgrade_run &)
{
    if (g_stages.start_spinner() == 0)
        return STAGE_GO_ON;
    cleanup_workstation();
    return EXIT_SPINNER_NOT_STARTED;
}

// Whether the run's thread keeps the PC lock through a stage: a stage that waits long (on the user,
// the camera's answer) gives it up, so that an interrupt does not wait for it.
enum stage_hold { HOLDS_PC, WAITS_WITHOUT_PC };

// A stage with the name under which the run record keeps its seconds.
struct named_stage {
    const char *name;
    run_stage run;
    stage_hold hold;
};

// Stages 1 to 16; the wait for the reply and the ending follow in finish_run.
const named_stage RUN_STAGES[] = {
    // the guard, the link and the camera's presence
    {"guard", guard_stage, HOLDS_PC}, {"link", link_stage, HOLDS_PC}, {"warning", warning_stage, WAITS_WITHOUT_PC},
    {"presence", presence_stage, WAITS_WITHOUT_PC},
    // eligibility
    {"parse", parse_stage, HOLDS_PC}, {"model", model_stage, HOLDS_PC}, {"same_version", same_version_stage, HOLDS_PC},
    {"fits_database", fits_database_stage, HOLDS_PC},
    // the PC: working directories, the staged image, the firewall, the file server
    {"workstation", workstation_stage, HOLDS_PC}, {"purge", purge_stage, HOLDS_PC},
    {"staging", staging_stage, HOLDS_PC}, {"firewall", firewall_stage, HOLDS_PC},
    {"file_server", file_server_stage, HOLDS_PC},
    // the camera: the channel, the command, the spinner
    {"channel", channel_stage, WAITS_WITHOUT_PC}, {"command", command_stage, HOLDS_PC},
    {"spinner", spinner_stage, HOLDS_PC},
};

// After the reply the clean-up runs; every ending but "already the latest version" then purges the
// staging directory again and deletes the staged image.
exit_code finish_run(upgrade_run &run)
{
    note_running_stage("reply");
    pc_wait_begin();
    upgrade_ending ending = g_stages.await_reply(&run);
    pc_wait_end();
    run_record_stage_done("reply");
    yield_if_interrupted();
    note_running_stage("cleanup");
    cleanup_workstation();
    if (ending == ENDING_FULL) {
        g_stages.purge_staged_images();
        std::remove(g_staged_image_path);
    }
    yield_if_interrupted();
    run_record_stage_done("cleanup");
    return EXIT_COMPLETED;
}

// One stage, begun only while no interrupt is pending; its seconds go to the run record unless an
// interrupt, which writes the record itself, became pending meanwhile.
exit_code run_named_stage(const named_stage &stage, upgrade_run &run)
{
    yield_if_interrupted();
    note_running_stage(stage.name);
    if (stage.hold == WAITS_WITHOUT_PC)
        pc_wait_begin();
    exit_code code = stage.run(run);
    if (stage.hold == WAITS_WITHOUT_PC)
        pc_wait_end();
    yield_if_interrupted();
    run_record_stage_done(stage.name);
    return code;
}

// The stages in order until one stops the run, then the ending.
exit_code run_stages(upgrade_run &run)
{
    for (const named_stage &stage : RUN_STAGES) {
        exit_code code = run_named_stage(stage, run);
        if (code != STAGE_GO_ON)
            return code;
    }
    return finish_run(run);
}

} // namespace

constexpr upgrade_stages REAL_STAGES = {
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
upgrade_stages g_stages = REAL_STAGES;

void reset_run_state()
{
    set_flag(g_silent_mode, 0);
    set_flag(g_chinese_ui, 0);
    set_flag(g_upgrade_ok, 0);
    set_flag(g_upgrade_quit, 0);
    set_flag(g_interrupt_pending, 0);
    set_flag(g_ws_connected, 0);
    reply_mailbox_close();  // clears g_ws_reply_ready
    std::memset(g_ws_reply, 0, sizeof g_ws_reply);
    g_ws_reply_len = 0;
    std::memset(g_device_model, 0, sizeof g_device_model);
    g_device_model_found = 0;
    std::memset(g_staged_image_path, 0, sizeof g_staged_image_path);
    g_stages = REAL_STAGES;
    g_driver_hooks = REAL_DRIVER_HOOKS;
    g_station_settings = station_settings{};
    g_firewall_mode = FIREWALL_SWITCH_OFF;
    platform_set_text_route(TEXT_ANSI);
}

// A forced Chinese takes the wide calls, which read right whatever the system's code page; the
// system's own language and forced English keep the calls of the system's code page.
void init_ui_language()
{
    language_choice language = g_station_settings.language;
    bool chinese = language == LANGUAGE_AUTO ? platform_ui_is_chinese() : language == LANGUAGE_CHINESE;
    set_flag(g_chinese_ui, chinese ? 1 : 0);
    platform_set_text_route(language == LANGUAGE_CHINESE ? TEXT_WIDE_FROM_936 : TEXT_ANSI);
    platform_set_console_title(ui_caption());
}

int facup_main(int argc, char **argv)
{
    load_station_settings();
    init_ui_language();
    if (argc == 2 && std::strcmp(argv[1], "-s") == 0)
        set_flag(g_silent_mode, 1);
    enable_interrupt_handling();
    exit_code code = run_upgrade();
    wait_for_spinner_end(SPINNER_END_WAIT_MS);
    return code;
}

exit_code run_upgrade()
{
    upgrade_run run;
    std::memset(&run, 0, sizeof run);
    set_outcome_reporter(report_outcome);
    run_record_begin(&run);
    for (const std::string &warning : g_station_settings.warnings)
        run_record_add_warning(warning.c_str());
    pc_lock_take();  // the run's thread holds the PC lock except in its long waits; nothing is pending yet
    exit_code code = run_stages(run);
    yield_if_interrupted();
    run_record_end(code);
    note_run_ended();
    pc_lock_give();
    return code;
}

void wait_for_spinner_end(int limit_ms) { wait_until(spinner_ended, nullptr, limit_ms); }

int start_spinner()
{
    std::puts(BANNER);
    set_flag(g_spinner_running, 1);
    if (platform_thread_start(spinner_body, nullptr) != 0)
        return 0;
    set_flag(g_spinner_running, 0);
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
    set_flag(g_spinner_running, 0);
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
    std::fflush(stdout);
    format_text(shown.line, sizeof shown.line, "%s", text);
}

} // namespace

void show_download(download_shown &shown)
{
    int64_t sent = g_download_progress.sent;
    int64_t total = g_download_progress.size;
    int64_t elapsed_ms = g_download_progress.elapsed_ms;
    int download = g_download_progress.downloads;
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
