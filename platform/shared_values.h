// Values that threads hand each other: one-byte flags, and atomics that a record can hold and still
// be set back whole by one assignment.
#pragma once

#include <atomic>
#include <cstdint>

// A flag shared between threads: one byte, set with release and read with acquire.
using shared_flag = std::atomic<uint8_t>;
inline void set_flag(shared_flag &flag, uint8_t value) { flag.store(value, std::memory_order_release); }
inline bool flag_is_set(const shared_flag &flag) { return flag.load(std::memory_order_acquire) != 0; }

// An atomic value that a record can be assigned with (copying loads, assigning stores), so that a
// record holding one is set back whole by one assignment. Starts at T{}.
template <typename T> struct copyable_atomic : std::atomic<T> {
    copyable_atomic() : std::atomic<T>(T{}) {}
    copyable_atomic(const copyable_atomic &other) : std::atomic<T>(other.load()) {}
    copyable_atomic &operator=(const copyable_atomic &other)
    {
        this->store(other.load());
        return *this;
    }
};
