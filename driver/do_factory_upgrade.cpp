// The run: the entry point's work (settings, language, command line), the stage table, and the run
// from its record's start to its end.
#include "driver.h"

#include "delivery.h"
#include "diagnostics_log.h"
#include "driver_seams.h"
#include "driver_state.h"
#include "interrupt.h"
#include "outcomes.h"
#include "pc_lock.h"
#include "platform.h"
#include "program_folder.h"
#include "run_end.h"
#include "run_record.h"
#include "settings.h"
#include "shared_values.h"
#include "spinner.h"
#include "workstation.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// Sets g_chinese_ui, the route of the texts to the system (platform_set_text_route) and the console
// title from the settings' language: the user's UI language for auto. A forced Chinese takes the
// wide calls, which read right whatever the system's code page; the system's own language and
// forced English keep the calls of the system's code page.
void init_ui_language()
{
    language_choice language = g_driver.settings.language;
    bool chinese = language == LANGUAGE_AUTO ? platform_ui_is_chinese() : language == LANGUAGE_CHINESE;
    set_flag(g_chinese_ui, chinese ? 1 : 0);
    platform_set_text_route(language == LANGUAGE_CHINESE ? TEXT_WIDE_FROM_936 : TEXT_ANSI);
    platform_set_console_title(ui_caption());
}

bool is_word(const char *arg, const char *word) { return std::strcmp(arg, word) == 0; }

// The command line's switches, exact and case-sensitive: "-s" (silent), "-c" (check only), or both
// in either order. Any other command line is an interactive upgrade, as it always was.
void read_command_line(int argc, char **argv)
{
    bool silent = false, check = false;
    if (argc == 2) {
        silent = is_word(argv[1], "-s");
        check = is_word(argv[1], "-c");
    } else if (argc == 3 && ((is_word(argv[1], "-c") && is_word(argv[2], "-s")) ||
                             (is_word(argv[1], "-s") && is_word(argv[2], "-c")))) {
        silent = check = true;
    }
    if (silent)
        set_flag(g_silent_mode, 1);
    g_workstation.check_only = check;
}

} // namespace

int facup_main(int argc, char **argv)
{
    g_workstation_seams = TOOL_WORKSTATION_SEAMS;
    load_station_settings();
    // Recorded with facup.ini's warnings, but not shown: the console stays as it always was.
    std::string folder_warning = program_folder_warning();
    if (!folder_warning.empty())
        g_driver.settings.warnings.push_back(folder_warning);
    init_ui_language();
    read_command_line(argc, argv);
    enable_interrupt_handling();
    exit_code code = run_upgrade();
    wait_for_spinner_end(SPINNER_END_WAIT_MS);
    return code;
}

exit_code run_upgrade()
{
    upgrade_run run;
    std::memset(&run, 0, sizeof run);
    open_run(&run);
    for (const std::string &warning : g_driver.settings.warnings)
        run_record_add_warning(warning.c_str());
    pc_lock_take();  // the run's thread holds the PC lock except in its long waits; nothing is pending yet
    exit_code code = run_stages(run);
    yield_if_interrupted();
    std::string line = keep_run_line(code);
    note_run_ended();  // an interrupt from here on only ends the process: the record waits in the outbox
    // After the record: its delivery and the station's counters.
    deliver_run_record(line, code, g_driver.guard_taken);
    release_instance_guard();  // kept through a confirmation, until here
    diagnostics_end();
    pc_lock_give();
    return code;
}
