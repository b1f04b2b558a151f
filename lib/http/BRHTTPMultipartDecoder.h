#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "http/BRHTTPDecoder.h"

// Cuts a multipart/x-mixed-replace stream into parts. Each part reaches the
// output as its length (4 bytes, least significant first) followed by exactly
// that many content bytes; delimiter lines and part headers are dropped, and
// each part header goes to the log.
//
// Real servers do not all write the stream by the book, so the delimiters
// decide where a part ends:
// - a part whose header has no Content-Length is held until the next
//   delimiter line (or the end of the body);
// - a part with a Content-Length up to kHoldLimit is held until it is known
//   to be right: it is handed out as soon as its bytes and the line end after
//   them have come; a delimiter inside the announced bytes ends it there; and
//   when the announced bytes are followed by neither a line end nor a
//   delimiter, the part runs on to the next delimiter;
// - a larger Content-Length is trusted and its bytes pass as they come.
// Anything before the first delimiter and between parts (a preamble, extra
// blank lines) is skipped; the close delimiter ends the stream, as does a
// part that announces a length of 0.
class BRHTTPMultipartDecoder : public BRHTTPDecoder {
public:
    using Log = std::function<void(std::string_view)>;

    // parameter: the Content-Type's boundary parameter, unquoted. Delimiter
    // lines are "--" and the parameter; a parameter that itself starts with
    // "--" also delimits on its own, as some cameras write it.
    BRHTTPMultipartDecoder(const std::string& parameter, Log log);

    BRHTTPDecode Decode(BRDataBuffer& in, BRDataBuffer& out) override;
    BRHTTPDecode Finish(BRDataBuffer& in, BRDataBuffer& out, bool explicitEnd) override;
    uint32_t Remaining() const override;
    uint32_t Straight() const override { return state == State::Passing ? length : 0; }
    uint32_t Took(uint32_t n, BRHTTPDecode& result) override;

    // The most bytes between two parts: line ends, delimiter line, part header.
    static constexpr uint32_t kHeaderLimit = 8192;
    // The largest part held back until its end is known.
    static constexpr uint32_t kHoldLimit = 16 * 1024 * 1024;

private:
    enum class State { Seek, Held, Passing, Ended };
    enum class Match { None, Partial, Line, Close };

    // Looks for a delimiter in text at or after `from`; sets `start` to where
    // it begins and `lineEnd` past its line end (Line), `start` alone
    // (Close, or Partial: the bytes so far might become one) and `resume` to
    // where a later search must start again.
    Match FindDelimiter(std::string_view text, size_t from, size_t& start, size_t& lineEnd, size_t& resume) const;
    // A part header at the front of text: the delimiter line and the fields.
    BRHTTPDecode ReadPartHeader(std::string_view text, size_t& used, BRDataBuffer& out);
    // How a held part ends, if that can be told yet: sets `length`.
    bool HeldPartEnds(std::string_view part, size_t& length);
    void HandOut(BRDataBuffer& out, uint32_t recordLength, std::string_view bytes);

    std::string needle;  // what every delimiter contains: "--" and the parameter, or the parameter
    bool dashedParameter;
    Log log;

    State state = State::Seek;
    bool lengthKnown = false;
    uint32_t length = 0;   // Held: the announced length; Passing: bytes still to pass
    size_t resumeAt = 0;   // Held: where the search for a delimiter goes on
};
