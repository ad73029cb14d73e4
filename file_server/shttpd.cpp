// The program's command line: port and root directory; from the environment the idle limit for
// tests and the request for download reports.
#include "download_report.h"
#include "file_server.h"
#include "file_transfer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A decimal number from lowest to highest, else -1.
long parse_number(const char *text, long lowest, long highest)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return -1;
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < lowest || value > highest)
        return -1;
    return value;
}

// The idle limit: IDLE_LIMIT_MS unless SHTTPD_IDLE_LIMIT_MS gives a usable one. Read once at start
// so that the tool's fixed two-argument command line stays as it is.
int idle_limit_from_environment()
{
    long ms = parse_number(std::getenv("SHTTPD_IDLE_LIMIT_MS"), 1, IDLE_LIMIT_MAX_MS);
    return ms > 0 ? static_cast<int>(ms) : IDLE_LIMIT_MS;
}

// True when the caller asked for the download reports.
bool reports_asked()
{
    const char *value = std::getenv(DOWNLOAD_REPORT_VARIABLE);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

} // namespace

int shttpd_main(int argc, char **argv)
{
    long port = argc == 3 ? parse_number(argv[1], 1, 65535) : -1;
    // An empty root would turn every request path into an absolute one.
    if (port < 0 || argv[2][0] == '\0') {
        std::printf("Usage: %s <PORT> <ROOT_DIR>\n", argc > 0 && argv[0] ? argv[0] : "Shttpd");
        return -1;
    }
    file_server_config config;
    config.port = static_cast<int>(port);
    config.root = argv[2];
    config.idle_limit_ms = idle_limit_from_environment();
    config.report_downloads = reports_asked();
    transfer_startup();
    file_server_run(config);
    return 1;
}
