// Win32 side of the file server's connection and file services.
#include "file_transfer.h"

#include <windows.h>

#include <io.h>
#include <mswsock.h>

#include <cstring>

void transfer_startup() {}

int socket_set_io_limit(socket_t s, int milliseconds)
{
    DWORD value = (DWORD)milliseconds;
    if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&value, sizeof value) != 0)
        return -1;
    return setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&value, sizeof value) != 0 ? -1 : 0;
}

int socket_allow_rebind(socket_t listener)
{
    (void)listener;
    return 0;
}

int socket_shutdown_send(socket_t s) { return shutdown(s, SD_SEND) == 0 ? 0 : -1; }

// Looks the name up in its directory: a device name ("NUL", "COM1") has no directory entry, so
// it is refused without being opened. Wildcards would match other entries and are refused too.
bool is_regular_file(const char *path)
{
    if (path == nullptr || std::strpbrk(path, "*?") != nullptr)
        return false;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(path, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    return (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// One TransmitFile call of at most count bytes, overlapped so that the wait can be limited: a
// piece that does not complete within limit_ms is cancelled and the connection counts as failed.
long long send_file_piece(socket_t s, FILE *f, uint64_t offset, uint64_t count, int limit_ms)
{
    HANDLE file = (HANDLE)_get_osfhandle(_fileno(f));
    LARGE_INTEGER size;
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size))
        return SEND_FILE_UNSUPPORTED;
    if (offset >= (uint64_t)size.QuadPart)
        return SEND_FILE_END;
    uint64_t n = (uint64_t)size.QuadPart - offset;
    if (n > count)
        n = count;
    const uint64_t largest = 0x7ffffffe; // the most one TransmitFile call moves
    if (n > largest)
        n = largest;

    OVERLAPPED ov;
    std::memset(&ov, 0, sizeof ov);
    ov.Offset = (DWORD)offset;
    ov.OffsetHigh = (DWORD)(offset >> 32);
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ov.hEvent == nullptr)
        return SEND_FILE_FAILED;

    long long result = SEND_FILE_FAILED;
    if (TransmitFile(s, file, (DWORD)n, 0, &ov, nullptr, 0) || WSAGetLastError() == WSA_IO_PENDING) {
        bool done = WaitForSingleObject(ov.hEvent, (DWORD)limit_ms) == WAIT_OBJECT_0;
        if (!done)
            CancelIoEx((HANDLE)s, &ov);
        // Wait for the cancellation too: ov must outlive the operation.
        DWORD sent = 0;
        DWORD flags = 0;
        if (WSAGetOverlappedResult(s, &ov, &sent, TRUE, &flags) && done && sent > 0)
            result = sent;
    } else {
        int error = WSAGetLastError();
        if (error == WSAEOPNOTSUPP || error == WSAEINVAL || error == ERROR_NOT_SUPPORTED)
            result = SEND_FILE_UNSUPPORTED;
    }
    CloseHandle(ov.hEvent);
    return result;
}
