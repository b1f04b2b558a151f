#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

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
// open), then the handle tables, then the CSS property registry and the
// colour set, which nothing on the data path consults.
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

    static BRLibrary library;

    BRURLClient client;
    // Per handle: its byte buffer (granularity 2048), the last state a
    // transfer step reported, and the text the last GetLog returned. A handle
    // is known to GetData, WriteData and DisconnectNILO when it is a key of
    // handleBuffers, and to GetLog when it is a key of handleLogs.
    std::map<const void*, std::unique_ptr<BRDataBuffer>> handleBuffers;
    std::map<const void*, int32_t> handleStates;
    std::map<const void*, std::string> handleLogs;
    // Handles whose last transfer step before the end reported a multipart
    // stream: the bytes still buffered when such a stream ends are part bytes
    // and are handed out with NILO_MULTIPART, so a caller can keep cutting them.
    std::set<const void*> multipartHandles;
    BRCSSPropertyRegistry cssPropertyRegistry;
    std::set<std::string> cssColorNames = buildCSSColorNames();
};
