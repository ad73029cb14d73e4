// MD5 digest (RFC 1321) of a file, streamed in 64-byte pieces, as 32 lower-case hex digits.
#pragma once

#include <cstdint>
#include <cstdio>

// Stages of md5_read_block: data still to read, one length-only block due, digest complete.
enum { MD5_STAGE_DATA = 0, MD5_STAGE_LENGTH_DUE = 1, MD5_STAGE_DONE = 2 };

// Working record of one digest.
struct md5_context {
    uint32_t state[4];     // chaining value A, B, C, D
    uint32_t bit_count[2]; // message bits read so far, low word then high word
    int32_t stage;         // MD5_STAGE_*
    uint8_t block[64];     // the block to compress; the last one ends with the bit count
};

// Writes the digest of the file at path into out (at least 33 bytes): 32 hex digits and a NUL.
// A file that cannot be opened gives the empty text; nothing is read then.
void md5_file_hex(const char *path, char *out);

// Reads the next piece of file into block and pads it when the data ends. Returns 1 when the block
// is to be compressed, 0 when the digest is complete.
int md5_read_block(uint8_t block[64], FILE *file, uint32_t bit_count[2], int32_t *stage);

// One RFC 1321 compression of block into state.
void md5_transform(const uint8_t block[64], uint32_t state[4]);

// Writes state as 32 lower-case hex digits and a NUL into out (at least 33 bytes).
void md5_to_hex(const uint32_t state[4], char *out);
