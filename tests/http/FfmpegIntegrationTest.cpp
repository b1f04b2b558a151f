// Reads a camera stream as a widely used streaming program serves it:
// ffmpeg's HTTP output of MJPEG (-f mpjpeg -listen 1), which sends the
// multipart stream in chunked transfer coding, started by the test on a free
// loopback port with pictures of the bundled camera.

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NiloRead.h"
#include "RunProcess.h"
#include "ServerProcess.h"
#include "TempDir.h"
#include "nilo.h"

namespace {

const char* kFfmpeg = "/usr/bin/ffmpeg";
constexpr int kFrames = 12;

// Cuts a multipart byte stream back into parts by their length records.
std::vector<std::string> Parts(const std::string& stream) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at + 4 <= stream.size()) {
        const auto byte = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(stream[at + k])); };
        const uint32_t length = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
        parts.push_back(stream.substr(at + 4, length));
        at += 4 + length;
    }
    return parts;
}

TEST(FfmpegIntegrationTest, EveryPictureArrivesAsSent) {
    ASSERT_EQ(::access(kFfmpeg, X_OK), 0) << "ffmpeg is not installed (tools/install-deps.sh installs it)";
    testsupport::TempDir dir;
    const auto dump = testsupport::RunProcess(
        {CAMERA_SERVER, "--dump", dir.path, "--frames", std::to_string(kFrames)}, dir.path);
    ASSERT_TRUE(dump.finished && dump.exitCode == 0) << dump.err;
    std::vector<std::string> frames;
    for (int k = 0; k < kFrames; ++k) frames.push_back(testsupport::readFile(dir / ("frame" + std::to_string(k) + ".jpg")));

    // ffmpeg waits for its one client, then sends every picture as it is
    // (-c:v copy) and ends the body with the last chunk.
    testsupport::ServerProcess ffmpeg(
        [&](int port) {
            return std::vector<std::string>{kFfmpeg,          "-hide_banner", "-loglevel", "error", "-nostdin",
                                            "-framerate",     "25",           "-i",        dir / "frame%d.jpg",
                                            "-c:v",           "copy",         "-f",        "mpjpeg",
                                            "-content_type",  "multipart/x-mixed-replace;boundary=ffmpeg",
                                            "-listen",        "1",
                                            "http://127.0.0.1:" + std::to_string(port) + "/camera.mjpg"};
        },
        dir / "ffmpeg.log");
    ASSERT_TRUE(ffmpeg.Running()) << ffmpeg.Failure();

    void* h = ConnectURL(("http://127.0.0.1:" + std::to_string(ffmpeg.Port()) + "/camera.mjpg").c_str(), 1, "", "");
    const NiloRead read = ReadAll(h, 1023);
    const std::string log = GetLog(h);
    DisconnectNILO(h);

    EXPECT_EQ(read.last(), NILO_END);
    EXPECT_TRUE(read.follows({NILO_DATA, NILO_MULTIPART}));
    EXPECT_EQ(read.bytesWith(NILO_MULTIPART), read.bytes.size());
    const std::vector<std::string> parts = Parts(read.bytes);
    ASSERT_EQ(parts.size(), frames.size());
    for (size_t k = 0; k < frames.size(); ++k) EXPECT_TRUE(parts[k] == frames[k]) << "picture " << k;
    EXPECT_NE(log.find("Transfer-Encoding: chunked"), std::string::npos) << log;
}

}  // namespace
