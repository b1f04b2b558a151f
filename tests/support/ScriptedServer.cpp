#include "ScriptedServer.h"

#include <algorithm>
#include <chrono>

#include "SocketShim.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace testsupport;

template <class T>
int SetOption(intptr_t socket, int level, int name, const T& value) {
    return setsockopt(Native(socket), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

// ---- Script ----------------------------------------------------------------

ScriptedServer::Script& ScriptedServer::Script::Add(Step step) {
    steps.push_back(std::move(step));
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::AwaitRequest() { return Add({Kind::AwaitRequest, {}, 0, 0}); }

ScriptedServer::Script& ScriptedServer::Script::Send(std::string bytes, size_t pieceSize, int pauseMs) {
    return Add({Kind::Send, std::move(bytes), pieceSize != 0 ? pieceSize : defaultPieceSize, pauseMs});
}

ScriptedServer::Script& ScriptedServer::Script::SendRepeated(std::string bytes, size_t times) {
    return Add({Kind::SendRepeated, std::move(bytes), 0, 0, times});
}

ScriptedServer::Script& ScriptedServer::Script::SendUrgent(char byte) {
    return Add({Kind::SendUrgent, std::string(1, byte), 0, 0});
}

ScriptedServer::Script& ScriptedServer::Script::Pause(int ms) { return Add({Kind::Pause, {}, 0, ms}); }

ScriptedServer::Script& ScriptedServer::Script::Stall(int ms) { return Add({Kind::Stall, {}, 0, ms}); }

ScriptedServer::Script& ScriptedServer::Script::Close() { return Add({Kind::Close, {}, 0, 0}); }

ScriptedServer::Script& ScriptedServer::Script::Abort() { return Add({Kind::Abort, {}, 0, 0}); }

ScriptedServer::Script& ScriptedServer::Script::FallSilent() { return Add({Kind::FallSilent, {}, 0, 0}); }

// ---- Server ----------------------------------------------------------------

ScriptedServer::ScriptedServer(Family family, int receiveBufferBytes) : family(family) {
    StartSockets();
    intptr_t wake[2];
    if (!OpenWakePair(wake)) return;
    wakeRead = wake[0];
    wakeWrite = wake[1];

    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == Family::IPv4) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(sockaddr_in);
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_loopback;
        length = sizeof(sockaddr_in6);
    }
    const intptr_t fd = OpenStreamSocket(address.ss_family);
    if (fd == kNoSocket) return;
    const int on = 1;
    SetOption(fd, SOL_SOCKET, SO_REUSEADDR, on);
    if (receiveBufferBytes > 0) SetOption(fd, SOL_SOCKET, SO_RCVBUF, receiveBufferBytes);
    if (bind(Native(fd), reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(Native(fd), 16) != 0 ||
        getsockname(Native(fd), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseSocket(fd);
        return;
    }
    port = ntohs(family == Family::IPv4 ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                        : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    listener = fd;
    acceptThread = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    if (wakeWrite != kNoSocket) Wake(wakeWrite);
    if (acceptThread.joinable()) acceptThread.join();
    // Only the accept thread adds connections, and it has ended.
    for (auto& connection : connections) {
        if (connection->thread.joinable()) connection->thread.join();
    }
    if (listener != kNoSocket) CloseSocket(listener);
    if (wakeRead != kNoSocket) CloseSocket(wakeRead);
    if (wakeWrite != kNoSocket) CloseSocket(wakeWrite);
    StopSockets();
}

void ScriptedServer::Add(Script script) {
    std::lock_guard<std::mutex> hold(lock);
    scripts.push_back(std::move(script));
}

size_t ScriptedServer::Accepted() const {
    std::lock_guard<std::mutex> hold(lock);
    return connections.size();
}

std::string ScriptedServer::Received(size_t k) const {
    std::lock_guard<std::mutex> hold(lock);
    return k < connections.size() ? connections[k]->received : std::string();
}

template <class Ready>
bool ScriptedServer::WaitUntil(int timeoutMs, Ready ready) const {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), ready);
}

bool ScriptedServer::WaitReceived(size_t k, size_t bytes, int timeoutMs) const {
    return WaitUntil(timeoutMs, [&] { return k < connections.size() && connections[k]->received.size() >= bytes; });
}

bool ScriptedServer::WaitSteps(size_t k, size_t steps, int timeoutMs) const {
    return WaitUntil(timeoutMs, [&] { return k < connections.size() && connections[k]->stepsDone >= steps; });
}

bool ScriptedServer::WaitClosed(size_t k, int timeoutMs) const {
    return WaitUntil(timeoutMs, [&] { return k < connections.size() && connections[k]->closed; });
}

std::vector<std::string> ScriptedServer::Problems() const {
    std::lock_guard<std::mutex> hold(lock);
    return problems;
}

void ScriptedServer::Problem(size_t k, const std::string& text) {
    std::lock_guard<std::mutex> hold(lock);
    problems.push_back("connection " + std::to_string(k) + ": " + text);
}

int ScriptedServer::WaitFor(intptr_t fd, short events, int timeoutMs) const {
    pollfd entries[2] = {{Native(wakeRead), POLLIN, 0}, {Native(fd), events, 0}};
    const int rc = PollSockets(entries, fd != kNoSocket ? 2 : 1, timeoutMs);
    if (rc < 0) return Interrupted(SocketError()) ? 0 : -1;
    if (entries[0].revents != 0) return -1;
    return rc > 0 ? 1 : 0;
}

void ScriptedServer::AcceptLoop() {
    for (;;) {
        if (WaitFor(listener, POLLIN, -1) < 0) return;
        const intptr_t fd = AcceptSocket(listener);
        if (fd == kNoSocket) continue;
        MakeNonBlocking(fd);
        const int on = 1;
        SetOption(fd, IPPROTO_TCP, TCP_NODELAY, on);  // every piece its own segment

        std::lock_guard<std::mutex> hold(lock);
        const size_t k = connections.size();
        connections.push_back(std::make_unique<Connection>());
        Connection& connection = *connections.back();
        connection.fd = fd;
        Script script = k < scripts.size() ? scripts[k] : Script().Abort();
        if (k >= scripts.size()) problems.push_back("connection " + std::to_string(k) + ": no script");
        connection.thread = std::thread([this, k, &connection, script] { Play(k, connection, script); });
        changed.notify_all();
    }
}

bool ScriptedServer::ReadSome(Connection& connection) {
    char buffer[4096];
    int n;
    int error = 0;
    do {
        n = static_cast<int>(recv(Native(connection.fd), buffer, sizeof buffer, kDontWait));
        error = n < 0 ? SocketError() : 0;
    } while (n < 0 && Interrupted(error));
    if (n < 0 && WouldBlock(error)) return true;
    if (n <= 0) return false;
    std::lock_guard<std::mutex> hold(lock);
    connection.received.append(buffer, static_cast<size_t>(n));
    changed.notify_all();
    return true;
}

bool ScriptedServer::ReadFor(Connection& connection, int ms, bool& peerOpen) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const int left = MillisecondsLeft(deadline);
        const int ready = WaitFor(peerOpen ? connection.fd : -1, POLLIN, left);
        if (ready < 0) return false;
        if (ready == 0 && left == 0) return true;
        if (ready > 0 && !ReadSome(connection)) peerOpen = false;
    }
}

