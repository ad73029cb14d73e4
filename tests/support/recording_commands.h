// A command runner for tests: records every command line the workstation runs, with its mode, and
// answers each with scripted output instead of starting anything.
#pragma once

#include "workstation.h"

#include <map>
#include <string>
#include <vector>

namespace recording_commands {

struct call {
    std::string command;
    std::string mode;  // "r", "w", "system" or "spawn"
};

extern std::vector<call> calls;
extern std::map<std::string, std::string> outputs;  // output of a command, by its exact text
extern std::vector<std::string> unstartable;        // commands that cannot be started

// Routes g_workstation_seams.commands to the recorder and forgets earlier calls; restore() puts
// the platform's runners back.
void install();
void restore();

std::vector<std::string> commands();  // the recorded command lines, in order

} // namespace recording_commands
