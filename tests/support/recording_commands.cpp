#include "recording_commands.h"

#include <algorithm>
#include <cstdio>

namespace recording_commands {

std::vector<call> calls;
std::map<std::string, std::string> outputs;
std::vector<std::string> unstartable;

namespace {

bool cannot_start(const std::string &command)
{
    return std::find(unstartable.begin(), unstartable.end(), command) != unstartable.end();
}

FILE *record_open(const char *command, const char *mode)
{
    calls.push_back({command, mode});
    if (cannot_start(command))
        return nullptr;
    FILE *stream = std::tmpfile();
    if (stream != nullptr && mode[0] == 'r') {
        auto it = outputs.find(command);
        if (it != outputs.end())
            std::fwrite(it->second.data(), 1, it->second.size(), stream);
        std::rewind(stream);
    }
    return stream;
}

int record_close(FILE *stream) { return std::fclose(stream); }

int record_system(const char *command)
{
    calls.push_back({command, "system"});
    return 0;
}

int record_spawn(const char *, char *command_line, spawn_line_hook, void *, const char *)
{
    calls.push_back({command_line, "spawn"});
    return cannot_start(command_line) ? -2 : 0;
}


} // namespace

void install()
{
    calls.clear();
    outputs.clear();
    unstartable.clear();
    g_workstation_seams.commands = {.open = record_open,
                                    .close = record_close,
                                    .system = record_system,
                                    .spawn = record_spawn,
                                    .start_thread = REAL_WORKSTATION_SEAMS.commands.start_thread};
}

void restore() { g_workstation_seams.commands = REAL_WORKSTATION_SEAMS.commands; }

std::vector<std::string> commands()
{
    std::vector<std::string> lines;
    for (const auto &c : calls)
        lines.push_back(c.command);
    return lines;
}

} // namespace recording_commands
