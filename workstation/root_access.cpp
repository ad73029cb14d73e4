// The working root kept to administrators: made with the access that keeps it so (prepare_workstation
// makes it), and at every run set back to that access when anyone else may change it or one of its
// folders, so that what the run starts and serves with administrator rights stays the tool's own.
#include "text_util.h"
#include "workstation.h"

#include "access_control.h"
#include "commands.h"

#include <string>

namespace {

// What the look at the root and its folders did: the folders set back, and those that could not be
// (with the system's reason), by name.
struct root_look {
    std::string set_back;
    std::string failed;
};

void add_name(std::string &list, const char *name)
{
    if (!list.empty())
        list += ", ";
    list += name;
}

// Sets the folder back to administrators only when anyone else may change it, or when that cannot
// be read.
void keep_folder(const char *path, const char *name, root_look &look)
{
    if (platform_change_access(path, ADMINS) == CHANGED_BY_ADMINS_ONLY)
        return;
    int error = platform_keep_to_admins(path);
    if (error == 0) {
        add_name(look.set_back, name);
        return;
    }
    add_name(look.failed, name);
    look.failed += std::string(" (") + system_error_text(error) + ")";
}

void visit_root_entry(const char *name, void *context)
{
    char path[COMMAND_LINE_SIZE];
    if (format_text(path, sizeof path, PATH_ROOT_ENTRY_FMT, g_brand_word, name) && platform_is_directory(path))
        keep_folder(path, name, *static_cast<root_look *>(context));
}

} // namespace

void keep_root_to_admins(const char *root, bool made)
{
    root_look look;
    keep_folder(root, "the root itself", look);
    platform_list_directory(root, visit_root_entry, &look);
    if (!look.set_back.empty())
        WORKSTATION_LOG("users who are not administrators could change the working root %s: set back to "
                        "administrators only: %s",
                        root, look.set_back.c_str());
    // The run goes on: the camera is still upgraded on a station whose file system keeps no permissions.
    if (!look.failed.empty())
        WORKSTATION_LOG("the permissions of the working root %s could not be set back to administrators only: %s",
                        root, look.failed.c_str());
    const char *note = made ? "set" : look.set_back.empty() ? "kept" : "repaired";
    g_workstation.notes.root_permissions = look.failed.empty() ? note : "failed";
}
