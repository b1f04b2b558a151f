#pragma once

// The socket calls of the test helpers, for POSIX sockets and for Windows
// Sockets. The helpers keep a socket as an intptr_t (kNoSocket when there is
// none), so their headers need no system header.

#include <cstdint>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace testsupport {

constexpr intptr_t kNoSocket = -1;

#if defined(_WIN32)

using NativeSocket = SOCKET;

// Windows has no per-call "don't wait" or "no signal" flags: sockets that
// must not block are made non-blocking once (MakeNonBlocking), and there is
// no SIGPIPE to keep away.
constexpr int kDontWait = 0;
constexpr int kNoSignal = 0;
constexpr int kShutdownSend = SD_SEND;

inline void StartSockets() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}
inline void StopSockets() { WSACleanup(); }

inline NativeSocket Native(intptr_t socket) { return static_cast<NativeSocket>(socket); }
inline intptr_t Portable(NativeSocket socket) {
    return socket == INVALID_SOCKET ? kNoSocket : static_cast<intptr_t>(socket);
}

inline int PollSockets(pollfd* entries, unsigned count, int timeoutMs) {
    return WSAPoll(entries, count, timeoutMs);
}
inline void CloseSocket(intptr_t socket) { closesocket(Native(socket)); }
inline int SocketError() { return WSAGetLastError(); }
inline bool WouldBlock(int error) { return error == WSAEWOULDBLOCK; }
inline bool Interrupted(int error) { return error == WSAEINTR; }

inline bool MakeNonBlocking(intptr_t socket) {
    u_long on = 1;
    return ioctlsocket(Native(socket), FIONBIO, &on) == 0;
}

inline intptr_t OpenStreamSocket(int family) {
    const SOCKET socket = ::socket(family, SOCK_STREAM, 0);
    if (socket != INVALID_SOCKET) SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    return Portable(socket);
}
inline intptr_t AcceptSocket(intptr_t listener) {
    const SOCKET socket = ::accept(Native(listener), nullptr, nullptr);
    if (socket != INVALID_SOCKET) SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    return Portable(socket);
}

// A wake-up channel that poll can wait on: WSAPoll takes sockets only, so it
// is a connected loopback pair. ends[0] becomes readable after Wake(ends[1]).
inline bool OpenWakePair(intptr_t ends[2]) {
    const intptr_t listener = OpenStreamSocket(AF_INET);
    if (listener == kNoSocket) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    intptr_t reader = kNoSocket;
    intptr_t writer = kNoSocket;
    if (bind(Native(listener), reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        listen(Native(listener), 1) == 0 &&
        getsockname(Native(listener), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        writer = OpenStreamSocket(AF_INET);
        if (writer != kNoSocket && connect(Native(writer), reinterpret_cast<sockaddr*>(&address), length) == 0)
            reader = AcceptSocket(listener);
    }
    CloseSocket(listener);
    if (reader == kNoSocket) {
        if (writer != kNoSocket) CloseSocket(writer);
        return false;
    }
    ends[0] = reader;
    ends[1] = writer;
    return true;
}
inline void Wake(intptr_t writer) {
    const char stop = 's';
    send(Native(writer), &stop, 1, 0);
}

#else

using NativeSocket = int;

constexpr int kDontWait = MSG_DONTWAIT;
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kShutdownSend = SHUT_WR;

inline void StartSockets() {}
inline void StopSockets() {}

inline NativeSocket Native(intptr_t socket) { return static_cast<NativeSocket>(socket); }
inline intptr_t Portable(NativeSocket socket) { return socket < 0 ? kNoSocket : socket; }

inline int PollSockets(pollfd* entries, unsigned count, int timeoutMs) { return poll(entries, count, timeoutMs); }
inline void CloseSocket(intptr_t socket) { close(Native(socket)); }
inline int SocketError() { return errno; }
inline bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
inline bool Interrupted(int error) { return error == EINTR; }

// Sends and receives say MSG_DONTWAIT themselves.
inline bool MakeNonBlocking(intptr_t) { return true; }

inline intptr_t OpenStreamSocket(int family) { return Portable(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)); }
inline intptr_t AcceptSocket(intptr_t listener) {
    return Portable(accept4(Native(listener), nullptr, nullptr, SOCK_CLOEXEC));
}

// A wake-up channel that poll can wait on: a pipe. ends[0] becomes readable
// after Wake(ends[1]).
inline bool OpenWakePair(intptr_t ends[2]) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    ends[0] = fds[0];
    ends[1] = fds[1];
    return true;
}
inline void Wake(intptr_t writer) {
    const char stop = 's';
    while (write(Native(writer), &stop, 1) < 0 && errno == EINTR) {
    }
}

#endif

}  // namespace testsupport
