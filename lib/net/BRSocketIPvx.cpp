#include "net/BRSocketIPvx.h"

#include <string>
#include <vector>

#include "diag/BRConsole.h"
#include "net/BRConnectLimit.h"
#include "net/BRSocketPlatform.h"

BRSocketIPvx::BRSocketIPvx() : connection(BRSocketPlatform::kNone), hostName{}, serviceName{} {
    BRSocketPlatform::Acquire();
}

BRSocketIPvx::~BRSocketIPvx() {
    if (connection != BRSocketPlatform::kNone) {
        BRSocketPlatform::ShutdownBoth(connection);
        BRSocketPlatform::Close(connection);
    }
    BRSocketPlatform::Release();
}

int32_t BRSocketIPvx::Connect(std::string host, int32_t port) {
    // A second Connect replaces the first connection instead of leaking it.
    if (connection != BRSocketPlatform::kNone) {
        BRSocketPlatform::ShutdownBoth(connection);
        BRSocketPlatform::Close(connection);
        connection = BRSocketPlatform::kNone;
    }

    std::vector<BRSocketPlatform::Endpoint> endpoints;
    std::string errorText;
    if (!BRSocketPlatform::Resolve(host, std::to_string(port), endpoints, errorText)) {
        BRConsole::Err("getaddrinfo: " + errorText);
        return STATUS_CONNECT_FAILED;
    }
    // Each address gets its own time limit, so a host that drops connection
    // attempts costs about that long per address, then the next is tried.
    // The lookup above has no limit of its own.
    for (const BRSocketPlatform::Endpoint& endpoint : endpoints) {
        connection = BRSocketPlatform::Open(endpoint);
        if (connection == BRSocketPlatform::kNone) continue;
        if (BRSocketPlatform::Connect(connection, endpoint, BRConnectLimit::Milliseconds())) return STATUS_OK;
        BRSocketPlatform::Close(connection);
        connection = BRSocketPlatform::kNone;
    }
    BRConsole::Err("Could not connect");
    return STATUS_CONNECT_FAILED;
}

bool BRSocketIPvx::IsReadable() { return BRSocketPlatform::WaitReadable(connection, 1); }

bool BRSocketIPvx::WaitReadable(int32_t milliseconds) {
    return BRSocketPlatform::WaitReadable(connection, milliseconds);
}

int32_t BRSocketIPvx::Send(const char* data, int32_t length, int32_t& sent) {
    if (connection == BRSocketPlatform::kNone) {
        BRConsole::Out("no socket");
        return STATUS_OK;
    }
    const int64_t result = BRSocketPlatform::Send(connection, data, length);
    sent = result < 0 ? 0 : static_cast<int32_t>(result);
    return result == length ? STATUS_OK : STATUS_PARTIAL_SEND;
}

int32_t BRSocketIPvx::Receive(char* buffer, int32_t capacity, int64_t& received) {
    received = BRSocketPlatform::Receive(connection, buffer, capacity);
    if (received < 0) {
        const int error = BRSocketPlatform::LastError();  // before the stream can touch it
        BRConsole::Out("error in read (errno=" + std::to_string(error) + ")");
        received = 0;
    }
    return STATUS_OK;
}

int32_t BRSocketIPvx::ReceiveIfReady(char* buffer, int32_t capacity, int64_t& received) {
    if (IsReadable()) return Receive(buffer, capacity, received);
    received = 0;
    return STATUS_OK;
}

std::string BRSocketIPvx::HostName() { return hostName; }

std::string BRSocketIPvx::ServiceName() { return serviceName; }
