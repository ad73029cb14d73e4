// Cuts what a started program writes into its pipe into lines for a spawn_line_hook. The draining
// threads of both platforms feed it each chunk they read.
#pragma once

#include "platform.h"

#include <cstddef>

struct pipe_lines {
    spawn_line_hook on_line;        // null: every byte is discarded
    void *context;
    char line[SPAWN_LINE_MAX + 1];  // the current line so far, cut at SPAWN_LINE_MAX bytes
    size_t length;
};

// Hands each line the chunk completes to the hook and keeps the start of an unfinished one.
void pipe_lines_feed(pipe_lines *lines, const char *chunk, size_t size);
