#include "JpegEncoder.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// Position in the 8x8 block (row by row) of the k-th coefficient in zigzag order.
const std::uint8_t zigzag[64] = {
     0,  1,  8, 16,  9,  2,  3, 10, 17, 24, 32, 25, 18, 11,  4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13,  6,  7, 14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// The standard luminance quantisation table (quality 50), row by row.
const std::uint8_t baseQuant[64] = {
    16, 11, 10, 16,  24,  40,  51,  61,
    12, 12, 14, 19,  26,  58,  60,  55,
    14, 13, 16, 24,  40,  57,  69,  56,
    14, 17, 22, 29,  51,  87,  80,  62,
    18, 22, 37, 56,  68, 109, 103,  77,
    24, 35, 55, 64,  81, 104, 113,  92,
    49, 64, 78, 87, 103, 121, 120, 101,
    72, 92, 95, 98, 112, 100, 103,  99,
};

// The standard luminance Huffman tables: code counts per length 1..16, then the symbols.
const std::uint8_t dcBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const std::uint8_t dcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const std::uint8_t acBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const std::uint8_t acValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
    0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0,
    0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
    0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5,
    0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa,
};

// c(u) * cos((2x + 1) u pi / 16) / 2: one row of the orthonormal 8-point DCT.
struct CosineTable {
    float value[8][8];
    CosineTable() {
        const double pi = std::acos(-1.0);
        for (int u = 0; u < 8; ++u)
            for (int x = 0; x < 8; ++x)
                value[u][x] = static_cast<float>((u == 0 ? std::sqrt(0.5) : 1.0) / 2.0 *
                                                 std::cos((2 * x + 1) * u * pi / 16));
    }
};
const CosineTable cosine;

// Canonical Huffman codes from the counts per length (the procedure of the JPEG standard).
template <typename Table>
void buildCodes(const std::uint8_t (&bits)[16], const std::uint8_t* values, Table& table) {
    std::uint16_t code = 0;
    int k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < bits[length - 1]; ++i, ++k) {
            table[values[k]].code = code++;
            table[values[k]].length = static_cast<std::uint8_t>(length);
        }
        code = static_cast<std::uint16_t>(code << 1);
    }
}

void put16(std::string& out, int value) {
    out += static_cast<char>((value >> 8) & 0xff);
    out += static_cast<char>(value & 0xff);
}

void putMarker(std::string& out, std::uint8_t marker, int payloadLength) {
    out += static_cast<char>(0xff);
    out += static_cast<char>(marker);
    put16(out, payloadLength + 2);  // the length counts itself
}

template <std::size_t B, std::size_t V>
void putHuffmanTable(std::string& out, int classAndId, const std::uint8_t (&bits)[B], const std::uint8_t (&values)[V]) {
    putMarker(out, 0xc4, static_cast<int>(1 + B + V));
    out += static_cast<char>(classAndId);
    out.append(reinterpret_cast<const char*>(bits), B);
    out.append(reinterpret_cast<const char*>(values), V);
}

// Number of bits needed for the magnitude of value (the JPEG "category").
int category(int value) {
    int magnitude = value < 0 ? -value : value;
    int n = 0;
    while (magnitude) {
        ++n;
        magnitude >>= 1;
    }
    return n;
}

}  // namespace

// Collects the entropy-coded bits, most significant first, stuffing a zero
// byte after every 0xFF so that no marker appears inside the data.
class JpegEncoder::BitWriter {
public:
    explicit BitWriter(std::string& out) : out(out) {}

    void put(std::uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            accumulator = static_cast<std::uint8_t>((accumulator << 1) | ((bits >> i) & 1));
            if (++used == 8) emit();
        }
    }

    // Pads the last byte with 1 bits, as the standard asks.
    void finish() {
        while (used != 0) put(1, 1);
    }

private:
    void emit() {
        out += static_cast<char>(accumulator);
        if (accumulator == 0xff) out += '\0';
        accumulator = 0;
        used = 0;
    }

    std::string& out;
    std::uint8_t accumulator = 0;
    int used = 0;
};

JpegEncoder::JpegEncoder(int quality) {
    quality = std::clamp(quality, 1, 100);
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    for (int i = 0; i < 64; ++i) {
        quant[i] = static_cast<std::uint8_t>(std::clamp((baseQuant[i] * scale + 50) / 100, 1, 255));
        divisors[i] = static_cast<float>(quant[i]);
    }
    buildCodes(dcBits, dcValues, dcCodes);
    buildCodes(acBits, acValues, acCodes);
}

