// A working tasklist for the test Wine prefix (Wine's own prints nothing): lists the processes of the
// prefix in the usual table form, one line per process, so that "tasklist | findstr name" finds them.
#include <windows.h>
#include <tlhelp32.h>
#include <cstdio>

int main()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) {
        std::fputs("ERROR: cannot list processes.\n", stderr);
        return 1;
    }
    std::printf("\nImage Name                     PID Session Name        Session#    Mem Usage\n");
    std::printf("========================= ======== ================ =========== ============\n");
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry))
        std::printf("%-25.25s %8lu Console                    1          0 K\n", entry.szExeFile,
                    (unsigned long)entry.th32ProcessID);
    CloseHandle(snap);
    return 0;
}
