#include "net/BRStandardIOBufferTCPIP.h"

#include <algorithm>

#include "diag/BRException.h"
#include "net/BRClock.h"

BRStandardIOBufferTCPIP::BRStandardIOBufferTCPIP(int32_t receiveGranularity, int32_t sendGranularity,
                                                 BRSocketIPvx* socket)
    : BRStandardIOBuffer(receiveGranularity, sendGranularity), socket(socket), emptyReceives(0) {
    if (socket == nullptr) throw BRException("no client", __LINE__, "src");
}

BRStandardIOBufferTCPIP::~BRStandardIOBufferTCPIP() = default;

bool BRStandardIOBufferTCPIP::Poll() {
    std::lock_guard<std::mutex> hold(receiveLock);
    const uint32_t room = receiveRoom;
    char* into = receiveSide.Reserve(room);
    uint32_t received = 0;
    const bool ready = Receive(into, room, kReadyWaitMilliseconds, received);
    receiveSide.Commit(received);
    return ready;
}

bool BRStandardIOBufferTCPIP::Receive(char* into, uint32_t capacity, int32_t waitMilliseconds, uint32_t& received) {
    received = 0;
    if (!socket->WaitReadable(waitMilliseconds)) {
        // Quiet: the next bytes will come slowly, and a small room will do.
        receiveRoom = kLeastRoom;
        if (BRClock::Now() > deadline) throw BRException("socket timeout", __LINE__, "src");
        return false;
    }
    // The wait has just reported the socket readable: one receive, no second
    // look first.
    int64_t count = 0;
    const int32_t asked = capacity > 0x7fffffffu ? 0x7fffffff : static_cast<int32_t>(capacity);
    ReceiveRaw(into, asked, count);
    if (count > 0) {
        if (count > asked) count = asked;  // never trust a count beyond the room
        received = static_cast<uint32_t>(count);
        const int64_t now = BRClock::Now();
        lastDataTime = now;
        deadline = now + kIdleLimitSeconds;
        emptyReceives = 0;
        // A receive that filled its room: more is waiting, take more at once.
        if (received == capacity && capacity >= receiveRoom) receiveRoom = std::min(receiveRoom * 2, kMostRoom);
        return true;
    }
    // Ready without bytes: the peer has closed (or the connection failed).
    // The first time may be a fluke; from the second time on it is final.
    if (emptyReceives++ == 0) return true;
    throw BRException("strange number of bytes at poll", __LINE__, "src");
}

void BRStandardIOBufferTCPIP::Flush() { SendPending(); }

int32_t BRStandardIOBufferTCPIP::ReceiveRaw(char* buffer, int32_t capacity, int64_t& received) {
    return socket->Receive(buffer, capacity, received);
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
