// http_floor: the least work any faithful reader of an HTTP body through the
// nilo receive path can do, as a reference for the HTTP benchmark.
//
//   http_floor URL [BYTES]
//
// Sends one plain GET, skips the response header and counts body bytes until
// BYTES, or the response's Content-Length, or (with neither) the end of the
// connection. Each read does what one receive step must: a readiness wait of
// up to 500 ms, a readiness probe of up to 1 ms, one recv of at most 4096
// bytes into a 4096-byte area, a copy onto the receive side (a growable
// buffer) and a copy from there into the caller's 64 KiB buffer.
// Prints "bytes=N elapsed=S cpu=S"; exits 1 when the body ended short.

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CpuSeconds.h"

namespace {

int connectTo(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return -1;
    int fd = -1;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string prefix = "http://";
    const std::string url = argc > 1 ? argv[1] : "";
    if (url.compare(0, prefix.size(), prefix) != 0) {
        std::fprintf(stderr, "usage: http_floor http://HOST[:PORT]/PATH [BYTES]\n");
        return 2;
    }
    const std::size_t pathStart = url.find('/', prefix.size());
    const std::string authority = url.substr(prefix.size(), pathStart - prefix.size());
    const std::string path = pathStart == std::string::npos ? "/" : url.substr(pathStart);
    const std::size_t colon = authority.rfind(':');
    const std::string host = authority.substr(0, colon);
    const std::string port = colon == std::string::npos ? "80" : authority.substr(colon + 1);
    long long expected = argc > 2 ? std::atoll(argv[2]) : -1;  // -1: not known yet

    const auto start = std::chrono::steady_clock::now();
    const int fd = connectTo(host, port);
    if (fd < 0) {
        std::fprintf(stderr, "http_floor: cannot connect to %s\n", authority.c_str());
        return 1;
    }
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return 1;

    char area[4096];
    std::vector<char> receiveSide;
    receiveSide.reserve(8192);
    std::vector<char> caller(65536);
    std::string header;
    bool inHeader = true;
    long long body = 0;
    bool closed = false;
    while (!closed && (expected < 0 || body < expected)) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 500) <= 0) continue;  // readiness wait
        if (::poll(&p, 1, 1) <= 0) continue;    // readiness probe
        const ssize_t n = ::recv(fd, area, sizeof area, 0);
        if (n <= 0) {
            closed = true;
            continue;
        }
        receiveSide.insert(receiveSide.end(), area, area + n);
        std::size_t from = 0;
        if (inHeader) {
            // Once per response: find the header's end and its Content-Length.
            header.append(receiveSide.data(), receiveSide.size());
            const std::size_t end = header.find("\r\n\r\n");
            if (end == std::string::npos) {
                receiveSide.clear();
                continue;
            }
            inHeader = false;
            from = receiveSide.size() - (header.size() - end - 4);
            header.resize(end);
            for (char& c : header) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const std::size_t length = header.find("content-length:");
            if (expected < 0 && length != std::string::npos) expected = std::atoll(header.c_str() + length + 15);
        }
        const std::size_t count = receiveSide.size() - from;
        std::memcpy(caller.data(), receiveSide.data() + from, count);  // at most 4096 < 64 KiB
        receiveSide.clear();                                              // consumed
        body += static_cast<long long>(count);
    }
    ::close(fd);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("bytes=%lld elapsed=%.3f cpu=%.3f\n", body, elapsed, CpuSeconds());
    return expected >= 0 && body < expected ? 1 : 0;
}
