#pragma once

#include <cstdint>

// Wall-clock time in whole seconds since 1970, as the idle limit of the I/O
// buffer measures it. Tests replace the source to move time on without
// waiting; Reset returns to the system clock.
class BRClock {
public:
    using Source = int64_t (*)();

    static int64_t Now();
    static void SetSource(Source source);
    static void Reset();
    static int64_t SystemNow();
};
