// camera_server: the bundled camera for niloexample, and the HTTP server of
// the benchmarks. See usage() below.

#include "CameraFrame.h"
#include "CameraServer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

void usage(std::ostream& out) {
    out << "usage: camera_server [options]\n"
           "  --host ADDR        address to listen on (default 127.0.0.1)\n"
           "  --port N           port (default 8088); 0 picks a free one\n"
           "                     prints \"listening on PORT\" once it accepts clients\n"
           "  --fps F            camera pictures per second (default 25; 0: no pauses)\n"
           "  --frames N         camera pictures per stream, then the stream ends\n"
           "                     (default 0: endless)\n"
           "  --dump DIR         write the first N pictures (--frames, default 10)\n"
           "                     to DIR/frameK.jpg exactly as served, and exit\n"
           "  --blob-size BYTES  body size of GET /blob (default 268435456)\n"
           "  --parts N          part count of GET /parts (default 1000)\n"
           "  --part-size BYTES  part size of GET /parts (default 102400)\n"
           "  --exit-after S     end the server after S seconds (default: never)\n"
           "  --stamp            every camera part header carries X-Sent-Monotonic-Us:\n"
           "                     its send time in microseconds of CLOCK_MONOTONIC\n"
           "  --chunked          send every body in chunked transfer coding (/blob\n"
           "                     then has no Content-Length); in the multipart ones\n"
           "                     chunks cut across delimiters, part headers and pictures\n"
           "multipart bodies (the camera and /parts), switches that combine with it:\n"
           "  --no-part-length   part headers without Content-Length\n"
           "  --quoted-boundary  the Content-Type parameter as boundary=\"...\"\n"
           "  --boundary-dashes  the parameter begins with the dashes of the\n"
           "                     delimiter lines (boundary=--frame, lines --frame)\n"
           "authentication (every path):\n"
           "  --user U --password P\n"
           "                     serve only requests with these credentials; others\n"
           "                     get 401 Unauthorized, the connection kept open\n"
           "  --auth basic|digest\n"
           "                     the scheme (default digest: SHA-256 and MD5, qop=auth)\n"
           "  --auth-close       close the connection after each 401\n"
           "  --auth-stale       answer the first correct Digest answer with a 401\n"
           "                     that says stale=true and gives a new nonce\n"
           "paths: /blob and /parts as above; any other path is the camera stream\n";
}

std::uint64_t number(const std::string& option, const std::string& text) {
    std::size_t used = 0;
    unsigned long long value = 0;
    try {
        value = std::stoull(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || text[0] == '-')
        throw std::invalid_argument(option + " needs a whole number, not \"" + text + "\"");
    return value;
}

int dump(const std::string& directory, std::uint64_t frames) {
    for (std::uint64_t k = 0; k < frames; ++k) {
        const std::string name = directory + "/frame" + std::to_string(k) + ".jpg";
        std::ofstream file(name, std::ios::binary | std::ios::trunc);
        const std::string bytes = CameraFrame::jpeg(k);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!file.flush()) {
            std::cerr << "camera_server: cannot write " << name << "\n";
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CameraServerOptions options;
    std::string dumpDirectory;
    bool framesGiven = false;
    bool userGiven = false;
    std::uint64_t exitAfter = 0;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string option = argv[i];
            if (option == "--help" || option == "-h") {
                usage(std::cout);
                return 0;
            }
            // Switches without a value.
            struct Switch {
                const char* name;
                bool CameraServerOptions::*member;
                bool value;
            };
            static const Switch kSwitches[] = {
                {"--stamp", &CameraServerOptions::stamp, true},
                {"--chunked", &CameraServerOptions::chunked, true},
                {"--no-part-length", &CameraServerOptions::partLength, false},
                {"--quoted-boundary", &CameraServerOptions::quotedBoundary, true},
                {"--boundary-dashes", &CameraServerOptions::boundaryDashes, true},
                {"--auth-close", &CameraServerOptions::authClose, true},
                {"--auth-stale", &CameraServerOptions::authStale, true},
            };
            const Switch* matched = nullptr;
            for (const Switch& candidate : kSwitches)
                if (option == candidate.name) matched = &candidate;
            if (matched != nullptr) {
                options.*(matched->member) = matched->value;
                continue;
            }
            if (i + 1 >= argc) throw std::invalid_argument("unknown option or missing value: " + option);
            const std::string value = argv[++i];
            if (option == "--host") {
                options.host = value;
            } else if (option == "--port") {
                const std::uint64_t port = number(option, value);
                if (port > 65535) throw std::invalid_argument("--port must be at most 65535");
                options.port = static_cast<int>(port);
            } else if (option == "--fps") {
                std::size_t used = 0;
                try {
                    options.fps = std::stod(value, &used);
                } catch (const std::exception&) {
                    used = 0;
                }
                if (used == 0 || used != value.size() || !(options.fps >= 0) || options.fps > 1e6)
                    throw std::invalid_argument("--fps needs a number from 0 to 1000000");
            } else if (option == "--frames") {
                options.frames = number(option, value);
                framesGiven = true;
            } else if (option == "--dump") {
                dumpDirectory = value;
            } else if (option == "--blob-size") {
                options.blobSize = number(option, value);
            } else if (option == "--parts") {
                options.parts = number(option, value);
            } else if (option == "--part-size") {
                options.partSize = number(option, value);
                if (options.partSize > (1ull << 30)) throw std::invalid_argument("--part-size must be at most 1 GiB");
            } else if (option == "--exit-after") {
                exitAfter = number(option, value);
            } else if (option == "--user") {
                options.user = value;
                userGiven = true;
            } else if (option == "--password") {
                options.password = value;
            } else if (option == "--auth") {
                if (value == "basic")
                    options.auth = CameraAuth::Scheme::Basic;
                else if (value == "digest")
                    options.auth = CameraAuth::Scheme::Digest;
                else
                    throw std::invalid_argument("--auth is basic or digest, not \"" + value + "\"");
            } else {
                throw std::invalid_argument("unknown option: " + option);
            }
        }
        if (userGiven && options.auth == CameraAuth::Scheme::None) options.auth = CameraAuth::Scheme::Digest;
        if (options.auth != CameraAuth::Scheme::None && !userGiven)
            throw std::invalid_argument("--auth needs --user (and --password)");
        if ((options.authClose || options.authStale) && options.auth == CameraAuth::Scheme::None)
            throw std::invalid_argument("--auth-close and --auth-stale need --user");
        if (options.authStale && options.auth != CameraAuth::Scheme::Digest)
            throw std::invalid_argument("--auth-stale needs --auth digest");
        // Basic credentials are user ":" password: the user cannot hold a colon.
        if (options.auth == CameraAuth::Scheme::Basic && options.user.find(':') != std::string::npos)
            throw std::invalid_argument("a Basic user cannot contain ':'");
    } catch (const std::exception& e) {
        std::cerr << "camera_server: " << e.what() << "\n";
        usage(std::cerr);
        return 2;
    }

    if (!dumpDirectory.empty()) return dump(dumpDirectory, framesGiven ? options.frames : 10);

    // A client that goes away must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        CameraServer server(options);
        const int port = server.listen();
        std::cout << "listening on " << port << std::endl;
        if (exitAfter > 0)
            std::thread([exitAfter] {
                std::this_thread::sleep_for(std::chrono::seconds(exitAfter));
                std::_Exit(0);
            }).detach();
        server.run();
    } catch (const std::exception& e) {
        std::cerr << "camera_server: " << e.what() << "\n";
        return 1;
    }
}
