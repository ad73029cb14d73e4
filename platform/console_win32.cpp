// Win32 side of the console and the user interface: message boxes, the console's title and lines
// with the route of their texts, and the user's UI language.
#include "platform.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace {

// The MessageBoxA flags of a style; every box comes to the foreground.
UINT message_box_flags(box_style style)
{
    switch (style) {
    case BOX_STYLE_ERROR:
        return MB_SETFOREGROUND | MB_ICONERROR;
    case BOX_STYLE_WARNING:
        return MB_SETFOREGROUND | MB_ICONWARNING | MB_OKCANCEL;
    case BOX_STYLE_PLAIN:
        break;
    }
    return MB_SETFOREGROUND;
}

std::atomic<int> g_text_route{TEXT_ANSI};

bool wide_route() { return g_text_route.load() == TEXT_WIDE_FROM_936; }

// A code page 936 text as wide characters; empty when it cannot be converted.
std::wstring wide_from_936(const char *text)
{
    int length = MultiByteToWideChar(936, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(936, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);  // without the terminator the conversion counted
    return wide;
}

} // namespace

void platform_set_text_route(text_route route) { g_text_route.store(route); }

// A box that cannot be shown (MessageBox gives 0) counts as OK, as any answer but IDCANCEL does.
// Closing an OK/Cancel box answers IDCANCEL; closing an OK box answers IDOK.
box_answer platform_message_box(box_style style, const char *caption, const char *text)
{
    int answer = wide_route() ? MessageBoxW(nullptr, wide_from_936(text).c_str(), wide_from_936(caption).c_str(),
                                            message_box_flags(style))
                              : MessageBoxA(nullptr, text, caption, message_box_flags(style));
    return answer == IDCANCEL ? BOX_ANSWER_CANCEL : BOX_ANSWER_OK;
}

void platform_set_console_title(const char *title)
{
    if (wide_route())
        SetConsoleTitleW(wide_from_936(title).c_str());
    else
        SetConsoleTitleA(title);
}

// WriteConsoleW only reaches a console: a redirected standard output takes the bytes by puts.
void platform_console_line(const char *text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!wide_route() || !GetConsoleMode(out, &mode)) {
        std::puts(text);
        std::fflush(stdout);
        return;
    }
    std::wstring line = wide_from_936(text) + L"\n";
    std::fflush(stdout);  // what puts and printf wrote before comes first
    DWORD written = 0;
    WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

bool platform_ui_is_chinese()
{
    LANGID language = GetUserDefaultUILanguage();
    return language == MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)       // 0x0804, zh-CN
           || language == MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);  // 0x0404, zh-TW
}
