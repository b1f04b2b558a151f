#pragma once

// Runs a program to its end in a given folder with extra environment entries,
// collecting its standard output and standard error. Every wait is bounded: a
// program still running when the time is up is killed and reported so.

#if defined(_WIN32)
#include <windows.h>

#include <condition_variable>
#include <cwchar>
#include <memory>
#include <mutex>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct ProcessResult {
    bool finished = false;  // ended by itself within the time
    int exitCode = -1;      // its exit code; -1 when killed by a signal (or, on Windows, when killed here)
    std::string out;
    std::string err;
};

#if defined(_WIN32)

namespace runprocess {

inline std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

// One argument as the C runtime of the child splits its command line: quoted
// when it has spaces, tabs or quotes (or is empty); a quote is escaped with a
// backslash, and backslashes are doubled only where a quote follows them.
inline void AppendArgument(std::wstring& line, const std::wstring& argument) {
    if (!line.empty()) line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

inline std::wstring VariableName(const std::wstring& entry) {
    // Skip the first character: the hidden per-drive entries start with '='.
    return entry.substr(0, entry.find(L'=', 1));
}

// The current environment with `extra` ("NAME=value") added; an extra entry
// replaces one of the same name, which Windows compares ignoring case. The
// block is sorted by name, as Windows expects, and ends with an empty entry.
inline std::vector<wchar_t> EnvironmentBlock(const std::vector<std::string>& extra) {
    std::vector<std::wstring> added;
    for (const auto& e : extra) added.push_back(Wide(e));
    auto sameName = [](const std::wstring& a, const std::wstring& b) {
        return _wcsicmp(VariableName(a).c_str(), VariableName(b).c_str()) == 0;
    };
    std::vector<std::wstring> entries;
    if (wchar_t* current = GetEnvironmentStringsW()) {
        for (const wchar_t* e = current; *e != L'\0'; e += std::wcslen(e) + 1) {
            const std::wstring entry(e);
            if (std::none_of(added.begin(), added.end(), [&](const std::wstring& a) { return sameName(a, entry); }))
                entries.push_back(entry);
        }
        FreeEnvironmentStringsW(current);
    }
    entries.insert(entries.end(), added.begin(), added.end());
    std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return _wcsicmp(VariableName(a).c_str(), VariableName(b).c_str()) < 0;
    });
    std::vector<wchar_t> block;
    for (const auto& e : entries) {
        block.insert(block.end(), e.begin(), e.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    if (entries.empty()) block.push_back(L'\0');
    return block;
}

// The text read from one pipe by a thread of its own, so that neither
// output can fill its pipe and stall the child while the other is read.
// The state is shared with the thread: if something the child started keeps
// the pipe open past the time limit, the thread is left to finish alone.
struct PipeText {
    explicit PipeText(HANDLE p) : pipe(p) {}
    ~PipeText() { CloseHandle(pipe); }
    PipeText(const PipeText&) = delete;
    PipeText& operator=(const PipeText&) = delete;

    HANDLE pipe;
    std::mutex lock;
    std::condition_variable ended;
    std::string text;
    bool done = false;
};

inline void ReadAll(std::shared_ptr<PipeText> pipe) {
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(pipe->pipe, buffer, sizeof buffer, &n, nullptr)) {
        const std::lock_guard<std::mutex> hold(pipe->lock);
        pipe->text.append(buffer, n);
    }
    const std::lock_guard<std::mutex> hold(pipe->lock);
    pipe->done = true;
    pipe->ended.notify_all();
}

class PipeReader {
public:
    explicit PipeReader(HANDLE readEnd) : pipe(std::make_shared<PipeText>(readEnd)), thread(ReadAll, pipe) {}
    ~PipeReader() {
        if (thread.joinable()) thread.detach();
    }
    PipeReader(const PipeReader&) = delete;
    PipeReader& operator=(const PipeReader&) = delete;

