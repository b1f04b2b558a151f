#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "ScriptedServer.h"

// What a piece of code wrote to standard output and standard error.
struct Output {
    std::string out;
    std::string err;
};

template <class F>
Output Capture(F&& run) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run();
    Output output;
    output.err = testing::internal::GetCapturedStderr();
    output.out = testing::internal::GetCapturedStdout();
    return output;
}

template <class F>
long long MillisecondsTaken(F&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The error number of a receive from a connection the peer has reset.
#if defined(_WIN32)
constexpr int kConnectionReset = 10054;  // WSAECONNRESET
#else
constexpr int kConnectionReset = ECONNRESET;
#endif

// "Promptly": no readiness wait was spent. Far below the 500 ms poll wait, far
// above what the calls take even on a loaded sanitizer build.
constexpr long long kPromptMs = 250;

inline const char* FamilyName(const testing::TestParamInfo<ScriptedServer::Family>& info) {
    return info.param == ScriptedServer::Family::IPv4 ? "IPv4" : "IPv6";
}

#define NILO_SKIP_UNLESS_LISTENING(server) \
    if (!(server).Listening()) GTEST_SKIP() << "no loopback listener for this address family here"
