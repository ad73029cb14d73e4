// Run ids: the run's start in fixed-width hex, then random bytes, so that ids sort by start and
// differ within one millisecond.
#include "run_id.h"

#include "clock.h"
#include "platform.h"
#include "text_util.h"

#include <cstring>

namespace {

// Appends the bytes as lower-case hex digits.
void append_hex(std::string &out, const unsigned char *bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < count; i++) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
}

// FNV-1a over the bytes, from hash: the fallback's mixing, where the system gives no random bytes.
uint64_t fnv1a(uint64_t hash, const void *data, size_t size)
{
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < size; i++)
        hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
    return hash;
}

// Bytes that differ between stations and runs without the system's random source: the station's
// name, the start, the process id and the steady clock, hashed twice with different seeds.
void fallback_bytes(unsigned char *out, size_t size, int64_t started_utc_ms)
{
    char station[256];
    platform_computer_name(station, sizeof station);
    unsigned long pid = platform_process_id();
    int64_t steady = steady_now_ms();
    for (size_t i = 0; i < size; i += 8) {
        uint64_t hash = fnv1a(0xcbf29ce484222325ULL + i, station, std::strlen(station));
        hash = fnv1a(hash, &started_utc_ms, sizeof started_utc_ms);
        hash = fnv1a(hash, &pid, sizeof pid);
        hash = fnv1a(hash, &steady, sizeof steady);
        for (size_t j = 0; j < 8 && i + j < size; j++)
            out[i + j] = static_cast<unsigned char>(hash >> (8 * j));
    }
}

} // namespace

std::string new_run_id(int64_t started_utc_ms)
{
    char time[RUN_ID_TIME_DIGITS + 1];
    format_text(time, sizeof time, "%012llx", static_cast<unsigned long long>(started_utc_ms) & 0xffffffffffffULL);
    unsigned char random[(RUN_ID_LENGTH - RUN_ID_TIME_DIGITS) / 2];
    if (platform_random_bytes(random, sizeof random) != 0)
        fallback_bytes(random, sizeof random, started_utc_ms);
    std::string id = time;
    append_hex(id, random, sizeof random);
    return id;
}
