#include "CameraServer.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

// The body pattern of /blob and /parts: byte k is k % 251. A prime period
// does not line up with any buffer size, so a lost or repeated piece shows.
std::string pattern(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t k = 0; k < length; ++k) bytes[k] = static_cast<char>(k % 251);
    return bytes;
}

bool sendAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;  // the client went away
        }
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool sendAll(int fd, const std::string& bytes) { return sendAll(fd, bytes.data(), bytes.size()); }

void setReceiveTimeout(int fd, int seconds) {
    timeval timeout{};
    timeout.tv_sec = seconds;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

// Ends a finite response: no more bytes from us, then wait (briefly) for the
// client to close, so that nothing it still sends turns our close into a reset
// that could destroy the end of the body in flight.
void closeGracefully(int fd) {
    ::shutdown(fd, SHUT_WR);
    setReceiveTimeout(fd, 2);
    char scratch[4096];
    while (::recv(fd, scratch, sizeof scratch, 0) > 0) {
    }
}

std::string closeDelimiter() { return std::string("--") + CameraServer::boundary + "--\r\n"; }

// Writes a response body as is, or in chunked transfer coding. The chunk
// sizes follow a fixed cycle that has nothing to do with the parts, so chunks
// end inside delimiter lines, part headers and pictures, and where parts go
// out in batches (/parts) run across part boundaries. Nothing is held back:
// each write ends with a chunk of its own rest, so a picture leaves as soon
// as it is made.
class BodyWriter {
public:
    BodyWriter(int fd, bool chunked) : fd(fd), chunked(chunked) {}

    bool write(const char* data, std::size_t length) {
        if (!chunked) return sendAll(fd, data, length);
        static const std::size_t sizes[] = {8192, 1, 4093, 16, 32768, 700, 3, 12000};
        std::string wire;
        wire.reserve(length + length / 256 + 64);
        while (length > 0) {
            const std::size_t size = std::min(length, sizes[next++ % (sizeof sizes / sizeof sizes[0])]);
            char line[24];
            std::snprintf(line, sizeof line, "%zx\r\n", size);
            wire += line;
            wire.append(data, size);
            wire += "\r\n";
            data += size;
            length -= size;
        }
        return sendAll(fd, wire);
    }
    bool write(const std::string& bytes) { return write(bytes.data(), bytes.size()); }
    // The end of the body: the last chunk when chunked.
    bool finish() { return !chunked || sendAll(fd, "0\r\n\r\n"); }

private:
    int fd;
    bool chunked;
    std::size_t next = 0;
};

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Reads one request header block (through "\r\n\r\n") from the client,
// keeping what follows it in `pending`; requests have no body here. False
// when the client closes, falls silent or sends too much.
bool readRequest(int client, std::string& pending, std::string& request) {
    std::size_t end;
    char buffer[2048];
    while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
        if (pending.size() > 16384) return false;
        const ssize_t received = ::recv(client, buffer, sizeof buffer, 0);
        if (received <= 0) return false;
        pending.append(buffer, static_cast<std::size_t>(received));
    }
    request = pending.substr(0, end + 4);
    pending.erase(0, end + 4);
    return true;
}

std::uint64_t monotonicMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}
}  // namespace

const char* const CameraServer::boundary = "nilo-camera-frame";

CameraServer::CameraServer(const CameraServerOptions& options)
    : options(options), auth(options.auth, options.user, options.password, options.authStale) {}

std::string CameraServer::multipartHeader() const {
    std::string parameter = options.boundaryDashes ? std::string("--") + boundary : std::string(boundary);
    if (options.quotedBoundary) parameter = "\"" + parameter + "\"";
    return "HTTP/1.1 200 OK\r\n"
           "Content-Type: multipart/x-mixed-replace;boundary=" +
           parameter + "\r\n" + (options.chunked ? "Transfer-Encoding: chunked\r\n" : "") +
           "Cache-Control: no-cache\r\n"
           "Connection: close\r\n"
           "\r\n";
}

CameraServer::~CameraServer() {
    if (listener >= 0) ::close(listener);
}

std::string CameraServer::part(const std::string& contentType, const std::string& bytes,
                               const std::string& extraHeaders) const {
    std::string text = std::string("--") + boundary + "\r\nContent-Type: " + contentType + "\r\n";
    if (options.partLength) text += "Content-Length: " + std::to_string(bytes.size()) + "\r\n";
    text += extraHeaders + "\r\n";
    text += bytes;
    text += "\r\n";
    return text;
}

