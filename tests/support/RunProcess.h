#pragma once

// Runs a program to its end in a given folder with extra environment entries,
// collecting its standard output and standard error. Every wait is bounded: a
// program still running when the time is up is killed and reported so.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

struct ProcessResult {
    bool finished = false;  // ended by itself within the time
    int exitCode = -1;      // its exit code; -1 when killed by a signal
    std::string out;
    std::string err;
};

inline ProcessResult RunProcess(std::vector<std::string> arguments, const std::string& folder,
                                std::vector<std::string> environment = {}, int seconds = 30) {
    // Everything the child needs is built before fork: tests have threads, so
    // the child may only make system calls until exec.
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);

    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    auto millisecondsLeft = [&] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    };
    // Both outputs are read as they come, so that a full pipe never stalls it.
    pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* texts[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const int left = millisecondsLeft();
        if (left == 0 || ::poll(streams, 2, left) <= 0) break;
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = ::read(streams[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                texts[i]->append(buffer, static_cast<size_t>(n));
            } else {
                ::close(streams[i].fd);
                streams[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            result.finished = true;
            break;
        }
        if (done < 0 || millisecondsLeft() == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (result.finished && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    for (const pollfd& s : streams)
        if (s.fd >= 0) ::close(s.fd);
    return result;
}

}  // namespace testsupport
