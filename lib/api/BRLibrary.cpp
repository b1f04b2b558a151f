#include "api/BRLibrary.h"

#include <cstring>

namespace {
constexpr uint32_t kHandleGranularity = 2048;
}

// Built while the library loads, before any exported function can run, and
// destroyed when it unloads.
BRLibrary BRLibrary::library;

BRLibrary& BRLibrary::instance() { return library; }

void* BRLibrary::connectURL(const char* url, int direction, const char* user, const char* password) {
    // A null URL is refused like an empty one instead of being read.
    BRDataSourceDescriptor* d = client.connect(url != nullptr ? url : "", direction != 0 ? BR_PROTOCOL_IN : BR_PROTOCOL_OUT,
                                               user != nullptr ? user : "", password != nullptr ? password : "");
    try {
        handleBuffers[d] = std::make_unique<BRDataBuffer>(kHandleGranularity);
        handleStates[d] = NILO_NONE;
        handleLogs[d] = std::string();
    } catch (...) {
        handleBuffers.erase(d);
        handleStates.erase(d);
        handleLogs.erase(d);
        client.disconnect(d);
        throw;
    }
    return d;
}

void BRLibrary::disconnect(const void* handle) {
    auto buffer = handleBuffers.find(handle);
    if (handle == nullptr || buffer == handleBuffers.end()) return;
    std::unique_ptr<BRDataBuffer> owned = std::move(buffer->second);
    handleBuffers.erase(buffer);
    owned.reset();
    handleStates.erase(handle);
    handleLogs.erase(handle);
    multipartHandles.erase(handle);
    client.disconnect(handle);
}

NILOState BRLibrary::getData(const void* handle, char* destination, unsigned& size) {
    auto found = handleBuffers.find(handle);
    if (handle == nullptr || found == handleBuffers.end()) return NILO_ERROR;
    BRDataBuffer& buffer = *found->second;
    int32_t& state = handleStates[handle];

    // A transfer step runs only when the buffer cannot fill the caller's room
    // (or the caller asks for nothing): a file step appends 16384 bytes, so
    // stepping on every call would let a caller that takes little per call
    // pile up the whole source in memory. What the caller sees is the same.
    if (state < NILO_END && (size == 0 || buffer.Size() < size)) {
        state = client.getData(handle, buffer);
        if (state == NILO_MULTIPART)
            multipartHandles.insert(handle);
        else if (state < NILO_END)
            multipartHandles.erase(handle);
    }

    const uint32_t n = size < buffer.Size() ? size : buffer.Size();
    size = n;
    if (n != 0) {
        std::memcpy(destination, buffer.Data(), n);
        buffer.Consume(n);
    }

    switch (state) {
        case NILO_NONE:
        case NILO_DATA:
        case NILO_REDIRECTED:
        case NILO_MULTIPART:
            return static_cast<NILOState>(state);
        case NILO_END:
        case NILO_ERROR:
            if (n == 0 && buffer.Size() == 0) return static_cast<NILOState>(state);
            return multipartHandles.count(handle) != 0 ? NILO_MULTIPART : NILO_DATA;
        default:
            return NILO_NONE;
    }
}

const char* BRLibrary::getLog(const void* handle) {
    auto found = handleLogs.find(handle);
    if (handle == nullptr || found == handleLogs.end()) return nullptr;
    found->second = client.getLog(handle);
    return found->second.c_str();
}

NILOState BRLibrary::writeData(const void* handle, const char* bytes, unsigned count) {
    auto found = handleBuffers.find(handle);
    if (handle == nullptr || found == handleBuffers.end()) return NILO_ERROR;
    BRDataBuffer& buffer = *found->second;
    int32_t& state = handleStates[handle];

    if (state < NILO_END) {
        buffer.Append(bytes, count);
        state = client.writeData(handle, buffer);
    }

    switch (state) {
        case NILO_NONE:
        case NILO_DATA:
        case NILO_REDIRECTED:
        case NILO_MULTIPART:
        case NILO_ERROR:
            return static_cast<NILOState>(state);
        case NILO_END:
            return buffer.Size() != 0 ? NILO_DATA : NILO_END;
        default:
            return NILO_NONE;
    }
}

uint32_t BRLibrary::bufferedBytes(const void* handle) const {
    auto found = handleBuffers.find(handle);
    return found != handleBuffers.end() ? found->second->Size() : 0;
}
