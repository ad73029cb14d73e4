// The tool's own folder: facup.exe and facup.ini are trusted as much as each other (whoever may
// change facup.ini may point metrics_file anywhere; whoever may change facup.exe owns the station),
// so a run warns when users who are not administrators may change either, or the folder they are in.
#include "program_folder.h"

#include "access_control.h"
#include "platform.h"
#include "settings.h"
#include "text_util.h"
#include "workstation.h"

#include <string>

namespace {

// Who may change the file or folder at path: administrators and the installer service only (folders
// under Program Files give it full control). A path that cannot be read is no reason to warn.
bool others_may_change(const std::string &path)
{
    return platform_change_access(path.c_str(), ADMINS_AND_INSTALLER) == CHANGED_BY_OTHERS;
}

} // namespace

std::string program_folder_warning()
{
    char program[COMMAND_LINE_SIZE];
    if (!platform_executable_path(program, sizeof program))
        return "";
    const char *name = path_base_name(program);
    std::string folder(program, path_directory_length(program));
    std::string settings = folder + SETTINGS_FILE_NAME;
    // The folder itself, without its last separator unless that would leave a drive ("C:") or nothing.
    if (folder.size() > 1 && folder[folder.size() - 2] != ':')
        folder.pop_back();
    bool open = others_may_change(folder) || others_may_change(program) ||
                (platform_exists(settings.c_str()) && others_may_change(settings));
    return open ? std::string(name) + "'s folder can be changed by users who are not administrators" : "";
}
