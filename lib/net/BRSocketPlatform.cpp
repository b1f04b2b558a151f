#include "net/BRSocketPlatform.h"

#include <mutex>

namespace {

// The count and the flag change together, so a socket created on one thread
// while the last one dies on another cannot leave the library released.
std::mutex libraryLock;
int32_t liveSockets = 0;
bool libraryStarted = false;
int64_t libraryStarts = 0;

}  // namespace

void BRSocketPlatform::Acquire() {
    std::lock_guard<std::mutex> hold(libraryLock);
    if (liveSockets++ == 0) {
        StartLibrary();
        libraryStarted = true;
        ++libraryStarts;
    }
}

void BRSocketPlatform::Release() {
    std::lock_guard<std::mutex> hold(libraryLock);
    if (--liveSockets == 0) {
        StopLibrary();
        libraryStarted = false;
    }
}

int32_t BRSocketPlatform::LiveSockets() {
    std::lock_guard<std::mutex> hold(libraryLock);
    return liveSockets;
}

bool BRSocketPlatform::LibraryStarted() {
    std::lock_guard<std::mutex> hold(libraryLock);
    return libraryStarted;
}

int64_t BRSocketPlatform::LibraryStarts() {
    std::lock_guard<std::mutex> hold(libraryLock);
    return libraryStarts;
}
