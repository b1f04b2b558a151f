#pragma once

#include <cstdint>

#include "http/BRHTTPReader.h"

class BRDataBuffer;
class BRDataSourceDescriptor;

// A body of the length announced by Content-Length. Its bytes go straight
// from the connection's receive side to the caller's buffer; `remaining`
// counts the bytes still due.
class BRHTTPLengthBody {
public:
    // Ends the header phase: delivers the body bytes that came with the
    // header (surplus bytes are dropped) and ends a complete response.
    static BRHTTPStep Begin(BRDataSourceDescriptor& d, BRDataBuffer& target, uint32_t headerBytes);
    static BRHTTPStep Step(BRDataSourceDescriptor& d, BRDataBuffer& target);
};
