#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "net/BRDataBuffer.h"

// The general shape of a polling I/O buffer: a receive side filled by Poll and
// a send side drained by Flush, each guarded by its own lock. This base does
// nothing on Poll and Flush.
class BRStandardIOBuffer {
public:
    BRStandardIOBuffer(int32_t receiveGranularity, int32_t sendGranularity);
    virtual ~BRStandardIOBuffer();
    BRStandardIOBuffer(const BRStandardIOBuffer&) = delete;
    BRStandardIOBuffer& operator=(const BRStandardIOBuffer&) = delete;

    virtual bool Poll();
    virtual void Flush();
    virtual bool IsClosed();

    // The owner reads and consumes received bytes, and appends bytes to send,
    // directly through these (without taking the locks).
    BRDataBuffer& ReceiveBuffer() { return receiveSide; }
    BRDataBuffer& SendBuffer() { return sendSide; }

    static constexpr int64_t kIdleLimitSeconds = 60;

protected:
    std::mutex receiveLock;
    std::mutex sendLock;
    BRDataBuffer receiveSide;
    BRDataBuffer sendSide;
    std::atomic<int64_t> deadline;      // always lastDataTime + kIdleLimitSeconds
    std::atomic<int64_t> lastDataTime;  // construction, then the latest receipt of bytes
    bool closed;
};
