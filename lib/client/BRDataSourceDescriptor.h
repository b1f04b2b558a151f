#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "client/BRReadRoom.h"
#include "net/BRDataBuffer.h"
#include "url/BRURL.h"

class BRURLClient;
class BRStandardIOBufferTCPIP;
class BRHTTPAuthenticator;
struct BRHTTPReadState;

// Descriptor flag bits.
enum : uint32_t {
    BR_DS_OPEN = 0x01,
    BR_DS_REQUEST_SENT = 0x02,
    BR_DS_LENGTH = 0x04,
    BR_DS_FAILED = 0x08,
    BR_DS_CHUNKED = 0x10,
    BR_DS_MULTIPART = 0x20,
};

// One open source or sink, created and owned by the client manager; the
// exported layer keeps a pointer to it in the record of its handle.
// It serves file sources, file sinks and HTTP sources; the HTTP read step
// lives in lib/http and works on the fields below.
class BRDataSourceDescriptor {
public:
    BRDataSourceDescriptor(BRURLClient* client, const std::string& url, int32_t direction, const std::string& user,
                           const std::string& password);
    ~BRDataSourceDescriptor();
    BRDataSourceDescriptor(const BRDataSourceDescriptor&) = delete;
    BRDataSourceDescriptor& operator=(const BRDataSourceDescriptor&) = delete;

    void open();
    // One read step; a NILOState value. With `room` given, a file step reads
    // at least the caller's room at once and may read straight into the
    // caller's memory (BRReadRoom); without it, a file step reads 16384 bytes.
    int32_t getData(BRDataBuffer& buffer, BRReadRoom* room = nullptr);
    int32_t writeData(BRDataBuffer& buffer); // a NILOState value
    std::string getLog();
    // Writes one entry to the log: a line end, the text and a line end.
    void logEntry(std::string_view text);
    // The most log text kept between two getLog calls.
    static constexpr std::streamoff kLogLimit = 64 * 1024;

    BRURLClient* client;
    BRURL url;
    std::unique_ptr<BRDataBuffer> workBuffer;
    std::unique_ptr<std::ifstream> fileIn;
    std::unique_ptr<std::ofstream> fileOut;
    std::unique_ptr<BRStandardIOBufferTCPIP> connection;
    uint32_t flags;
    uint32_t remaining;
    std::string boundary;
    BRURL redirectURL;
    uint32_t statusCode;
    int32_t redirectCount;
    std::ostringstream log;
    // The HTTP reader's state for the response it reads (HTTP sources only).
    std::unique_ptr<BRHTTPReadState> http;
    // The URL the source was opened with, its user and password included:
    // credentials are sent only to its scheme, host and port, and only to
    // answer a challenge.
    BRURL origin;
    // Answers the challenges of this source; it counts the uses of a nonce.
    std::unique_ptr<BRHTTPAuthenticator> authenticator;

private:
    std::string fileName() const;
    void openFileSource();
    void openFileSink();
    int32_t getFileData(BRDataBuffer& buffer, BRReadRoom* room);

    // The storage of fileIn's own buffer, which lets it read from the system
    // in pieces larger than one 16384-byte step.
    std::unique_ptr<char[]> fileInStorage;
};
