// How niloexample cuts the stream it reads back into parts, against scripted
// HTTP sources. The whole response goes out in one send, so the library
// hands it out in the example's full 1023-byte reads; the part sizes below
// are chosen so that those reads fall where each case needs them.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "ExampleRun.h"
#include "ScriptedServer.h"

namespace {

// Part k's content: every byte value, zero bytes included, in an order of its own.
std::string content(size_t k, size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 31 + k * 7) & 0xFF);
    return bytes;
}

const std::string kMultipartHeader =
    "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=frame\r\nConnection: close\r\n\r\n";
const std::string kCloseDelimiter = "--frame--\r\n";

std::string partOnWire(const std::string& bytes, size_t announced) {
    return "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(announced) + "\r\n\r\n" +
           bytes + "\r\n";
}

struct CuttingCase {
    const char* name;
    std::string response;            // everything the server sends before it closes
    std::vector<std::string> parts;  // the part files expected, in order
    std::string sink;
    std::string text;  // ordinary data printed between the "u: " line and the logs
};

// A multipart stream of parts of these lengths; `ending` follows the last one.
CuttingCase multipart(const char* name, const std::vector<size_t>& lengths, const std::string& ending) {
    CuttingCase c{name, kMultipartHeader, {}, "", ""};
    for (size_t k = 0; k < lengths.size(); ++k) {
        c.parts.push_back(content(k, lengths[k]));
        c.sink += c.parts.back();
        c.response += partOnWire(c.parts.back(), lengths[k]);
    }
    c.response += ending;
    return c;
}

std::vector<CuttingCase> cases() {
    std::vector<CuttingCase> all;
    // 4 + 2044 bytes: the second read ends after 2 bytes of the next length.
    all.push_back(multipart("LengthSplitAcrossReads", {2044, 2044, 3000, 3000, 3000}, kCloseDelimiter));
    // 4 + 3000 bytes: the third read holds the end of a part, the next length
    // and the first 65 bytes of the next part.
    all.push_back(multipart("ReadHoldsEndOfOnePartAndStartOfNext", {3000, 3000, 3000, 3000}, kCloseDelimiter));
    {
        // A part that announces length 0 ends the response: its length is the
        // last thing the example reads, so it opens an empty part file.
        CuttingCase c = multipart("PartOfLengthZeroEndsTheStream", {3000, 3000, 3000},
                                  partOnWire("", 0) + partOnWire(content(9, 100), 100) + kCloseDelimiter);
        c.parts.push_back("");
        all.push_back(c);
    }
    {
        std::string body;
        for (int line = 0; body.size() < 2500; ++line) body += "line " + std::to_string(line) + " of a plain text\n";
        all.push_back({"NotMultipart",
                       "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\n\r\n" + body,
                       {},
                       body,
                       body});
    }
    all.push_back(multipart("ExactlyNinePartsThenTheEnd", {1500, 1600, 1700, 1800, 1900, 2000, 2100, 2200, 2300},
                            kCloseDelimiter));
    {
        // The peer goes away inside a part: the part file keeps what arrived.
        CuttingCase c = multipart("PeerClosesInsideAPart", {3000, 3000, 3000},
                                  "--frame\r\nContent-Length: 3000\r\n\r\n" + content(3, 1200));
        c.parts.push_back(content(3, 1200));
        c.sink += c.parts.back();
        all.push_back(c);
    }
    return all;
}

void PrintTo(const CuttingCase& c, std::ostream* out) { *out << c.name; }

class ExampleCutting : public testing::TestWithParam<CuttingCase> {};

TEST_P(ExampleCutting, WritesEachPartToItsFileAndEveryContentByteToTheSink) {
    const CuttingCase& c = GetParam();
    ScriptedServer server;
    ASSERT_TRUE(server.Listening());
    server.Add(ScriptedServer::Script().AwaitRequest().Send(c.response).Close());

    const auto run = exampletest::runExample("http://127.0.0.1:" + std::to_string(server.Port()) + "/stream");

    ASSERT_TRUE(run.process.finished);
    EXPECT_EQ(run.process.exitCode, 0);
    EXPECT_EQ(run.process.err, "");
    EXPECT_EQ(run.files, exampletest::expectedFiles(c.parts.size()));
    ASSERT_EQ(run.parts.size(), c.parts.size());
    for (size_t k = 0; k < c.parts.size(); ++k) {
        EXPECT_EQ(run.parts[k].size(), c.parts[k].size()) << "part " << k;
        EXPECT_TRUE(run.parts[k] == c.parts[k]) << "part " << k << " differs";
    }
    EXPECT_EQ(run.sink.size(), c.sink.size());
    EXPECT_TRUE(run.sink == c.sink) << "the sink differs";
    ASSERT_TRUE(run.output.wellFormed) << run.process.out;
    EXPECT_EQ(run.output.text, c.text);
    EXPECT_TRUE(server.Problems().empty());
}

INSTANTIATE_TEST_SUITE_P(Streams, ExampleCutting, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<CuttingCase>& info) { return std::string(info.param.name); });

}  // namespace
