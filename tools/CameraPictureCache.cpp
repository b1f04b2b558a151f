#include "CameraPictureCache.h"

#include "CameraFrame.h"

std::shared_ptr<const std::string> CameraPictureCache::jpeg(std::uint64_t number) {
    {
        std::lock_guard<std::mutex> hold(lock);
        const auto found = pictures.find(number);
        if (found != pictures.end()) return found->second;
    }
    // Made outside the lock: two clients may both make a missing picture,
    // which costs time but gives the same bytes.
    auto picture = std::make_shared<const std::string>(CameraFrame::jpeg(number));
    std::lock_guard<std::mutex> hold(lock);
    pictures.emplace(number, picture);
    while (pictures.size() > capacity) pictures.erase(pictures.begin());
    return picture;
}
