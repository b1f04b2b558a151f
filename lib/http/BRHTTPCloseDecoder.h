#pragma once

#include <cstdint>

#include "http/BRHTTPDecoder.h"

// A body with neither a length nor chunked coding: it runs until the server
// closes the connection (RFC 9112 section 6.3). Bytes pass through unchanged;
// the close completes it, but nothing in the bytes says it was not cut short.
class BRHTTPCloseDecoder : public BRHTTPDecoder {
public:
    BRHTTPDecode Decode(BRDataBuffer& in, BRDataBuffer& out) override;
    BRHTTPDecode Finish(BRDataBuffer& in, BRDataBuffer& out, bool explicitEnd) override;
    bool EndsExplicitly() const override { return false; }
    bool PassesThrough() const override { return true; }
    uint32_t Straight() const override { return UINT32_MAX - 1; }
    uint32_t Took(uint32_t n, BRHTTPDecode& result) override {
        result = BRHTTPDecode::NeedMore;
        return n;
    }
};
