// The run's stages: each stage function of g_stage_functions behind one contract (go on, or the run's exit
// code), in order, with its name for the run record and whether it holds the PC while it runs; then
// the wait for the reply and the run's ending.
#include "driver.h"

#include "confirm.h"
#include "debug_log.h"
#include "device_link.h"
#include "diagnostics_log.h"
#include "driver_state.h"
#include "interrupt.h"
#include "outcome_ids.h"
#include "outcomes.h"
#include "platform.h"
#include "run_record.h"
#include "workstation.h"

#include <cstdio>

namespace {

// One stage of the run over its stage function in g_stage_functions: STAGE_GO_ON when the run goes on,
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
    int result = g_stage_functions.acquire_instance_guard();
    if (result != 1)
        diagnostics_keep(result == 0);
    g_driver.guard_taken = result == 0;
    if (result == 0)
        run_record_rotate();
    if (result == 1)
        return EXIT_ANOTHER_INSTANCE;
    watch_interrupts();
    return STAGE_GO_ON;
}

exit_code link_stage(upgrade_run &run)
{
    int result = g_stage_functions.discover_device_link(run.host_address, run.device_address);
    return go_on_at_zero(result, EXIT_NO_LINK_ADDRESS);
}

// Cancel on the warning ends the process inside the stage; every other answer goes on.
exit_code warning_stage(upgrade_run &) { return go_on_after(g_stage_functions.show_startup_warning); }

// The information-file fetch answers 1 when the camera answered, 0 when it did not. Its exchange has
// just put the camera in this PC's neighbour table: the camera's hardware address is read then.
exit_code presence_stage(upgrade_run &run)
{
    if (g_stage_functions.fetch_device_info(run.device_address) == 0)
        return EXIT_CAMERA_SILENT;
    char mac[NEIGHBOUR_TEXT_SIZE];
    if (camera_link_address(run.device_address, mac))
        run_record_note_camera_mac(mac);
    return STAGE_GO_ON;
}

// An unusable information file ends the run without an outcome and without a clean-up.
exit_code parse_stage(upgrade_run &run)
{
    int result = g_stage_functions.parse_device_info(&run.device_version_found, run.device_version, run.previous_version);
    return go_on_at_zero(result, EXIT_INFO_FILE_UNUSABLE);
}

exit_code model_stage(upgrade_run &) { return go_on_at_zero(g_stage_functions.check_device_model(), EXIT_MODEL_REFUSED); }

exit_code same_version_stage(upgrade_run &run)
{
    return go_on_at_zero(g_stage_functions.check_same_version(run.device_version), EXIT_SAME_VERSION);
}

exit_code fits_database_stage(upgrade_run &run)
{
    return go_on_at_zero(g_stage_functions.check_fits_database(run.device_version), EXIT_NO_FITS_DATABASE);
}

// The stage has raised the outcome of what failed; the driver adds the one that ends the run, which
// in silent mode replaces the stage's result code.
exit_code workstation_stage(upgrade_run &)
{
    if (g_stage_functions.prepare_workstation() != 0)
        return stop_run(OUTCOME_UTILITIES_MISSING, EXIT_WORKSTATION_NOT_READY);
    return STAGE_GO_ON;
}

exit_code purge_stage(upgrade_run &) { return go_on_after(g_stage_functions.purge_staged_images); }

exit_code staging_stage(upgrade_run &run)
{
    int result = g_stage_functions.stage_firmware(run.firmware_file_name, run.firmware_path);
    if (result == 0) {
        run.firmware_bytes = file_size_of(run.firmware_path);
        DEBUG_LOG("firmware image staged: %s, %u bytes\n", run.firmware_path, run.firmware_bytes);
    }
    return go_on_at_zero(result, EXIT_FIRMWARE_NOT_STAGED);
}

exit_code firewall_stage(upgrade_run &) { return go_on_after(g_stage_functions.firewall_off); }

exit_code file_server_stage(upgrade_run &)
{
    return go_on_at_zero(g_stage_functions.start_file_server(), EXIT_FILE_SERVER_NOT_STARTED);
}

exit_code channel_stage(upgrade_run &run) { return g_stage_functions.open_command_channel(&run); }

exit_code command_stage(upgrade_run &run) { return g_stage_functions.send_upgrade_command(&run); }

// A spinner that cannot start raises no outcome; the driver only cleans up.
exit_code spinner_stage(upgrade_run &)
{
    if (g_stage_functions.start_spinner() == 0)
        return STAGE_GO_ON;
    cleanup_workstation();
    return EXIT_SPINNER_NOT_STARTED;
}

// A check-only run ends where an upgrade begins to change the PC: the camera passed every test.
// Its clean-up deletes only the information file's copy.
exit_code end_check_run()
{
    DEBUG_LOG("check only: the camera can be upgraded to %s; nothing on this PC was changed\n",
              TARGET_FIRMWARE_VERSION);
    return stop_run(OUTCOME_CAN_BE_UPGRADED, EXIT_COMPLETED);
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
    upgrade_ending ending = g_stage_functions.await_reply(&run);
    take_pc_back();
    run_record_stage_done("reply");
    yield_if_interrupted();
    note_running_stage("cleanup");
    cleanup_workstation(ending == ENDING_FULL_THEN_CONFIRM ? GUARD_KEPT : GUARD_RELEASED);
    if (ending != ENDING_CLEANUP_ONLY) {
        g_stage_functions.purge_staged_images();
        std::remove(g_staged_image_path);
    }
    yield_if_interrupted();
    run_record_stage_done("cleanup");
    if (ending == ENDING_FULL_THEN_CONFIRM)
        confirm_stage(run);
    return EXIT_COMPLETED;
}

// One stage, begun only while no interrupt is pending; its seconds go to the run record unless an
// interrupt, which writes the record itself, became pending meanwhile.
exit_code run_named_stage(const named_stage &stage, upgrade_run &run)
{
    yield_if_interrupted();
    note_running_stage(stage.name);
    if (stage.hold == WAITS_WITHOUT_PC)
        give_pc_up();
    exit_code code = stage.run(run);
    if (stage.hold == WAITS_WITHOUT_PC)
        take_pc_back();
    yield_if_interrupted();
    run_record_stage_done(stage.name);
    return code;
}

} // namespace

exit_code run_stages(upgrade_run &run)
{
    for (const named_stage &stage : RUN_STAGES) {
        if (stage.run == workstation_stage && g_workstation.check_only)
            return end_check_run();
        exit_code code = run_named_stage(stage, run);
        if (code != STAGE_GO_ON)
            return code;
    }
    return finish_run(run);
}
