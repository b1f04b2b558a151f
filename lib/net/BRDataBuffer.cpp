#include "net/BRDataBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {
constexpr uint64_t kMaxBlock = UINT64_C(0xFFFFFFFF);
}

BRDataBuffer::BRDataBuffer(uint32_t granularity_)
    : storage(nullptr), size(0), freeSpace(0), granularity(granularity_ == 0 ? 1 : granularity_) {
    if (granularity == UINT32_MAX) throw std::bad_alloc();
    storage = new char[static_cast<size_t>(granularity) + 1];
    freeSpace = granularity;
    storage[0] = 0;
}

BRDataBuffer::~BRDataBuffer() { delete[] storage; }

// Replaces the block by one of blockBytes bytes that holds the size + 1 bytes
// (content and terminator) found at storage[from].
void BRDataBuffer::Reallocate(uint64_t blockBytes, uint32_t from, uint32_t newFreeSpace) {
    if (blockBytes > kMaxBlock) throw std::bad_alloc();
    char* block = new char[static_cast<size_t>(blockBytes)];
    std::memcpy(block, storage + from, static_cast<size_t>(size) + 1);
    delete[] storage;
    storage = block;
    freeSpace = newFreeSpace;
}

char* BRDataBuffer::Reserve(uint32_t length) {
    if (length > freeSpace) {
        const uint64_t add = (static_cast<uint64_t>(length - freeSpace) / granularity + 2) * granularity;
        const uint64_t newFree = freeSpace + add;
        if (newFree > kMaxBlock) throw std::bad_alloc();
        Reallocate(static_cast<uint64_t>(size) + newFree + 1, 0, static_cast<uint32_t>(newFree));
    }
    return storage + size;
}

void BRDataBuffer::Commit(uint32_t length) {
    // The producer may have written over the terminator, also when it then
    // takes nothing, so it is written again in every case.
    if (length > freeSpace) throw std::length_error("BRDataBuffer::Commit beyond the free space");
    size += length;
    freeSpace -= length;
    storage[size] = 0;
}

uint32_t BRDataBuffer::Append(const void* bytes, uint32_t length) {
    if (length == 0) return 0;
    std::memcpy(Reserve(length), bytes, length);
    Commit(length);
    return length;
}

uint32_t BRDataBuffer::Consume(uint32_t count) {
    if (count == 0) return 0;
    const uint32_t k = count < size ? count : size;
    size -= k;
    const uint64_t spare = static_cast<uint64_t>(freeSpace) + k;
    if (spare > 4 * static_cast<uint64_t>(granularity) && spare > kept) {
        const uint64_t newFree = std::max<uint64_t>(2 * static_cast<uint64_t>(granularity), kept);
        try {
            Reallocate(newFree + size + 1, k, static_cast<uint32_t>(newFree));
            return k;
        } catch (const std::bad_alloc&) {
            // Shrinking is only an economy: keep the larger block instead.
        }
    }
    freeSpace = static_cast<uint32_t>(spare);
    std::memmove(storage, storage + k, static_cast<size_t>(size) + 1);
    return k;
}

void BRDataBuffer::Clear() { Consume(size); }

void BRDataBuffer::Keep(uint32_t bytes) { kept = bytes; }
