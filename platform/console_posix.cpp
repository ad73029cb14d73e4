// POSIX side of the console and the user interface (the Linux port): message boxes as console
// text, the terminal's title and lines, and the user's UI language from the locale.
#include "platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <unistd.h>

// The caption and text on standard output. With a terminal on standard input the answer is read
// from it (Enter is OK, "c" is Cancel for an OK/Cancel box); without one the answer is OK, so that
// an unattended run goes on.
box_answer platform_message_box(box_style style, const char *caption, const char *text)
{
    bool ok_cancel = style == BOX_STYLE_WARNING;
    std::printf("\n[%s]\n%s\n", caption, text);
    if (!isatty(STDIN_FILENO)) {
        std::fflush(stdout);
        return BOX_ANSWER_OK;
    }
    std::printf(ok_cancel ? "[OK: Enter, Cancel: c] " : "[OK: Enter] ");
    std::fflush(stdout);
    char answer[64];
    if (std::fgets(answer, sizeof answer, stdin) == nullptr)
        return ok_cancel ? BOX_ANSWER_CANCEL : BOX_ANSWER_OK;
    if (ok_cancel && (answer[0] == 'c' || answer[0] == 'C'))
        return BOX_ANSWER_CANCEL;
    return BOX_ANSWER_OK;
}

// The terminal's title escape, only when standard output is a terminal: a log file or pipe gets
// no control bytes.
void platform_set_console_title(const char *title)
{
    if (isatty(STDOUT_FILENO)) {
        std::printf("\033]0;%s\007", title);
        std::fflush(stdout);
    }
}

// The texts are UTF-8: every route prints them as they are.
void platform_set_text_route(text_route) {}

void platform_console_line(const char *text)
{
    std::puts(text);
    std::fflush(stdout);
}

// From LC_ALL, LC_MESSAGES or LANG, the first that is set: Chinese when it begins "zh_CN" or
// "zh_TW".
bool platform_ui_is_chinese()
{
    const char *locale = nullptr;
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = std::getenv(name);
        if (locale != nullptr && locale[0] != '\0')
            break;
    }
    if (locale == nullptr)
        return false;
    return std::strncmp(locale, "zh_CN", 5) == 0 || std::strncmp(locale, "zh_TW", 5) == 0;
}
