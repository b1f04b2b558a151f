#pragma once

// A loopback port where connection attempts go unanswered, like a host that
// drops them: a listener with the smallest backlog that never accepts, its
// queue filled by connections of its own. The system then drops further
// attempts (Linux does; Windows refuses them instead, and Dropping() says
// so).

#include <cstdint>
#include <vector>

#include "SocketShim.h"

class DeadListener {
public:
    DeadListener() {
        using namespace testsupport;
        StartSockets();
        listener = OpenStreamSocket(AF_INET);
        if (listener == kNoSocket) return;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(Native(listener), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(Native(listener), 0) != 0 ||
            getsockname(Native(listener), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
        // Connect until an attempt stays unanswered; the earlier ones fill
        // the queue. All stay open as long as the listener.
        for (int attempt = 0; attempt < 8 && !dropping; ++attempt) {
            const intptr_t socket = OpenStreamSocket(AF_INET);
            if (socket == kNoSocket || !ConnectWithoutWaiting(socket, address)) return;
            fillers.push_back(socket);
            pollfd entry{};
            entry.fd = Native(socket);
            entry.events = POLLOUT;
            dropping = PollSockets(&entry, 1, 200) == 0;
        }
    }
    ~DeadListener() {
        for (intptr_t socket : fillers) testsupport::CloseSocket(socket);
        if (listener != testsupport::kNoSocket) testsupport::CloseSocket(listener);
        testsupport::StopSockets();
    }
    DeadListener(const DeadListener&) = delete;
    DeadListener& operator=(const DeadListener&) = delete;

    // Whether attempts to connect to Port() go unanswered here.
    bool Dropping() const { return dropping; }
    int Port() const { return port; }

private:
    static bool ConnectWithoutWaiting(intptr_t socket, const sockaddr_in& address) {
        using namespace testsupport;
#if defined(_WIN32)
        if (!MakeNonBlocking(socket)) return false;
#else
        if (fcntl(Native(socket), F_SETFL, fcntl(Native(socket), F_GETFL) | O_NONBLOCK) != 0) return false;
#endif
        if (connect(Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
        const int error = SocketError();
#if defined(_WIN32)
        return error == WSAEWOULDBLOCK;
#else
        return error == EINPROGRESS;
#endif
    }

    intptr_t listener = testsupport::kNoSocket;
    std::vector<intptr_t> fillers;
    int port = 0;
    bool dropping = false;
};
