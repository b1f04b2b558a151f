// The encoder's files must decode, with an independent decoder, to the
// picture that was encoded: a file that merely parses is not enough.

#include "CameraFrame.h"
#include "JpegEncoder.h"
#include "ToolTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

using Picture = std::vector<std::uint8_t>;

struct EncodeCase {
    const char* name;
    int width;
    int height;
    int quality;
    std::function<std::uint8_t(int x, int y)> pixel;
    double maxMeanError;  // mean absolute difference in grey levels
};

double meanError(const Picture& a, const Picture& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / static_cast<double>(a.size());
}

TEST(JpegEncoder, DecodesToThePictureEncoded) {
    const EncodeCase cases[] = {
        // A size that is not a multiple of 8 exercises the padding of edge blocks.
        {"gradient 33x17", 33, 17, 75, [](int x, int y) { return std::uint8_t(x * 7 + y * 3); }, 3.0},
        {"flat black 8x8", 8, 8, 50, [](int, int) { return std::uint8_t(0); }, 1.0},
        {"flat white 1x1", 1, 1, 50, [](int, int) { return std::uint8_t(255); }, 1.0},
        // Noise at the finest quantisation: long codes, large AC values, 0xFF bytes to stuff.
        {"noise 64x48 q100", 64, 48, 100,
         [](int x, int y) { return std::uint8_t((x * 7919 + y * 104729 + x * y * 31) % 251); }, 1.5},
        // Black and white in the sign pattern of the (4,4) cosine: the largest
        // AC coefficient 8-bit samples can make (1020, the longest value code).
        {"(4,4) cosine 16x16 q100", 16, 16, 100,
         [](int x, int y) { return std::uint8_t(((x + 1) / 2 + (y + 1) / 2) % 2 ? 0 : 255); }, 3.0},
        {"noise 40x24 q1", 40, 24, 1, [](int x, int y) { return std::uint8_t((x * 13 + y * 101) % 256); }, 80.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Picture picture(static_cast<std::size_t>(c.width) * c.height);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) picture[static_cast<std::size_t>(y) * c.width + x] = c.pixel(x, y);
        const std::string jpeg = JpegEncoder(c.quality).encodeGray(picture, c.width, c.height);
        ASSERT_EQ(jpeg.substr(0, 2), "\xff\xd8");
        ASSERT_EQ(jpeg.substr(jpeg.size() - 2), "\xff\xd9");
        const auto decoded = tooltest::decodeWithDjpeg(jpeg);
        ASSERT_TRUE(decoded.ok) << decoded.diagnostics;
        ASSERT_EQ(decoded.width, c.width);
        ASSERT_EQ(decoded.height, c.height);
        EXPECT_LE(meanError(decoded.pixels, picture), c.maxMeanError);
    }
}

TEST(JpegEncoder, RefusesPixelsThatDoNotMatchTheSize) {
    EXPECT_THROW(JpegEncoder().encodeGray(Picture(10), 4, 4), std::invalid_argument);
    EXPECT_THROW(JpegEncoder().encodeGray(Picture(), 0, 0), std::invalid_argument);
}

TEST(CameraFrame, PicturesShowTheirNumberAndDiffer) {
    std::string previous;
    for (std::uint64_t number : {0ull, 1ull, 9ull, 1234567ull, 18446744073709551615ull}) {
        SCOPED_TRACE(number);
        const std::string jpeg = CameraFrame::jpeg(number);
        EXPECT_NE(jpeg, previous);
        EXPECT_EQ(jpeg, CameraFrame::jpeg(number)) << "the same number must give the same bytes";
        const auto decoded = tooltest::decodeWithDjpeg(jpeg);
        ASSERT_TRUE(decoded.ok) << decoded.diagnostics;
        ASSERT_EQ(decoded.width, CameraFrame::width);
        ASSERT_EQ(decoded.height, CameraFrame::height);
        const Picture rendered = CameraFrame::render(number);
        EXPECT_LE(meanError(decoded.pixels, rendered), 3.0);
        // The digits are drawn: there are bright pixels above the bar.
        std::size_t bright = 0;
        for (std::size_t i = 0; i < std::size_t(CameraFrame::width) * (CameraFrame::height - 30); ++i)
            bright += rendered[i] > 200;
        EXPECT_GT(bright, 100u);
        previous = jpeg;
    }
}

}  // namespace
