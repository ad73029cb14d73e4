// The file-server program in the units directory: before each launch it must be the program the
// tool carries, byte for byte. A file that differs (an older version, another program) is
// replaced, so that the program the run starts, with the run's rights, is always the carried one.
#include "clock.h"
#include "workstation.h"

#include "server_launch.h"
#include "utility_asset.h"
#include "waits.h"

#include <cstring>
#include <string>

namespace {

// How long the write of the carried program is tried again after a running server was ended: the
// system frees the program's file only as the process goes.
const int REWRITE_WAIT_MS = 1000;

// True when the file at path holds exactly the program the tool carries.
bool is_carried_program(const char *path)
{
    std::string bytes;
    return read_file_bounded(path, static_cast<size_t>(g_utility_buffer_len), bytes) &&
           bytes.size() == g_utility_buffer_len && std::memcmp(bytes.data(), g_utility_buffer, bytes.size()) == 0;
}

bool program_written(const void *path) { return write_utility_file(static_cast<const char *>(path)) == 0; }

// Writes the carried program over what is at path. A server still running from an earlier run
// holds its program: it is ended first, as the launcher ends a leftover server.
bool write_carried_program(const char *path, bool existed)
{
    if (existed && kill_if_listed("Shttpd.exe"))
        return wait_until(program_written, path, REWRITE_WAIT_MS);
    return write_utility_file(path) == 0;
}

} // namespace

int place_server_program(const char *path)
{
    if (is_carried_program(path)) {
        g_workstation.notes.server_program = "kept";
        return 0;
    }
    bool existed = platform_exists(path);
    if (!write_carried_program(path, existed)) {
        WORKSTATION_LOG("the file-server program %s could not be written", path);
        raise_outcome(OUTCOME_SHTTPD_NOT_WRITTEN);
        return -4;
    }
    // A full second, not a wait that ends early: a program that a virus scanner quarantines or
    // changes is gone or different only after it, and that is how it is caught. The system's own
    // pause, not the seam's: the scanner works in real time, whatever clock a test gives the waits.
    sleep_ms(1000);
    if (!is_carried_program(path)) {
        WORKSTATION_LOG("the file-server program %s is gone or changed a second after it was written", path);
        raise_outcome(OUTCOME_SHTTPD_MISSING);
        cleanup_workstation();
        return -5;
    }
    g_workstation.notes.server_program = existed ? "replaced" : "written";
    if (existed)
        WORKSTATION_LOG("the file-server program %s was not the one the tool carries: replaced", path);
    return 0;
}
