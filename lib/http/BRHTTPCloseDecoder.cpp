#include "http/BRHTTPCloseDecoder.h"

#include "net/BRDataBuffer.h"

BRHTTPDecode BRHTTPCloseDecoder::Decode(BRDataBuffer& in, BRDataBuffer& out) {
    out.Append(in.Data(), in.Size());
    in.Clear();
    return BRHTTPDecode::NeedMore;
}

BRHTTPDecode BRHTTPCloseDecoder::Finish(BRDataBuffer& in, BRDataBuffer& out, bool) {
    Decode(in, out);
    return BRHTTPDecode::Done;
}
