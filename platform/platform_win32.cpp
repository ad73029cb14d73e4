// Win32 side of the platform services.
#include "platform.h"
#include "socket.h"

#include <windows.h>

#include <cstdlib>

const char *system_error_text(int code)
{
    static wchar_t wide[1024];
    static char text[1025];
    wide[0] = L'\0';
    text[0] = '\0';
    // From the system's table, inserts ignored, no line breaks (0x12FF), default language.
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                   nullptr, (DWORD)code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), wide, 1024, nullptr);
    if (std::wcstombs(text, wide, sizeof text) == (size_t)-1)
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
    return ioctlsocket(s, FIONBIO, &mode) == 0 ? 0 : -1;
}
