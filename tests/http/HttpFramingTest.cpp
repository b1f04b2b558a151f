// The three body framings, each case run with the response whole and one byte
// per send: both must deliver the same bytes and end the same way.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "HttpCase.h"

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string k26 = "abcdefghijklmnopqrstuvwxyz";

std::string Multipart(const std::string& boundaryParameter = "frame") {
    return kOk + "Content-Type: multipart/x-mixed-replace; boundary=" + boundaryParameter + "\r\n\r\n";
}

std::string Part(const std::string& body, const std::string& length = "") {
    return "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " +
           (length.empty() ? std::to_string(body.size()) : length) + "\r\n\r\n" + body + "\r\n";
}

// A body in chunked transfer coding, cut every `size` bytes wherever that
// falls; without its last chunk when `last` is false.
std::string Chunked(const std::string& body, size_t size, bool last = true) {
    std::string coded;
    for (size_t i = 0; i < body.size(); i += size) {
        const std::string piece = body.substr(i, size);
        char line[16];
        std::snprintf(line, sizeof line, "%zx\r\n", piece.size());
        coded += line + piece + "\r\n";
    }
    return last ? coded + "0\r\n\r\n" : coded;
}

std::string ChunkedMultipart() {
    return kOk + "Transfer-Encoding: chunked\r\nContent-Type: multipart/x-mixed-replace;boundary=frame\r\n\r\n";
}

// A part as servers that leave out the length send it.
std::string PartWithoutLength(const std::string& body) { return "--frame\r\nContent-Type: image/jpeg\r\n\r\n" + body + "\r\n"; }

std::string Bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + 3);
    return s;
}

std::string OneByteChunks(size_t n) {
    std::string body;
    for (size_t i = 0; i < n; ++i) body += "1\r\n" + std::string(1, static_cast<char>('a' + i % 26)) + "\r\n";
    return body + "0\r\n\r\n";
}

