// niloexample: saves the pictures of a multipart camera stream into numbered
// files, copies every content byte into a file sink, and prints both logs.
// It uses nothing of the library but the five functions of nilo.h.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

#include "nilo.h"

namespace {

// The bundled camera server on loopback (tools/run-example.sh starts it).
// NILOEXAMPLE_URL names another source, which the tests use.
const char* kSourceURL = "http://127.0.0.1:8088/camera.mjpg";
const char* kUser = "demo-user";
const char* kPassword = "demo-password";
const char* kSinkURL = "file:///nilo_example.txt";
const char* kPartPrefix = "tarko_example_jpgpart";
constexpr uint32_t kMaxParts = 10;
constexpr uint32_t kRoom = 1023;  // data bytes; one more for a zero byte

struct Handles {
    void* source = nullptr;
    void* sink = nullptr;
    ~Handles() {
        DisconnectNILO(source);
        DisconnectNILO(sink);
    }
};

uint32_t LittleEndian32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

void Run(Handles& handles) {
    const char* url = std::getenv("NILOEXAMPLE_URL");
    handles.source = ConnectURL(url && *url ? url : kSourceURL, 1, kUser, kPassword);
    std::cout << "u: " << handles.source << std::endl;
    handles.sink = ConnectURL(kSinkURL, 0, nullptr, nullptr);

    char buffer[kRoom + 1];
    uint32_t held = 0;
    uint32_t remaining = 0;  // content bytes of the current part still to come
    uint32_t partIndex = 0;
    std::ofstream part;
    auto writeContent = [&](uint32_t count) {
        WriteData(handles.sink, buffer, count);
        if (part.is_open()) part.write(buffer, count);
    };
    auto dropFront = [&](uint32_t count) {
        std::memmove(buffer, buffer + count, held - count);
        held -= count;
    };

    do {
        unsigned size = kRoom - held;
        const NILOState state = GetData(handles.source, buffer + held, size);
        if (state > NILO_MULTIPART) break;
        held += size;
        buffer[held] = 0;
        if (state != NILO_MULTIPART) {
            WriteData(handles.sink, buffer, held);
            std::cout << buffer;
            held = 0;
            continue;
        }
        if (remaining != 0 && remaining >= held) {
            writeContent(held);
            remaining -= held;
            held = 0;
            continue;
        }
        if (remaining != 0) {
            writeContent(remaining);
            dropFront(remaining);
            remaining = 0;
        }
        if (held < 4) continue;
        remaining = LittleEndian32(buffer);
        dropFront(4);
        if (part.is_open()) {
            part.flush();
            part.close();
        }
        part.open(kPartPrefix + std::to_string(partIndex) + ".jpg", std::ios::binary | std::ios::trunc);
        ++partIndex;
    } while (partIndex < kMaxParts);
    if (part.is_open()) part.close();

    std::cout << std::endl;
    std::cout << "Log:" << std::endl << GetLog(handles.source) << std::endl;
    std::cout << "Log:" << std::endl << GetLog(handles.sink) << std::endl;
}

}  // namespace

int main() {
    Handles handles;
    try {
        Run(handles);
    } catch (const std::exception& e) {
        std::cerr << "niloexample: " << e.what() << std::endl;
        return 1;
    } catch (...) {
        std::cerr << "niloexample: unexpected failure" << std::endl;
        return 1;
    }
    return 0;
}
