#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "api/nilo.h"
#include "net/BRDataBuffer.h"

class BRDataSourceDescriptor;

// What the exported layer keeps for one open handle. Only calls on this
// handle touch it, and each holds callLock from start to end, so calls on one
// handle run one at a time and a slow one (a 500 ms poll, the connect of a
// redirect) holds up this handle alone. The record is shared between the
// handle table and the calls under way: DisconnectNILO takes it out of the
// table, waits for callLock and closes it (descriptor null); a call that was
// waiting then finds it closed, and the last one to let go frees it.
struct BRHandle {
    explicit BRHandle(BRDataSourceDescriptor* d) : descriptor(d) {}

    std::mutex callLock;
    // Owned by the client manager; null once the handle is closed.
    BRDataSourceDescriptor* descriptor;
    // Bytes pass through it in both directions, except those a read step
    // puts straight into the caller's memory (BRReadRoom).
    std::unique_ptr<BRDataBuffer> buffer = std::make_unique<BRDataBuffer>(kGranularity);
    // The last state a transfer step reported.
    int32_t state = NILO_NONE;
    // The text the last GetLog returned.
    std::string log;
    // The last transfer step before the end reported a multipart stream: the
    // bytes still buffered when such a stream ends are part bytes and are
    // handed out with NILO_MULTIPART, so a caller can keep cutting them.
    bool multipart = false;

    static constexpr uint32_t kGranularity = 2048;
};
