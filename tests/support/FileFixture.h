#pragma once

#include <string>

#include "TempDir.h"

using TempFolder = testsupport::TempDir;
using testsupport::readFile;
using testsupport::writeFile;

// Tests of a sink whose every write fails use /dev/full; Windows has no such
// device.
#if defined(_WIN32)
#define NILO_SKIP_WITHOUT_FULL_DEVICE() GTEST_SKIP() << "no device here that refuses every write"
#else
#define NILO_SKIP_WITHOUT_FULL_DEVICE() static_cast<void>(0)
#endif

// A file URL names the path without its first character, relative to the
// working directory; an extra slash keeps an absolute path absolute.
inline std::string FileUrl(const std::string& absolutePath) { return "file:///" + absolutePath; }

// Bytes that differ from position to position and include every byte value.
inline std::string PatternBytes(size_t count) {
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}
