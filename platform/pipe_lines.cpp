#include "pipe_lines.h"

#include <cstring>

namespace {

// Ends the current line: its text without "\r\n" or "\n" goes to the hook.
void finish_line(pipe_lines *lines)
{
    size_t end = lines->length;
    if (end > 0 && lines->line[end - 1] == '\r')
        end--;
    lines->line[end] = '\0';
    lines->length = 0;
    lines->on_line(lines->line, lines->context);
}

// Appends bytes to the current line, as many as it still holds; the rest of a long line is lost.
void gather(pipe_lines *lines, const char *bytes, size_t size)
{
    size_t room = SPAWN_LINE_MAX - lines->length;
    size_t kept = size < room ? size : room;
    std::memcpy(lines->line + lines->length, bytes, kept);
    lines->length += kept;
}

} // namespace

void pipe_lines_feed(pipe_lines *lines, const char *chunk, size_t size)
{
    if (lines->on_line == nullptr)
        return;
    while (size > 0) {
        const char *end = static_cast<const char *>(std::memchr(chunk, '\n', size));
        if (end == nullptr) {
            gather(lines, chunk, size);
            return;
        }
        size_t before = (size_t)(end - chunk);
        gather(lines, chunk, before);
        finish_line(lines);
        chunk = end + 1;
        size -= before + 1;
    }
}
