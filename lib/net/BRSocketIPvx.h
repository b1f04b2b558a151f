#pragma once

#include <cstdint>
#include <string>

// One client-side TCP connection over IPv4 or IPv6, in the resolver's order.
// Operations never throw: they return small status numbers (0 done,
// 2 connection failed, 3 not all bytes sent) and print their own diagnostic
// lines. The socket library is started with the first live socket and
// released with the last.
class BRSocketIPvx {
public:
    enum : int32_t { STATUS_OK = 0, STATUS_CONNECT_FAILED = 2, STATUS_PARTIAL_SEND = 3 };

    BRSocketIPvx();
    virtual ~BRSocketIPvx();
    BRSocketIPvx(const BRSocketIPvx&) = delete;
    BRSocketIPvx& operator=(const BRSocketIPvx&) = delete;

    virtual int32_t Send(const char* data, int32_t length, int32_t& sent);
    virtual int32_t Receive(char* buffer, int32_t capacity, int64_t& received);
    virtual int32_t ReceiveIfReady(char* buffer, int32_t capacity, int64_t& received);
    virtual std::string HostName();
    virtual std::string ServiceName();

    int32_t Connect(std::string host, int32_t port);
    // Readiness probes: readable or in an exceptional state (a closed peer
    // counts as readable). IsReadable waits at most 1 ms.
    bool IsReadable();
    bool WaitReadable(int32_t milliseconds);

private:
    intptr_t connection;  // platform socket handle, or the platform's "none"
    char hostName[1025];
    char serviceName[32];
};
