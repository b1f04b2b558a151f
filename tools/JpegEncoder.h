#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A small baseline JPEG encoder for 8-bit grayscale pictures: one component,
// 8x8 DCT, the standard luminance quantisation table scaled by a quality
// (1..100, as image tools use it) and the standard luminance Huffman tables.
// The output is a complete JFIF file that any image viewer opens.
class JpegEncoder {
public:
    explicit JpegEncoder(int quality = 75);

    // pixels: width * height bytes, row by row, 0 black to 255 white.
    std::string encodeGray(const std::vector<std::uint8_t>& pixels, int width, int height) const;

private:
    struct HuffmanCode {
        std::uint16_t code = 0;
        std::uint8_t length = 0;
    };

    class BitWriter;

    void encodeBlock(const float* samples, int& previousDC, BitWriter& out) const;

    std::uint8_t quant[64];     // in natural (row by row) order
    float divisors[64];         // the same steps as floats
    HuffmanCode dcCodes[12];
    HuffmanCode acCodes[256];
};
