#pragma once

#include <cstdint>

#include "http/BRHTTPDecoder.h"

// A body of the length its Content-Length announced. Bytes pass through
// unchanged. Bytes beyond the length that came together with the header are
// dropped; a later read that brings more bytes than the body has left is not
// this response: nothing of it is taken, and the body fails.
class BRHTTPLengthDecoder : public BRHTTPDecoder {
public:
    explicit BRHTTPLengthDecoder(uint32_t length) : remaining(length) {}

    BRHTTPDecode Decode(BRDataBuffer& in, BRDataBuffer& out) override;
    BRHTTPDecode Finish(BRDataBuffer& in, BRDataBuffer& out, bool explicitEnd) override;
    uint32_t Remaining() const override { return remaining; }
    uint32_t Straight() const override { return first ? 0 : remaining; }
    uint32_t Took(uint32_t n, BRHTTPDecode& result) override;

private:
    uint32_t remaining;
    bool first = true;  // the first input is what came with the header
};
