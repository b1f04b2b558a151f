#include "net/BRStandardIOBuffer.h"

#include "net/BRClock.h"

BRStandardIOBuffer::BRStandardIOBuffer(int32_t receiveGranularity, int32_t sendGranularity)
    : receiveSide(static_cast<uint32_t>(receiveGranularity)),
      sendSide(static_cast<uint32_t>(sendGranularity)),
      deadline(0),
      lastDataTime(0),
      closed(false) {
    const int64_t now = BRClock::Now();
    lastDataTime = now;
    deadline = now + kIdleLimitSeconds;
}

BRStandardIOBuffer::~BRStandardIOBuffer() = default;

bool BRStandardIOBuffer::Poll() { return false; }

void BRStandardIOBuffer::Flush() {}

bool BRStandardIOBuffer::IsClosed() { return closed; }
