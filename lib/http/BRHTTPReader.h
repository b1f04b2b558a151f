#pragma once

#include <cstdint>
#include <optional>

#include "http/BRHTTPDecoder.h"

class BRDataBuffer;
class BRDataSourceDescriptor;
class BRHTTPResponseHeader;

// What a part of the read step decides: a NILOState value that ends the read,
// or nothing, meaning the read goes on with its next step.
using BRHTTPStep = std::optional<int32_t>;

// The HTTP side of a source descriptor: opening the connection and the read
// step, a small state machine driven entirely by the caller's reads. The first
// read sends the request; later reads collect the response header, choose how
// the body is delimited and what it holds, and run the body through its
// decoders into the caller's buffer. The state lives in the descriptor's
// BRHTTPReadState.
class BRHTTPReader {
public:
    // Connects the descriptor's URL; raises when the host cannot be reached.
    static void Open(BRDataSourceDescriptor& d);
    // One read step: appends body bytes to target, returns a NILOState value.
    static int32_t ReadStep(BRDataSourceDescriptor& d, BRDataBuffer& target);

    // Largest response header the reader collects.
    static constexpr uint32_t kHeaderLimit = 8192;

private:
    // How the connection stands after a poll.
    enum class Peer { Open, Closed, Idle };

    // Flushes the send side, then receives what the connection holds into
    // `into` (at most `most` bytes), reserving the room there; the caller
    // commits what it takes. The wait is skipped when target already holds
    // bytes for the caller.
    static Peer Receive(BRDataSourceDescriptor& d, BRDataBuffer& into, uint32_t most, BRDataBuffer& target,
                        uint32_t& received);
    static int32_t Fail(BRDataSourceDescriptor& d);
    static BRHTTPStep HeaderPhase(BRDataSourceDescriptor& d, BRDataBuffer& target);
    // Sets up the decoders for the response's body (none when it has no
    // body); false when the header fails the response.
    static bool ChooseBody(BRDataSourceDescriptor& d, const BRHTTPResponseHeader& header);
    static BRHTTPStep BodyStep(BRDataSourceDescriptor& d, BRDataBuffer& target);
    // Runs the body's decoders over `in`; `peer` says whether more can come.
    static BRHTTPDecode Pump(BRDataSourceDescriptor& d, BRDataBuffer& in, BRDataBuffer& target, Peer peer);
    // What a read reports for the decoders' result.
    static BRHTTPStep Conclude(BRDataSourceDescriptor& d, BRHTTPDecode result, bool handedOut);
    // Sends the request again on a new connection.
    static int32_t Reopen(BRDataSourceDescriptor& d);
};
