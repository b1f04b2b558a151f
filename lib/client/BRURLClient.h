#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "client/BRDataSourceDescriptor.h"
#include "net/BRDataBuffer.h"

// Creates, owns and destroys every open source and sink. Each pointer it is
// given is checked against the descriptors it created before it is used, so a
// stale or foreign handle never reaches a descriptor.
//
// Threads: the set of descriptors has a lock of its own, held only to look a
// pointer up, insert or remove it; creating and opening a descriptor (which
// may connect) and every step on one run outside it. A descriptor itself is
// not locked: its caller runs one call at a time on it and never disconnects
// it while another call on it is running (the exported layer's per-handle
// lock sees to that).
class BRURLClient {
public:
    BRURLClient();
    // Closes and destroys every descriptor that is still open.
    ~BRURLClient();
    BRURLClient(const BRURLClient&) = delete;
    BRURLClient& operator=(const BRURLClient&) = delete;

    // Returns the new, open and registered descriptor. Raises "direction must
    // be BR_PROTOCOL_IN or BR_PROTOCOL_OUT" for a bad direction, and "can't
    // create data source descriptor" for any failure to create or open it.
    BRDataSourceDescriptor* connect(std::string url, int32_t direction, std::string user, std::string password);
    // NILO_ERROR for pointers that are not registered. `room`, when given,
    // is the caller's room in this GetData (BRReadRoom).
    int32_t getData(const void* descriptor, BRDataBuffer& buffer, BRReadRoom* room = nullptr);
    int32_t writeData(const void* descriptor, BRDataBuffer& buffer);
    // Empty text for pointers that are not registered.
    std::string getLog(const void* descriptor);
    void disconnect(const void* descriptor);

    // How many descriptors are open, and whether this one is.
    size_t openCount() const;
    bool isOpen(const void* descriptor) const;

private:
    BRDataSourceDescriptor* find(const void* descriptor) const;

    mutable std::mutex descriptorsLock;
    std::set<BRDataSourceDescriptor*> descriptors;
};
