#pragma once

#include <cstdint>
#include <memory>

#include "net/BRSocketIPvx.h"
#include "net/BRStandardIOBuffer.h"

// The polling I/O buffer over one TCP socket, which it owns.
// Poll waits up to 500 ms for readability and moves at most one receive
// (4096 bytes) into the receive side. It raises BRException "socket timeout"
// when nothing arrived for more than 60 seconds, and "strange number of bytes
// at poll" from the second consecutive ready poll that brought no bytes (the
// peer has closed). Flush offers the send side to the socket once and keeps
// the unsent rest at its front.
class BRStandardIOBufferTCPIP : public BRStandardIOBuffer {
public:
    BRStandardIOBufferTCPIP(int32_t receiveGranularity, int32_t sendGranularity, BRSocketIPvx* socket);
    ~BRStandardIOBufferTCPIP() override;

    bool Poll() override;
    void Flush() override;
    virtual int32_t ReceiveRaw(char* buffer, int32_t capacity, int64_t& received);
    virtual void SendPending();
    // Whether the last ready poll brought no bytes: the peer has closed.
    bool PeerClosed() const { return emptyReceives != 0; }

    static constexpr int32_t kReadyWaitMilliseconds = 500;
    static constexpr int32_t kReceiveArea = 4096;

private:
    std::unique_ptr<BRSocketIPvx> socket;
    char receiveArea[kReceiveArea];
    int32_t emptyReceives;
};
