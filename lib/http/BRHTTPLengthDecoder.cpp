#include "http/BRHTTPLengthDecoder.h"

#include "net/BRDataBuffer.h"

BRHTTPDecode BRHTTPLengthDecoder::Decode(BRDataBuffer& in, BRDataBuffer& out) {
    const bool withHeader = first;
    first = false;
    uint32_t n = in.Size();
    if (n > remaining) {
        if (!withHeader) return BRHTTPDecode::Bad;
        n = remaining;
    }
    out.Append(in.Data(), n);
    in.Clear();
    remaining -= n;
    return remaining == 0 ? BRHTTPDecode::Done : BRHTTPDecode::NeedMore;
}

uint32_t BRHTTPLengthDecoder::Took(uint32_t n, BRHTTPDecode& result) {
    // More than the body has left: none of it is this response's.
    if (n > remaining) {
        result = BRHTTPDecode::Bad;
        return 0;
    }
    remaining -= n;
    result = remaining == 0 ? BRHTTPDecode::Done : BRHTTPDecode::NeedMore;
    return n;
}

// A body cut short is never complete.
BRHTTPDecode BRHTTPLengthDecoder::Finish(BRDataBuffer&, BRDataBuffer&, bool) {
    return remaining == 0 ? BRHTTPDecode::Done : BRHTTPDecode::Bad;
}
