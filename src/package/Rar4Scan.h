#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A walk over the block headers of a RAR 4 archive, reading no file data.
// libarchive does not hand out the stored CRC, method, host system or packed
// size of an entry, and does not check the CRC of stored entries; the UnRAR
// binding takes them from here.
namespace package {

struct Rar4FileBlock {
    std::uint16_t flags = 0;
    std::uint64_t packSize = 0;
    std::uint64_t unpSize = 0;
    std::uint8_t hostOS = 0;
    std::uint32_t crc = 0;
    std::uint32_t dosTime = 0;
    std::uint8_t unpVer = 0;
    std::uint8_t method = 0;
    std::uint32_t attr = 0;
    std::string rawName; // as stored, up to the first NUL
};

struct Rar4Scan {
    bool isRar4 = false;      // the RAR 4 marker block was found
    std::uint16_t mainFlags = 0;
    std::vector<Rar4FileBlock> files; // in archive order, every file block
    bool complete = false;    // reached the end block or the end of the file cleanly
};

// Never throws; a damaged archive gives the blocks before the damage.
[[nodiscard]] Rar4Scan scanRar4(const std::filesystem::path &archive);

inline constexpr std::uint16_t kRar4SplitBefore = 0x0001;
inline constexpr std::uint16_t kRar4SplitAfter = 0x0002;
inline constexpr std::uint16_t kRar4Encrypted = 0x0004;
inline constexpr std::uint16_t kRar4Solid = 0x0010;
inline constexpr std::uint16_t kRar4DirectoryMask = 0x00E0;
inline constexpr std::uint16_t kRar4Large = 0x0100;
inline constexpr std::uint16_t kRar4Unicode = 0x0200;
inline constexpr std::uint16_t kRar4LongBlock = 0x8000;

} // namespace package
