#pragma once

// How many times slower than a native run the tests run here: the whole
// number in the environment variable NILO_TEST_TIME_SCALE, at least 1. The
// build sets it (tests/CMakeLists.txt) where the test programs run under an
// emulator. Limits on how long the library may take for a piece of work are
// multiplied by it; limits that stand for a protocol wait are not.

#include <cstdlib>

namespace testsupport {

inline int TimeScale() {
    const char* text = std::getenv("NILO_TEST_TIME_SCALE");
    if (text == nullptr) return 1;
    const long scale = std::strtol(text, nullptr, 10);
    return scale > 1 && scale <= 99 ? static_cast<int>(scale) : 1;
}

}  // namespace testsupport
