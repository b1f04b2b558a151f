#include "client/BRDataSourceDescriptor.h"

#include "api/nilo.h"
#include "diag/BRConsole.h"
#include "diag/BRException.h"
#include "http/BRHTTPAuthenticator.h"
#include "http/BRHTTPReadState.h"
#include "http/BRHTTPReader.h"
#include "net/BRStandardIOBufferTCPIP.h"

namespace {
constexpr uint32_t kWorkGranularity = 16384;
// Each step takes 16384 bytes, but asking the system for that little costs
// twice the time of reading the file in large pieces.
constexpr size_t kFileInStorage = 256 * 1024;
}

BRDataSourceDescriptor::BRDataSourceDescriptor(BRURLClient* client_, const std::string& urlText, int32_t direction,
                                               const std::string& user, const std::string& password)
    : client(client_),
      url(urlText, direction),
      flags(0),
      remaining(0),
      statusCode(0),
      redirectCount(0) {
    if (!user.empty()) url.user = user;
    if (!password.empty()) url.password = password;
    // They may go into an Authorization line, which a control character
    // would break.
    for (const std::string* text : {&url.user, &url.password}) {
        for (unsigned char c : *text) {
            if (c < 0x20 || c == 0x7F) throw BRException("invalid character in user or password", __LINE__, "src");
        }
    }
    origin = url;
    if (client == nullptr || urlText.empty()) throw BRException("missing URL client or descriptor ID", __LINE__, "src");
}

// The streams are closed first (the sink's close hands its last bytes to the
// file), then the buffers and the connection go; the remaining members follow
// in reverse declaration order: log, redirectURL, boundary, url.
BRDataSourceDescriptor::~BRDataSourceDescriptor() {
    if (fileIn) {
        fileIn->close();
        fileIn.reset();
    }
    fileInStorage.reset();
    if (fileOut) {
        fileOut->close();
        fileOut.reset();
    }
    workBuffer.reset();
    connection.reset();
}

// "file:///data/in.bin" has the path "/data/in.bin" and names data/in.bin,
// relative to the working directory. An empty path has no first character to
// drop: substr raises, and the caller turns that into "can't open file".
std::string BRDataSourceDescriptor::fileName() const { return url.path.substr(1); }

void BRDataSourceDescriptor::open() {
    if (flags != 0) throw BRException("there is an existing connection; can't connect twice", __LINE__, "src");
    remaining = 0;

    if (url.type == BR_URL_FILE && url.direction == BR_PROTOCOL_IN) {
        openFileSource();
    } else if (url.type == BR_URL_FILE && url.direction == BR_PROTOCOL_OUT) {
        openFileSink();
    } else if (url.type == BR_URL_HTTP && url.direction == BR_PROTOCOL_IN) {
        BRHTTPReader::Open(*this);
    } else {
        throw BRException("currently not supported protocol", __LINE__, "src");
    }
}

void BRDataSourceDescriptor::openFileSource() {
    BRConsole::Out("url path: " + url.path);
    try {
        const std::string name = fileName();
        fileInStorage.reset(new char[kFileInStorage]);  // filled by the stream; no need to clear it
        fileIn = std::make_unique<std::ifstream>();
        fileIn->rdbuf()->pubsetbuf(fileInStorage.get(), kFileInStorage);  // before open, or it has no effect
        fileIn->open(name, std::ios::in | std::ios::binary);
        workBuffer = std::make_unique<BRDataBuffer>(kWorkGranularity);
        if (!fileIn || !fileIn->good()) throw BRException("something wrong with the fstream", __LINE__, "src");
        flags |= BR_DS_OPEN;
    } catch (...) {
        fileIn.reset();
        fileInStorage.reset();
        workBuffer.reset();
        throw BRException("can't open file " + url.path, __LINE__, "src");
    }
}

void BRDataSourceDescriptor::openFileSink() {
    try {
        fileOut = std::make_unique<std::ofstream>(fileName(), std::ios::out | std::ios::binary | std::ios::trunc);
        if (!fileOut || !fileOut->good()) throw BRException("something wrong with the fstream", __LINE__, "src");
        flags |= BR_DS_OPEN;
    } catch (...) {
        fileOut.reset();
        workBuffer.reset();
        throw BRException("can't open file " + url.path, __LINE__, "src");
    }
}

// HTTP sources are read by the HTTP read step, file sources here.
int32_t BRDataSourceDescriptor::getData(BRDataBuffer& buffer, BRReadRoom* room) {
    if (url.type == BR_URL_HTTP) return BRHTTPReader::ReadStep(*this, buffer);
    if (url.type == BR_URL_FILE && url.direction == BR_PROTOCOL_IN && workBuffer && fileIn) return getFileData(buffer, room);
    return NILO_ERROR;
}

// One read of the file. A caller that takes at least the work buffer's free
// space (16384 bytes) in this call gets the file read straight into its own
// memory, as much as it takes: one copy, as with a plain read() of that size.
// Otherwise the step reads 16384 bytes into the handle's buffer, which hands
// them out over the next calls; the next step comes as soon as they are
// gone, so the buffer keeps its block meanwhile instead of giving it back and
// growing again for every step. A read that meets the end of the file still
// delivers what it found; the next step reports the end.
int32_t BRDataSourceDescriptor::getFileData(BRDataBuffer& buffer, BRReadRoom* room) {
    if (fileIn->eof()) return NILO_END;
    // A stream that failed without reaching the end (a read error, or a
    // directory opened as a file) would otherwise answer NILO_DATA forever.
    if (!fileIn->good()) return NILO_ERROR;
    const uint32_t step = workBuffer->FreeSpace();
    if (room != nullptr && room->destination != nullptr && room->room >= step) {
        fileIn->read(room->destination, room->room);
        room->delivered = static_cast<uint32_t>(fileIn->gcount());
        return NILO_DATA;
    }
    char* at = buffer.Reserve(step);
    buffer.Keep(buffer.Size() + buffer.FreeSpace());
    fileIn->read(at, step);
    buffer.Commit(static_cast<uint32_t>(fileIn->gcount()));
    return NILO_DATA;
}

// Every step hands its bytes to the operating system before it returns, so a
// failure (disk full, I/O error) is reported by the call that met it, and a
// crash of the caller loses nothing that was accepted. A failed sink reports
// NILO_ERROR; its bytes are dropped, since they can no longer reach the file.
int32_t BRDataSourceDescriptor::writeData(BRDataBuffer& buffer) {
    if (url.type != BR_URL_FILE || url.direction != BR_PROTOCOL_OUT || !fileOut) return NILO_ERROR;
    if (buffer.Size() == 0) return NILO_DATA;
    if (fileOut->good()) {
        fileOut->write(buffer.Data(), static_cast<std::streamsize>(buffer.Size()));
        fileOut->flush();
    }
    if (!fileOut->good()) {
        buffer.Clear();
        return NILO_ERROR;
    }
    buffer.Consume(buffer.Size());
    return NILO_DATA;
}

// A multipart stream logs every part header for as long as it runs, and a
// caller need never ask for the log: it must not cost memory that grows with
// the stream. An entry that would take the log past the limit is dropped
// whole, so the first entries (the request and the response header) stay.
void BRDataSourceDescriptor::logEntry(std::string_view text) {
    const std::streamoff held = log.tellp();
    if (held > 0 && held + static_cast<std::streamoff>(text.size()) + 2 > kLogLimit) return;
    log << '\n' << text << '\n';
}

std::string BRDataSourceDescriptor::getLog() {
    std::string text = log.str();
    log.str(std::string());
    log.clear();
    return text;
}
