#pragma once

#include "http/BRHTTPReader.h"

class BRDataBuffer;
class BRDataSourceDescriptor;

// A chunked body, collected in the work buffer. `remaining` counts the bytes
// of the current chunk still to take, its data plus the line end after it;
// 0 means a chunk-size line is due. Each read handles every complete chunk
// already received, so tiny chunks cannot pile up in the work buffer.
class BRHTTPChunkedBody {
public:
    static BRHTTPStep Step(BRDataSourceDescriptor& d, BRDataBuffer& target);
};
