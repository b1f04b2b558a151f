#pragma once

// A server program (nginx, Apache httpd, ffmpeg) started by a test on a free
// loopback port, with a configuration the test writes for that port.
//
//   ServerProcess server([&](int port) { WriteConfig(port); return std::vector<std::string>{...}; }, logPath);
//   ASSERT_TRUE(server.Running()) << server.Failure();
//
// Readiness is read from the system's socket tables (/proc/net/tcp and
// /proc/net/tcp6): a socket of the server in LISTEN state on the port.
// Nothing connects to it, because some servers (ffmpeg -listen 1) serve
// exactly one client. Every wait is bounded, and the wait ends early when the
// server exits; a server that exits before it listens (the port was taken
// meanwhile, say) is started again on another port, a few times. Linux only.

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class ServerProcess {
public:
    // Writes whatever configuration names the port and returns the command
    // line (the program by its full path first).
    using Command = std::function<std::vector<std::string>(int port)>;

    // The server's standard output and standard error go to logPath.
    ServerProcess(const Command& command, const std::string& logPath, int attempts = 5, int waitMs = 10000)
        : log(logPath) {
        for (int attempt = 0; attempt < attempts && pid <= 0; ++attempt) {
            const int candidate = FreePort();
            Start(command(candidate));
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
            for (;;) {
                std::string how;
                if (Exited(how)) {
                    failure = "exited before listening on port " + std::to_string(candidate) + " (" + how +
                              "); its output:\n" + Tail();
                    Reap();
                    break;  // perhaps the port was taken: another one
                }
                if (Listening(candidate, pid)) {
                    port = candidate;
                    failure.clear();
                    return;
                }
                if (std::chrono::steady_clock::now() > deadline) {
                    Stop();
                    failure = "did not listen on port " + std::to_string(candidate) + " within " +
                              std::to_string(waitMs) + " ms; its output:\n" + Tail();
                    return;  // not a port clash: trying again would not help
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    }
    ~ServerProcess() { Stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool Running() const { return pid > 0; }
    int Port() const { return port; }
    // Why the server is not running, with the end of its output.
    const std::string& Failure() const { return failure; }

    // Ends the server and whatever it started: SIGTERM to its process group,
    // SIGKILL after 5 seconds.
    void Stop() {
        if (pid <= 0) return;
        ::kill(-pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::string how;
        while (!Exited(how) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Reap();
    }

    // Whether a socket listens on the TCP port (any local address, IPv4 or
    // IPv6); with an owner, only a socket that process holds counts.
    static bool Listening(int port, pid_t owner = 0) {
        std::set<std::string> inodes;
        for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
            std::ifstream in(table);
            std::string line;
            std::getline(in, line);  // the column names
            while (std::getline(in, line)) {
                // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode
                std::istringstream fields(line);
                std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
                if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >>
                      inode))
                    continue;
                const size_t colon = local.rfind(':');
                if (state != "0A" || colon == std::string::npos) continue;  // 0A: LISTEN
                if (std::stoi(local.substr(colon + 1), nullptr, 16) == port) inodes.insert(inode);
            }
        }
        if (owner <= 0 || inodes.empty()) return !inodes.empty();
        const std::string fds = "/proc/" + std::to_string(owner) + "/fd";
        DIR* dir = ::opendir(fds.c_str());
        if (dir == nullptr) return false;
        bool found = false;
        while (dirent* entry = ::readdir(dir)) {
            char target[64] = {};
            const std::string path = fds + "/" + entry->d_name;
            if (::readlink(path.c_str(), target, sizeof target - 1) <= 0) continue;
            const std::string link = target;  // "socket:[inode]"
            if (link.compare(0, 8, "socket:[") == 0 && inodes.count(link.substr(8, link.size() - 9)) > 0) found = true;
        }
        ::closedir(dir);
        return found;
    }

    // A loopback port that nothing listened on a moment ago.
    static int FreePort() {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            if (s >= 0) ::close(s);
            throw std::runtime_error("no free loopback port");
        }
        ::close(s);
        return ntohs(address.sin_port);
    }

private:
    void Start(std::vector<std::string> arguments) {
        // Everything the child needs is built before fork: tests have threads.
        std::vector<char*> argv;
        for (auto& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid = ::fork();
        if (pid < 0) throw std::runtime_error("fork failed");
        if (pid == 0) {
            ::setpgid(0, 0);  // its own group, so that Stop reaches its workers
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int input = ::open("/dev/null", O_RDONLY);
            ::dup2(input, STDIN_FILENO);
            if (output >= 0) {
                ::dup2(output, STDOUT_FILENO);
                ::dup2(output, STDERR_FILENO);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::setpgid(pid, pid);  // also here, so that Stop cannot run before the child set it
        if (output >= 0) ::close(output);
    }

    // Whether the server has ended, without reaping it: while it is not
    // reaped its process group cannot be taken by another.
    bool Exited(std::string& how) const {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != pid)
            return false;
        how = (info.si_code == CLD_EXITED ? "exit status " : "signal ") + std::to_string(info.si_status);
        return true;
    }

    // Kills whatever is left of the server's process group (the server
    // itself, or workers that outlived it) and reaps the server.
    void Reap() {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }

    // The last lines of the server's output.
    std::string Tail() const {
        std::ifstream in(log, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        const std::string all = text.str();
        return all.size() > 4000 ? all.substr(all.size() - 4000) : all;
    }

    std::string log;
    pid_t pid = -1;
    int port = 0;
    std::string failure = "not started";
};

}  // namespace testsupport
