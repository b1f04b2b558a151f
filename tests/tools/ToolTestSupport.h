#pragma once

// Helpers for the tests of the programs in tools/: camera_server as a child
// process and a decoder run through djpeg, besides the loopback client, the
// child process and the temporary folder of tests/support.

#include "ChildProcess.h"
#include "LoopbackClient.h"
#include "TempDir.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tooltest {

using testsupport::ChildProcess;
using testsupport::LoopbackClient;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// camera_server started on a free port with the given options; it ends
// itself after a minute at the latest.
struct CameraServerProcess {
    explicit CameraServerProcess(std::vector<std::string> options) : process(withProgram(std::move(options))) {
        const std::string line = process.firstLine();
        const std::string prefix = "listening on ";
        if (line.compare(0, prefix.size(), prefix) != 0) throw std::runtime_error("server said: " + line);
        port = std::stoi(line.substr(prefix.size()));
    }
    static std::vector<std::string> withProgram(std::vector<std::string> options) {
        options.insert(options.begin(), {CAMERA_SERVER, "--port", "0", "--exit-after", "60"});
        return options;
    }
    ChildProcess process;
    int port = 0;
};

inline std::string get(const std::string& path) { return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }

struct DecodedPicture {
    bool ok = false;          // djpeg exited 0 and printed nothing
    std::string diagnostics;  // what djpeg printed
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

// Decodes JPEG bytes with djpeg into grey levels.
inline DecodedPicture decodeWithDjpeg(const std::string& jpeg) {
    DecodedPicture picture;
    TempDir dir;
    writeFile(dir / "in.jpg", jpeg);
    const std::string command = std::string("'") + NILO_DJPEG + "' -grayscale -pnm -outfile '" + (dir / "out.pgm") +
                                "' '" + (dir / "in.jpg") + "' 2>'" + (dir / "err.txt") + "'";
    const int status = std::system(command.c_str());
    picture.diagnostics = readFile(dir / "err.txt");
    picture.ok = status == 0 && picture.diagnostics.empty();
    std::istringstream pgm(readFile(dir / "out.pgm"));
    std::string magic;
    int maximum = 0;
    if (!(pgm >> magic >> picture.width >> picture.height >> maximum) || magic != "P5" || maximum != 255) {
        picture.ok = false;
        return picture;
    }
    pgm.get();  // the single white space before the samples
    picture.pixels.resize(static_cast<std::size_t>(picture.width) * picture.height);
    pgm.read(reinterpret_cast<char*>(picture.pixels.data()), static_cast<std::streamsize>(picture.pixels.size()));
    if (pgm.gcount() != static_cast<std::streamsize>(picture.pixels.size())) picture.ok = false;
    return picture;
}

}  // namespace tooltest
