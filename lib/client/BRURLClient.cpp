#include "client/BRURLClient.h"

#include <memory>

#include "api/nilo.h"
#include "diag/BRException.h"

BRURLClient::BRURLClient() = default;

// Runs at unload, when no call can be in progress any more.
BRURLClient::~BRURLClient() {
    while (!descriptors.empty()) {
        BRDataSourceDescriptor* d = *descriptors.begin();
        descriptors.erase(descriptors.begin());
        delete d;
    }
}

BRDataSourceDescriptor* BRURLClient::connect(std::string url, int32_t direction, std::string user,
                                             std::string password) {
    if (direction != BR_PROTOCOL_IN && direction != BR_PROTOCOL_OUT) {
        throw BRException("direction must be BR_PROTOCOL_IN or BR_PROTOCOL_OUT", __LINE__, "src");
    }
    try {
        auto d = std::make_unique<BRDataSourceDescriptor>(this, url, direction, user, password);
        d->open();
        std::lock_guard<std::mutex> hold(descriptorsLock);
        descriptors.insert(d.get());
        return d.release();
    } catch (...) {
        throw BRException("can't create data source descriptor", __LINE__, "src");
    }
}

// The pointer is only compared, never followed, until it is found in the set.
BRDataSourceDescriptor* BRURLClient::find(const void* descriptor) const {
    if (descriptor == nullptr) return nullptr;
    auto* d = static_cast<BRDataSourceDescriptor*>(const_cast<void*>(descriptor));
    std::lock_guard<std::mutex> hold(descriptorsLock);
    return descriptors.count(d) != 0 ? d : nullptr;
}

int32_t BRURLClient::getData(const void* descriptor, BRDataBuffer& buffer, BRReadRoom* room) {
    BRDataSourceDescriptor* d = find(descriptor);
    return d != nullptr ? d->getData(buffer, room) : NILO_ERROR;
}

int32_t BRURLClient::writeData(const void* descriptor, BRDataBuffer& buffer) {
    BRDataSourceDescriptor* d = find(descriptor);
    return d != nullptr ? d->writeData(buffer) : NILO_ERROR;
}

std::string BRURLClient::getLog(const void* descriptor) {
    BRDataSourceDescriptor* d = find(descriptor);
    return d != nullptr ? d->getLog() : std::string();
}

void BRURLClient::disconnect(const void* descriptor) {
    if (descriptor == nullptr) return;
    auto* d = static_cast<BRDataSourceDescriptor*>(const_cast<void*>(descriptor));
    {
        std::lock_guard<std::mutex> hold(descriptorsLock);
        if (descriptors.erase(d) == 0) return;
    }
    delete d;  // closes its file or connection, outside the lock
}

size_t BRURLClient::openCount() const {
    std::lock_guard<std::mutex> hold(descriptorsLock);
    return descriptors.size();
}

bool BRURLClient::isOpen(const void* descriptor) const { return find(descriptor) != nullptr; }
