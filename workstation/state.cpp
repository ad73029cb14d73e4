// The workstation's seams and state: where it reaches the system (replaceable by tests) and the one
// record of what it keeps between calls.
#include "clock.h"
#include "waits.h"
#include "workstation.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <type_traits>

constexpr workstation_seams REAL_WORKSTATION_SEAMS = {
    .commands = {.open = platform_popen,
                 .close = platform_pclose,
                 .system = platform_system,
                 .spawn = platform_spawn_piped,
                 .start_thread = platform_thread_start},
    .now_ms = steady_now_ms,
    .sleep_ms = sleep_ms,
    .port_accepts = loopback_port_accepts,
    .report_outcome = nullptr,  // the program's: the driver's TOOL_WORKSTATION_SEAMS holds its catalogue's
    .log_line = nullptr,        // the program's: the driver's holds the run's diagnostics log
    .image_staged = nullptr,
};
workstation_seams g_workstation_seams = REAL_WORKSTATION_SEAMS;

workstation_state g_workstation;
static_assert(std::is_trivially_destructible<workstation_state>::value,
              "the workstation's state stays readable while the process exits");

void raise_outcome(outcome_id outcome)
{
    if (g_workstation_seams.report_outcome != nullptr)
        g_workstation_seams.report_outcome(outcome);
}

void workstation_log(const char *file, int line, const char *format, ...)
{
    if (g_workstation_seams.log_line == nullptr)
        return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text - 1, format, args);
    va_end(args);
    std::strcat(text, "\n");
    g_workstation_seams.log_line(file, line, text);
}
