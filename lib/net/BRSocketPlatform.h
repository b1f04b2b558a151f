#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The operating system's socket interface, reduced to what BRSocketIPvx needs.
// This is the only place that talks to the system's sockets. The build picks
// one backend: BRSocketPlatformPosix.cpp (POSIX sockets) or
// BRSocketPlatformWinsock.cpp (Windows Sockets 2); the library-lifetime count
// in BRSocketPlatform.cpp is shared by both.
class BRSocketPlatform {
public:
    using Handle = intptr_t;
    static constexpr Handle kNone = -1;

    // One address offered by the resolver, ready to create and connect a socket.
    struct Endpoint {
        int family = 0;
        int type = 0;
        int protocol = 0;
        std::vector<unsigned char> address;  // the system's socket address, as is
    };

    // Socket-library lifetime: Acquire for every socket created, Release for
    // every socket destroyed. The library is started when the count leaves 0
    // and released when it returns to 0.
    static void Acquire();
    static void Release();
    static int32_t LiveSockets();
    static bool LibraryStarted();
    static int64_t LibraryStarts();  // how often it was started, ever

    // Resolves host and service to stream endpoints of any family, in the
    // resolver's order. On failure returns false and sets errorText to the
    // resolver's one-line message.
    static bool Resolve(const std::string& host, const std::string& service,
                        std::vector<Endpoint>& endpoints, std::string& errorText);

    static Handle Open(const Endpoint& endpoint);  // kNone on failure
    // Connects, giving up after `milliseconds` (the handle is then unusable
    // and only fit to be closed). The handle stays in blocking mode.
    static bool Connect(Handle handle, const Endpoint& endpoint, int32_t milliseconds);
    static void ShutdownBoth(Handle handle);
    static void Close(Handle handle);

    // Sends without waiting for room and without a broken-pipe signal: returns
    // the number of bytes the system took, or -1 (also when it had no room).
    static int64_t Send(Handle handle, const char* data, int32_t length);
    // Receives like recv with no flags: bytes received, 0 at end of stream,
    // -1 on failure.
    static int64_t Receive(Handle handle, char* buffer, int32_t capacity);
    // Waits up to `milliseconds` for the handle to become readable (data, end
    // of stream or a pending error). A handle of kNone is never ready and
    // returns at once.
    static bool WaitReadable(Handle handle, int32_t milliseconds);

    // The error number of the last failed call on this thread.
    static int LastError();

private:
    // The backend's socket-library start-up and release, called with the
    // lifetime lock held when the live-socket count leaves and returns to 0.
    static void StartLibrary();
    static void StopLibrary();

    // Copies a resolver's address list (the same field names on every
    // system) into endpoints, in its order.
    template <class AddressInfo>
    static void TakeEndpoints(const AddressInfo* list, std::vector<Endpoint>& endpoints) {
        endpoints.clear();
        for (const AddressInfo* entry = list; entry != nullptr; entry = entry->ai_next) {
            Endpoint endpoint;
            endpoint.family = entry->ai_family;
            endpoint.type = entry->ai_socktype;
            endpoint.protocol = entry->ai_protocol;
            const auto* bytes = reinterpret_cast<const unsigned char*>(entry->ai_addr);
            endpoint.address.assign(bytes, bytes + entry->ai_addrlen);
            endpoints.push_back(std::move(endpoint));
        }
    }
};
