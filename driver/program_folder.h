// The tool's own folder: facup.exe and facup.ini are trusted as much as each other (whoever may
// change facup.ini may point metrics_file anywhere; whoever may change facup.exe owns the station).
#pragma once

#include <string>

// The warning for the run record when users who are not administrators may change the running
// program, facup.ini beside it, or their folder ("facup.exe's folder can be changed by users who
// are not administrators"); empty when only administrators may.
std::string program_folder_warning();
