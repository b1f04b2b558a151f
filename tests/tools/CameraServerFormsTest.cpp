// The stream forms of camera_server's multipart bodies, each switch alone and
// all together, seen from a raw loopback socket: the Content-Type parameter
// as written, the chunked coding decoded here, and the body byte for byte.

#include "CameraFrame.h"
#include "ToolTestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using tooltest::LoopbackClient;

const std::string crlf = "\r\n";
// The delimiter lines are the same in every form.
const std::string delimiter = "--nilo-camera-frame";

std::string pattern(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t k = 0; k < length; ++k) bytes[k] = static_cast<char>(k % 251);
    return bytes;
}

std::string part(const std::string& type, const std::string& bytes, bool withLength) {
    return delimiter + "\r\nContent-Type: " + type + "\r\n" +
           (withLength ? "Content-Length: " + std::to_string(bytes.size()) + "\r\n" : "") + "\r\n" + bytes + crlf;
}

// A chunked body decoded strictly: every chunk's size line, bytes and line
// end, then the last chunk and the blank line, then nothing. The offsets
// (in the decoded body) where chunks end are collected.
struct Dechunked {
    bool ok = false;
    std::string body;
    std::set<std::size_t> chunkEnds;
};

Dechunked dechunk(const std::string& wire) {
    Dechunked out;
    std::size_t at = 0;
    for (;;) {
        const std::size_t lineEnd = wire.find(crlf, at);
        if (lineEnd == std::string::npos || lineEnd == at) return out;
        const std::string sizeText = wire.substr(at, lineEnd - at);
        if (sizeText.find_first_not_of("0123456789abcdef") != std::string::npos) return out;
        const std::size_t size = std::stoul(sizeText, nullptr, 16);
        at = lineEnd + 2;
        if (size == 0) {
            out.ok = wire.compare(at, std::string::npos, crlf) == 0;
            return out;
        }
        if (wire.size() < at + size + 2 || wire.compare(at + size, 2, crlf) != 0) return out;
        out.body.append(wire, at, size);
        out.chunkEnds.insert(out.body.size());
        at += size + 2;
    }
}

TEST(CameraServerForms, SwitchesShapeTheMultipartBodies) {
    struct Case {
        std::vector<std::string> options;
        std::string path;
        std::string parameter;  // the Content-Type parameter as written
        bool chunked;
        bool withLength;
    };
    const std::vector<std::string> camera = {"--frames", "3", "--fps", "0"};
    const std::vector<std::string> parts = {"--parts", "40", "--part-size", "3000"};
    auto with = [](std::vector<std::string> base, std::vector<std::string> more) {
        base.insert(base.end(), more.begin(), more.end());
        return base;
    };
    const Case cases[] = {
        {with(camera, {"--chunked"}), "/cam", "boundary=nilo-camera-frame", true, true},
        {with(camera, {"--no-part-length"}), "/cam", "boundary=nilo-camera-frame", false, false},
        {with(camera, {"--quoted-boundary"}), "/cam", "boundary=\"nilo-camera-frame\"", false, true},
        {with(camera, {"--boundary-dashes"}), "/cam", "boundary=--nilo-camera-frame", false, true},
        {with(camera, {"--chunked", "--no-part-length", "--quoted-boundary", "--boundary-dashes"}), "/cam",
         "boundary=\"--nilo-camera-frame\"", true, false},
        {with(parts, {"--chunked"}), "/parts", "boundary=nilo-camera-frame", true, true},
        {with(parts, {"--no-part-length", "--boundary-dashes"}), "/parts", "boundary=--nilo-camera-frame", false,
         false},
    };
    for (const Case& c : cases) {
        std::string name;
        for (const auto& option : c.options) name += option + " ";
        SCOPED_TRACE(name + c.path);

        std::string expected;
        std::vector<std::size_t> partEnds;  // offsets in the body where each part ends, its line end included
        if (c.path == "/cam") {
            for (int k = 0; k < 3; ++k) {
                expected += part("image/jpeg", CameraFrame::jpeg(k), c.withLength);
                partEnds.push_back(expected.size());
            }
        } else {
            for (int k = 0; k < 40; ++k) {
                expected += part("application/octet-stream", pattern(3000), c.withLength);
                partEnds.push_back(expected.size());
            }
        }
        expected += delimiter + "--\r\n";

        tooltest::CameraServerProcess server(c.options);
        LoopbackClient client(server.port);
        client.send(tooltest::get(c.path));
        const std::string header = client.readThrough("\r\n\r\n");
        EXPECT_EQ(header.substr(0, 17), "HTTP/1.1 200 OK\r\n");
        EXPECT_NE(header.find("\r\nContent-Type: multipart/x-mixed-replace;" + c.parameter + "\r\n"),
                  std::string::npos)
            << header;
        EXPECT_EQ(header.find("Content-Length"), std::string::npos) << header;
        EXPECT_EQ(header.find("\r\nTransfer-Encoding: chunked\r\n") != std::string::npos, c.chunked) << header;
        bool closed = false;
        const std::string wire = client.readToEnd(closed);
        EXPECT_TRUE(closed);

        if (!c.chunked) {
            EXPECT_TRUE(wire == expected) << "body of " << wire.size() << " bytes differs";
            continue;
        }
        const Dechunked decoded = dechunk(wire);
        ASSERT_TRUE(decoded.ok) << "not a well-formed chunked body";
        EXPECT_TRUE(decoded.body == expected) << "decoded body of " << decoded.body.size() << " bytes differs";
        // The chunks do not follow the parts: a camera picture goes out as
        // soon as it is made, but some of its chunks end inside the
        // delimiter line or part header; the parts of /parts go out in
        // batches, and chunks run across the ends of parts.
        if (c.path == "/cam") {
            bool endsInHeader = false;
            for (std::size_t end : decoded.chunkEnds) {
                const std::size_t lineStart = expected.rfind(delimiter, end - 1);
                endsInHeader = endsInHeader ||
                               (lineStart != std::string::npos && end < expected.find("\r\n\r\n", lineStart) + 4);
            }
            EXPECT_TRUE(endsInHeader);
        } else {
            std::size_t across = 0;
            for (std::size_t end : partEnds) across += decoded.chunkEnds.count(end) == 0;
            EXPECT_GT(across, 20u);
        }
    }
}

// /blob in chunked coding: no Content-Length, and the pattern once decoded.
TEST(CameraServerForms, ChunkedBlobDecodesToThePattern) {
    tooltest::CameraServerProcess server({"--chunked", "--blob-size", "3000000"});
    LoopbackClient client(server.port);
    client.send(tooltest::get("/blob"));
    const std::string header = client.readThrough("\r\n\r\n");
    EXPECT_NE(header.find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos) << header;
    EXPECT_EQ(header.find("Content-Length"), std::string::npos) << header;
    bool closed = false;
    const Dechunked decoded = dechunk(client.readToEnd(closed));
    EXPECT_TRUE(closed);
    ASSERT_TRUE(decoded.ok) << "not a well-formed chunked body";
    EXPECT_TRUE(decoded.body == pattern(3000000)) << "decoded body of " << decoded.body.size() << " bytes differs";
}

}  // namespace
