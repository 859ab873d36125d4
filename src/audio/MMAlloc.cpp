#include "audio/MMAlloc.h"

#include <new>

TMMAllocator::~TMMAllocator()
{
    FreeAll();
}

void *TMMAllocator::AllocBuffer(std::size_t size)
{
    std::lock_guard lock(m_mutex);
    Entry *fit = nullptr;
    for (Entry &e : m_entries) {
        if (e.uses == 0 && e.size == size) {
            fit = &e;
            break;
        }
    }
    if (!fit) {
        for (Entry &e : m_entries) {
            if (e.uses == 0 && e.size >= size) {
                fit = &e;
                break;
            }
        }
    }
    if (fit) {
        ++fit->uses;
        return fit->block.get();
    }
    std::unique_ptr<std::byte[]> block(new (std::nothrow) std::byte[size == 0 ? 1 : size]());
    if (!block)
        return nullptr;
    void *p = block.get();
    try {
        m_entries.push_back({std::move(block), size, 1});
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    return p;
}

void TMMAllocator::FreeBuffer(void *&block)
{
    std::lock_guard lock(m_mutex);
    for (Entry &e : m_entries) {
        if (e.block.get() == block) {
            if (e.uses > 0)
                --e.uses;
            break;
        }
    }
    block = nullptr;
}

void TMMAllocator::FreeAll()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

std::size_t TMMAllocator::BlockCount() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

int TMMAllocator::UseCount(const void *block) const
{
    std::lock_guard lock(m_mutex);
    for (const Entry &e : m_entries)
        if (e.block.get() == block)
            return e.uses;
    return -1;
}
