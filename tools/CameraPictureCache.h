#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// The camera's JPEG pictures, made once per number and shared by every client
// that streams at the same time: making one takes about a millisecond, so
// making it again for each of 64 clients at 25 pictures per second would keep
// two cores busy. Keeps the most recent `capacity` numbers.
class CameraPictureCache {
public:
    explicit CameraPictureCache(std::size_t capacity = 1024) : capacity(capacity) {}

    std::shared_ptr<const std::string> jpeg(std::uint64_t number);

private:
    std::size_t capacity;
    std::mutex lock;
    std::map<std::uint64_t, std::shared_ptr<const std::string>> pictures;
};
