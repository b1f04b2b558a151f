#pragma once

// A plain TCP client on 127.0.0.1 for tests that talk to a server byte for
// byte. Every receive waits at most 10 seconds. POSIX only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

class LoopbackClient {
public:
    explicit LoopbackClient(int port) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval timeout{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
    ~LoopbackClient() { ::close(fd); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    void send(const std::string& bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

    // Everything up to and including `delimiter`; what came so far when the
    // peer closes or falls silent.
    std::string readThrough(const std::string& delimiter) {
        std::size_t end;
        while ((end = pending.find(delimiter)) == std::string::npos && fill()) {
        }
        end = end == std::string::npos ? pending.size() : end + delimiter.size();
        return take(end);
    }
    std::string readExactly(std::size_t count) {
        while (pending.size() < count && fill()) {
        }
        return take(std::min(count, pending.size()));
    }
    // Everything until the peer closes; `closed` tells whether it did.
    std::string readToEnd(bool& closed) {
        while (fill()) {
        }
        closed = peerClosed;
        return take(pending.size());
    }

private:
    bool fill() {
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            peerClosed = n == 0;
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    std::string take(std::size_t count) {
        std::string front = pending.substr(0, count);
        pending.erase(0, count);
        return front;
    }

    int fd = -1;
    std::string pending;
    bool peerClosed = false;
};

// One HTTP response read whole: the header, and the body when the header
// gives its Content-Length (otherwise the body is left to the caller).
struct RawResponse {
    std::string header;
    std::string body;

    int status() const { return header.size() > 12 ? std::atoi(header.substr(9, 3).c_str()) : 0; }
    // The values of every header field of that name (any letter case), in order.
    std::vector<std::string> fields(const std::string& name) const {
        std::vector<std::string> values;
        std::string lowered = header;
        for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string key = "\r\n" + name + ":";
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (std::size_t at = lowered.find(key); at != std::string::npos; at = lowered.find(key, at + 1)) {
            std::size_t begin = at + key.size();
            while (begin < header.size() && header[begin] == ' ') ++begin;
            values.push_back(header.substr(begin, header.find("\r\n", begin) - begin));
        }
        return values;
    }
};

inline RawResponse readHttpResponse(LoopbackClient& client) {
    RawResponse r;
    r.header = client.readThrough("\r\n\r\n");
    const std::vector<std::string> length = r.fields("Content-Length");
    if (!length.empty()) r.body = client.readExactly(std::stoul(length[0]));
    return r;
}

}  // namespace testsupport
