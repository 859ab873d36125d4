#include "audio/WaveFormat.h"

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <new>

std::size_t waveFormatSize(const TWaveFormatEx *f)
{
    if (!f)
        return 0;
    if (f->wFormatTag == WAVE_FORMAT_PCM)
        return sizeof(TWaveFormatEx);
    return sizeof(TWaveFormatEx) + f->cbSize;
}

void WaveFormatDeleter::operator()(TWaveFormatEx *f) const noexcept
{
    std::free(f);
}

namespace {

WaveFormatPtr allocateFormat(std::size_t size)
{
    // calloc: the record is zero-filled, and a packed struct needs no more
    // alignment than calloc gives.
    void *p = std::calloc(1, size);
    if (!p)
        throw std::bad_alloc();
    return WaveFormatPtr(static_cast<TWaveFormatEx *>(p));
}

} // namespace

WaveFormatPtr copyWaveFormat(const TWaveFormatEx *f)
{
    if (!f)
        return {};
    const std::size_t size = waveFormatSize(f);
    WaveFormatPtr copy = allocateFormat(size);
    std::memcpy(copy.get(), f, size);
    if (copy->wFormatTag == WAVE_FORMAT_PCM)
        copy->cbSize = 0;
    return copy;
}

WaveFormatPtr waveFormatFromBytes(const void *bytes, std::size_t size)
{
    // A PCM "fmt " chunk may be 16 bytes (no cbSize field at all).
    if (!bytes || size < 16)
        return {};
    TWaveFormatEx head;
    std::memcpy(&head, bytes, std::min(size, sizeof head));
    if (size < sizeof head)
        head.cbSize = 0;
    if (head.wFormatTag == WAVE_FORMAT_PCM)
        head.cbSize = 0;
    else if (size < sizeof head + head.cbSize)
        return {};
    const std::size_t total = waveFormatSize(&head);
    WaveFormatPtr f = allocateFormat(total);
    std::memcpy(f.get(), &head, sizeof head);
    if (total > sizeof head)
        std::memcpy(reinterpret_cast<std::uint8_t *>(f.get()) + sizeof head,
                    static_cast<const std::uint8_t *>(bytes) + sizeof head, total - sizeof head);
    return f;
}

std::string waveFormatBytes(const TWaveFormatEx *f)
{
    if (!f)
        return {};
    return std::string(reinterpret_cast<const char *>(f), waveFormatSize(f));
}

bool sameWaveFormat(const TWaveFormatEx *a, const TWaveFormatEx *b)
{
    if (!a || !b)
        return a == b;
    const std::size_t size = waveFormatSize(a);
    return size == waveFormatSize(b) && std::memcmp(a, b, size) == 0;
}
