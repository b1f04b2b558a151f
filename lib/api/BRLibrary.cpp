#include "api/BRLibrary.h"

#include <algorithm>
#include <cstring>

#include "client/BRReadRoom.h"

// Built while the library loads, before any exported function can run, and
// destroyed when it unloads.
BRLibrary BRLibrary::library;

BRLibrary& BRLibrary::instance() { return library; }

std::shared_ptr<BRHandle> BRLibrary::find(const void* handle) const {
    if (handle == nullptr) return nullptr;
    std::lock_guard<std::mutex> hold(tableLock);
    const auto found = handles.find(handle);
    return found != handles.end() ? found->second : nullptr;
}

BRLibrary::Call BRLibrary::enter(const void* handle) const {
    Call call;
    call.record = find(handle);
    if (!call.record) return call;
    call.lock = std::unique_lock<std::mutex>(call.record->callLock);
    if (call.record->descriptor == nullptr) return Call();  // unlocks, then lets the record go
    return call;
}

void* BRLibrary::connectURL(const char* url, int direction, const char* user, const char* password) {
    // Resolving and connecting take time: no lock is held meanwhile. A null
    // URL is refused like an empty one instead of being read.
    BRDataSourceDescriptor* d = client.connect(url != nullptr ? url : "", direction != 0 ? BR_PROTOCOL_IN : BR_PROTOCOL_OUT,
                                               user != nullptr ? user : "", password != nullptr ? password : "");
    try {
        auto record = std::make_shared<BRHandle>(d);
        std::lock_guard<std::mutex> hold(tableLock);
        // Skips 0 and, once the count has wrapped, values still open.
        void* handle = nullptr;
        do {
            handle = reinterpret_cast<void*>(++lastHandle);
        } while (handle == nullptr || handles.count(handle) != 0);
        handles.emplace(handle, std::move(record));
        return handle;
    } catch (...) {
        client.disconnect(d);
        throw;
    }
}

// A call in progress on the handle finishes first; calls that were waiting
// for it, and all later ones, find the handle closed.
void BRLibrary::disconnect(const void* handle) {
    if (handle == nullptr) return;
    std::shared_ptr<BRHandle> record;
    {
        std::lock_guard<std::mutex> hold(tableLock);
        const auto found = handles.find(handle);
        if (found == handles.end()) return;
        record = std::move(found->second);
        handles.erase(found);
    }
    std::lock_guard<std::mutex> call(record->callLock);
    record->buffer.reset();
    client.disconnect(record->descriptor);
    record->descriptor = nullptr;
}

NILOState BRLibrary::getData(const void* handle, char* destination, unsigned& size) {
    const Call call = enter(handle);
    if (!call.record) return NILO_ERROR;
    const std::shared_ptr<BRHandle>& record = call.record;
    BRDataBuffer& buffer = *record->buffer;
    int32_t& state = record->state;

    // A transfer step runs only when the buffer cannot fill the caller's room
    // (or the caller asks for nothing): a file step appends 16384 bytes, so
    // stepping on every call would let a caller that takes little per call
    // pile up the whole source in memory. What the caller sees is the same.
    // The step is offered the rest of the caller's room and may fill it
    // directly (BRReadRoom); such bytes follow the ones the buffer held.
    uint32_t n = 0;
    if (state < NILO_END && (size == 0 || buffer.Size() < size)) {
        const uint32_t held = buffer.Size();
        BRReadRoom room;
        if (size > held) {
            room.destination = destination + held;
            room.room = size - held;
        }
        state = client.getData(record->descriptor, buffer, &room);
        if (state == NILO_MULTIPART)
            record->multipart = true;
        else if (state < NILO_END)
            record->multipart = false;
        if (room.delivered != 0) {
            n = held + std::min(room.delivered, room.room);
            if (held != 0) {
                std::memcpy(destination, buffer.Data(), held);
                buffer.Consume(held);
            }
        }
    }
    // A step may have asked the buffer to keep its block while the source
    // runs; once the source has ended, draining it gives the block back.
    if (state >= NILO_END) buffer.Keep(0);

    const uint32_t more = std::min(size - n, buffer.Size());
    if (more != 0) {
        std::memcpy(destination + n, buffer.Data(), more);
        buffer.Consume(more);
    }
    n += more;
    size = n;

    switch (state) {
        case NILO_NONE:
        case NILO_DATA:
        case NILO_REDIRECTED:
        case NILO_MULTIPART:
            return static_cast<NILOState>(state);
        case NILO_END:
        case NILO_ERROR:
            if (n == 0 && buffer.Size() == 0) return static_cast<NILOState>(state);
            return record->multipart ? NILO_MULTIPART : NILO_DATA;
        default:
            return NILO_NONE;
    }
}

const char* BRLibrary::getLog(const void* handle) {
    const Call call = enter(handle);
    if (!call.record) return nullptr;
    const std::shared_ptr<BRHandle>& record = call.record;
    record->log = client.getLog(record->descriptor);
    return record->log.c_str();
}

NILOState BRLibrary::writeData(const void* handle, const char* bytes, unsigned count) {
    const Call call = enter(handle);
    if (!call.record) return NILO_ERROR;
    const std::shared_ptr<BRHandle>& record = call.record;
    BRDataBuffer& buffer = *record->buffer;
    int32_t& state = record->state;

    if (state < NILO_END) {
        buffer.Append(bytes, count);
        state = client.writeData(record->descriptor, buffer);
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
    const Call call = enter(handle);
    return call.record ? call.record->buffer->Size() : 0;
}
