// Runs the input as a sequence of operations on a BRDataBuffer of a small
// granularity and compares it after every operation with a plain string:
// same content, a zero byte after it, and spare room that stays within the
// growth rules, so that the block cannot creep upwards.
//
// Input: the first byte picks the granularity (0 to 64, 0 meaning 1); then
// each operation is one byte (its low three bits pick it) followed by two
// bytes of length, little-endian, cut to kMaxLength; a Reserve takes one
// more byte that says how much of the room it commits (0 none, 255 all).
// Appends are cut so that the content stays within kMaxContent. Bytes to
// append are taken from the input after the operation, repeated when the
// input runs out, zero bytes included.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/BRDataBuffer.h"

namespace {

constexpr uint32_t kMaxLength = 4096;  // 64 granules and more of the largest granularity
// Content is compared after every operation, so it is kept small enough
// for that to stay cheap; appends beyond it are cut.
constexpr uint32_t kMaxContent = 64 * 1024;

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : data(data), size(size) {}
    bool Empty() const { return at >= size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    uint32_t Length() {
        const uint32_t low = Byte();
        return std::min<uint32_t>(low | static_cast<uint32_t>(Byte()) << 8, kMaxLength);
    }
    // n bytes of payload, taken from the input from the current position on
    // (without consuming them) and repeated as needed.
    std::string Payload(uint32_t n) const {
        std::string bytes;
        if (size == 0) return std::string(n, '\0');
        bytes.reserve(n);
        for (size_t from = at % size; bytes.size() < n; from = 0)
            bytes.append(reinterpret_cast<const char*>(data) + from, std::min<size_t>(size - from, n - bytes.size()));
        return bytes;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint32_t granularity = in.Byte() % 65;  // 0 is taken as 1
    BRDataBuffer buffer(granularity);
    const uint64_t g = buffer.Granularity();
    Require(g == (granularity == 0 ? 1 : granularity), "granularity as constructed");
    Require(buffer.FreeSpace() == g, "a fresh buffer has one granule spare");

    std::string model;
    uint64_t reserved = 0;  // the largest Reserve beyond the content since the last shrink
    while (!in.Empty()) {
        const uint8_t op = in.Byte() & 7;
        const uint32_t length = in.Length();
        const uint32_t growth = std::min<uint32_t>(length, kMaxContent - static_cast<uint32_t>(model.size()));
        switch (op) {
            case 0:
            case 1: {
                const uint32_t n = growth;
                const std::string bytes = in.Payload(n);
                Require(buffer.Append(bytes.data(), n) == n, "Append takes every byte");
                model += bytes;
                break;
            }
            case 2:
            case 3: {
                const uint32_t k = std::min<uint32_t>(length, static_cast<uint32_t>(model.size()));
                Require(buffer.Consume(length) == k, "Consume removes at most the content");
                model.erase(0, k);
                break;
            }
            case 4: {
                // A producer writes into the reserved room and commits part
                // of it, as a read that returns fewer bytes than asked does.
                const uint32_t n = growth;
                char* at = buffer.Reserve(n);
                Require(at == buffer.Data() + buffer.Size(), "Reserve points after the content");
                Require(buffer.FreeSpace() >= n, "Reserve makes the room it was asked for");
                reserved = std::max<uint64_t>(reserved, n);
                const std::string bytes = in.Payload(n);
                std::memcpy(at, bytes.data(), n);
                const uint32_t committed = static_cast<uint32_t>(uint64_t{n} * in.Byte() / 255);
                buffer.Commit(committed);
                model.append(bytes, 0, committed);
                break;
            }
            case 5: {
                // The spare room after the terminator is the holder's scratch
                // space: all of it must be writable.
                if (buffer.FreeSpace() != 0) std::memset(buffer.Data() + buffer.Size() + 1, 0xA5, buffer.FreeSpace());
                break;
            }
            case 6:
                buffer.Clear();
                model.clear();
                break;
            case 7:
                Require(buffer.Append("", 0) == 0 && buffer.Consume(0) == 0, "empty operations do nothing");
                break;
        }

        Require(buffer.Size() == model.size(), "size equals the model's");
        Require(std::memcmp(buffer.Data(), model.data(), model.size()) == 0, "content equals the model's");
        Require(buffer.Data()[buffer.Size()] == 0, "a zero byte follows the content");
        // Growth leaves at most two granules spare and a shrink exactly two;
        // from there only a Reserve can push the spare room past four.
        if (buffer.FreeSpace() <= 2 * g) reserved = 0;
        Require(buffer.FreeSpace() <= std::max(4 * g, reserved + 2 * g), "spare room stays within the growth rules");
    }
    return 0;
}
