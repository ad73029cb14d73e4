#include "whole_run.h"

#include "commands.h"
#include "debug_log.h"
#include "device_link.h"
#include "driver_state.h"
#include "eligibility.h"
#include "outcomes.h"
#include "recording_commands.h"
#include "run_record.h"
#include "shared_values.h"
#include "text_util.h"
#include "workstation.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace fs = std::filesystem;

namespace whole_run {

std::string root_dir()
{
    char root[COMMAND_LINE_SIZE];
    format_text(root, sizeof root, PATH_WORKING_ROOT_FMT, g_brand_word);
    return root;
}

std::string logs_file(const std::string &name) { return root_dir() + "/logs/" + name; }

std::vector<std::string> run_logs()
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(root_dir() + "/logs"))
        if (entry.path().filename().string().rfind("run-", 0) == 0)
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int guard_result = 0;

namespace {

std::string staged_file;  // the image the staging stage "stages"

void log_from_a_thread()
{
    for (int i = 0; i < 500; i++)
        DEBUG_LOG("thread line %d\n", i);
}

} // namespace

const stage_functions FULL_RUN = {
    .acquire_instance_guard = [](upgrade_run &) {
        if (guard_result == 1)
            raise_outcome(OUTCOME_ANOTHER_INSTANCE);
        return guard_result;
    },
    .discover_device_link = [](upgrade_run &run) {
        std::strcpy(run.host_address, "192.168.88.2");
        std::strcpy(run.device_address, USB_CAMERA_ADDRESS);
        DEBUG_LOG("early\x01line\n");
        return 0;
    },
    .show_startup_warning = [](upgrade_run &) {
        run_record_add_warning("settings: \"x\"");
        return 0;
    },
    .fetch_device_info = [](upgrade_run &) { return 0; },
    .parse_device_info = [](upgrade_run &run) {
        run.device_version_found = 1;
        std::strcpy(run.device_version, "2.0.15");
        std::strcpy(run.previous_version, "2.0.15");
        // Controls escaped, UTF-8 kept, a byte that begins no character (a lone lead byte, a stray
        // continuation byte, an overlong "/", a surrogate) replaced.
        std::strcpy(g_device_model, "CAM\x01\"\\\xe7\x9b\xb8\xe6\x9c\xba\xc3 \x80\xc0\xaf\xed\xa0\x80\xf0\x9f\x93\xb7");
        g_device_model_found = 1;
        return 0;
    },
    .check_device_model = [](upgrade_run &) { return 0; },
    .check_same_version = [](upgrade_run &) { return 0; },
    .check_fits_database = [](upgrade_run &) { return 0; },
    .prepare_workstation = [](upgrade_run &) {
        return platform_mkdir(root_dir().c_str()) == 0 || platform_exists(root_dir().c_str()) ? 0 : -1;
    },
    .purge_staged_images = [](upgrade_run &) { return 0; },
    .stage_firmware = [](upgrade_run &run) {
        std::strcpy(run.firmware_file_name, "image.img");
        std::strcpy(run.firmware_path, staged_file.c_str());
        return 0;
    },
    .firewall_off = [](upgrade_run &) { return 0; },
    .start_file_server = [](upgrade_run &) { return 0; },
    .open_command_channel = [](upgrade_run &) {
        std::thread a(log_from_a_thread), b(log_from_a_thread);
        a.join();
        b.join();
        return 0;
    },
    .send_upgrade_command = [](upgrade_run &run) {
        std::strcpy(run.firmware_md5, "0123456789abcdef0123456789abcdef");
        return 0;
    },
    .start_spinner = [](upgrade_run &) { return 0; },
    .await_reply = [](upgrade_run &) {
        raise_outcome(OUTCOME_UPGRADE_OK);
        return ENDING_FULL;
    },
};

} // namespace whole_run

void whole_run_test::SetUp()
{
    reset_driver_state();
    recording_commands::install();
    fs::remove_all(whole_run::root_dir());
    g_stage_functions = whole_run::FULL_RUN;
    whole_run::guard_result = 0;
    whole_run::staged_file = dir.file("staged.img");
    test_files::write_file(whole_run::staged_file, "12345");
    set_flag(g_silent_mode, 1);
}

void whole_run_test::TearDown()
{
    recording_commands::restore();
    reset_driver_state();
    fs::remove_all(whole_run::root_dir());
}
