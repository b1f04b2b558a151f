#include "http/BRHTTPMultipartDecoder.h"

#include <algorithm>

#include "http/BRHTTPFields.h"
#include "http/BRHTTPText.h"
#include "net/BRDataBuffer.h"

namespace {

void AppendLength(BRDataBuffer& out, uint32_t length) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
                                    static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
    out.Append(bytes, 4);
}

// The line end just before `at` (CRLF or a lone LF) belongs to the delimiter
// that starts there, not to the content before it.
size_t ContentEnd(std::string_view text, size_t at) {
    if (at >= 2 && text.compare(at - 2, 2, "\r\n") == 0) return at - 2;
    if (at >= 1 && text[at - 1] == '\n') return at - 1;
    return at;
}

}  // namespace

BRHTTPMultipartDecoder::BRHTTPMultipartDecoder(const std::string& parameter, Log log_)
    : needle(parameter.compare(0, 2, "--") == 0 ? parameter : "--" + parameter),
      dashedParameter(parameter.compare(0, 2, "--") == 0),
      log(std::move(log_)) {}

BRHTTPMultipartDecoder::Match BRHTTPMultipartDecoder::FindDelimiter(std::string_view text, size_t from,
                                                                    size_t& start, size_t& lineEnd,
                                                                    size_t& resume) const {
    for (size_t p = from;; ++p) {
        p = text.find(needle, p);
        if (p == std::string_view::npos) {
            // The last bytes may be the start of a needle that is still coming.
            resume = std::max(from, text.size() >= needle.size() ? text.size() - needle.size() + 1 : 0);
            return Match::None;
        }
        // "--" in front of a parameter that has its own dashes is the
        // delimiter as the RFC writes it.
        start = dashedParameter && p >= 2 && text.compare(p - 2, 2, "--") == 0 ? p - 2 : p;
        resume = p;
        // What follows the boundary decides: "--" closes the stream; blanks
        // and a line end make a delimiter line; anything else is content.
        size_t q = p + needle.size();
        if (q < text.size() && text[q] == '-') {
            if (q + 1 == text.size()) return Match::Partial;
            if (text[q + 1] == '-') return Match::Close;
            continue;
        }
        while (q < text.size() && (text[q] == ' ' || text[q] == '\t')) ++q;
        if (q == text.size()) return Match::Partial;
        if (text[q] == '\n') {
            lineEnd = q + 1;
            return Match::Line;
        }
        if (text[q] == '\r') {
            if (q + 1 == text.size()) return Match::Partial;
            if (text[q + 1] == '\n') {
                lineEnd = q + 2;
                return Match::Line;
            }
        }
    }
}

BRHTTPDecode BRHTTPMultipartDecoder::ReadPartHeader(std::string_view text, size_t& used, BRDataBuffer& out) {
    size_t start = 0, lineEnd = 0, resume = 0;
    const Match match = FindDelimiter(text, 0, start, lineEnd, resume);
    if (match == Match::Close) {
        state = State::Ended;
        used = text.size();  // what follows the close delimiter is not part of the stream
        return BRHTTPDecode::Done;
    }
    size_t blockEnd = 0, next = 0;
    BRHTTPText::End found = BRHTTPText::End::NotYet;
    if (match == Match::Line) found = BRHTTPText::FindHeaderEnd(text.substr(lineEnd), blockEnd, next);
    if (found == BRHTTPText::End::Never) return BRHTTPDecode::Bad;
    if (found == BRHTTPText::End::NotYet || lineEnd + next > kHeaderLimit)
        return text.size() > kHeaderLimit ? BRHTTPDecode::Bad : BRHTTPDecode::NeedMore;

    // The log shows what came between the parts, up to the end of the last
    // header line: the line end before the delimiter, the delimiter line and
    // the fields.
    size_t logEnd = lineEnd + blockEnd;
    if (blockEnd == 0) logEnd = ContentEnd(text, lineEnd);
    log(text.substr(0, logEnd));
    used = lineEnd + next;

    BRHTTPFields fields;
    if (!fields.Parse(text.substr(lineEnd, blockEnd))) return BRHTTPDecode::Bad;
    const std::string* announced = fields.Find("Content-Length");
    lengthKnown = announced != nullptr;
    if (lengthKnown) {
        int64_t value = 0;
        // A length that does not fit the 4-byte record would cut the stream
        // at the wrong place.
        if (BRHTTPText::DecimalI64(*announced, value) != BRHTTPText::Number::Ok || value < 0 ||
            value > INT64_C(0xFFFFFFFF))
            return BRHTTPDecode::Bad;
        length = static_cast<uint32_t>(value);
        if (length == 0) {
            AppendLength(out, 0);
            state = State::Ended;
            return BRHTTPDecode::Done;
        }
        if (length > kHoldLimit) {
            AppendLength(out, length);
            state = State::Passing;
            return BRHTTPDecode::NeedMore;
        }
    }
    state = State::Held;
    resumeAt = 0;
    return BRHTTPDecode::NeedMore;
}

