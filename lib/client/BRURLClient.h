#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "client/BRDataSourceDescriptor.h"
#include "net/BRDataBuffer.h"

// Creates, owns and destroys every open source and sink. Each pointer it is
// given is checked against the descriptors it created before it is used, so a
// stale or foreign handle never reaches a descriptor.
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
    // NILO_ERROR for pointers that are not registered.
    int32_t getData(const void* descriptor, BRDataBuffer& buffer);
    int32_t writeData(const void* descriptor, BRDataBuffer& buffer);
    // Empty text for pointers that are not registered.
    std::string getLog(const void* descriptor);
    void disconnect(const void* descriptor);

    std::set<BRDataSourceDescriptor*> descriptors;

private:
    BRDataSourceDescriptor* find(const void* descriptor) const;
};
