#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// One response header block (everything before the blank line), kept as
// received and lowered. Header names are found by plain substring search in
// the lowered copy, anywhere in the block; values are cut from the received
// copy where their letter case matters (Location, boundary).
class BRHTTPResponseHeader {
public:
    explicit BRHTTPResponseHeader(std::string_view block);

    const std::string& Block() const { return block; }

    // The digits right after the first blank. False when there is no blank,
    // no digit there, or the number does not fit in 32 bits.
    bool StatusCode(uint32_t& code) const;
    // Position of a lowercase name (with its colon) in the block, or npos.
    size_t Find(std::string_view lowercaseName, size_t from = 0) const;
    // The lowered value of a header line: from after the name to the next
    // line end, or to the end of the block.
    std::string LoweredValue(size_t namePos, std::string_view name) const;
    // "content-length:", blanks, then a 32-bit number.
    bool ContentLength(size_t namePos, uint32_t& length) const;
    // The value of a header line as received: blanks after the name skipped,
    // up to the next line end or the end of the block.
    std::string Value(size_t namePos, std::string_view name) const;
    // The Location value, in its own letter case, blanks after the colon skipped.
    std::string Location(size_t namePos) const;

private:
    std::string block;
    std::string lowered;
};
