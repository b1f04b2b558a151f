// TEMPORARY — remove this file when the socket and polling I/O buffer are merged.
// Empty definitions of BRSocketIPvx, BRStandardIOBuffer and
// BRStandardIOBufferTCPIP, only so that nilo_core links while the descriptor
// destroys its connection; nothing here is ever called.
#include "net/BRSocketIPvx.h"
#include "net/BRStandardIOBuffer.h"
#include "net/BRStandardIOBufferTCPIP.h"

BRSocketIPvx::BRSocketIPvx() : connection(-1), hostName{}, serviceName{} {}
BRSocketIPvx::~BRSocketIPvx() = default;
int32_t BRSocketIPvx::Send(const char*, int32_t, int32_t& sent) {
    sent = 0;
    return STATUS_CONNECT_FAILED;
}
int32_t BRSocketIPvx::Receive(char*, int32_t, int64_t& received) {
    received = 0;
    return STATUS_CONNECT_FAILED;
}
int32_t BRSocketIPvx::ReceiveIfReady(char*, int32_t, int64_t& received) {
    received = 0;
    return STATUS_CONNECT_FAILED;
}
std::string BRSocketIPvx::HostName() { return std::string(); }
std::string BRSocketIPvx::ServiceName() { return std::string(); }
int32_t BRSocketIPvx::Connect(std::string, int32_t) { return STATUS_CONNECT_FAILED; }
bool BRSocketIPvx::IsReadable() { return false; }
bool BRSocketIPvx::WaitReadable(int32_t) { return false; }

BRStandardIOBuffer::BRStandardIOBuffer(int32_t receiveGranularity, int32_t sendGranularity)
    : receiveSide(static_cast<uint32_t>(receiveGranularity)),
      sendSide(static_cast<uint32_t>(sendGranularity)),
      deadline(0),
      lastDataTime(0),
      closed(false) {}
BRStandardIOBuffer::~BRStandardIOBuffer() = default;
bool BRStandardIOBuffer::Poll() { return false; }
void BRStandardIOBuffer::Flush() {}
bool BRStandardIOBuffer::IsClosed() { return closed; }

BRStandardIOBufferTCPIP::BRStandardIOBufferTCPIP(int32_t receiveGranularity, int32_t sendGranularity,
                                                 BRSocketIPvx* socket_)
    : BRStandardIOBuffer(receiveGranularity, sendGranularity), socket(socket_), receiveArea{}, emptyReceives(0) {}
BRStandardIOBufferTCPIP::~BRStandardIOBufferTCPIP() = default;
bool BRStandardIOBufferTCPIP::Poll() { return false; }
void BRStandardIOBufferTCPIP::Flush() {}
int32_t BRStandardIOBufferTCPIP::ReceiveRaw(char*, int32_t, int64_t& received) {
    received = 0;
    return 0;
}
void BRStandardIOBufferTCPIP::SendPending() {}
