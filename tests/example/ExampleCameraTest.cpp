// niloexample against the bundled camera server, both as processes: the
// pictures it saves are the ones served, byte for byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "ExampleRun.h"
#include "RunProcess.h"
#include "TempDir.h"

namespace {

using exampletest::partName;
using testsupport::ChildProcess;

// The first `count` pictures of the camera, as camera_server --dump writes them.
std::vector<std::string> dumpedFrames(int count) {
    testsupport::TempDir dir;
    const auto dump =
        testsupport::RunProcess({CAMERA_SERVER, "--dump", dir.path, "--frames", std::to_string(count)}, dir.path);
    if (!dump.finished || dump.exitCode != 0) throw std::runtime_error("camera_server --dump failed: " + dump.err);
    std::vector<std::string> frames;
    for (int k = 0; k < count; ++k)
        frames.push_back(testsupport::readFile(dir / ("frame" + std::to_string(k) + ".jpg")));
    return frames;
}

// The forms the camera can send its stream in, as real servers do.
struct StreamForm {
    const char* name;
    std::vector<std::string> options;
    bool partLength;  // whether part headers carry a Content-Length
};

const StreamForm kForms[] = {
    {"Plain", {}, true},
    {"Chunked", {"--chunked"}, true},
    {"NoPartLength", {"--no-part-length"}, false},
    {"QuotedBoundary", {"--quoted-boundary"}, true},
    {"BoundaryDashes", {"--boundary-dashes"}, true},
    {"AllAtOnce", {"--chunked", "--no-part-length", "--quoted-boundary", "--boundary-dashes"}, false},
    // A camera that asks for the example's user and password.
    {"Digest", {"--user", "demo-user", "--password", "demo-password", "--auth", "digest"}, true},
    {"Basic", {"--user", "demo-user", "--password", "demo-password", "--auth", "basic"}, true},
    // One that closes after its challenge and then finds the first answer's nonce stale.
    {"DigestStaleAfterClose",
     {"--user", "demo-user", "--password", "demo-password", "--auth", "digest", "--auth-close", "--auth-stale"},
     true},
};

class ExampleWithCamera : public testing::TestWithParam<StreamForm> {};

TEST_P(ExampleWithCamera, SavesNinePicturesAsServedAndPrintsBothLogs) {
    std::vector<std::string> command = {CAMERA_SERVER, "--port", "0", "--exit-after", "60"};
    command.insert(command.end(), GetParam().options.begin(), GetParam().options.end());
    ChildProcess camera(command);
    const std::string listening = camera.firstLine();
    ASSERT_EQ(listening.rfind("listening on ", 0), 0u) << listening;
    const std::string port = listening.substr(std::string("listening on ").size());
    const std::vector<std::string> frames = dumpedFrames(9);

    const auto run = exampletest::runExample("http://127.0.0.1:" + port + "/camera.mjpg");

    ASSERT_TRUE(run.process.finished);
    EXPECT_EQ(run.process.exitCode, 0);
    EXPECT_EQ(run.process.err, "");
    // Part files 0 to 8 hold pictures 0 to 8; the loop ends as soon as part
    // file 9 is open, so it stays empty.
    EXPECT_EQ(run.files, exampletest::expectedFiles(10));
    ASSERT_EQ(run.parts.size(), 10u);
    std::string contents;
    for (size_t k = 0; k < frames.size(); ++k) {
        EXPECT_EQ(run.parts[k], frames[k]) << partName(k);
        contents += frames[k];
    }
    EXPECT_EQ(run.parts[9], "");
    EXPECT_EQ(run.sink, contents);

    const auto& out = run.output;
    ASSERT_TRUE(out.wellFormed) << run.process.out;
    EXPECT_EQ(out.handle.rfind("0x", 0), 0u) << out.handle;
    EXPECT_EQ(out.text, "");
    EXPECT_EQ(out.sinkLog, "");  // a file sink logs no traffic
    const std::string& log = out.sourceLog;
    EXPECT_EQ(log.find("\nGET /camera.mjpg HTTP/1.1\r\n"), 0u) << log;
    EXPECT_NE(log.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Content-Type: multipart/x-mixed-replace;boundary="), std::string::npos);
    // The part headers of the saved pictures, in order.
    size_t at = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
        std::string header = "--nilo-camera-frame\r\nContent-Type: image/jpeg";
        if (GetParam().partLength) header += "\r\nContent-Length: " + std::to_string(frames[k].size());
        header += "\n";
        at = log.find(header, at);
        ASSERT_NE(at, std::string::npos) << "part header " << k << " in\n" << log;
        at += header.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, ExampleWithCamera, testing::ValuesIn(kForms),
                         [](const testing::TestParamInfo<StreamForm>& info) { return std::string(info.param.name); });

}  // namespace
