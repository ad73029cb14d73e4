// The running commands' streams, and platform_system over platform_popen, the same on both systems.
#include "command_streams.h"
#include "platform.h"

#include <mutex>
#include <vector>

namespace {

struct command_stream {
    FILE *stream;
    intptr_t process;
};

// Under their lock. Made once and never destroyed: a thread may still close a command while the
// process exits.
std::mutex &streams_lock()
{
    static std::mutex *lock = new std::mutex;
    return *lock;
}
std::vector<command_stream> &streams()
{
    static std::vector<command_stream> *open = new std::vector<command_stream>;
    return *open;
}

} // namespace

void command_streams_add(FILE *stream, intptr_t process)
{
    std::lock_guard<std::mutex> hold(streams_lock());
    streams().push_back({stream, process});
}

bool command_streams_take(FILE *stream, intptr_t *process)
{
    std::lock_guard<std::mutex> hold(streams_lock());
    std::vector<command_stream> &open = streams();
    for (size_t i = 0; i < open.size(); i++)
        if (open[i].stream == stream) {
            *process = open[i].process;
            open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    return false;
}

// The command's input is a pipe that closes at once; its output goes where the tool's goes.
int platform_system(const char *command)
{
    FILE *input = platform_popen(command, "w");
    return input != nullptr ? platform_pclose(input) : -1;
}
