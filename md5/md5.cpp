// MD5 over a buffered stdio stream: 64-byte reads, padding applied while reading, so memory use is
// one block whatever the file size.
#include "md5.h"

#include <cstring>

namespace {

const uint32_t INITIAL_STATE[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

// Larger stdio buffer than the default: fewer system calls, the same 64-byte requests.
const size_t STREAM_BUFFER_SIZE = 64 * 1024;

inline uint32_t load_le32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline void store_le32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The bit count goes into bytes 56 to 63: low word first, each word little-endian.
void put_bit_count(uint8_t block[64], const uint32_t bit_count[2])
{
    store_le32(block + 56, bit_count[0]);
    store_le32(block + 60, bit_count[1]);
}

} // namespace

int md5_read_block(uint8_t block[64], FILE *file, uint32_t bit_count[2], int32_t *stage)
{
    size_t n = 0;
    if (*stage == MD5_STAGE_DATA)
        n = std::fread(block, 1, 64, file);

    uint32_t bits = (uint32_t)(n * 8);
    bit_count[0] += bits;
    if (bit_count[0] < bits)
        bit_count[1]++;

    if (*stage == MD5_STAGE_LENGTH_DUE) {
        std::memset(block, 0, 56);
        put_bit_count(block, bit_count);
        *stage = MD5_STAGE_DONE;
        return 1;
    }
    if (*stage == MD5_STAGE_DONE)
        return 0;
    if (n == 64)
        return 1;

    block[n] = 0x80;
    if (n >= 56) {
        std::memset(block + n + 1, 0, 63 - n);
        *stage = MD5_STAGE_LENGTH_DUE;
        return 1;
    }
    std::memset(block + n + 1, 0, 55 - n);
    put_bit_count(block, bit_count);
    *stage = MD5_STAGE_DONE;
    return 1;
}

// The 64 steps of RFC 1321, written out: step k updates word a from (b, c, d) with the round
// function, message word x[g(k)], the sine constant and the shift; roles rotate one word per step.
#define MD5_F(x, y, z) (((x) & (y)) + (~(x) & (z)))
#define MD5_G(x, y, z) (((x) & (z)) + ((y) & ~(z)))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, xk, t, s) (a) = (b) + rotl((a) + f((b), (c), (d)) + (xk) + (t), (s))

void md5_transform(const uint8_t block[64], uint32_t state[4])
{
    uint32_t x[16];
    for (int i = 0; i < 16; i++)
        x[i] = load_le32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756u, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070dbu, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceeeu, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0fafu, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62au, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613u, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501u, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7afu, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1u, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7beu, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193u, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438eu, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821u, 22);

    MD5_STEP(MD5_G, a, b, c, d, x[1], 0xf61e2562u, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[6], 0xc040b340u, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[11], 0x265e5a51u, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[0], 0xe9b6c7aau, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[5], 0xd62f105du, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[10], 0x02441453u, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[15], 0xd8a1e681u, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[4], 0xe7d3fbc8u, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[9], 0x21e1cde6u, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[14], 0xc33707d6u, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[3], 0xf4d50d87u, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[8], 0x455a14edu, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[13], 0xa9e3e905u, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[2], 0xfcefa3f8u, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[7], 0x676f02d9u, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[12], 0x8d2a4c8au, 20);

    MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380cu, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70u, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fau, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05u, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665u, 23);

    MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7u, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47du, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4fu, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314u, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bbu, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391u, 21);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void md5_to_hex(const uint32_t state[4], char *out)
{
    static const char digits[] = "0123456789abcdef";
    for (int w = 0; w < 4; w++) {
        for (int i = 0; i < 4; i++) {
            uint8_t byte = (uint8_t)(state[w] >> (8 * i));
            *out++ = digits[byte >> 4];
            *out++ = digits[byte & 15];
        }
    }
    *out = '\0';
}

void md5_file_hex(const char *path, char *out)
{
    out[0] = '\0';
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr)
        return;
    std::setvbuf(file, nullptr, _IOFBF, STREAM_BUFFER_SIZE);

    md5_context ctx;
    std::memcpy(ctx.state, INITIAL_STATE, sizeof ctx.state);
    ctx.bit_count[0] = ctx.bit_count[1] = 0;
    ctx.stage = MD5_STAGE_DATA;
    while (md5_read_block(ctx.block, file, ctx.bit_count, &ctx.stage))
        md5_transform(ctx.block, ctx.state);
    std::fclose(file);
    md5_to_hex(ctx.state, out);
}
