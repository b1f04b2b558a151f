#pragma once

// Helpers for the tests of the programs in tools/: a loopback client with
// bounded waits and a decoder run through djpeg, besides the child process
// and the temporary folder of tests/support.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "TempDir.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tooltest {

using testsupport::ChildProcess;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// A plain TCP client on 127.0.0.1; every receive waits at most 10 seconds.
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

// camera_server started on a free port with the given options; it ends
// itself after a minute at the latest.
struct CameraServerProcess {
    explicit CameraServerProcess(std::vector<std::string> options) : process(withProgram(std::move(options))) {
        const std::string line = process.firstLine();
        const std::string prefix = "listening on ";
        if (line.compare(0, prefix.size(), prefix) != 0) throw std::runtime_error("server said: " + line);
        port = std::stoi(line.substr(prefix.size()));
    }
    static std::vector<std::string> withProgram(std::vector<std::string> options) {
        options.insert(options.begin(), {CAMERA_SERVER, "--port", "0", "--exit-after", "60"});
        return options;
    }
    ChildProcess process;
    int port = 0;
};

inline std::string get(const std::string& path) { return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }

struct DecodedPicture {
    bool ok = false;          // djpeg exited 0 and printed nothing
    std::string diagnostics;  // what djpeg printed
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

// Decodes JPEG bytes with djpeg into grey levels.
inline DecodedPicture decodeWithDjpeg(const std::string& jpeg) {
    DecodedPicture picture;
    TempDir dir;
    writeFile(dir / "in.jpg", jpeg);
    const std::string command = std::string("'") + NILO_DJPEG + "' -grayscale -pnm -outfile '" + (dir / "out.pgm") +
                                "' '" + (dir / "in.jpg") + "' 2>'" + (dir / "err.txt") + "'";
    const int status = std::system(command.c_str());
    picture.diagnostics = readFile(dir / "err.txt");
    picture.ok = status == 0 && picture.diagnostics.empty();
    std::istringstream pgm(readFile(dir / "out.pgm"));
    std::string magic;
    int maximum = 0;
    if (!(pgm >> magic >> picture.width >> picture.height >> maximum) || magic != "P5" || maximum != 255) {
        picture.ok = false;
        return picture;
    }
    pgm.get();  // the single white space before the samples
    picture.pixels.resize(static_cast<std::size_t>(picture.width) * picture.height);
    pgm.read(reinterpret_cast<char*>(picture.pixels.data()), static_cast<std::streamsize>(picture.pixels.size()));
    if (pgm.gcount() != static_cast<std::streamsize>(picture.pixels.size())) picture.ok = false;
    return picture;
}

}  // namespace tooltest
