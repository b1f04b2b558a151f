// Reads an http source whose server sends the fuzz input as its response and
// then closes. The library must neither crash nor hang: once the server has
// closed, the reads end (NILO_END or NILO_ERROR) within a bounded number of
// calls, never hand out more than the caller's room, and never deliver more
// bytes than the responses could account for. Exceptions from GetData are
// outcomes the library documents (a redirect target whose port does not
// convert, too many redirects, the integer 22 for an https target); anything
// else that escapes is a finding.
//
// The target plays the server on the caller's thread, so each run is
// deterministic: a listener on 127.0.0.1 accepts every connection the
// library opens as soon as it is open, writes the whole input into it and
// shuts its sending side. The bytes and the end of stream are then waiting
// before the library's first poll, so no read waits for its 500 ms. A
// redirect opens a new connection, which is served the same input, so a
// redirecting input runs into the redirect limit.

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "api/nilo.h"

namespace {

// Inputs beyond this are skipped: the socket buffers hold them whole, so
// writing one never blocks, and twice the header limit is room enough.
constexpr size_t kMaxInput = 64 * 1024;
constexpr unsigned kRoom = 3000;  // the caller's room per GetData, not a power of two
constexpr int kMaxRedirects = 4;  // the fourth one raises

int listener = -1;
uint16_t listenerPort = 0;
std::vector<int> served;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s: %s\n", what, std::strerror(errno));
    std::abort();
}

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void Listen() {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener < 0) Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
    if (listen(listener, 16) != 0) Fail("listen");
    socklen_t length = sizeof address;
    if (getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail("getsockname");
    listenerPort = ntohs(address.sin_port);
}

// Accepts every connection waiting at the listener and sends it the response
// followed by the end of stream. The socket stays open until the run ends,
// so that the library, not the server, closes first and nothing it has yet
// to read is thrown away by a reset.
void Serve(const std::string& response) {
    for (;;) {
        const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            Fail("accept");
        }
        served.push_back(connection);
        const int room = 4 * kMaxInput;
        setsockopt(connection, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        size_t sent = 0;
        while (sent < response.size()) {
            const ssize_t n = send(connection, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;  // the library has closed already
            sent += static_cast<size_t>(n);
        }
        shutdown(connection, SHUT_WR);
    }
}

void CloseServed() {
    for (int connection : served) close(connection);
    served.clear();
}

}  // namespace

// Every connection the library opens reaches this target's listener,
// whatever host and port the URL or a redirect's Location names: a run
// touches nothing but loopback, and never waits for a name server or an
// unreachable address. Defined here, these replace the C library's resolver
// for the whole fuzz program.
extern "C" int getaddrinfo(const char*, const char*, const addrinfo*, addrinfo** result) {
    struct Entry {
        addrinfo info;
        sockaddr_in address;
    };
    auto* entry = static_cast<Entry*>(std::calloc(1, sizeof(Entry)));
    if (entry == nullptr) return EAI_MEMORY;
    entry->address.sin_family = AF_INET;
    entry->address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    entry->address.sin_port = htons(listenerPort);
    entry->info.ai_family = AF_INET;
    entry->info.ai_socktype = SOCK_STREAM;
    entry->info.ai_protocol = IPPROTO_TCP;
    entry->info.ai_addrlen = sizeof(sockaddr_in);
    entry->info.ai_addr = reinterpret_cast<sockaddr*>(&entry->address);
    *result = &entry->info;
    return 0;
}

extern "C" void freeaddrinfo(addrinfo* list) { std::free(list); }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Listen();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    const std::string response(reinterpret_cast<const char*>(data), size);
    const std::string url = "http://127.0.0.1:" + std::to_string(listenerPort) + "/x";

    void* handle = nullptr;
    try {
        handle = ConnectURL(url.c_str(), 1, "", "");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ConnectURL refused the fuzz server: %s\n", e.what());
        std::abort();
    }
    Serve(response);

    // Each response can hand out its own bytes plus a 4-byte length for
    // every part, and a part header takes more than 4 bytes of the response.
    const size_t deliverable = (kMaxRedirects + 1) * 2 * (size + 4);
    // Every GetData moves at least one poll (up to 4096 bytes) or hands out
    // up to kRoom bytes, and the peer has closed: a read that still goes on
    // after this many calls does not end.
    const size_t maxCalls = 64 + 2 * (deliverable / 1000);

    std::vector<char> room(kRoom);
    size_t delivered = 0;
    int exceptions = 0;
    bool ended = false;
    for (size_t call = 0; call < maxCalls && !ended; ++call) {
        unsigned n = kRoom;
        try {
            const NILOState state = GetData(handle, room.data(), n);
            Require(state >= NILO_NONE && state <= NILO_ERROR, "GetData returns a NILOState");
            Require(n <= kRoom, "GetData stays within the caller's room");
            delivered += n;
            ended = state > NILO_MULTIPART;
            exceptions = 0;
        } catch (const std::exception&) {
            // A read after the failure must still answer; the library states
            // which failures repeat, so a second one in a row ends the run.
            ended = ++exceptions > 1;
        } catch (int) {
            ended = ++exceptions > 1;
        }
        Serve(response);
    }
    Require(ended, "the reads end once the server has closed");
    Require(delivered <= deliverable, "no more bytes delivered than the responses hold");

    Require(GetLog(handle) != nullptr, "an open handle has a log");
    DisconnectNILO(handle);
    Serve(response);
    CloseServed();
    return 0;
}
