// Wall-clock time stamps in microseconds since the Unix epoch.
#ifndef VESK11_CORE_TIMEU64_H
#define VESK11_CORE_TIMEU64_H

#include <cstdint>
#include <sys/time.h>

// Returns the wall-clock time now. It jumps when the system clock is set: fit for stamping
// events, not for measuring waits.
inline uint64_t get_time_us()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_usec);
}

#endif
