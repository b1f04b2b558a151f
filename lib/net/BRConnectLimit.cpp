#include "net/BRConnectLimit.h"

#include <atomic>

namespace {
std::atomic<int32_t> limit{BRConnectLimit::kDefaultMilliseconds};
}

int32_t BRConnectLimit::Milliseconds() { return limit.load(); }

void BRConnectLimit::Set(int32_t milliseconds) { limit.store(milliseconds < 1 ? 1 : milliseconds); }

void BRConnectLimit::Reset() { limit.store(kDefaultMilliseconds); }