    // What was read when the pipe ends or at `deadline`, whichever is first.
    std::string Text(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock<std::mutex> hold(pipe->lock);
        const bool done = pipe->ended.wait_until(hold, deadline, [&] { return pipe->done; });
        std::string text = pipe->text;
        hold.unlock();
        if (done) thread.join();
        return text;
    }

private:
    std::shared_ptr<PipeText> pipe;
    std::thread thread;
};

// An anonymous pipe whose write end the child inherits and whose read end it
// does not.
inline void OpenPipe(HANDLE& readEnd, HANDLE& writeEnd) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) throw std::runtime_error("pipe failed");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
}

}  // namespace runprocess

inline ProcessResult RunProcess(std::vector<std::string> arguments, const std::string& folder,
                                std::vector<std::string> environment = {}, int seconds = 30) {
    using namespace runprocess;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    auto millisecondsLeft = [&] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        return left > 0 ? static_cast<DWORD>(left) : DWORD{0};
    };

    std::wstring commandLine;
    for (const auto& a : arguments) AppendArgument(commandLine, Wide(a));
    const std::wstring program = Wide(arguments.at(0));
    const std::wstring workingFolder = Wide(folder);
    std::vector<wchar_t> environmentBlock = EnvironmentBlock(environment);

    HANDLE outRead = nullptr;
    HANDLE outWrite = nullptr;
    HANDLE errRead = nullptr;
    HANDLE errWrite = nullptr;
    OpenPipe(outRead, outWrite);
    try {
        OpenPipe(errRead, errWrite);
    } catch (...) {
        CloseHandle(outRead);
        CloseHandle(outWrite);
        throw;
    }
    // The child reads nothing: its standard input is the null device.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION child{};
    // Started suspended so that it is in the job before it can start anything.
    const BOOL started =
        CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED | CREATE_NO_WINDOW, environmentBlock.data(),
                       workingFolder.c_str(), &startup, &child);
    const DWORD startError = GetLastError();
    // Only the child holds the write ends now: the pipes end when it does.
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (!started) {
        CloseHandle(outRead);
        CloseHandle(errRead);
        throw std::runtime_error("cannot start " + arguments[0] + ": error " + std::to_string(startError));
    }

    // The job kills the child, and whatever it started, when its handle is
    // closed: at the end of this function or when the test process dies.
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        AssignProcessToJobObject(job, child.hProcess);
    }
    PipeReader out(outRead);
    PipeReader err(errRead);
    ResumeThread(child.hThread);
    CloseHandle(child.hThread);

    ProcessResult result;
    if (WaitForSingleObject(child.hProcess, millisecondsLeft()) == WAIT_OBJECT_0) {
        DWORD code = 0;
        result.finished = GetExitCodeProcess(child.hProcess, &code) != 0;
        // A crash ends with an exception code, such as 0xC0000005: negative here.
        if (result.finished) result.exitCode = static_cast<int>(code);
    } else {
        TerminateProcess(child.hProcess, 1);
        WaitForSingleObject(child.hProcess, 5000);
    }
    CloseHandle(child.hProcess);
    if (job != nullptr) CloseHandle(job);

    // The output written before the end is in the pipes still: a moment more
    // to read it, even when the time is up.
    const auto readUntil = std::max(deadline, std::chrono::steady_clock::now()) + std::chrono::seconds(1);
    result.out = out.Text(readUntil);
    result.err = err.Text(readUntil);
    return result;
}

#else

inline ProcessResult RunProcess(std::vector<std::string> arguments, const std::string& folder,
                                std::vector<std::string> environment = {}, int seconds = 30) {
    // Everything the child needs is built before fork: tests have threads, so
    // the child may only make system calls until exec.
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    // An extra entry replaces an inherited one of the same name: getenv finds
    // the first, so a variable set in the developer's shell would win.
    auto nameOf = [](const char* entry) {
        const char* equals = std::strchr(entry, '=');
        return std::string(entry, equals != nullptr ? static_cast<size_t>(equals - entry) : std::strlen(entry));
    };
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string name = nameOf(*e);
        const bool replaced = std::any_of(environment.begin(), environment.end(),
                                          [&](const std::string& extra) { return nameOf(extra.c_str()) == name; });
        if (!replaced) envp.push_back(*e);
    }
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

#endif

}  // namespace testsupport
