#pragma once

#include <cstdint>
#include <optional>

class BRDataBuffer;
class BRDataSourceDescriptor;

// What a part of the read step decides: a NILOState value that ends the read,
// or nothing, meaning the read goes on with its next step.
using BRHTTPStep = std::optional<int32_t>;

// The HTTP side of a source descriptor: opening the connection and the read
// step, a small state machine driven entirely by the caller's reads. The first
// read sends the request; later reads collect the response header, choose the
// body framing (Content-Length, chunked or multipart/x-mixed-replace) and move
// body bytes into the caller's buffer. The phase lives in the descriptor's flags.
class BRHTTPReader {
public:
    // Connects the descriptor's URL; raises when the host cannot be reached.
    static void Open(BRDataSourceDescriptor& d);
    // One read step: appends body bytes to target, returns a NILOState value.
    static int32_t ReadStep(BRDataSourceDescriptor& d, BRDataBuffer& target);

    // Flushes the send side, polls once and moves what arrived into the work
    // buffer (or leaves it on the receive side when intoWorkBuffer is false).
    // Returns true when the poll raised: the peer has closed or has been idle
    // past the limit, so nothing more will come.
    static bool Poll(BRDataSourceDescriptor& d, bool intoWorkBuffer);
    // Marks the response failed and returns NILO_ERROR.
    static int32_t Fail(BRDataSourceDescriptor& d);

    // Largest header block, chunk-size line or part header the reader collects.
    static constexpr uint32_t kHeaderLimit = 8192;

private:
    static BRHTTPStep HeaderPhase(BRDataSourceDescriptor& d, BRDataBuffer& target);
};
