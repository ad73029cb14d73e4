// The monotonic clock and the pause, through the standard library on both systems.
#include "clock.h"

#include <chrono>
#include <thread>

int64_t steady_now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
