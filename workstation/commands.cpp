// Command runners, the firewall switch (or rule) and the clean-up routine.
#include "shared_values.h"
#include "text_util.h"
#include "workstation.h"

#include "commands.h"
#include "pc_lock.h"
#include "server_launch.h"

shared_flag g_upgrade_quit{0};
const char *const g_brand_word = FACUP_BRAND_WORD;
platform_mutex *g_instance_mutex = nullptr;

void run_command_quiet(const char *command)
{
    FILE *pipe = g_workstation_seams.commands.open(command, "r");
    if (pipe != nullptr)
        g_workstation_seams.commands.close(pipe);
}

void run_command_first_line(const char *command, char line[COMMAND_LINE_SIZE])
{
    FILE *pipe = g_workstation_seams.commands.open(command, "r");
    if (pipe == nullptr)
        return;
    if (std::fgets(line, COMMAND_LINE_SIZE, pipe) == nullptr)
        line[0] = '\0';
    g_workstation_seams.commands.close(pipe);
}

void run_command_console(const char *command)
{
    FILE *pipe = g_workstation_seams.commands.open(command, "w");
    if (pipe != nullptr)
        g_workstation_seams.commands.close(pipe);
}

int spawn_with_pipe(const char *dir, char *command_line, spawn_line_hook on_line, void *context,
                    const char *env_entry)
{
    int rc = g_workstation_seams.commands.spawn(dir, command_line, on_line, context, env_entry);
    if (rc == -1)
        std::puts("Error on CreatePipe()!");
    else if (rc != 0)
        std::puts("Error on CreateProcess()!");
    return rc;
}

namespace {

// Runs the rule's add or delete command, its "%s" filled with the brand word.
void run_rule_command(bool add)
{
    char command[COMMAND_LINE_SIZE];
    bool fits = add ? format_text(command, sizeof command, CMD_FIREWALL_RULE_ADD_FMT, g_brand_word)
                    : format_text(command, sizeof command, CMD_FIREWALL_RULE_DELETE_FMT, g_brand_word);
    if (fits)
        run_command_quiet(command);
}

} // namespace

void firewall_on()
{
    if (g_workstation.firewall == FIREWALL_SCOPED_RULE)
        run_rule_command(false);
    else
        run_command_quiet(CMD_FIREWALL_ON);
}

void firewall_off()
{
    if (g_workstation.firewall != FIREWALL_SCOPED_RULE) {
        run_command_quiet(CMD_FIREWALL_OFF);
        return;
    }
    run_rule_command(false);
    run_rule_command(true);
}

namespace {

// Deletes one entry of the firmware directory unless it is a directory (an entry that cannot be
// examined counts as a file).
void remove_firmware_entry(const char *name, void *)
{
    char path[COMMAND_LINE_SIZE];
    if (format_text(path, sizeof path, PATH_FIRMWARE_ENTRY_FMT, g_brand_word, name) && !platform_is_directory(path))
        std::remove(path);
}

// The clean-up's commands and deletions: the file servers ended, the firewall back as it was, the
// firmware directory emptied.
void undo_pc_changes()
{
    stop_server_launches();
    run_command_quiet(CMD_KILL_SHTTPD);
    run_command_quiet(CMD_KILL_NODE);
    await_node_launcher();
    firewall_on();

    char listing[COMMAND_LINE_SIZE];
    format_text(listing, sizeof listing, PATH_FIRMWARE_LISTING_FMT, g_brand_word);
    platform_list_directory(listing, remove_firmware_entry, nullptr);
}

} // namespace

void cleanup_workstation(guard_after_cleanup guard)
{
    if (!pc_lock_take())
        return;  // an interrupt has taken the run over: its own clean-up follows
    set_flag(g_upgrade_quit, 1);
    if (!g_workstation.check_only)
        undo_pc_changes();
    std::remove(INFO_FILE_COPY);
    if (guard == GUARD_RELEASED)
        release_instance_guard();
    pc_lock_give();
}
