// A recording netsh for the test Wine prefix (Wine's own does nothing): appends its command line,
// one line per call, to the file named by FACUP_NETSH_LOG (C:\netsh.log when unset), so tests can
// see which firewall and Wi-Fi commands the tool ran, and in which order. With FACUP_NETSH_DELAY_MS
// each call first waits that long: a slow command, so that a test can stop the tool while it runs.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    const char *delay = std::getenv("FACUP_NETSH_DELAY_MS");
    if (delay != nullptr && std::atoi(delay) > 0)
        Sleep(static_cast<DWORD>(std::atoi(delay)));
    const char *path = std::getenv("FACUP_NETSH_LOG");
    FILE *log = std::fopen(path != nullptr && path[0] != '\0' ? path : "C:\\netsh.log", "a");
    if (log == nullptr)
        return 1;
    for (int i = 1; i < argc; i++)
        std::fprintf(log, i > 1 ? " %s" : "%s", argv[i]);
    std::fputc('\n', log);
    std::fclose(log);
    return 0;
}