std::string JpegEncoder::encodeGray(const std::vector<std::uint8_t>& pixels, int width, int height) const {
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535 ||
        pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        throw std::invalid_argument("JpegEncoder: picture size and pixel count do not match");

    std::string out;
    out += "\xff\xd8";  // start of image

    // JFIF 1.01 header, no thumbnail, square pixels.
    putMarker(out, 0xe0, 14);
    out.append("JFIF\0\x01\x01\x00\x00\x01\x00\x01\x00\x00", 14);

    putMarker(out, 0xdb, 65);  // quantisation table 0, 8-bit, in zigzag order
    out += '\0';
    for (int k = 0; k < 64; ++k) out += static_cast<char>(quant[zigzag[k]]);

    putMarker(out, 0xc0, 9);  // baseline frame: 8-bit samples, one component
    out += '\x08';
    put16(out, height);
    put16(out, width);
    out += "\x01\x01\x11";  // component count; component 1, no subsampling,
    out += '\0';            // quantisation table 0

    putHuffmanTable(out, 0x00, dcBits, dcValues);
    putHuffmanTable(out, 0x10, acBits, acValues);

    putMarker(out, 0xda, 6);  // scan: component 1 with tables 0/0, coefficients 0..63
    out.append("\x01\x01\x00\x00\x3f\x00", 6);

    BitWriter bits(out);
    int previousDC = 0;
    float block[64];
    for (int by = 0; by < height; by += 8) {
        for (int bx = 0; bx < width; bx += 8) {
            // Pictures whose size is not a multiple of 8 repeat their last row and column.
            for (int y = 0; y < 8; ++y) {
                const int py = std::min(by + y, height - 1);
                for (int x = 0; x < 8; ++x) {
                    const int px = std::min(bx + x, width - 1);
                    block[y * 8 + x] = static_cast<float>(pixels[static_cast<std::size_t>(py) * width + px]) - 128.0f;
                }
            }
            encodeBlock(block, previousDC, bits);
        }
    }
    bits.finish();

    out += "\xff\xd9";  // end of image
    return out;
}

void JpegEncoder::encodeBlock(const float* samples, int& previousDC, BitWriter& out) const {
    // Separable 2-D DCT: rows first, then columns.
    float rows[64];
    for (int y = 0; y < 8; ++y)
        for (int u = 0; u < 8; ++u) {
            float sum = 0;
            for (int x = 0; x < 8; ++x) sum += cosine.value[u][x] * samples[y * 8 + x];
            rows[y * 8 + u] = sum;
        }
    int coefficients[64];  // quantised, in zigzag order
    int natural[64];
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            float sum = 0;
            for (int y = 0; y < 8; ++y) sum += cosine.value[v][y] * rows[y * 8 + u];
            natural[v * 8 + u] = static_cast<int>(std::lround(sum / divisors[v * 8 + u]));
        }
    // Coefficients of 8-bit samples stay within +-1020; the baseline Huffman
    // tables cannot code beyond 1023, so rounding must never take one there.
    for (int i = 1; i < 64; ++i) natural[i] = std::clamp(natural[i], -1023, 1023);
    for (int k = 0; k < 64; ++k) coefficients[k] = natural[zigzag[k]];

    // The additional bits of a value: its low bits, or those of value - 1 when negative.
    auto putValue = [&out](int value, int size) {
        if (size) out.put(static_cast<std::uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1), size);
    };

    const int diff = coefficients[0] - previousDC;
    previousDC = coefficients[0];
    const int dcSize = category(diff);
    out.put(dcCodes[dcSize].code, dcCodes[dcSize].length);
    putValue(diff, dcSize);

    int run = 0;
    for (int k = 1; k < 64; ++k) {
        if (coefficients[k] == 0) {
            ++run;
            continue;
        }
        while (run > 15) {  // sixteen zeros in a row
            out.put(acCodes[0xf0].code, acCodes[0xf0].length);
            run -= 16;
        }
        const int size = category(coefficients[k]);
        const int symbol = (run << 4) | size;
        out.put(acCodes[symbol].code, acCodes[symbol].length);
        putValue(coefficients[k], size);
        run = 0;
    }
    if (run > 0) out.put(acCodes[0x00].code, acCodes[0x00].length);  // end of block
}
