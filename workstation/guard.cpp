// The single-instance guard and the working directories.
#include "text_util.h"
#include "workstation.h"

#include "access_control.h"
#include "commands.h"
#include "waits.h"

namespace {

const char INSTANCE_MUTEX_NAME[] = "dozez_upgrader";

// How long a created directory is given to appear.
const int DIRECTORY_WAIT_MS = 1000;

bool path_exists(const void *path) { return platform_exists(static_cast<const char *>(path)); }

// Makes sure the directory exists and this run may add to it: creates it with make when missing
// and waits, up to a second, until it exists. Raises the outcome and cleans up when it is still
// missing, or when the run may not add to it: a run without administrator rights, once the root
// is kept to administrators, ends here as it does where it cannot make the root.
bool ensure_directory(const char *path, int (*make)(const char *), outcome_id outcome)
{
    bool exists = platform_exists(path);
    if (!exists) {
        make(path);
        exists = wait_until(path_exists, path, DIRECTORY_WAIT_MS);
    }
    if (exists && platform_may_add_entries(path))
        return true;
    if (exists)
        WORKSTATION_LOG("this run may not add files to %s: it lacks administrator rights", path);
    raise_outcome(outcome);
    cleanup_workstation();
    return false;
}

// How taking the guard went.
enum guard_take { GUARD_TAKEN, GUARD_HELD_ELSEWHERE, GUARD_UNAVAILABLE };

// Takes the guard into g_instance_mutex unless another copy holds it, or created it at the same
// instant (that copy owns it then).
guard_take take_guard()
{
    platform_mutex *other = platform_mutex_open(INSTANCE_MUTEX_NAME);
    if (other == nullptr) {
        bool existed = false;
        g_instance_mutex = platform_mutex_create(INSTANCE_MUTEX_NAME, &existed);
        if (g_instance_mutex == nullptr)
            return GUARD_UNAVAILABLE;
        if (!existed)
            return GUARD_TAKEN;
        other = g_instance_mutex;
        g_instance_mutex = nullptr;
    }
    platform_mutex_close(other);
    return GUARD_HELD_ELSEWHERE;
}

} // namespace

int acquire_instance_guard()
{
    switch (take_guard()) {
    case GUARD_TAKEN:
        return 0;
    case GUARD_UNAVAILABLE:
        cleanup_workstation();
        return -1;
    case GUARD_HELD_ELSEWHERE:
        break;
    }
    raise_outcome(OUTCOME_ANOTHER_INSTANCE);
    return 1;
}

bool retake_instance_guard() { return g_instance_mutex != nullptr || take_guard() == GUARD_TAKEN; }

void release_instance_guard()
{
    if (g_instance_mutex != nullptr) {
        platform_mutex_close(g_instance_mutex);
        g_instance_mutex = nullptr;
    }
}

int prepare_workstation()
{
    char root[COMMAND_LINE_SIZE], units[COMMAND_LINE_SIZE], firmware[COMMAND_LINE_SIZE];
    format_text(root, sizeof root, PATH_WORKING_ROOT_FMT, g_brand_word);
    format_text(units, sizeof units, PATH_UNITS_DIR_FMT, g_brand_word);
    format_text(firmware, sizeof firmware, PATH_FIRMWARE_DIR_FMT, g_brand_word);
    bool made = !platform_exists(root);
    if (!ensure_directory(root, platform_make_admin_folder, OUTCOME_NO_ADMIN_ROOT))
        return -1;
    if (!ensure_directory(units, platform_mkdir, OUTCOME_NO_ADMIN_UNITS))
        return -2;
    if (!ensure_directory(firmware, platform_mkdir, OUTCOME_NO_ADMIN_FIRMWARE))
        return -3;
    keep_root_to_admins(root, made);

    char program[COMMAND_LINE_SIZE];
    format_text(program, sizeof program, PATH_PROGRAM_FMT, units, SHTTPD_PROGRAM_NAME);
    return place_server_program(program);
}
