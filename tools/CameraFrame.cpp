#include "CameraFrame.h"

#include "JpegEncoder.h"

#include <algorithm>

namespace {

// A 5x7 font for the digits 0-9: one byte per row, bit 4 is the left column.
const std::uint8_t digitFont[10][7] = {
    {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e},  // 0
    {0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e},  // 1
    {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f},  // 2
    {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e},  // 3
    {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02},  // 4
    {0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e},  // 5
    {0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e},  // 6
    {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
    {0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e},  // 8
    {0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c},  // 9
};

void fill(std::vector<std::uint8_t>& pixels, int x0, int y0, int w, int h, std::uint8_t grey) {
    const int x1 = std::min(x0 + w, CameraFrame::width);
    const int y1 = std::min(y0 + h, CameraFrame::height);
    for (int y = std::max(y0, 0); y < y1; ++y)
        for (int x = std::max(x0, 0); x < x1; ++x)
            pixels[static_cast<std::size_t>(y) * CameraFrame::width + x] = grey;
}

}  // namespace

std::vector<std::uint8_t> CameraFrame::render(std::uint64_t number) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height);
    // Dark background with a soft vertical gradient.
    for (int y = 0; y < height; ++y)
        fill(pixels, 0, y, width, 1, static_cast<std::uint8_t>(40 + y * 40 / height));

    // A bar that walks along the bottom edge, one step per frame, so that a
    // viewer sees the stream move even where the digits stay alike.
    const int steps = 25;
    const int barWidth = (width - 20) / steps;
    fill(pixels, 10, height - 24, width - 20, 14, 70);
    fill(pixels, 10 + static_cast<int>(number % steps) * barWidth, height - 24, barWidth, 14, 230);

    const std::string digits = std::to_string(number);
    const int count = static_cast<int>(digits.size());
    // Each digit cell is 6 font columns wide (5 and a gap); shrink long numbers.
    const int scale = std::max(1, std::min(8, (width - 20) / (count * 6)));
    const int textWidth = (count * 6 - 1) * scale;
    const int left = (width - textWidth) / 2;
    const int top = (height - 24 - 7 * scale) / 2;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* glyph = digitFont[digits[i] - '0'];
        for (int row = 0; row < 7; ++row)
            for (int column = 0; column < 5; ++column)
                if (glyph[row] & (0x10 >> column))
                    fill(pixels, left + (i * 6 + column) * scale, top + row * scale, scale, scale, 245);
    }
    return pixels;
}

std::string CameraFrame::jpeg(std::uint64_t number) {
    static const JpegEncoder encoder(80);
    return encoder.encodeGray(render(number), width, height);
}
