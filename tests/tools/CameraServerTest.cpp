// camera_server as a process, seen from a raw loopback socket: the framing
// byte for byte, the pictures through djpeg, --dump against the stream, and
// the finite bodies of the benchmarks.

#include "CameraFrame.h"
#include "ToolTestSupport.h"

#include <gtest/gtest.h>

#include <time.h>

#include <functional>

namespace {

using tooltest::ChildProcess;
using tooltest::LoopbackClient;

const std::string crlf = "\r\n";

using Server = tooltest::CameraServerProcess;
using tooltest::get;

std::string pattern(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t k = 0; k < length; ++k) bytes[k] = static_cast<char>(k % 251);
    return bytes;
}

// The boundary named by a multipart response header, checked to be unquoted
// and the last parameter of its line.
std::string boundaryOf(const std::string& header) {
    const std::string media = "Content-Type: multipart/x-mixed-replace;boundary=";
    const std::size_t at = header.find(media);
    if (at == std::string::npos) return "";
    const std::size_t begin = at + media.size();
    return header.substr(begin, header.find(crlf, begin) - begin);
}

std::string partOnWire(const std::string& boundary, const std::string& type, const std::string& bytes) {
    return "--" + boundary + "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(bytes.size()) +
           "\r\n\r\n" + bytes + crlf;
}

TEST(CameraServer, StreamsNumberedJpegPicturesToSeveralClientsAsDumped) {
    const int frames = 3;
    tooltest::TempDir dumped;
    ChildProcess dump({CAMERA_SERVER, "--dump", dumped.path, "--frames", std::to_string(frames)});
    dump.firstLine();  // returns when the dump has ended and closed its output

    Server server({"--fps", "50"});
    LoopbackClient first(server.port), second(server.port);
    first.send(get("/camera"));
    second.send(get("/video.mjpg?resolution=1"));
    for (LoopbackClient* client : {&first, &second}) {
        const std::string header = client->readThrough("\r\n\r\n");
        EXPECT_EQ(header.substr(0, 17), "HTTP/1.1 200 OK\r\n");
        const std::string boundary = boundaryOf(header);
        ASSERT_FALSE(boundary.empty()) << header;
        EXPECT_EQ(boundary.find_first_of("\"; \t"), std::string::npos) << boundary;

        for (int k = 0; k < frames; ++k) {
            SCOPED_TRACE("part " + std::to_string(k));
            const std::string partHeader = client->readThrough("\r\n\r\n");
            const std::string expectedStart = "--" + boundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: ";
            ASSERT_EQ(partHeader.substr(0, expectedStart.size()), expectedStart);
            const std::string length = partHeader.substr(expectedStart.size(), partHeader.size() - expectedStart.size() - 4);
            ASSERT_EQ(length.find_first_not_of("0123456789"), std::string::npos) << length;
            const std::string jpeg = client->readExactly(std::stoul(length));
            ASSERT_EQ(client->readExactly(2), crlf);

            EXPECT_EQ(jpeg, tooltest::readFile(dumped / ("frame" + std::to_string(k) + ".jpg")));
            const auto decoded = tooltest::decodeWithDjpeg(jpeg);
            EXPECT_TRUE(decoded.ok) << decoded.diagnostics;
            EXPECT_EQ(decoded.width, CameraFrame::width);
            EXPECT_EQ(decoded.height, CameraFrame::height);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dumped / ("frame" + std::to_string(frames) + ".jpg")));
}

// --stamp: each part header carries the time it was sent, on the clock that
// every process shares, so a reader can tell how long a picture took.
TEST(CameraServer, StampedPartsCarryTheirSendTime) {
    const auto now = [] {
        timespec t{};
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<unsigned long long>(t.tv_sec) * 1000000ull + static_cast<unsigned long long>(t.tv_nsec) / 1000;
    };
    Server server({"--stamp", "--fps", "50"});
    LoopbackClient client(server.port);
    const unsigned long long asked = now();
    client.send(get("/camera"));
    client.readThrough("\r\n\r\n");
    unsigned long long previous = asked;
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE("part " + std::to_string(k));
        const std::string partHeader = client.readThrough("\r\n\r\n");
        const std::string jpeg = CameraFrame::jpeg(static_cast<std::uint64_t>(k));
        const std::string field = "\r\nContent-Length: " + std::to_string(jpeg.size()) + "\r\nX-Sent-Monotonic-Us: ";
        const std::size_t at = partHeader.find(field);
        ASSERT_NE(at, std::string::npos) << partHeader;
        const unsigned long long sent = std::stoull(partHeader.substr(at + field.size()));
        EXPECT_EQ(client.readExactly(jpeg.size() + 2), jpeg + crlf);
        EXPECT_GE(sent, previous);
        EXPECT_LE(sent, now());
        previous = sent;
    }
}

TEST(CameraServer, FiniteResponsesCarryExactlyTheirBodyAndClose) {
    struct Case {
        std::vector<std::string> options;
        std::string path;
        std::string header;  // expected framing line of the response header
        std::function<std::string(const std::string& boundary)> body;
    };
    const std::string multipart = "Content-Type: multipart/x-mixed-replace;boundary=";
    const Case cases[] = {
        {{"--frames", "2", "--fps", "0"}, "/", multipart,
         [](const std::string& b) {
             return partOnWire(b, "image/jpeg", CameraFrame::jpeg(0)) + partOnWire(b, "image/jpeg", CameraFrame::jpeg(1)) +
                    "--" + b + "--\r\n";
         }},
        // 1500 parts of 1000 bytes are sent in more than one batch.
        {{"--parts", "1500", "--part-size", "1000"}, "/parts", multipart,
         [](const std::string& b) {
             std::string body;
             for (int i = 0; i < 1500; ++i) body += partOnWire(b, "application/octet-stream", pattern(1000));
             return body + "--" + b + "--\r\n";
         }},
        {{"--parts", "0"}, "/parts", multipart, [](const std::string& b) { return "--" + b + "--\r\n"; }},
        // Three sends of about 1 MiB: the pattern must run on across them.
        {{"--blob-size", "3000000"}, "/blob", "Content-Length: 3000000\r\n",
         [](const std::string&) { return pattern(3000000); }},
        {{"--blob-size", "0"}, "/blob", "Content-Length: 0\r\n", [](const std::string&) { return std::string(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + c.options[0] + " " + c.options[1]);
        Server server(c.options);
        LoopbackClient client(server.port);
        client.send(get(c.path));
        const std::string header = client.readThrough("\r\n\r\n");
        EXPECT_EQ(header.substr(0, 17), "HTTP/1.1 200 OK\r\n");
        EXPECT_NE(header.find(c.header), std::string::npos) << header;
        EXPECT_NE(header.find("Connection: close\r\n"), std::string::npos) << header;
        bool closed = false;
        const std::string body = client.readToEnd(closed);
        EXPECT_TRUE(closed);
        EXPECT_TRUE(body == c.body(boundaryOf(header))) << "body of " << body.size() << " bytes differs";
    }
}

TEST(CameraServer, RefusesOtherMethods) {
    Server server({});
    LoopbackClient client(server.port);
    client.send("POST /camera HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    bool closed = false;
    EXPECT_EQ(client.readToEnd(closed).substr(0, 13), "HTTP/1.1 405 ");
    EXPECT_TRUE(closed);
}

}  // namespace
