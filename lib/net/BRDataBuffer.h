#pragma once

#include <cstdint>

// A growable byte queue. Bytes are appended at the end and consumed from the
// front; the content always starts at the first byte of one heap block and is
// always followed by a zero byte, so parsers may read it as a C string.
// The block grows and shrinks in whole granules, with hysteresis: growth leaves
// more than one granule spare, and the block shrinks only when more than four
// granules are spare. The block never exceeds 4 GiB; a request beyond that
// raises std::bad_alloc like any failed allocation.
class BRDataBuffer {
public:
    explicit BRDataBuffer(uint32_t granularity);
    ~BRDataBuffer();
    BRDataBuffer(const BRDataBuffer&) = delete;
    BRDataBuffer& operator=(const BRDataBuffer&) = delete;

    // Takes all `length` bytes; returns `length`.
    uint32_t Append(const void* bytes, uint32_t length);
    // Lets a producer write straight into the buffer: Reserve grows the block
    // as Append would for `length` bytes and returns where the next byte goes;
    // Commit then takes `length` bytes written there (at most FreeSpace())
    // as content.
    char* Reserve(uint32_t length);
    void Commit(uint32_t length);
    // Removes min(count, Size()) bytes from the front; returns that number.
    uint32_t Consume(uint32_t count);
    void Clear();
    // Lets consuming leave up to `bytes` of spare room in place instead of
    // shrinking the block: a holder that takes bytes in large steps keeps
    // its room while they keep coming, and calls Keep(0) to let it go.
    void Keep(uint32_t bytes);

    // The storage behind Data() holds Size() + FreeSpace() + 1 writable bytes,
    // so a holder may use the spare part as scratch space.
    char* Data() const { return storage; }
    uint32_t Size() const { return size; }
    uint32_t FreeSpace() const { return freeSpace; }
    uint32_t Granularity() const { return granularity; }

private:
    void Reallocate(uint64_t blockBytes, uint32_t from, uint32_t newFreeSpace);

    char* storage;
    uint32_t size;
    uint32_t freeSpace;
    uint32_t granularity;
    uint32_t kept = 0;
};