bool ScriptedServer::SendAll(size_t k, Connection& connection, const char* data, size_t length) {
    while (length > 0) {
        const int ready = WaitFor(connection.fd, POLLOUT, kWaitMs);
        if (ready < 0) return false;
        if (ready == 0) {
            Problem(k, "client took no bytes for " + std::to_string(kWaitMs) + " ms");
            return false;
        }
        const int piece = static_cast<int>(std::min<size_t>(length, 1 << 30));
        const int n = static_cast<int>(send(Native(connection.fd), data, piece, kNoSignal | kDontWait));
        if (n < 0) {
            const int error = SocketError();
            if (WouldBlock(error) || Interrupted(error)) continue;
            return false;  // the client has gone; the test sees what it got
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

void ScriptedServer::Finish(Connection& connection, Script::Kind how) {
    if (how == Script::Kind::Abort) {
        linger reset{};
        reset.l_onoff = 1;
        reset.l_linger = 0;
        SetOption(connection.fd, SOL_SOCKET, SO_LINGER, reset);
    } else {
        // Close ends only the sending direction and reads on until the client
        // closes: closing with unread bytes would send a reset, which can
        // destroy bytes the client has not read yet. FallSilent just reads on.
        if (how == Script::Kind::Close) shutdown(Native(connection.fd), kShutdownSend);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
        for (;;) {
            const int left = how == Script::Kind::Close ? MillisecondsLeft(deadline) : -1;
            if (WaitFor(connection.fd, POLLIN, left) <= 0 || !ReadSome(connection)) break;
        }
    }
    CloseSocket(connection.fd);
    std::lock_guard<std::mutex> hold(lock);
    connection.closed = true;
    changed.notify_all();
}

void ScriptedServer::Play(size_t k, Connection& connection, Script script) {
    size_t searchFrom = 0;  // where the next request may end
    bool peerOpen = true;
    for (const Script::Step& step : script.steps) {
        bool carryOn = true;
        switch (step.kind) {
            case Script::Kind::AwaitRequest: {
                const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
                for (;;) {
                    {
                        std::lock_guard<std::mutex> hold(lock);
                        const size_t end = connection.received.find("\r\n\r\n", searchFrom);
                        if (end != std::string::npos) {
                            searchFrom = end + 4;
                            break;
                        }
                    }
                    const int ready = peerOpen ? WaitFor(connection.fd, POLLIN, MillisecondsLeft(deadline)) : -1;
                    if (ready == 0) Problem(k, "no complete request within " + std::to_string(kWaitMs) + " ms");
                    if (ready > 0 && ReadSome(connection)) continue;
                    if (ready > 0) Problem(k, "client closed before the request was complete");
                    carryOn = false;
                    break;
                }
                break;
            }
            case Script::Kind::Send: {
                const size_t piece = step.pieceSize == 0 ? std::max<size_t>(step.bytes.size(), 1) : step.pieceSize;
                for (size_t at = 0; carryOn && at < step.bytes.size(); at += piece) {
                    const size_t length = std::min(piece, step.bytes.size() - at);
                    carryOn = SendAll(k, connection, step.bytes.data() + at, length);
                    if (carryOn && step.ms > 0 && at + length < step.bytes.size())
                        carryOn = ReadFor(connection, step.ms, peerOpen);
                }
                break;
            }
            case Script::Kind::SendRepeated:
                for (size_t time = 0; carryOn && time < step.times; ++time)
                    carryOn = SendAll(k, connection, step.bytes.data(), step.bytes.size());
                break;
            case Script::Kind::SendUrgent:
                carryOn = send(Native(connection.fd), step.bytes.data(), 1, MSG_OOB | kNoSignal) == 1;
                break;
            case Script::Kind::Pause:
                carryOn = ReadFor(connection, step.ms, peerOpen);
                break;
            case Script::Kind::Stall:
                carryOn = WaitFor(-1, 0, step.ms) == 0;
                break;
            case Script::Kind::Close:
            case Script::Kind::Abort:
            case Script::Kind::FallSilent:
                {
                    std::lock_guard<std::mutex> hold(lock);
                    ++connection.stepsDone;
                    changed.notify_all();
                }
                Finish(connection, step.kind);
                return;
        }
        if (!carryOn) break;
        std::lock_guard<std::mutex> hold(lock);
        ++connection.stepsDone;
        changed.notify_all();
    }
    Finish(connection, Script::Kind::Close);
}
