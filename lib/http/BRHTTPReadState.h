#pragma once

#include <memory>
#include <optional>

#include "http/BRHTTPAuthenticator.h"
#include "http/BRHTTPDecoder.h"
#include "net/BRDataBuffer.h"

// What the HTTP reader keeps between the reads of one response: where it
// stands, the decoders of the body, and an end that waits for the next read.
// A redirect starts a fresh one.
struct BRHTTPReadState {
    enum class Phase { Header, Body };
    Phase phase = Phase::Header;
    // How the body is delimited: a Content-Length, chunked coding, the close.
    std::unique_ptr<BRHTTPDecoder> transfer;
    // What cuts the delimited bytes into parts, or null: they are the caller's.
    std::unique_ptr<BRHTTPDecoder> content;
    // The bytes between the two layers, where the transfer layer changes them.
    std::unique_ptr<BRDataBuffer> decoded;
    // The end of a multipart stream met in a read that handed out part
    // bytes: that read reports NILO_MULTIPART, the next one the end.
    std::optional<BRHTTPDecode> pendingEnd;
    // The response is a redirect with a target to follow at its end.
    bool redirect = false;
    // The body is read to its end but is not the caller's (a redirect that is
    // followed): it goes into `skipped`, which only counts it.
    bool skipBody = false;
    std::unique_ptr<BRDataBuffer> skipped;
    uint64_t skippedBytes = 0;

    // Authentication: the answers already sent for this request, and the
    // Authorization its request carries (empty for none).
    int answers = 0;
    BRHTTPAuthenticator::Answer authorization;
    // The response is a challenge to answer at its end, with this answer.
    bool challenge = false;
    BRHTTPAuthenticator::Answer answer;
    // The server keeps the connection for a next request.
    bool keepAlive = false;
    // The request goes out on the connection that carried the challenge; if
    // the server has closed it after all, it goes out once more on a new one.
    bool reusedConnection = false;
};
