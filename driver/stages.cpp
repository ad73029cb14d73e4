// The run's stages, one row each, in order: the name under which the run record keeps its seconds,
// the function it calls (the tool's own beside it), the exit code with which it stops the run, and
// whether it holds the PC while it runs; then the wait for the reply and the run's ending.
#include "driver.h"

#include "command_exchange.h"
#include "confirm.h"
#include "debug_log.h"
#include "device_link.h"
#include "diagnostics_log.h"
#include "driver_state.h"
#include "eligibility.h"
#include "interrupt.h"
#include "outcome_ids.h"
#include "outcomes.h"
#include "platform.h"
#include "run_end.h"
#include "run_record.h"
#include "server_launch.h"
#include "spinner.h"
#include "workstation.h"

#include <cstdio>
#include <optional>

// Filled by name: each stage function takes what it needs from the run's buffers; a function that
// cannot stop the run gives 0, and the presence check gives 0 once the camera answered.
constexpr stage_functions REAL_STAGE_FUNCTIONS = {
    .acquire_instance_guard = [](upgrade_run &) { return acquire_instance_guard(); },
    .discover_device_link = [](upgrade_run &run) { return discover_device_link(run.host_address, run.device_address); },
    .show_startup_warning = [](upgrade_run &) { return show_startup_warning() ? 1 : 0; },
    .fetch_device_info = [](upgrade_run &run) { return fetch_device_info(run.device_address) != 0 ? 0 : 1; },
    .parse_device_info = [](upgrade_run &run) {
        return parse_device_info(&run.device_version_found, run.device_version, run.previous_version);
    },
    .check_device_model = [](upgrade_run &) { return check_device_model(); },
    .check_same_version = [](upgrade_run &run) { return check_same_version(run.device_version); },
    .check_fits_database = [](upgrade_run &run) { return check_fits_database(run.device_version); },
    .prepare_workstation = [](upgrade_run &) { return prepare_workstation(); },
    .purge_staged_images = [](upgrade_run &) { purge_staged_images(); return 0; },
    .stage_firmware = [](upgrade_run &run) { return stage_firmware(run.firmware_file_name, run.firmware_path); },
    .firewall_off = [](upgrade_run &) { firewall_off(); return 0; },
    .start_file_server = [](upgrade_run &) { return start_file_server(); },
    .open_command_channel = [](upgrade_run &run) { return open_command_channel(&run); },
    .send_upgrade_command = [](upgrade_run &run) { return send_upgrade_command(&run); },
    .start_spinner = [](upgrade_run &) { return start_spinner(); },
    .await_reply = [](upgrade_run &run) { return await_reply(&run); },
};
stage_functions g_stage_functions = REAL_STAGE_FUNCTIONS;

