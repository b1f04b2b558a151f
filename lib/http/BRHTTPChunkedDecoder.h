#pragma once

#include <cstdint>
#include <string_view>

#include "http/BRHTTPDecoder.h"

// Chunked transfer coding (RFC 9112 section 7.1): a size line in hex (with
// optional blanks and chunk extensions), that many data bytes and a CRLF, for
// each chunk; a chunk of size 0 is the last, and the trailer fields after it
// are read up to the empty line and dropped. Only the data bytes pass through.
// Every complete chunk in the input is decoded in one call, so a stream of
// tiny chunks cannot pile up.
class BRHTTPChunkedDecoder : public BRHTTPDecoder {
public:
    BRHTTPDecode Decode(BRDataBuffer& in, BRDataBuffer& out) override;
    BRHTTPDecode Finish(BRDataBuffer& in, BRDataBuffer& out, bool explicitEnd) override;
    uint32_t Remaining() const override;
    uint32_t Straight() const override { return state == State::Data ? remaining : 0; }
    uint32_t Took(uint32_t n, BRHTTPDecode& result) override;

    // The longest size line, and the most trailer bytes, collected before
    // the body fails.
    static constexpr uint32_t kLineLimit = 8192;

    // A size line without its CRLF: false unless it is hex digits, optional
    // blanks and extensions, and the size leaves room for the CRLF after the
    // data in 32 bits.
    static bool ParseSizeLine(std::string_view line, uint32_t& size);

private:
    enum class State { Size, Data, DataEnd, Trailer, Done };
    State state = State::Size;
    uint32_t remaining = 0;      // data bytes of the current chunk still to pass
    uint32_t trailerBytes = 0;
};
