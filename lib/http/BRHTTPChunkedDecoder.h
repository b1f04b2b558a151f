#pragma once

#include <cstdint>

#include "http/BRHTTPDecoder.h"

// Chunked transfer coding: size lines in hex, each followed by that many
// data bytes and a line end; a chunk of size 0 ends the body. Only the data
// bytes pass through. Every complete chunk in the input is decoded in one
// call, so a stream of tiny chunks cannot pile up.
class BRHTTPChunkedDecoder : public BRHTTPDecoder {
public:
    BRHTTPDecode Decode(BRDataBuffer& in, BRDataBuffer& out) override;
    BRHTTPDecode Finish(BRDataBuffer& in, BRDataBuffer& out, bool explicitEnd) override;
    uint32_t Remaining() const override { return remaining; }

    // The longest chunk-size line collected before the body fails.
    static constexpr uint32_t kLineLimit = 8192;

private:
    // Bytes of the current chunk still to take: its data and the 2-byte line
    // end after it. 0: a size line is due.
    uint32_t remaining = 0;
    bool done = false;
};
