#include "CameraServer.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

std::string multipartHeader() {
    return std::string("HTTP/1.1 200 OK\r\n"
                       "Content-Type: multipart/x-mixed-replace;boundary=") +
           CameraServer::boundary +
           "\r\n"
           "Cache-Control: no-cache\r\n"
           "Connection: close\r\n"
           "\r\n";
}

std::uint64_t monotonicMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

std::string closeDelimiter() { return std::string("--") + CameraServer::boundary + "--\r\n"; }

}  // namespace

const char* const CameraServer::boundary = "nilo-camera-frame";

CameraServer::CameraServer(const CameraServerOptions& options) : options(options) {}

CameraServer::~CameraServer() {
    if (listener >= 0) ::close(listener);
}

std::string CameraServer::part(const std::string& contentType, const std::string& bytes,
                               const std::string& extraHeaders) {
    std::string text = std::string("--") + boundary + "\r\nContent-Type: " + contentType +
                       "\r\nContent-Length: " + std::to_string(bytes.size()) + "\r\n" + extraHeaders + "\r\n";
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

void CameraServer::serve(int client) const {
    // Read the request header (the body, if any, is ignored).
    setReceiveTimeout(client, 10);
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos) {
        if (request.size() > 16384) return;
        const ssize_t received = ::recv(client, buffer, sizeof buffer, 0);
        if (received <= 0) return;
        request.append(buffer, static_cast<std::size_t>(received));
    }
    const std::size_t methodEnd = request.find(' ');
    const std::size_t pathEnd = request.find_first_of(" ?\r", methodEnd + 1);
    if (methodEnd == std::string::npos || pathEnd == std::string::npos || request.compare(0, methodEnd, "GET") != 0) {
        sendAll(client, "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        closeGracefully(client);
        return;
    }
    const std::string path = request.substr(methodEnd + 1, pathEnd - methodEnd - 1);
    if (path == "/blob")
        serveBlob(client);
    else if (path == "/parts")
        serveParts(client);
    else
        serveCamera(client);
}

void CameraServer::serveCamera(int client) const {
    if (!sendAll(client, multipartHeader())) return;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (std::uint64_t number = 0; options.frames == 0 || number < options.frames; ++number) {
        if (options.fps > 0)
            std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(number / options.fps)));
        const std::shared_ptr<const std::string> picture = pictures.jpeg(number);
        std::string stamp;
        if (options.stamp) stamp = "X-Sent-Monotonic-Us: " + std::to_string(monotonicMicroseconds()) + "\r\n";
        if (!sendAll(client, part("image/jpeg", *picture, stamp))) return;
    }
    if (sendAll(client, closeDelimiter())) closeGracefully(client);
}

void CameraServer::serveBlob(int client) const {
    const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                               std::to_string(options.blobSize) + "\r\nConnection: close\r\n\r\n";
    if (!sendAll(client, header)) return;
    // About 1 MiB per send, a whole number of pattern periods so that the
    // pattern runs on across sends.
    const std::string block = pattern(251 * 4177);
    for (std::uint64_t left = options.blobSize; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        if (!sendAll(client, block.data(), n)) return;
        left -= n;
    }
    closeGracefully(client);
}

void CameraServer::serveParts(int client) const {
    if (!sendAll(client, multipartHeader())) return;
    // Small parts are batched so that every send is large.
    const std::string one = part("application/octet-stream", pattern(static_cast<std::size_t>(options.partSize)));
    const std::uint64_t perBatch = std::max<std::uint64_t>(1, (1u << 20) / one.size());
    std::string batch;
    for (std::uint64_t i = 0; i < perBatch; ++i) batch += one;
    for (std::uint64_t left = options.parts; left > 0;) {
        const std::uint64_t n = std::min(left, perBatch);
        if (!sendAll(client, batch.data(), static_cast<std::size_t>(n) * one.size())) return;
        left -= n;
    }
    if (sendAll(client, closeDelimiter())) closeGracefully(client);
}
