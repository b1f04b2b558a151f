// recv_floor: the least a program can do to receive an HTTP body on this
// machine, as the floor of the benchmark table.
//
//   recv_floor URL
//
// Connects, sends one plain GET and calls recv into one 64 KiB buffer, nothing
// else: the response header is looked at once for its end and Content-Length,
// and the body is counted up to that length, or (without one, as for a
// chunked body, whose framing it counts along) up to the close.
// Prints "bytes=N elapsed=S" (body bytes; seconds from before the connect
// to the last byte); exits 1 when the body ended short.

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
    const std::string url = argc == 2 ? argv[1] : "";
    if (url.compare(0, prefix.size(), prefix) != 0) {
        std::fprintf(stderr, "usage: recv_floor http://HOST[:PORT]/PATH\n");
        return 2;
    }
    const std::size_t pathStart = url.find('/', prefix.size());
    const std::string authority = url.substr(prefix.size(), pathStart - prefix.size());
    const std::string path = pathStart == std::string::npos ? "/" : url.substr(pathStart);
    const std::size_t colon = authority.rfind(':');
    const std::string host = authority.substr(0, colon);
    const std::string port = colon == std::string::npos ? "80" : authority.substr(colon + 1);

    const auto start = std::chrono::steady_clock::now();
    const int fd = connectTo(host, port);
    if (fd < 0) {
        std::fprintf(stderr, "recv_floor: cannot connect to %s\n", authority.c_str());
        return 1;
    }
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return 1;

    std::vector<char> buffer(65536);
    std::string header;
    bool inHeader = true;
    long long expected = -1;  // -1: up to the close
    long long body = 0;
    while (expected < 0 || body < expected) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        if (!inHeader) {
            body += n;
            continue;
        }
        // Once per response: the header's end and its Content-Length.
        header.append(buffer.data(), static_cast<std::size_t>(n));
        const std::size_t end = header.find("\r\n\r\n");
        if (end == std::string::npos) continue;
        inHeader = false;
        body = static_cast<long long>(header.size() - end - 4);
        header.resize(end);
        for (char& c : header) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t length = header.find("\r\ncontent-length:");
        if (length != std::string::npos) expected = std::atoll(header.c_str() + length + 17);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    std::printf("bytes=%lld elapsed=%.6f\n", body, elapsed);
    return inHeader || (expected >= 0 && body < expected) ? 1 : 0;
}
