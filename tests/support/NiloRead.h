#pragma once

#include <string>
#include <vector>

#include "nilo.h"

// Reads a source through the exported functions the way a program does: GetData
// with a fixed room until the result is above NILO_MULTIPART, within a bounded
// number of calls.
struct NiloRead {
    std::string bytes;                // everything delivered, in order
    std::vector<NILOState> results;   // the result of every call
    std::vector<unsigned> sizes;      // the bytes every call delivered
    NILOState last() const { return results.empty() ? NILO_NONE : results.back(); }
    // Whether the results before the last one run through `phases` in order,
    // each phase repeated any number of times: {NILO_DATA, NILO_MULTIPART}
    // allows DATA...DATA MULTIPART...MULTIPART.
    // The number of bytes delivered by calls that returned `state`.
    size_t bytesWith(NILOState state) const {
        size_t n = 0;
        for (size_t i = 0; i < results.size(); ++i) n += results[i] == state ? sizes[i] : 0;
        return n;
    }
    bool follows(const std::vector<NILOState>& phases) const {
        size_t phase = 0;
        for (size_t i = 0; i + 1 < results.size(); ++i) {
            while (phase < phases.size() && results[i] != phases[phase]) ++phase;
            if (phase == phases.size()) return false;
        }
        return true;
    }
};

inline NiloRead ReadAll(const void* handle, unsigned room = 1000, int maxCalls = 200000) {
    NiloRead read;
    std::vector<char> buffer(room ? room : 1);
    for (int call = 0; call < maxCalls; ++call) {
        unsigned size = room;
        const NILOState state = GetData(handle, buffer.data(), size);
        read.bytes.append(buffer.data(), size);
        read.results.push_back(state);
        read.sizes.push_back(size);
        if (state > NILO_MULTIPART) break;
    }
    return read;
}
