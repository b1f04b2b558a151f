#pragma once

#include <cstdint>
#include <memory>

#include "net/BRSocketIPvx.h"
#include "net/BRStandardIOBuffer.h"

// The polling I/O buffer over one TCP socket, which it owns.
// A poll waits up to 500 ms for readability, then takes in one receive what
// the socket holds, up to the receive room: 8 KiB while data comes slowly,
// doubling up to 64 KiB while receives keep filling it, back to 8 KiB when a
// wait finds the socket quiet. It raises BRException "socket timeout" when
// nothing arrived for more than 60 seconds, and "strange number of bytes at
// poll" from the second consecutive ready poll that brought no bytes (the
// peer has closed). Flush offers the send side to the socket once and keeps
// the unsent rest at its front.
class BRStandardIOBufferTCPIP : public BRStandardIOBuffer {
public:
    BRStandardIOBufferTCPIP(int32_t receiveGranularity, int32_t sendGranularity, BRSocketIPvx* socket);
    ~BRStandardIOBufferTCPIP() override;

    // Receives into the receive side.
    bool Poll() override;
    // Receives into memory of the caller's (room it has reserved in a buffer
    // of its own), at most `capacity` bytes, after a wait of at most
    // `waitMilliseconds`; `received` is the count. Returns and raises as Poll.
    bool Receive(char* into, uint32_t capacity, int32_t waitMilliseconds, uint32_t& received);
    void Flush() override;
    virtual int32_t ReceiveRaw(char* buffer, int32_t capacity, int64_t& received);
    virtual void SendPending();
    // Whether the last ready poll brought no bytes: the peer has closed.
    bool PeerClosed() const { return emptyReceives != 0; }
    // How much the next receive should take at most.
    uint32_t ReceiveRoom() const { return receiveRoom; }

    static constexpr int32_t kReadyWaitMilliseconds = 500;
    static constexpr uint32_t kLeastRoom = 8 * 1024;
    static constexpr uint32_t kMostRoom = 64 * 1024;

private:
    std::unique_ptr<BRSocketIPvx> socket;
    int32_t emptyReceives;
    uint32_t receiveRoom = kLeastRoom;
};
