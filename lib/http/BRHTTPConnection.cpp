#include "http/BRHTTPConnection.h"

#include <cstdint>
#include <stdexcept>
#include <string>

#include "net/BRSocketIPvx.h"

namespace {

// The port as the standard text-to-unsigned conversion reads it, limited to
// 32 bits as on a platform whose unsigned long has 32 bits.
uint32_t PortNumber(const std::string& text) {
    const unsigned long long value = std::stoull(text, nullptr, 10);
    if (value > UINT32_MAX) throw std::out_of_range("port");
    return static_cast<uint32_t>(value);
}

}  // namespace

std::unique_ptr<BRStandardIOBufferTCPIP> BRHTTPConnection::Connect(const BRURL& url) {
    const uint32_t port = PortNumber(url.port);
    auto socket = std::make_unique<BRSocketIPvx>();
    if (socket->Connect(url.host, static_cast<int32_t>(port)) != BRSocketIPvx::STATUS_OK) return nullptr;
    return std::make_unique<BRStandardIOBufferTCPIP>(kGranularity, kGranularity, socket.release());
}
