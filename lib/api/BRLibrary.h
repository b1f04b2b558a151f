#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "api/BRHandle.h"
#include "api/nilo.h"
#include "client/BRURLClient.h"
#include "css/BRCSSColorNames.h"
#include "css/BRCSSPropertyRegistry.h"
#include "net/BRDataBuffer.h"

// Everything the library keeps between calls. Exactly one instance exists,
// built when the library is loaded and destroyed when it is unloaded. Its
// members are built in declaration order and destroyed in reverse, so this
// declaration is the one place that fixes the load and unload order: the
// client manager first (and so destroyed last, closing every descriptor still
// open), then the handle table, then the CSS property registry and the
// colour set, which nothing on the data path consults.
//
// Threads: the handle table has a short lock, held only to look a handle up,
// add or remove it; everything else a call does runs under its handle's own
// lock (BRHandle), so calls on different handles never wait for each other,
// and ConnectURL connects before it takes any lock.
class BRLibrary {
public:
    static BRLibrary& instance();

    // The exported functions of nilo.h, one for one.
    void* connectURL(const char* url, int direction, const char* user, const char* password);
    void disconnect(const void* handle);
    NILOState getData(const void* handle, char* destination, unsigned& size);
    const char* getLog(const void* handle);
    NILOState writeData(const void* handle, const char* bytes, unsigned count);

    // Bytes waiting in the handle's buffer (0 for unknown handles); lets tests
    // check that the buffer stays bounded.
    uint32_t bufferedBytes(const void* handle) const;

    // Read-only after loading.
    const BRCSSPropertyRegistry& propertyRegistry() const { return cssPropertyRegistry; }
    const std::set<std::string>& colorNames() const { return cssColorNames; }

private:
    BRLibrary() = default;
    ~BRLibrary() = default;
    BRLibrary(const BRLibrary&) = delete;
    BRLibrary& operator=(const BRLibrary&) = delete;

    // The record of an open handle, or null for null and unknown handles.
    std::shared_ptr<BRHandle> find(const void* handle) const;

    // A call on one handle: its record with the record's call lock held, or
    // no record (and no lock) when the handle is unknown or was closed while
    // the call waited for the lock. The lock is released before the record
    // may go.
    struct Call {
        std::shared_ptr<BRHandle> record;
        std::unique_lock<std::mutex> lock;
    };
    Call enter(const void* handle) const;

    static BRLibrary library;

    BRURLClient client;
    // The handle table: one record per open handle, ordered by the handle's
    // value. Handles are numbers counted up from 1 and not the descriptors'
    // addresses, so a closed handle's value does not come back with a later
    // handle (not before 2^32 handles on a 32-bit system): a thread that
    // uses a handle another thread has closed gets NILO_ERROR rather than a
    // stranger's bytes.
    mutable std::mutex tableLock;
    std::map<const void*, std::shared_ptr<BRHandle>> handles;
    uintptr_t lastHandle = 0;
    BRCSSPropertyRegistry cssPropertyRegistry;
    std::set<std::string> cssColorNames = buildCSSColorNames();
};
