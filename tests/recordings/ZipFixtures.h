#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

// Fixtures for the ZIP tests: file contents, a reader of the raw records
// that trusts nothing the code under test computed, and file times.
namespace zipfix {

[[nodiscard]] std::string randomBytes(std::uint32_t seed, std::size_t n);
// Compressible English-like text.
[[nodiscard]] std::string textBytes(std::uint32_t seed, std::size_t n);

struct RawEntry {
    std::uint16_t madeBy, needed, flag, method;
    std::uint16_t time, date;
    std::uint32_t crc, csize, usize;
    std::uint16_t internal;
    std::uint32_t external, offset;
    std::string name, extra, comment;
    // The same fields from the local header.
    std::uint16_t lNeeded, lFlag, lMethod;
    std::uint32_t lCrc, lCsize, lUsize;
    std::uint16_t lExtraLen;
    std::string lName;
};
struct RawArchive {
    std::vector<RawEntry> entries;
    std::uint32_t cdOffset = 0, cdSize = 0;
    std::string comment;
};
// Parses an archive's records; throws std::runtime_error on anything odd.
[[nodiscard]] RawArchive parse(const std::string &bytes);

// Sets a file's modification time (seconds since the epoch).
void setMtime(const std::filesystem::path &p, std::time_t t);
[[nodiscard]] std::time_t mtime(const std::filesystem::path &p);

// Byte-for-byte comparison of two trees; empty when equal, else a report.
[[nodiscard]] std::string compareTrees(const std::filesystem::path &a, const std::filesystem::path &b);

// The 7-Zip command here ("7zz" from Debian's 7zip, else "7z").
[[nodiscard]] std::string sevenZip();

// Quotes a path for the shell.
[[nodiscard]] std::string q(const std::filesystem::path &p);

} // namespace zipfix
