#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

// A loopback TCP server that plays scripts, for tests that need a real peer.
//
//   ScriptedServer server;                          // 127.0.0.1, ephemeral port
//   server.Add(ScriptedServer::Script().AwaitRequest().Send(response).Close());
//   ... connect to server.Host() : server.Port() ...
//   EXPECT_EQ(server.Received(0), request);
//
// Connection k (counted from 0 in the order of acceptance) plays the k-th
// script added; add the scripts before the client connects. A connection
// without a script is closed at once. Every connection runs on its own thread
// and records every byte it receives. Every wait is bounded by kWaitMs or by
// the server's lifetime: the destructor wakes all threads, closes every
// connection and joins.
class ScriptedServer {
public:
    static constexpr int kWaitMs = 5000;

    class Script {
    public:
        // pieceSize: the piece size of Send steps that name none (0 = whole);
        // Script(1) sends every response one byte per send.
        explicit Script(size_t pieceSize = 0) : defaultPieceSize(pieceSize) {}

        // Reads until "\r\n\r\n" has arrived (after the end of the previous
        // request). Gives up after kWaitMs or when the client closes.
        Script& AwaitRequest();
        // Sends the bytes in pieces of pieceSize bytes (0 = the script's
        // default), pausing pauseMs between pieces, each piece its own send.
        Script& Send(std::string bytes, size_t pieceSize = 0, int pauseMs = 0);
        // Sends the bytes `times` times over, each time whole: a long stream
        // without a long string in memory.
        Script& SendRepeated(std::string bytes, size_t times);
        // Sends one byte of urgent (out-of-band) data.
        Script& SendUrgent(char byte);
        // Waits, still reading and recording.
        Script& Pause(int ms);
        // Waits without reading, so that the client's sends fill the window.
        Script& Stall(int ms);
        // Ends sending (the client sees end of stream), keeps reading until the
        // client closes or kWaitMs pass, then closes. Also the end of every
        // script that ends without Close, Abort or FallSilent.
        Script& Close();
        // Closes with a reset: the client's next receive or send fails.
        Script& Abort();
        // Keeps the connection open, sending nothing, until the client closes
        // or the server is destroyed.
        Script& FallSilent();

    private:
        friend class ScriptedServer;
        enum class Kind { AwaitRequest, Send, SendRepeated, SendUrgent, Pause, Stall, Close, Abort, FallSilent };
        struct Step {
            Kind kind;
            std::string bytes;
            size_t pieceSize = 0;
            int ms = 0;
            size_t times = 1;
        };
        Script& Add(Step step);

        size_t defaultPieceSize;
        std::vector<Step> steps;
    };

    enum class Family { IPv4, IPv6 };

    // receiveBufferBytes > 0 sets the accepted sockets' receive buffer
    // (SO_RCVBUF), to make a client's sends fill the window sooner.
    explicit ScriptedServer(Family family = Family::IPv4, int receiveBufferBytes = 0);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // False when the address family is not available here; tests then skip.
    bool Listening() const { return listener != -1; }
    int Port() const { return port; }
    std::string Host() const { return family == Family::IPv4 ? "127.0.0.1" : "::1"; }

    void Add(Script script);

    // A loopback port that nothing listens on: one just released by a server.
    static int UnusedPort() { return ScriptedServer().Port(); }

    size_t Accepted() const;
    // Bytes received so far on connection k (empty before it is accepted).
    std::string Received(size_t k) const;
    // Waits until connection k has received at least `bytes` bytes.
    bool WaitReceived(size_t k, size_t bytes, int timeoutMs = kWaitMs) const;
    // Waits until connection k has finished `steps` steps of its script.
    bool WaitSteps(size_t k, size_t steps, int timeoutMs = kWaitMs) const;
    // Waits until connection k has been closed by the server.
    bool WaitClosed(size_t k, int timeoutMs = kWaitMs) const;
    // Bounded waits that ran out and other things a test did not ask for.
    std::vector<std::string> Problems() const;

private:
    // Sockets are kept as intptr_t, -1 for none (see SocketShim.h).
    struct Connection {
        intptr_t fd = -1;
        std::string received;
        size_t stepsDone = 0;
        bool closed = false;
        std::thread thread;
    };

    void AcceptLoop();
    void Play(size_t k, Connection& connection, Script script);

    // Waits for `events` on fd (or only for the stop signal when fd is -1):
    // 1 ready, 0 timed out, -1 the server is stopping.
    int WaitFor(intptr_t fd, short events, int timeoutMs) const;
    // One receive; false at end of stream or on failure.
    bool ReadSome(Connection& connection);
    // Reads and records for ms (just waits once the client has closed).
    bool ReadFor(Connection& connection, int ms, bool& peerOpen);
    bool SendAll(size_t k, Connection& connection, const char* data, size_t length);
    // Ends the connection as a Close, Abort or FallSilent step does.
    void Finish(Connection& connection, Script::Kind how);
    template <class Ready>
    bool WaitUntil(int timeoutMs, Ready ready) const;
    void Problem(size_t k, const std::string& text);

    Family family;
    intptr_t listener = -1;
    int port = 0;
    intptr_t wakeRead = -1;
    intptr_t wakeWrite = -1;

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::vector<Script> scripts;
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<std::string> problems;
    std::thread acceptThread;
};

inline std::ostream& operator<<(std::ostream& out, ScriptedServer::Family family) {
    return out << (family == ScriptedServer::Family::IPv4 ? "IPv4" : "IPv6");
}