int CameraServer::listen() {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(options.port);
    const int status = ::getaddrinfo(options.host.c_str(), port.c_str(), &hints, &found);
    if (status != 0) throw std::runtime_error("cannot resolve " + options.host + ": " + ::gai_strerror(status));

    std::string failure = "no address for " + options.host;
    for (addrinfo* a = found; a != nullptr && listener < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0) continue;
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 64) == 0) {
            listener = fd;
        } else {
            failure = "cannot listen on " + options.host + " port " + port + ": " + std::strerror(errno);
            ::close(fd);
        }
    }
    ::freeaddrinfo(found);
    if (listener < 0) throw std::runtime_error(failure);

    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

void CameraServer::run() {
    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
                if (errno == EMFILE || errno == ENFILE)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            throw std::runtime_error(std::string("accept: ") + std::strerror(errno));
        }
        std::thread([this, client] {
            serve(client);
            ::close(client);
        }).detach();
    }
}

void CameraServer::serve(int client) {
    setReceiveTimeout(client, 10);
    std::string pending, request;
    // A few 401 answers per connection at most: a client that never gets the
    // credentials right cannot keep a thread forever.
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (!readRequest(client, pending, request)) return;
        const std::size_t methodEnd = request.find(' ');
        const std::size_t targetEnd = request.find_first_of(" \r", methodEnd + 1);
        if (methodEnd == std::string::npos || targetEnd == std::string::npos ||
            request.compare(0, methodEnd, "GET") != 0) {
            sendAll(client, "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            closeGracefully(client);
            return;
        }
        const std::string target = request.substr(methodEnd + 1, targetEnd - methodEnd - 1);
        const CameraAuth::Verdict verdict = auth.check("GET", target, request);
        if (verdict != CameraAuth::Verdict::Granted) {
            const bool close = options.authClose || lower(request).find("\r\nconnection: close\r\n") != std::string::npos;
            const std::string body = "401 Unauthorized: this camera needs a user and a password\n";
            const std::string answer = "HTTP/1.1 401 Unauthorized\r\n" +
                                       auth.challenge(verdict == CameraAuth::Verdict::Stale) +
                                       "Content-Type: text/plain\r\n"
                                       "Content-Length: " +
                                       std::to_string(body.size()) + "\r\n" + (close ? "Connection: close\r\n" : "") +
                                       "\r\n" + body;
            if (!sendAll(client, answer)) return;
            if (close) {
                closeGracefully(client);
                return;
            }
            continue;
        }
        const std::string path = target.substr(0, target.find('?'));
        if (path == "/blob")
            serveBlob(client);
        else if (path == "/parts")
            serveParts(client);
        else
            serveCamera(client);
        return;
    }
}

void CameraServer::serveCamera(int client) const {
    if (!sendAll(client, multipartHeader())) return;
    BodyWriter body(client, options.chunked);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (std::uint64_t number = 0; options.frames == 0 || number < options.frames; ++number) {
        if (options.fps > 0)
            std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(number / options.fps)));
        const std::shared_ptr<const std::string> picture = pictures.jpeg(number);
        std::string stamp;
        if (options.stamp) stamp = "X-Sent-Monotonic-Us: " + std::to_string(monotonicMicroseconds()) + "\r\n";
        if (!body.write(part("image/jpeg", *picture, stamp))) return;
    }
    if (body.write(closeDelimiter()) && body.finish()) closeGracefully(client);
}

void CameraServer::serveBlob(int client) const {
    const std::string framing = options.chunked ? "Transfer-Encoding: chunked\r\n"
                                                : "Content-Length: " + std::to_string(options.blobSize) + "\r\n";
    const std::string header =
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n" + framing + "Connection: close\r\n\r\n";
    if (!sendAll(client, header)) return;
    BodyWriter body(client, options.chunked);
    // About 1 MiB per send, a whole number of pattern periods so that the
    // pattern runs on across sends.
    const std::string block = pattern(251 * 4177);
    for (std::uint64_t left = options.blobSize; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        if (!body.write(block.data(), n)) return;
        left -= n;
    }
    if (body.finish()) closeGracefully(client);
}

void CameraServer::serveParts(int client) const {
    if (!sendAll(client, multipartHeader())) return;
    BodyWriter body(client, options.chunked);
    // Small parts are batched so that every send is large.
    const std::string one = part("application/octet-stream", pattern(static_cast<std::size_t>(options.partSize)));
    const std::uint64_t perBatch = std::max<std::uint64_t>(1, (1u << 20) / one.size());
    std::string batch;
    for (std::uint64_t i = 0; i < perBatch; ++i) batch += one;
    for (std::uint64_t left = options.parts; left > 0;) {
        const std::uint64_t n = std::min(left, perBatch);
        if (!body.write(batch.data(), static_cast<std::size_t>(n) * one.size())) return;
        left -= n;
    }
    if (body.write(closeDelimiter()) && body.finish()) closeGracefully(client);
}
