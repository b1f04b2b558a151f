#include "net/BRClock.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<BRClock::Source> currentSource{&BRClock::SystemNow};
}

int64_t BRClock::SystemNow() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

int64_t BRClock::Now() { return currentSource.load()(); }

void BRClock::SetSource(Source source) { currentSource.store(source ? source : &SystemNow); }

void BRClock::Reset() { currentSource.store(&SystemNow); }
