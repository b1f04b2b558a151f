#include "net/BRSocketPlatform.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>

namespace {

SOCKET Socket(BRSocketPlatform::Handle handle) { return static_cast<SOCKET>(handle); }

// The system's one-line text for a resolver error code, as UTF-8 without the
// line end that the system appends. Falls back to the number when the system
// has no text for it.
std::string MessageText(int code) {
    wchar_t* wide = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&wide), 0, nullptr);
    std::string text;
    if (length > 0 && wide != nullptr) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            text.resize(static_cast<size_t>(bytes));
            WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), text.data(), bytes, nullptr, nullptr);
        }
    }
    if (wide != nullptr) LocalFree(wide);
    // Some texts span lines; the diagnostic is one line.
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (text.empty()) text = "error " + std::to_string(code);
    return text;
}

// Switches a socket between blocking and non-blocking mode.
bool SetNonBlocking(SOCKET socket, bool on) {
    u_long mode = on ? 1 : 0;
    return ioctlsocket(socket, FIONBIO, &mode) == 0;
}

}  // namespace

void BRSocketPlatform::StartLibrary() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);  // a failure shows as failing socket calls later
}

void BRSocketPlatform::StopLibrary() { WSACleanup(); }

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
        errorText = MessageText(rc);
        return false;
    }
    TakeEndpoints(list, endpoints);
    freeaddrinfo(list);
    return true;
}

BRSocketPlatform::Handle BRSocketPlatform::Open(const Endpoint& endpoint) {
    const SOCKET socket = ::socket(endpoint.family, endpoint.type, endpoint.protocol);
    if (socket == INVALID_SOCKET) return kNone;
    // Like close-on-exec: child processes must not keep the connection open.
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    return static_cast<Handle>(socket);
}

bool BRSocketPlatform::Connect(Handle handle, const Endpoint& endpoint, int32_t milliseconds) {
    // A blocking connect to a host that drops the attempts waits for the
    // system's own limit: connect without waiting, then wait for the outcome
    // at most `milliseconds`. A failed attempt shows in the exceptional set.
    const SOCKET socket = Socket(handle);
    if (!SetNonBlocking(socket, true)) return false;
    const auto* address = reinterpret_cast<const sockaddr*>(endpoint.address.data());
    bool connected = connect(socket, address, static_cast<int>(endpoint.address.size())) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
        const int rc = select(0, nullptr, &writable, &failed, &wait);
        if (rc > 0 && FD_ISSET(socket, &writable)) {
            int error = 0;
            int size = sizeof error;
            // A reset means the peer accepted and then dropped the
            // connection: it was made, and the first receive reports the rest.
            connected = getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
                        (error == 0 || error == WSAECONNRESET);
        }
    }
    const int error = WSAGetLastError();
    if (!SetNonBlocking(socket, false)) connected = false;  // receives rely on blocking mode
    WSASetLastError(error);
    return connected;
}

void BRSocketPlatform::ShutdownBoth(Handle handle) { shutdown(Socket(handle), SD_BOTH); }

void BRSocketPlatform::Close(Handle handle) { closesocket(Socket(handle)); }

int64_t BRSocketPlatform::Send(Handle handle, const char* data, int32_t length) {
    if (length < 0) length = 0;
    // Winsock has no per-call "don't wait" flag: the socket is non-blocking
    // for this one send, so a peer that stops reading cannot freeze the
    // caller; what the system does not take stays with the owner. Receives
    // keep the blocking mode.
    const SOCKET socket = Socket(handle);
    if (!SetNonBlocking(socket, true)) return -1;
    const int sent = send(socket, data, length, 0);
    const int error = WSAGetLastError();
    SetNonBlocking(socket, false);
    WSASetLastError(error);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int64_t BRSocketPlatform::Receive(Handle handle, char* buffer, int32_t capacity) {
    if (capacity < 0) capacity = 0;
    const int received = recv(Socket(handle), buffer, capacity, 0);
    return received == SOCKET_ERROR ? -1 : received;
}

bool BRSocketPlatform::WaitReadable(Handle handle, int32_t milliseconds) {
    if (handle == kNone) return false;
    // A descriptor set here is a list of handles, so any handle fits. Only
    // readability counts: the exceptional set would report urgent data, and
    // a receive would then block with nothing to read. End of stream and a
    // reset connection are reported as readable.
    if (milliseconds < 0) milliseconds = 0;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Socket(handle), &readable);
    timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
    const int rc = select(0, &readable, nullptr, nullptr, &wait);
    return rc > 0 && FD_ISSET(Socket(handle), &readable);
}

int BRSocketPlatform::LastError() { return WSAGetLastError(); }