namespace {

// The rules of the stages that do more than read their function's result; each takes that result
// and gives the one its row reads.

// Only another instance stops the run: a guard that cannot be created lets it go on. The copy that
// holds the guard is the one that may rotate the run records and prune the diagnostics logs; a
// refused copy keeps no log. From a run that goes on, interrupts clean up; the refused copy ends on
// them as the system ends any program.
int after_guard(upgrade_run &, int result)
{
    if (result != 1)
        diagnostics_keep(result == 0);
    g_driver.guard_taken = result == 0;
    if (result == 0)
        run_record_rotate();
    if (result == 1)
        return result;
    watch_interrupts();
    return 0;
}

// Cancel on the start-up warning ends the run here with exit code 0: its record is written and kept,
// and nothing follows, no clean-up and no delivery (the person stopped the tool before it changed
// anything). An interrupt that took the run over during the box has ended it before this.
int after_warning(upgrade_run &, int cancelled)
{
    if (cancelled == 0)
        return 0;
    close_run(EXIT_COMPLETED);
    note_run_ended();
    return cancelled;
}

// The information-file fetch has just put the camera in this PC's neighbour table: the camera's
// hardware address is read then (an unknown one never stops the run).
int after_presence(upgrade_run &run, int result)
{
    char mac[NEIGHBOUR_TEXT_SIZE];
    if (result == 0 && camera_link_address(run.device_address, mac))
        run_record_note_camera_mac(mac);
    return result;
}

// The function has raised the outcome of what failed; the driver adds the one that ends the run,
// which in silent mode replaces the function's result code.
int after_workstation(upgrade_run &, int result)
{
    return result != 0 ? stop_run(OUTCOME_UTILITIES_MISSING, result) : 0;
}

int after_staging(upgrade_run &run, int result)
{
    if (result == 0) {
        run.firmware_bytes = file_size_of(run.firmware_path);
        DEBUG_LOG("firmware image staged: %s, %u bytes\n", run.firmware_path, run.firmware_bytes);
    }
    return result;
}

// A spinner that cannot start raises no outcome; the driver only cleans up.
int after_spinner(upgrade_run &, int result)
{
    if (result != 0)
        cleanup_workstation();
    return result;
}

// A check-only run ends where an upgrade begins to change the PC: the camera passed every test.
// Its clean-up deletes only the information file's copy.
exit_code end_check_run()
{
    DEBUG_LOG("check only: the camera can be upgraded to %s; nothing on this PC was changed\n",
              TARGET_FIRMWARE_VERSION);
    stop_run(OUTCOME_CAN_BE_UPGRADED, EXIT_COMPLETED);
    return EXIT_COMPLETED;
}

// Whether the run's thread keeps the PC lock through a stage: a stage that waits long (on the user,
// the camera's answer) gives it up, so that an interrupt does not wait for it.
enum stage_hold { HOLDS_PC, WAITS_WITHOUT_PC };

// The exit code of a stage whose function gives the run's exit code itself, and that of a stage
// whose function never stops the run: none of the row's own.
constexpr std::nullopt_t CODE_OF_FUNCTION = std::nullopt;
constexpr std::nullopt_t NEVER_STOPS = std::nullopt;

// A stage: its name in the run record, its function in g_stage_functions, the run's exit code when
// that function gives anything but 0, whether it holds the PC while the function runs, and its own
// rule, if it has one (run with the PC held).
struct named_stage {
    const char *name;
    int (*stage_functions::*function)(upgrade_run &run);
    std::optional<exit_code> stop;
    stage_hold hold;
    int (*own_rule)(upgrade_run &run, int result) = nullptr;
};

// Stages 1 to 16; the wait for the reply and the ending follow in finish_run.
const named_stage RUN_STAGES[] = {
    // the guard, the link and the camera's presence
    {"guard", &stage_functions::acquire_instance_guard, EXIT_ANOTHER_INSTANCE, HOLDS_PC, after_guard},
    {"link", &stage_functions::discover_device_link, EXIT_NO_LINK_ADDRESS, HOLDS_PC},
    {"warning", &stage_functions::show_startup_warning, EXIT_COMPLETED, WAITS_WITHOUT_PC, after_warning},
    {"presence", &stage_functions::fetch_device_info, EXIT_CAMERA_SILENT, WAITS_WITHOUT_PC, after_presence},
    // eligibility: an unusable information file ends the run without an outcome or a clean-up
    {"parse", &stage_functions::parse_device_info, EXIT_INFO_FILE_UNUSABLE, HOLDS_PC},
    {"model", &stage_functions::check_device_model, EXIT_MODEL_REFUSED, HOLDS_PC},
    {"same_version", &stage_functions::check_same_version, EXIT_SAME_VERSION, HOLDS_PC},
    {"fits_database", &stage_functions::check_fits_database, EXIT_NO_FITS_DATABASE, HOLDS_PC},
    // the PC: working directories, the staged image, the firewall, the file server
    {"workstation", &stage_functions::prepare_workstation, EXIT_WORKSTATION_NOT_READY, HOLDS_PC, after_workstation},
    {"purge", &stage_functions::purge_staged_images, NEVER_STOPS, HOLDS_PC},
    {"staging", &stage_functions::stage_firmware, EXIT_FIRMWARE_NOT_STAGED, HOLDS_PC, after_staging},
    {"firewall", &stage_functions::firewall_off, NEVER_STOPS, HOLDS_PC},
    {"file_server", &stage_functions::start_file_server, EXIT_FILE_SERVER_NOT_STARTED, HOLDS_PC},
    // the camera: the channel, the command, the spinner
    {"channel", &stage_functions::open_command_channel, CODE_OF_FUNCTION, WAITS_WITHOUT_PC},
    {"command", &stage_functions::send_upgrade_command, CODE_OF_FUNCTION, HOLDS_PC},
    {"spinner", &stage_functions::start_spinner, EXIT_SPINNER_NOT_STARTED, HOLDS_PC, after_spinner},
};

// After an "ok" with a confirm mode set, once the PC is clean: the camera's new version read back
// while it restarts. The PC is given up meanwhile, so that an interrupt is handled at once.
void confirm_stage(upgrade_run &run)
{
    yield_if_interrupted();
    note_running_stage("confirm");
    give_pc_up();
    confirm_new_version(&run);
    take_pc_back();
    yield_if_interrupted();
    run_record_stage_done("confirm");
}

// After the reply the clean-up runs; every ending but "already the latest version" then purges the
// staging directory again and deletes the staged image, and the confirmation follows when asked,
// the single-instance guard kept until the run's end: it still reads the camera.
exit_code finish_run(upgrade_run &run)
{
    note_running_stage("reply");
    give_pc_up();
    upgrade_ending ending = g_stage_functions.await_reply(run);
    take_pc_back();
    run_record_stage_done("reply");
    yield_if_interrupted();
    note_running_stage("cleanup");
    cleanup_workstation(ending == ENDING_FULL_THEN_CONFIRM ? GUARD_KEPT : GUARD_RELEASED);
    if (ending != ENDING_CLEANUP_ONLY) {
        g_stage_functions.purge_staged_images(run);
        std::remove(g_staged_image_path);
    }
    yield_if_interrupted();
    run_record_stage_done("cleanup");
    if (ending == ENDING_FULL_THEN_CONFIRM)
        confirm_stage(run);
    return EXIT_COMPLETED;
}

// One stage, begun only while no interrupt is pending; its seconds go to the run record unless an
// interrupt, which writes the record itself, became pending meanwhile. Nothing when the run goes
// on, else the run's exit code.
std::optional<exit_code> run_named_stage(const named_stage &stage, upgrade_run &run)
{
    yield_if_interrupted();
    note_running_stage(stage.name);
    if (stage.hold == WAITS_WITHOUT_PC)
        give_pc_up();
    int result = (g_stage_functions.*stage.function)(run);
    if (stage.hold == WAITS_WITHOUT_PC)
        take_pc_back();
    if (stage.own_rule != nullptr)
        result = stage.own_rule(run, result);
    yield_if_interrupted();
    run_record_stage_done(stage.name);
    if (result == 0)
        return std::nullopt;
    return stage.stop.value_or(static_cast<exit_code>(result));
}

} // namespace

exit_code run_stages(upgrade_run &run)
{
    for (const named_stage &stage : RUN_STAGES) {
        if (stage.function == &stage_functions::prepare_workstation && g_workstation.check_only)
            return end_check_run();
        if (std::optional<exit_code> code = run_named_stage(stage, run))
            return *code;
    }
    return finish_run(run);
}
