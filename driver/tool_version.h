// The tool's own version, as the banner, the run record and the metrics file show it: defined by
// the build from the project's version (CMakeLists.txt), which the Windows version resources also
// carry.
#pragma once

#ifndef FACUP_TOOL_VERSION
#error "FACUP_TOOL_VERSION comes from the build (driver_core's compile definitions)"
#endif
