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
    NILOState last() const { return results.empty() ? NILO_NONE : results.back(); }
    // Results other than `allowed` before the final one.
    std::vector<NILOState> unexpected(std::vector<NILOState> allowed) const {
        std::vector<NILOState> odd;
        for (size_t i = 0; i + 1 < results.size(); ++i) {
            bool ok = false;
            for (NILOState a : allowed) ok = ok || results[i] == a;
            if (!ok) odd.push_back(results[i]);
        }
        return odd;
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
        if (state > NILO_MULTIPART) break;
    }
    return read;
}