bool BRHTTPMultipartDecoder::HeldPartEnds(std::string_view part, size_t& partLength) {
    size_t start = 0, lineEnd = 0, resume = 0;
    const Match match = FindDelimiter(part, resumeAt, start, lineEnd, resume);
    resumeAt = resume;
    if (match == Match::Line || match == Match::Close) {
        partLength = ContentEnd(part, start);
        // A right length followed by something before the delimiter (an extra
        // blank line) still counts.
        if (lengthKnown && partLength > length && part.compare(length, 2, "\r\n") == 0) partLength = length;
        return true;
    }
    if (!lengthKnown || part.size() < size_t{length} + 2) return false;
    // A delimiter that may still be forming inside the announced bytes
    // could make the part shorter.
    if (match == Match::Partial && start < length) return false;
    if (part.compare(length, 2, "\r\n") == 0) {
        partLength = length;
        return true;
    }
    // The delimiter right after the bytes, without a line end before it.
    if (match == Match::Partial && start == length) return false;
    // Neither a line end nor a delimiter after the announced bytes: the
    // length was wrong, and the part runs on to the next delimiter.
    lengthKnown = false;
    return false;
}

void BRHTTPMultipartDecoder::HandOut(BRDataBuffer& out, uint32_t recordLength, std::string_view bytes) {
    AppendLength(out, recordLength);
    out.Append(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

BRHTTPDecode BRHTTPMultipartDecoder::Decode(BRDataBuffer& in, BRDataBuffer& out) {
    const std::string_view input(in.Data(), in.Size());
    size_t at = 0;  // bytes of the input taken so far, consumed once at the end
    BRHTTPDecode result = BRHTTPDecode::NeedMore;
    while (result == BRHTTPDecode::NeedMore) {
        const std::string_view rest = input.substr(at);
        if (state == State::Ended) {
            result = BRHTTPDecode::Done;
        } else if (state == State::Seek) {
            size_t used = 0;
            result = ReadPartHeader(rest, used, out);
            at += used;
            if (used == 0) break;
        } else if (state == State::Passing) {
            const uint32_t k = static_cast<uint32_t>(std::min<size_t>(length, rest.size()));
            out.Append(rest.data(), k);
            at += k;
            length -= k;
            if (length != 0) break;
            state = State::Seek;
        } else {
            size_t partLength = 0;
            if (!HeldPartEnds(rest, partLength)) {
                if (rest.size() > kHoldLimit) result = BRHTTPDecode::Bad;
                break;
            }
            HandOut(out, static_cast<uint32_t>(partLength), rest.substr(0, partLength));
            at += partLength;
            state = State::Seek;
        }
    }
    in.Consume(static_cast<uint32_t>(at));
    return result;
}

BRHTTPDecode BRHTTPMultipartDecoder::Finish(BRDataBuffer& in, BRDataBuffer& out, bool explicitEnd) {
    const BRHTTPDecode result = Decode(in, out);
    if (result != BRHTTPDecode::NeedMore) return result;
    const std::string_view rest(in.Data(), in.Size());
    if (state == State::Held) {
        // A part cut short keeps its announced length, so the caller can
        // tell; a part without one ends where the body ended.
        if (lengthKnown) {
            HandOut(out, length, rest.substr(0, std::min<size_t>(length, rest.size())));
            if (rest.size() < length) {
                in.Clear();
                return BRHTTPDecode::Bad;
            }
        } else {
            const std::string_view bytes = rest.substr(0, ContentEnd(rest, rest.size()));
            HandOut(out, static_cast<uint32_t>(bytes.size()), bytes);
        }
        state = State::Seek;
    }
    in.Clear();
    if (state == State::Passing) return BRHTTPDecode::Bad;
    // Without its close delimiter, a stream is complete only where the body
    // itself marked its end.
    return explicitEnd ? BRHTTPDecode::Done : BRHTTPDecode::Bad;
}

uint32_t BRHTTPMultipartDecoder::Took(uint32_t n, BRHTTPDecode& result) {
    result = BRHTTPDecode::NeedMore;
    if (state != State::Passing) return 0;
    const uint32_t k = std::min(n, length);
    length -= k;
    if (length == 0) state = State::Seek;
    return k;
}

uint32_t BRHTTPMultipartDecoder::Remaining() const {
    if (state == State::Passing || (state == State::Held && lengthKnown)) return length;
    return 0;
}
