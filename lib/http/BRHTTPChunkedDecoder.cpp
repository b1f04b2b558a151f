#include "http/BRHTTPChunkedDecoder.h"

#include <algorithm>

#include "http/BRHTTPText.h"
#include "net/BRDataBuffer.h"

bool BRHTTPChunkedDecoder::ParseSizeLine(std::string_view line, uint32_t& size) {
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < line.size() && BRHTTPText::IsBlank(line[i])) ++i;
    };
    auto token = [&] {
        const size_t first = i;
        while (i < line.size() && BRHTTPText::IsTokenChar(line[i])) ++i;
        return i > first;
    };
    skipBlanks();
    const size_t first = i;
    uint64_t value = 0;
    for (; i < line.size() && BRHTTPText::HexDigit(line[i]) >= 0; ++i) {
        value = value * 16 + static_cast<uint64_t>(BRHTTPText::HexDigit(line[i]));
        // The size must leave room for the line end after the data.
        if (value > UINT32_MAX - 2) return false;
    }
    if (i == first) return false;
    size = static_cast<uint32_t>(value);
    // chunk-ext = *( BWS ";" BWS ext-name [ BWS "=" BWS ( token / quoted-string ) ] )
    for (;;) {
        skipBlanks();
        if (i == line.size()) return true;
        if (line[i++] != ';') return false;
        skipBlanks();
        if (!token()) return false;
        skipBlanks();
        if (i < line.size() && line[i] == '=') {
            ++i;
            skipBlanks();
            if (i < line.size() && line[i] == '"') {
                for (++i; i < line.size() && line[i] != '"'; ++i) {
                    if (line[i] == '\\') ++i;
                }
                if (i >= line.size()) return false;
                ++i;
            } else if (!token()) {
                return false;
            }
        }
    }
}

BRHTTPDecode BRHTTPChunkedDecoder::Decode(BRDataBuffer& in, BRDataBuffer& out) {
    const std::string_view input(in.Data(), in.Size());
    size_t at = 0;  // bytes of the input taken so far, consumed once at the end
    BRHTTPDecode result = BRHTTPDecode::NeedMore;
    while (result == BRHTTPDecode::NeedMore) {
        const std::string_view rest = input.substr(at);
        if (state == State::Done) {
            result = BRHTTPDecode::Done;
        } else if (state == State::Data) {
            const uint32_t k = static_cast<uint32_t>(std::min<size_t>(remaining, rest.size()));
            out.Append(rest.data(), k);
            at += k;
            remaining -= k;
            if (remaining != 0) break;
            state = State::DataEnd;
        } else if (state == State::DataEnd) {
            if (rest.size() < 2) {
                if (!rest.empty() && rest[0] != '\r') result = BRHTTPDecode::Bad;
                break;
            }
            if (rest.compare(0, 2, "\r\n") != 0) {
                result = BRHTTPDecode::Bad;
                break;
            }
            at += 2;
            state = State::Size;
        } else {
            // A size line, or a trailer line after the last chunk.
            size_t lineEnd = 0;
            const BRHTTPText::End found = BRHTTPText::FindEnd(rest, "\r\n", lineEnd);
            const uint32_t limit =
                state == State::Size ? kLineLimit : (trailerBytes < kLineLimit ? kLineLimit - trailerBytes : 0);
            if (found == BRHTTPText::End::NotYet) {
                if (rest.size() > limit) result = BRHTTPDecode::Bad;
                break;
            }
            if (found == BRHTTPText::End::Never || lineEnd > limit) {
                result = BRHTTPDecode::Bad;
                break;
            }
            const std::string_view line = rest.substr(0, lineEnd);
            at += lineEnd + 2;
            if (line.find('\r') != std::string_view::npos) {
                result = BRHTTPDecode::Bad;
            } else if (state == State::Trailer) {
                // Trailer fields are not the caller's; the empty line ends the body.
                trailerBytes += static_cast<uint32_t>(lineEnd + 2);
                if (line.empty()) state = State::Done;
            } else if (!ParseSizeLine(line, remaining)) {
                result = BRHTTPDecode::Bad;
            } else {
                state = remaining == 0 ? State::Trailer : State::Data;
            }
        }
    }
    in.Consume(static_cast<uint32_t>(at));
    return result;
}

uint32_t BRHTTPChunkedDecoder::Took(uint32_t n, BRHTTPDecode& result) {
    result = BRHTTPDecode::NeedMore;
    if (state != State::Data) return 0;
    const uint32_t k = std::min(n, remaining);
    remaining -= k;
    if (remaining == 0) state = State::DataEnd;
    return k;
}

// The peer closed before the last chunk: the body is cut short. A peer that
// closes right after the last chunk, before the empty line, has sent it all.
BRHTTPDecode BRHTTPChunkedDecoder::Finish(BRDataBuffer& in, BRDataBuffer&, bool) {
    if (state == State::Done || (state == State::Trailer && in.Size() == 0)) return BRHTTPDecode::Done;
    return BRHTTPDecode::Bad;
}

uint32_t BRHTTPChunkedDecoder::Remaining() const {
    if (state == State::Data) return remaining + 2;
    return state == State::DataEnd ? 2 : 0;
}
