#pragma once

#include <cstdint>

class BRDataBuffer;

// What feeding a decoder came to.
enum class BRHTTPDecode {
    NeedMore,  // everything usable was taken; more input is needed
    Done,      // the decoder has reached its end; any input after it is not its own
    Bad,       // the input breaks the framing; nothing more can be decoded
};

// One layer of a response body. It takes bytes from the front of its input,
// consuming what it has used and leaving the rest for the next call, and
// appends what it decoded to its output. The ways a body is delimited (a
// Content-Length, chunked transfer coding, the close of the connection) are
// decoders, and so is the cutting of a multipart stream into parts; the
// reader stacks a content decoder on a transfer decoder where both apply.
class BRHTTPDecoder {
public:
    virtual ~BRHTTPDecoder() = default;

    virtual BRHTTPDecode Decode(BRDataBuffer& in, BRDataBuffer& out) = 0;

    // No more input will come. `explicitEnd` says whether the input ended
    // where the layer below framed its end (a Content-Length or the last
    // chunk), rather than where the peer closed. Hands out what the decoder
    // still holds where that is sound; Done when what came is complete.
    virtual BRHTTPDecode Finish(BRDataBuffer& in, BRDataBuffer& out, bool explicitEnd) = 0;

    // Whether Done means the sender marked the end (a length, a last chunk)
    // rather than merely stopped sending.
    virtual bool EndsExplicitly() const { return true; }

    // Whether the decoder hands on its input unchanged, so that a layer above
    // it may read the input directly.
    virtual bool PassesThrough() const { return false; }

    // Bytes still due in the current unit (the body, a chunk, a part); 0
    // where the decoder cannot know.
    virtual uint32_t Remaining() const { return 0; }

    // How many of the next input bytes the decoder would hand on unchanged
    // (the rest of a length, of a chunk's data, of a large part); 0 when it
    // must see them first. A reader may receive up to that many, and one
    // more to learn what follows, straight into the output, so that they are
    // never copied on their way.
    virtual uint32_t Straight() const { return 0; }
    // Reports n bytes received straight into the output: returns how many of
    // them are output (the rest, from the front of what follows, is input
    // for Decode), and sets `result` as Decode would.
    virtual uint32_t Took(uint32_t n, BRHTTPDecode& result) {
        (void)n;
        result = BRHTTPDecode::NeedMore;
        return 0;
    }
};
