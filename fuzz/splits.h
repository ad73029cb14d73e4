// How a fuzz input's bytes arrive: the split byte picks the sizes of the pieces a connection
// delivers. 0 gives everything at once, 1 one byte at a time, n > 1 pieces of 1 to n bytes drawn
// from a small generator seeded by n, so that one input always splits the same way.
#pragma once

#include <cstddef>
#include <cstdint>

struct piece_sizes {
    unsigned split;
    uint32_t state;

    explicit piece_sizes(unsigned split_byte) : split(split_byte), state(split_byte * 2654435761u + 1) {}

    // The size of the next piece when left bytes remain (at least 1 when left is).
    size_t next(size_t left)
    {
        if (split == 0)
            return left;
        if (split == 1)
            return left > 0 ? 1 : 0;
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        size_t want = 1 + state % split;
        return want < left ? want : left;
    }
};
