// Win32 side of the platform services; the process, thread and interrupt services are in
// spawn_win32.cpp, the console and the user interface in console_win32.cpp.
#include "platform.h"
#include "socket.h"

#include <windows.h>

#include <bcrypt.h>

#include <direct.h>
#include <io.h>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// ---- Files and directories ----

bool platform_exists(const char *path) { return _access(path, 0) == 0; }

int platform_mkdir(const char *path) { return _mkdir(path); }

// Windows runs any file whose name says program: nothing to change.
int platform_make_executable(const char *) { return 0; }

// One WriteFile call for the whole buffer; CREATE_ALWAYS replaces an existing file.
int platform_write_new_file(const char *path, const void *bytes, uint32_t size, bool flush_to_disk)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return static_cast<int>(GetLastError());
    DWORD written = 0;
    DWORD error = WriteFile(file, bytes, size, &written, nullptr) ? 0 : GetLastError();
    if (error == 0 && written != size)
        error = ERROR_DISK_FULL;  // a write that took less without failing: the disk is full
    if (error == 0 && flush_to_disk && !FlushFileBuffers(file))
        error = GetLastError();
    if (!CloseHandle(file) && error == 0)
        error = GetLastError();
    return static_cast<int>(error);
}

// ---- The executable's own resources: RCDATA entries of the program file ----

namespace {

// The lookup's result for the code GetLastError gave: the two codes of a missing resource have
// results of their own, any other failure keeps its number.
resource_result resource_result_of(DWORD code, int *system_code)
{
    switch (code) {
    case ERROR_SUCCESS:
        return RESOURCE_FOUND;
    case ERROR_RESOURCE_NAME_NOT_FOUND:
        return RESOURCE_NAME_NOT_FOUND;
    case ERROR_RESOURCE_TYPE_NOT_FOUND:
        return RESOURCE_TYPE_NOT_FOUND;
    }
    *system_code = static_cast<int>(code);
    return RESOURCE_FAILED;
}

} // namespace

resource_result platform_resource(int id, const void **bytes, uint32_t *size, int *system_code)
{
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
    if (found == nullptr)
        return resource_result_of(GetLastError(), system_code);
    HGLOBAL loaded = LoadResource(nullptr, found);
    *bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    *size = SizeofResource(nullptr, found);
    return *bytes != nullptr ? RESOURCE_FOUND : resource_result_of(GetLastError(), system_code);
}

// ---- Named mutex ----

struct platform_mutex {
    HANDLE handle;
};

platform_mutex *platform_mutex_open(const char *name)
{
    HANDLE h = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
    return h != nullptr ? new platform_mutex{h} : nullptr;
}

platform_mutex *platform_mutex_create(const char *name, bool *existed)
{
    HANDLE h = CreateMutexA(nullptr, TRUE, name);
    *existed = h != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    return h != nullptr ? new platform_mutex{h} : nullptr;
}

void platform_mutex_close(platform_mutex *mutex)
{
    if (mutex == nullptr)
        return;
    CloseHandle(mutex->handle);
    delete mutex;
}

// ---- This computer and process ----

// GetModuleFileNameA fills the whole buffer when it had to cut the path.
bool platform_executable_path(char *out, size_t size)
{
    if (size == 0)
        return false;
    DWORD length = GetModuleFileNameA(nullptr, out, size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size));
    if (length == 0 || length >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}

void platform_computer_name(char *out, size_t size)
{
    if (size == 0)
        return;
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = sizeof name;
    if (!GetComputerNameA(name, &length))
        length = 0;
    size_t n = length < size - 1 ? length : size - 1;
    std::memcpy(out, name, n);
    out[n] = '\0';
}

unsigned long platform_process_id() { return GetCurrentProcessId(); }

// BCryptGenRandom with the system's preferred generator (no algorithm handle to open or close).
int platform_random_bytes(void *out, size_t size)
{
    if (size > ULONG_MAX)
        return -1;
    NTSTATUS status = BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(size),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    return BCRYPT_SUCCESS(status) ? 0 : -1;
}

// One replacing move: when the file is held open without delete sharing, nothing moves and the
// older generation stays.
int platform_replace_file(const char *from, const char *to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
}

// FILE_APPEND_DATA alone: every WriteFile lands whole at the end of the file. The sharing lets
// other copies append and a rotation rename the file meanwhile.
int platform_append_file(const char *path, const void *bytes, size_t size)
{
    if (size > MAXDWORD)
        return ERROR_INVALID_PARAMETER;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return static_cast<int>(GetLastError());
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr);
    int error = ok ? 0 : static_cast<int>(GetLastError());
    if (error == 0 && written != size)
        error = ERROR_WRITE_FAULT;
    CloseHandle(file);
    return error;
}

// Through UTF-16: the ANSI code page's text, then UTF-8, cut back to a character's end to fit.
void platform_utf8_from_ansi(const char *text, size_t size, char *out, size_t size_out)
{
    if (size_out == 0)
        return;
    out[0] = '\0';
    if (size == 0 || size > INT_MAX / 2)
        return;
    std::wstring wide(size, L'\0');
    int units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), &wide[0], static_cast<int>(size));
    if (units <= 0)
        return;
    std::string utf8(static_cast<size_t>(units) * 3, '\0');
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    size_t length = n > 0 ? static_cast<size_t>(n) : 0;
    if (length > size_out - 1) {
        length = size_out - 1;
        while (length > 0 && (static_cast<unsigned char>(utf8[length]) & 0xC0) == 0x80)
            length--;  // never half a character
    }
    std::memcpy(out, utf8.data(), length);
    out[length] = '\0';
}

// ---- Errors and sockets ----

// The message table's text (FormatMessageW), converted to the ANSI code page for the console.
const char *system_error_text(int code)
{
    static thread_local wchar_t wide[1024];
    static thread_local char text[1025];
    wide[0] = L'\0';
    text[0] = '\0';
    // From the system's table, inserts ignored, no line breaks (0x12FF), default language.
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                   nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), wide, 1024, nullptr);
    if (std::wcstombs(text, wide, sizeof text) == static_cast<size_t>(-1))
        text[0] = '\0';
    text[sizeof text - 1] = '\0';
    return text;
}

int socket_startup()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}

void socket_cleanup() { WSACleanup(); }

int socket_last_error() { return WSAGetLastError(); }

int socket_close(socket_t s) { return closesocket(s); }

int socket_set_nonblocking(socket_t s, bool on)
{
    u_long mode = on ? 1 : 0;
    // FIONBIO is an unsigned request code; ioctlsocket takes it as a long of the same bits.
    return ioctlsocket(s, static_cast<long>(FIONBIO), &mode) == 0 ? 0 : -1;
}