std::string Letters(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

const std::string kPart1000 = Bytes(1000);

// DATA while the header comes, MULTIPART once it is complete: every part
// byte comes with NILO_MULTIPART, also those handed out after the stream
// has ended or failed.
const std::vector<NILOState> kMultipartPhases = {NILO_DATA, NILO_MULTIPART};

const HttpCase kCases[] = {
    // Content-Length
    {"length", kOk + "Content-Length: 5\r\n\r\nhello", "hello", NILO_END, {NILO_DATA}},
    {"length zero", kOk + "Content-Length: 0\r\n\r\n", "", NILO_END, {NILO_DATA}},
    {"header names in any case", "HTTP/1.1 200 OK\r\nCONTENT-LENGTH:   3\r\n\r\nabc", "abc", NILO_END, {NILO_DATA}},
    {"404 body is data", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", "not found", NILO_END,
     {NILO_DATA}},
    {"binary body", kOk + "Content-Length: 1000\r\n\r\n" + kPart1000, kPart1000, NILO_END, {NILO_DATA}},
    {"surplus with the header is dropped", kOk + "Content-Length: 3\r\n\r\nabcdef", "abc", NILO_END, {NILO_DATA},
     true, true},
    {"length too large", kOk + "Content-Length: 4294967296\r\n\r\n", "", NILO_ERROR, {NILO_DATA}},
    {"length without digits", kOk + "Content-Length: x\r\n\r\n", "", NILO_ERROR, {NILO_DATA}},
    // Neither a length nor chunked coding: the body runs to the close.
    {"body delimited by the close", kOk + "Server: x\r\n\r\nbody", "body", NILO_END, {NILO_DATA}},
    {"empty body delimited by the close", kOk + "Server: x\r\n\r\n", "", NILO_END, {NILO_DATA}},
    {"no status code", "HTTP/1.1 OK\r\nContent-Length: 2\r\n\r\nab", "", NILO_ERROR, {NILO_DATA}},

    // Transfer-Encoding
    {"other transfer coding runs to the close", kOk + "Transfer-Encoding: gzip\r\n\r\nxxxx", "xxxx", NILO_END,
     {NILO_DATA}},
    {"chunked", kOk + "Transfer-Encoding: chunked\r\n\r\n1a\r\n" + k26 + "\r\n0\r\n\r\n", k26, NILO_END, {NILO_DATA}},
    {"chunk sizes in either case and with extensions",
     kOk + "Transfer-Encoding: chunked\r\n\r\n1A\r\n" + k26 + "\r\n1a;name=value\r\n" + k26 + "\r\n 3\r\nxyz\r\n0\r\n\r\n",
     k26 + k26 + "xyz", NILO_END, {NILO_DATA}},
    {"chunked wins over content-length",
     kOk + "Content-Length: 99\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", "ok", NILO_END,
     {NILO_DATA}},
    {"chunk size not a number", kOk + "Transfer-Encoding: chunked\r\n\r\nzz\r\nab\r\n0\r\n\r\n", "", NILO_ERROR,
     {NILO_DATA}},
    {"chunk size beyond 32 bits", kOk + "Transfer-Encoding: chunked\r\n\r\n100000000\r\nab\r\n", "", NILO_ERROR,
     {NILO_DATA}},
    // Sizes whose line end would not fit in 32 bits must not wrap to a small chunk.
    {"chunk size FFFFFFFE", kOk + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFE\r\nab\r\n0\r\n\r\n", "", NILO_ERROR,
     {NILO_DATA}},
    {"chunk size FFFFFFFF", kOk + "Transfer-Encoding: chunked\r\n\r\nffffffff\r\nab\r\n0\r\n\r\n", "", NILO_ERROR,
     {NILO_DATA}},
    {"many one-byte chunks", kOk + "Transfer-Encoding: chunked\r\n\r\n" + OneByteChunks(3000), Letters(3000),
     NILO_END, {NILO_DATA}},

    // multipart/x-mixed-replace
    {"multipart parts carry their length",
     Multipart() + Part(kPart1000) + Part("second") + "--frame--\r\n",
     std::string("\xE8\x03\x00\x00", 4) + kPart1000 + LittleEndian(6) + "second", NILO_END, kMultipartPhases},
    {"multipart close delimiter needs nothing after it", Multipart() + Part("x") + "--frame--",
     LittleEndian(1) + "x", NILO_END, kMultipartPhases},
    {"multipart part of length zero ends the stream", Multipart() + Part("ab") + Part("", "0") + Part("cd"),
     LittleEndian(2) + "ab" + LittleEndian(0), NILO_END, kMultipartPhases},
    // The last part ends where the peer closed, which is still no end of
    // the stream.
    {"multipart part without content-length cut by the close",
     Multipart() + Part("ab") + "--frame\r\nContent-Type: x\r\n\r\nzz", LittleEndian(2) + "ab" + LittleEndian(2) + "zz",
     NILO_ERROR, kMultipartPhases},
    {"multipart part without the boundary", Multipart() + "--other\r\nContent-Length: 2\r\n\r\nab\r\n", "",
     NILO_ERROR, kMultipartPhases},
    {"multipart quoted boundary", Multipart("\"frame\"") + Part("ab") + "--frame--\r\n", LittleEndian(2) + "ab",
     NILO_END, kMultipartPhases},
    {"multipart content-type without boundary", kOk + "Content-Type: multipart/x-mixed-replace\r\n\r\n", "",
     NILO_ERROR, {NILO_DATA}},
    // A length that does not fit the 4-byte record must not be cut to 32 bits.
    {"multipart length beyond 32 bits", Multipart() + Part("ab", "4294967297"), "", NILO_ERROR, kMultipartPhases},
    {"multipart negative length", Multipart() + Part("ab", "-1"), "", NILO_ERROR, kMultipartPhases},
    {"multipart length 4294967295 is accepted", Multipart() + Part("ab", "4294967295"),
     LittleEndian(0xFFFFFFFF) + "ab\r\n", NILO_ERROR, kMultipartPhases},

    // The boundary parameter as media types write it.
    {"multipart boundary among other parameters, any case, blanks around",
     kOk + "Content-Type: Multipart/X-Mixed-Replace ; charset=x; BOUNDARY = \"frame\" ; q=1\r\n\r\n" + Part("ab") +
         "--frame--\r\n",
     LittleEndian(2) + "ab", NILO_END, kMultipartPhases},
    {"multipart boundary with a quoted backslash",
     kOk + "Content-Type: multipart/x-mixed-replace;boundary=\"fr\\ame\"\r\n\r\n" + Part("ab") + "--frame--\r\n",
     LittleEndian(2) + "ab", NILO_END, kMultipartPhases},
    // Cameras that put the dashes into the parameter: their delimiter lines
    // are the parameter itself; the lines the RFC would make count too.
    {"multipart dashes in the boundary parameter", Multipart("--frame") + Part("ab") + Part("cd") + "--frame--\r\n",
     LittleEndian(2) + "ab" + LittleEndian(2) + "cd", NILO_END, kMultipartPhases},
    {"multipart dashes in the parameter and delimiters as the RFC writes them",
     Multipart("--frame") + "--" + Part("ab") + "----frame--\r\n", LittleEndian(2) + "ab", NILO_END,
     kMultipartPhases},
    {"multipart empty boundary parameter", Multipart("\"\"") + Part("ab"), "", NILO_ERROR, {NILO_DATA}},

    // Parts whose header has no Content-Length end at the next delimiter.
    {"multipart parts without content-length",
     Multipart() + PartWithoutLength(kPart1000) + PartWithoutLength("second") + "--frame--\r\n",
     LittleEndian(1000) + kPart1000 + LittleEndian(6) + "second", NILO_END, kMultipartPhases},
    {"multipart part without content-length, delimiter after a bare line feed",
     Multipart() + "--frame\r\n\r\nab\n--frame\r\n\r\ncd\r\n--frame--", LittleEndian(2) + "ab" + LittleEndian(2) + "cd",
     NILO_END, kMultipartPhases},
    // Delimiters win over a Content-Length that disagrees with them.
    {"multipart content-length longer than the part",
     Multipart() + Part("abcd", "700") + Part("second") + "--frame--\r\n",
     LittleEndian(4) + "abcd" + LittleEndian(6) + "second", NILO_END, kMultipartPhases},
    {"multipart content-length shorter than the part",
     Multipart() + Part("abcdefghijklm", "4") + Part("second") + "--frame--\r\n",
     LittleEndian(13) + "abcdefghijklm" + LittleEndian(6) + "second", NILO_END, kMultipartPhases},
    // What real servers put around the parts.
    {"multipart preamble before the first delimiter",
     Multipart() + "This is a stream of pictures.\r\n" + Part("ab") + "--frame--\r\n", LittleEndian(2) + "ab",
     NILO_END, kMultipartPhases},
    {"multipart blank lines between parts", Multipart() + Part("ab") + "\r\n\r\n" + Part("cd") + "--frame--\r\n",
     LittleEndian(2) + "ab" + LittleEndian(2) + "cd", NILO_END, kMultipartPhases},
    {"multipart no line end before the delimiter",
     Multipart() + "--frame\r\nContent-Length: 2\r\n\r\nab--frame\r\nContent-Length: 2\r\n\r\ncd--frame--",
     LittleEndian(2) + "ab" + LittleEndian(2) + "cd", NILO_END, kMultipartPhases},
    {"multipart blanks after the delimiter", Multipart() + "--frame  \r\nContent-Length: 2\r\n\r\nab\r\n--frame--",
     LittleEndian(2) + "ab", NILO_END, kMultipartPhases},
    {"multipart boundary text inside a part is no delimiter",
     Multipart() + Part("x--framey--frame-z") + "--frame--\r\n", LittleEndian(18) + "x--framey--frame-z", NILO_END,
     kMultipartPhases},

    // A multipart stream in chunked transfer coding: the chunks are decoded
    // first, then the decoded bytes cut into parts.
    {"chunked multipart", ChunkedMultipart() + Chunked(Part(kPart1000) + Part("second") + "--frame--\r\n", 7),
     LittleEndian(1000) + kPart1000 + LittleEndian(6) + "second", NILO_END, kMultipartPhases},
    {"chunked multipart without content-length",
     ChunkedMultipart() + Chunked(PartWithoutLength("first") + PartWithoutLength("second") + "--frame--\r\n", 100),
     LittleEndian(5) + "first" + LittleEndian(6) + "second", NILO_END, kMultipartPhases},
    // As a streaming program ends its output: a delimiter for a next part
    // that never comes, then the last chunk.
    {"chunked multipart ended by the last chunk", ChunkedMultipart() + Chunked(Part("ab") + Part("cd") + "--frame\r\n", 5),
     LittleEndian(2) + "ab" + LittleEndian(2) + "cd", NILO_END, kMultipartPhases},
    {"chunked multipart cut by the close", ChunkedMultipart() + Chunked(Part("ab") + Part("cd"), 5, false),
     LittleEndian(2) + "ab" + LittleEndian(2) + "cd", NILO_ERROR, kMultipartPhases},
    {"chunked multipart with a bad chunk size", ChunkedMultipart() + Chunked(Part("ab"), 100, false) + "zz\r\n",
     LittleEndian(2) + "ab", NILO_ERROR, kMultipartPhases},

    // The header by the message grammar: names start a line and match
    // exactly; nothing in a value or another field's name frames the body.
    {"a longer name ending in content-length is another field",
     kOk + "X-Original-Content-Length: 2\r\nContent-Length: 4\r\n\r\nabcd", "abcd", NILO_END, {NILO_DATA}},
    {"content-length inside a value", kOk + "X-Note: content-length: 3\r\nContent-Length: 5\r\n\r\nhello", "hello",
     NILO_END, {NILO_DATA}},
    {"a longer name ending in transfer-encoding is another field",
     kOk + "X-Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\nhello", "hello", NILO_END, {NILO_DATA}},
    {"blank before the colon", kOk + "Content-Length : 2\r\n\r\nab", "", NILO_ERROR, {NILO_DATA}},
    {"line without a colon", kOk + "Content-Length: 2\r\nnonsense\r\n\r\nab", "", NILO_ERROR, {NILO_DATA}},
    {"lone CR inside the header", kOk + "X: a\rContent-Length: 2\r\n\r\nab", "", NILO_ERROR, {NILO_DATA}},
    {"lone LF ends lines", "HTTP/1.1 200 OK\nContent-Length: 2\n\nab", "ab", NILO_END, {NILO_DATA}},
    {"folded line is joined", kOk + "X-Long: a\r\n  b\r\nContent-Length:\r\n 2\r\n\r\nab", "ab", NILO_END, {NILO_DATA}},
    {"fold without a field before it", kOk + " folded\r\nContent-Length: 2\r\n\r\nab", "", NILO_ERROR, {NILO_DATA}},
    // Status line
    {"status line without a reason", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nab", "ab", NILO_END, {NILO_DATA}},
    {"status line of HTTP/1.0", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nab", "ab", NILO_END, {NILO_DATA}},
    {"status code of four digits", "HTTP/1.1 2000 OK\r\nContent-Length: 2\r\n\r\nab", "", NILO_ERROR, {NILO_DATA}},
    {"two blanks before the status code", "HTTP/1.1  200 OK\r\nContent-Length: 2\r\n\r\nab", "", NILO_ERROR,
     {NILO_DATA}},
    {"not an HTTP version", "HTTP/1 200 OK\r\nContent-Length: 2\r\n\r\nab", "", NILO_ERROR, {NILO_DATA}},
    // Content-Length
    {"content-length with text after it", kOk + "Content-Length: 5 bytes\r\n\r\nhello", "", NILO_ERROR, {NILO_DATA}},
    {"content-length of two numbers", kOk + "Content-Length: 4 2\r\n\r\nabcd", "", NILO_ERROR, {NILO_DATA}},
    {"content-length repeated with the same value", kOk + "Content-Length: 4\r\nContent-Length: 4, 4\r\n\r\nabcd",
     "abcd", NILO_END, {NILO_DATA}},
    {"content-length repeated with different values", kOk + "Content-Length: 4\r\nContent-Length: 2\r\n\r\nabcd",
     "", NILO_ERROR, {NILO_DATA}},
    {"content-length list with different values", kOk + "Content-Length: 4, 2\r\n\r\nabcd", "", NILO_ERROR,
     {NILO_DATA}},
    {"content-length with a sign", kOk + "Content-Length: +4\r\n\r\nabcd", "", NILO_ERROR, {NILO_DATA}},
    // Transfer-Encoding as one list over all its fields
    {"chunked on a second transfer-encoding line",
     kOk + "Transfer-Encoding: deflate\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", "ok", NILO_END,
     {NILO_DATA}},
    {"chunked not the last coding runs to the close", kOk + "Transfer-Encoding: chunked, gzip\r\n\r\n2\r\nok\r\n",
     "2\r\nok\r\n", NILO_END, {NILO_DATA}},
    {"chunkedchunked is not chunked", kOk + "Transfer-Encoding: chunkedchunked\r\n\r\n2\r\nok", "2\r\nok", NILO_END,
     {NILO_DATA}},
    {"chunked twice", kOk + "Transfer-Encoding: chunked, chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", "", NILO_ERROR,
     {NILO_DATA}},
    // Chunk lines
    {"chunk-size line with a lone CR", kOk + "Transfer-Encoding: chunked\r\n\r\n5\r\r;ABCD\r\nhello\r\n0\r\n\r\n", "",
     NILO_ERROR, {NILO_DATA}},
    {"chunk-size followed by text", kOk + "Transfer-Encoding: chunked\r\n\r\n5x\r\nhello\r\n0\r\n\r\n", "",
     NILO_ERROR, {NILO_DATA}},
    {"chunk extensions", kOk + "Transfer-Encoding: chunked\r\n\r\n5 ; a=b;c=\"d; e\"\r\nhello\r\n0;last\r\n\r\n", "hello",
     NILO_END, {NILO_DATA}},
    {"chunk extension without a name", kOk + "Transfer-Encoding: chunked\r\n\r\n5;\r\nhello\r\n0\r\n\r\n", "",
     NILO_ERROR, {NILO_DATA}},
    {"chunk data not followed by its line end",
     kOk + "Transfer-Encoding: chunked\r\n\r\n2\r\nabXY2\r\ncd\r\n0\r\n\r\n", "ab", NILO_ERROR, {NILO_DATA}},
    {"trailer fields after the last chunk", kOk + "Transfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\nX-T: 1\r\n\r\n",
     "ok", NILO_END, {NILO_DATA}, false},
    // Status codes that frame no body of their own
    {"interim responses come first",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" + kOk + "Content-Length: 2\r\n\r\nab",
     "ab", NILO_END, {NILO_DATA}},
    {"switching protocols was not asked for", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\nab", "",
     NILO_ERROR, {NILO_DATA}},
    {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n", "", NILO_END, {NILO_DATA}, false},
    {"304 has no body", "HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\nnext bytes", "", NILO_END,
     {NILO_DATA}, false},

    // A peer that closes before the response is complete: what arrived is
    // delivered, then the read fails instead of waiting for ever.
    {"peer closes inside the header", kOk + "Content-Le", "", NILO_ERROR, {NILO_DATA}},
    {"peer closes inside a length body", kOk + "Content-Length: 10\r\n\r\n12345", "12345", NILO_ERROR,
     {NILO_DATA}},
    {"peer closes inside a chunk", kOk + "Transfer-Encoding: chunked\r\n\r\n1a\r\nabc", "abc", NILO_ERROR,
     {NILO_DATA}},
    {"peer closes before the last chunk", kOk + "Transfer-Encoding: chunked\r\n\r\n2\r\nab\r\n", "ab",
     NILO_ERROR, {NILO_DATA}},
    {"peer closes a multipart stream without its close delimiter", Multipart() + Part("ab") + Part("cd"),
     LittleEndian(2) + "ab" + LittleEndian(2) + "cd", NILO_ERROR, kMultipartPhases},
    {"peer closes inside a part", Multipart() + Part("abcd").substr(0, 58), LittleEndian(4) + "ab", NILO_ERROR,
     kMultipartPhases},

    // Nothing the reader collects may grow without bound.
    {"header without its end past 8192 bytes", kOk + "X: " + std::string(8200, 'x'), "", NILO_ERROR, {NILO_DATA},
     false},
    {"part header without its end past 8192 bytes", Multipart() + "--frame\r\nX: " + std::string(8200, 'x'), "",
     NILO_ERROR, kMultipartPhases, false},
    {"chunk-size line without its end past 8192 bytes",
     kOk + "Transfer-Encoding: chunked\r\n\r\n" + std::string(8200, '1'), "", NILO_ERROR, {NILO_DATA}, false},
};

class HttpFramingTest : public testing::TestWithParam<size_t> {};

TEST_P(HttpFramingTest, DeliversBytesAndEnds) {
    const size_t pieceSize = GetParam();
    for (const HttpCase& c : kCases) {
        if (c.wholeOnly && pieceSize != 0) continue;
        SCOPED_TRACE(c.name);
        const NiloRead read = RunCase(c, pieceSize);
        EXPECT_EQ(read.last(), c.last);
        EXPECT_TRUE(read.bytes == c.delivered) << "delivered " << testing::PrintToString(read.bytes);
        EXPECT_TRUE(read.follows(c.along)) << testing::PrintToString(read.results);
        if (c.along == kMultipartPhases) {
            EXPECT_EQ(read.bytesWith(NILO_MULTIPART), c.delivered.size());
        }
    }
}

// A part whose Content-Length is right reaches the caller as soon as its
// bytes and the line end after them have come, not when the next delimiter
// does: at one picture a second, waiting for it would put the picture a
// second late.
TEST(HttpFramingTest, RightLengthPartIsHandedOutBeforeTheNextDelimiter) {
    for (const std::string& response : {Multipart() + Part("abc"), ChunkedMultipart() + Chunked(Part("abc"), 9, false)}) {
        for (size_t pieceSize : {size_t{0}, size_t{1}}) {
            SCOPED_TRACE(pieceSize);
            ScriptedServer server;
            server.Add(ScriptedServer::Script(pieceSize).AwaitRequest().Send(response).FallSilent());
            void* h = ConnectURL(Url(server).c_str(), 1, "", "");
            const std::string expected = LittleEndian(3) + "abc";
            // The first read sends the request; once the server has sent
            // everything, a few reads must bring the part.
            NiloRead read = ReadAll(h, 100, 1);
            ASSERT_TRUE(server.WaitSteps(0, 2));
            for (int call = 0; call < 10 && read.bytes.size() < expected.size(); ++call) {
                const NiloRead more = ReadAll(h, 100, 1);
                read.bytes += more.bytes;
                read.results.push_back(more.last());
            }
            EXPECT_EQ(read.bytes, expected) << testing::PrintToString(read.results);
            EXPECT_EQ(read.last(), NILO_MULTIPART);
            DisconnectNILO(h);
        }
    }
}

// Each read handles every complete chunk or part already received, so a
// stream of tiny ones is read in a few reads instead of one read per chunk
// while the rest piles up.
TEST(HttpFramingTest, TinyChunksAndPartsDoNotPileUp) {
    std::string parts;
    std::string partBytes;
    for (int i = 0; i < 2000; ++i) {
        parts += "--frame\r\nContent-Length: 1\r\n\r\nz\r\n";
        partBytes += LittleEndian(1) + "z";
    }
    const HttpCase cases[] = {
        {"one-byte chunks", kOk + "Transfer-Encoding: chunked\r\n\r\n" + OneByteChunks(5000), Letters(5000),
         NILO_END, {NILO_DATA}},
        {"one-byte parts", Multipart() + parts + "--frame--\r\n", partBytes, NILO_END, kMultipartPhases},
    };
    for (const HttpCase& c : cases) {
        SCOPED_TRACE(c.name);
        const NiloRead read = RunCase(c, 0);
        EXPECT_EQ(read.last(), c.last);
        EXPECT_TRUE(read.bytes == c.delivered);
        // About one read per 4096 bytes received, with room for 64 KiB per read.
        EXPECT_LT(read.results.size(), c.response.size() / 1000) << read.results.size() << " reads";
    }
}

INSTANTIATE_TEST_SUITE_P(Pieces, HttpFramingTest, testing::Values(size_t{0}, size_t{1}),
                         [](const testing::TestParamInfo<size_t>& info) {
                             return info.param == 0 ? std::string("Whole") : std::string("ByteByByte");
                         });

}  // namespace
