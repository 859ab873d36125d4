#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

// A pool of memory blocks that keeps them across uses: capture buffers are
// taken at each open and given back at each close, and their memory is
// freed only when the pool is told to (buffer size change, destruction).
// Thread-safe.
class TMMAllocator
{
public:
    TMMAllocator() = default;
    ~TMMAllocator();
    TMMAllocator(const TMMAllocator &) = delete;
    TMMAllocator &operator=(const TMMAllocator &) = delete;

    // The first free block of exactly `size` bytes, else the first free one
    // of at least `size`, else a new zero-filled block. A reused block keeps
    // its contents. Returns nullptr when memory runs out.
    [[nodiscard]] void *AllocBuffer(std::size_t size);
    // Gives the block back to the pool and clears the caller's reference.
    void FreeBuffer(void *&block);
    // Frees every block.
    void FreeAll();

    [[nodiscard]] std::size_t BlockCount() const;
    [[nodiscard]] int UseCount(const void *block) const;

private:
    struct Entry {
        std::unique_ptr<std::byte[]> block;
        std::size_t size;
        int uses;
    };
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};
