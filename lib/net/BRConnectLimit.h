#pragma once

#include <cstdint>

// How long a connection attempt to one resolved address may take before it
// is given up and the next address is tried: 10 seconds. A host that drops
// connection attempts would otherwise hold the caller for the system's own
// limit (minutes). Tests set a short limit to see it without waiting; Reset
// returns to the usual one.
class BRConnectLimit {
public:
    static constexpr int32_t kDefaultMilliseconds = 10000;

    static int32_t Milliseconds();
    static void Set(int32_t milliseconds);  // values below 1 count as 1
    static void Reset();
};
