#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the Windows
// tick count; differences are taken in unsigned 32-bit arithmetic.
[[nodiscard]] std::uint32_t GetTickCount();

} // namespace platform
