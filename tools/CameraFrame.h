#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The pictures of the camera server: a grey 320x240 picture that shows its
// frame number in large digits, with a bar that moves from frame to frame.
// The same number always gives the same picture and the same JPEG bytes.
class CameraFrame {
public:
    static constexpr int width = 320;
    static constexpr int height = 240;

    // width * height grey levels, row by row.
    static std::vector<std::uint8_t> render(std::uint64_t number);
    // The picture as a JPEG file.
    static std::string jpeg(std::uint64_t number);
};
