#pragma once

// Helpers for the tests of the programs in tools/: a child process whose
// first output line is read with a bound, a temporary folder, a loopback
// client with bounded waits, and a decoder run through djpeg.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tooltest {

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "nilo-tools-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// Runs a program with arguments; killed when the object goes (or the test
// process dies). firstLine() waits at most `seconds` for its first line.
class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> arguments) {
        std::vector<char*> argv;  // built before fork: the child only calls exec
        for (auto& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
        pid = ::fork();
        if (pid < 0) throw std::runtime_error("fork failed");
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        output = fds[0];
    }
    ~ChildProcess() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(output);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    std::string firstLine(int seconds = 10) {
        std::string line;
        char c = 0;
        while (line.empty() || line.back() != '\n') {
            pollfd p{output, POLLIN, 0};
            if (::poll(&p, 1, seconds * 1000) <= 0 || ::read(output, &c, 1) != 1) return line;
            line += c;
        }
        line.pop_back();
        return line;
    }

private:
    pid_t pid = -1;
    int output = -1;
};

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
