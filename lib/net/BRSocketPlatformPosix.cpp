#include "net/BRSocketPlatform.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace {

int Descriptor(BRSocketPlatform::Handle handle) { return static_cast<int>(handle); }

}  // namespace

// POSIX sockets need no start-up.
void BRSocketPlatform::StartLibrary() {}

void BRSocketPlatform::StopLibrary() {}

bool BRSocketPlatform::Resolve(const std::string& host, const std::string& service,
                               std::vector<Endpoint>& endpoints, std::string& errorText) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = 0;
    hints.ai_flags = 0;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        // strerror's text may be overwritten by another thread; the category's is
        // a string of its own.
        errorText = rc == EAI_SYSTEM ? std::generic_category().message(errno) : gai_strerror(rc);
        return false;
    }
    TakeEndpoints(list, endpoints);
    freeaddrinfo(list);
    return true;
}

BRSocketPlatform::Handle BRSocketPlatform::Open(const Endpoint& endpoint) {
    const int fd = socket(endpoint.family, endpoint.type | SOCK_CLOEXEC, endpoint.protocol);
    return fd < 0 ? kNone : fd;
}

bool BRSocketPlatform::Connect(Handle handle, const Endpoint& endpoint, int32_t milliseconds) {
    // A blocking connect to a host that drops the attempts waits for the
    // system's own limit (minutes): connect without waiting, then wait for
    // the outcome at most `milliseconds`.
    const int fd = Descriptor(handle);
    const int modes = fcntl(fd, F_GETFL);
    if (modes < 0 || fcntl(fd, F_SETFL, modes | O_NONBLOCK) != 0) return false;
    const auto* address = reinterpret_cast<const sockaddr*>(endpoint.address.data());
    const auto length = static_cast<socklen_t>(endpoint.address.size());
    bool connected = connect(fd, address, length) == 0;
    // Interrupted, a non-blocking connect goes on in the background like one
    // in progress.
    if (!connected && (errno == EINPROGRESS || errno == EINTR)) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd entry{};
            entry.fd = fd;
            entry.events = POLLOUT;
            const int rc = poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
            if (rc < 0 && errno == EINTR) continue;
            if (rc <= 0) {
                if (rc == 0) errno = ETIMEDOUT;
                break;
            }
            int error = 0;
            socklen_t size = sizeof error;
            // A reset means the peer accepted and then dropped the
            // connection: it was made, and the first receive reports the rest.
            connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
                        (error == 0 || error == ECONNRESET || error == EPIPE);
            if (!connected) errno = error;
            break;
        }
    }
    const int error = errno;
    if (fcntl(fd, F_SETFL, modes) != 0) connected = false;  // receives rely on blocking mode
    errno = error;
    return connected;
}

void BRSocketPlatform::ShutdownBoth(Handle handle) { shutdown(Descriptor(handle), SHUT_RDWR); }

void BRSocketPlatform::Close(Handle handle) { close(Descriptor(handle)); }

int64_t BRSocketPlatform::Send(Handle handle, const char* data, int32_t length) {
    if (length < 0) length = 0;
    // MSG_NOSIGNAL: a peer that has gone must yield an error, not kill the
    // process with SIGPIPE. MSG_DONTWAIT: a peer that stops reading must not
    // freeze the caller; what the system does not take stays with the owner.
    return send(Descriptor(handle), data, static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
}

int64_t BRSocketPlatform::Receive(Handle handle, char* buffer, int32_t capacity) {
    if (capacity < 0) capacity = 0;
    return recv(Descriptor(handle), buffer, static_cast<size_t>(capacity), 0);
}

bool BRSocketPlatform::WaitReadable(Handle handle, int32_t milliseconds) {
    if (handle == kNone) return false;
    // poll, unlike select, works for descriptors of any number. Urgent data
    // alone does not count: a receive would then block with nothing to read.
    // End of stream and errors are reported as readable (POLLIN, POLLHUP,
    // POLLERR), so a closed peer is noticed at once.
    pollfd entry{};
    entry.fd = Descriptor(handle);
    entry.events = POLLIN;
    const int rc = poll(&entry, 1, milliseconds < 0 ? 0 : milliseconds);
    return rc > 0 && (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

int BRSocketPlatform::LastError() { return errno; }
