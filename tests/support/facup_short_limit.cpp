// The tool with a shortened reply limit, for the scenarios that end by the camera's silence: the
// limit comes from FACUP_TEST_REPLY_LIMIT (seconds, 5 when unset). A test program only: the tool
// itself always waits 600 seconds.
#include "driver.h"
#include "driver_seams.h"

#include <cstdlib>

int main(int argc, char **argv)
{
    const char *limit = std::getenv("FACUP_TEST_REPLY_LIMIT");
    g_driver_seams.reply_limit_seconds = limit != nullptr ? std::atoi(limit) : 5;
    return facup_main(argc, argv);
}
