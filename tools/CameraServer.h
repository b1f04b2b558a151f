#pragma once

#include "CameraAuth.h"

#include <cstdint>
#include <string>

#include "CameraPictureCache.h"

// What a CameraServer serves; the command line of camera_server fills it.
struct CameraServerOptions {
    std::string host = "127.0.0.1";
    int port = 8088;                                // 0: any free port
    double fps = 25;                                // pictures per second; 0: no pauses
    std::uint64_t frames = 0;                       // pictures per stream; 0: endless
    std::uint64_t blobSize = 256ull * 1024 * 1024;  // body size of GET /blob
    std::uint64_t parts = 1000;                     // part count of GET /parts
    std::uint64_t partSize = 100 * 1024;            // part size of GET /parts
    bool stamp = false;                             // camera parts carry their send time

    // How the bodies go on the wire (partLength and the boundary forms concern
    // the multipart ones, the camera and /parts, only).
    bool chunked = false;         // in chunked transfer coding, chunks cut across parts
    bool partLength = true;       // part headers carry Content-Length
    bool quotedBoundary = false;  // the parameter written boundary="..."
    bool boundaryDashes = false;  // the parameter begins with the delimiter's "--"

    // Credentials asked before anything is served.
    CameraAuth::Scheme auth = CameraAuth::Scheme::None;
    std::string user;
    std::string password;
    bool authClose = false;  // close the connection after a 401
    bool authStale = false;  // answer the first correct Digest answer as stale
};

// A small HTTP/1.1 server on one address, one thread per client, one
// response per connection (after any number of 401 answers on it):
//   GET /blob   a body of blobSize bytes (byte k is k % 251), framed by its
//               Content-Length, or chunked with `chunked`
//   GET /parts  a multipart/x-mixed-replace body of `parts` parts of partSize
//               bytes each (the same pattern), sent without pauses, then the
//               close delimiter and the end of the connection
//   GET other   the camera: an endless multipart/x-mixed-replace stream of
//               JPEG pictures (CameraFrame 0, 1, 2, ...) at `fps`, or `frames`
//               pictures, the close delimiter and the end of the connection
// Every part header is the delimiter line "--" boundary, Content-Type and
// (unless partLength is off) Content-Length; every part's bytes are followed
// by "\r\n". The delimiter lines are the same in every form: with
// boundaryDashes the Content-Type parameter is "--" boundary, as some cameras
// send it, so a client must not put "--" in front of it again.
//
// With authentication, a request without valid credentials is answered
// "401 Unauthorized" with WWW-Authenticate and a small body of known length;
// the connection stays open for the retried request unless authClose.
// With `stamp`, every camera part header ends with "X-Sent-Monotonic-Us: "
// and the time the part was handed to the system, in microseconds of the
// system's monotonic clock (CLOCK_MONOTONIC), which every process on the
// machine shares: benchmarks measure delays by it.
class CameraServer {
public:
    static const char* const boundary;

    explicit CameraServer(const CameraServerOptions& options);
    ~CameraServer();
    CameraServer(const CameraServer&) = delete;
    CameraServer& operator=(const CameraServer&) = delete;

    // Binds and listens; returns the port. Throws std::runtime_error.
    int listen();
    // Accepts clients until the process ends.
    void run();

    // One part of a multipart body as it goes on the wire, its "\r\n" included.
    // extraHeaders: header lines, each with its "\r\n", after the others.
    std::string part(const std::string& contentType, const std::string& bytes,
                     const std::string& extraHeaders = "") const;

private:
    void serve(int client);
    void serveCamera(int client) const;
    void serveBlob(int client) const;
    void serveParts(int client) const;
    std::string multipartHeader() const;

    CameraServerOptions options;
    CameraAuth auth;
    int listener = -1;
    mutable CameraPictureCache pictures;  // shared by the client threads; locks itself
};
