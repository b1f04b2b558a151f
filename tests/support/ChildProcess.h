#pragma once

// A program run as a child process for as long as a test needs it, such as a
// server: its first output line is read with a bound, and it is killed when
// the object goes (or when the test process dies).

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

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

    // The first line of standard output, without its line end; what came so
    // far when `seconds` pass or the program closes its output first.
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

}  // namespace testsupport
