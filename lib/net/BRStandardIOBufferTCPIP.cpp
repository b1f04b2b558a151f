#include "net/BRStandardIOBufferTCPIP.h"

#include "diag/BRException.h"
#include "net/BRClock.h"

BRStandardIOBufferTCPIP::BRStandardIOBufferTCPIP(int32_t receiveGranularity, int32_t sendGranularity,
                                                 BRSocketIPvx* socket)
    : BRStandardIOBuffer(receiveGranularity, sendGranularity), socket(socket), receiveArea{}, emptyReceives(0) {
    if (socket == nullptr) throw BRException("no client", __LINE__, "src");
}

BRStandardIOBufferTCPIP::~BRStandardIOBufferTCPIP() = default;

bool BRStandardIOBufferTCPIP::Poll() {
    if (socket->WaitReadable(kReadyWaitMilliseconds)) {
        std::lock_guard<std::mutex> hold(receiveLock);
        int64_t received = 0;
        ReceiveRaw(receiveArea, kReceiveArea, received);
        if (received > 0) {
            if (received > kReceiveArea) received = kReceiveArea;  // never trust a count beyond the area
            const int64_t now = BRClock::Now();
            lastDataTime = now;
            deadline = now + kIdleLimitSeconds;
            receiveSide.Append(receiveArea, static_cast<uint32_t>(received));
            emptyReceives = 0;
            return true;
        }
        // Ready without bytes: the peer has closed (or the connection failed).
        // The first time may be a fluke; from the second time on it is final.
        if (emptyReceives++ == 0) return true;
        throw BRException("strange number of bytes at poll", __LINE__, "src");
    }
    if (BRClock::Now() > deadline) throw BRException("socket timeout", __LINE__, "src");
    return false;
}

void BRStandardIOBufferTCPIP::Flush() { SendPending(); }

int32_t BRStandardIOBufferTCPIP::ReceiveRaw(char* buffer, int32_t capacity, int64_t& received) {
    return socket->ReceiveIfReady(buffer, capacity, received);
}

void BRStandardIOBufferTCPIP::SendPending() {
    std::lock_guard<std::mutex> hold(sendLock);
    const uint32_t pending = sendSide.Size();
    if (pending == 0) return;
    // The socket takes at most what fits in one call; a send side beyond
    // 2 GiB is offered in parts.
    const int32_t offered = pending > 0x7fffffffu ? 0x7fffffff : static_cast<int32_t>(pending);
    int32_t sent = 0;
    socket->Send(sendSide.Data(), offered, sent);
    // Whatever was not taken stays at the front for the next flush.
    if (sent > 0) sendSide.Consume(static_cast<uint32_t>(sent));
}
