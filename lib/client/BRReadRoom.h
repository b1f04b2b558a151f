#pragma once

#include <cstdint>

// The room that the caller of one GetData offers to the read step it runs,
// beyond the bytes the handle's buffer already holds for it. `destination` is
// where the caller's memory continues after those bytes, and `room` how many
// more bytes the caller takes in this call (0: none, and no destination).
// A step may put up to `room` bytes straight there instead of appending them
// to the handle's buffer, which saves a copy, and counts them in `delivered`.
// In the stream they follow what the handle's buffer held before the step and
// precede whatever the step appended to it.
struct BRReadRoom {
    char* destination = nullptr;
    uint32_t room = 0;
    uint32_t delivered = 0;
};
