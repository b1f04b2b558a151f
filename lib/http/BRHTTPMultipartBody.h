#pragma once

#include <cstdint>

class BRDataBuffer;
class BRDataSourceDescriptor;

// A multipart/x-mixed-replace stream, collected in the work buffer. Each part
// reaches the caller as its length (4 bytes, least significant first)
// followed by exactly that many content bytes; delimiter lines and part
// headers are dropped. `remaining` counts the content bytes of the current
// part still due; 0 means a part header is due. Each read handles every
// complete part already received, and returns NILO_MULTIPART while the
// stream goes on. The close delimiter ("--" boundary "--") ends the stream.
class BRHTTPMultipartBody {
public:
    static int32_t Step(BRDataSourceDescriptor& d, BRDataBuffer& target);
};
