#pragma once

#include <QString>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

// Small pieces shared by the ZIP writer and reader: little-endian records,
// DOS dates, file attributes as a DOS-family system reports them, and the
// wildcard rule of the file searches. Any thread; no state.
namespace zipsupport {

struct FileCloser {
    void operator()(std::FILE *f) const noexcept
    {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Little-endian integers in a byte buffer.
[[nodiscard]] inline std::uint16_t get16(const unsigned char *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
[[nodiscard]] inline std::uint32_t get32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void put16(std::string &out, std::uint16_t v)
{
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}
inline void put32(std::string &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

constexpr std::uint32_t kLocalSig = 0x04034B50;
constexpr std::uint32_t kCentralSig = 0x02014B50;
constexpr std::uint32_t kEndSig = 0x06054B50;
constexpr std::uint32_t kDescriptorSig = 0x08074B50;

// DOS attribute bits as stored in the external attributes.
constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrHidden = 0x02;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrArchive = 0x20;

// DOS date and time (date in the high half) of a local time; times before
// 1980 become 1980-01-01 00:00, the earliest DOS date. Seconds are
// truncated to the two-second grid.
[[nodiscard]] std::uint32_t toDosDateTime(std::time_t t);
// The local time a DOS date and time stands for.
[[nodiscard]] std::time_t fromDosDateTime(std::uint32_t dosDateTime);

// The file's attributes in DOS bits: archive for every file, read-only when
// the owner may not write it, hidden for dot names, directory for folders.
[[nodiscard]] std::uint32_t dosAttributes(const std::filesystem::path &p);
// Gives a file the read-only state of DOS attributes (other bits have no
// counterpart here). Best effort.
void applyDosAttributes(const std::filesystem::path &p, std::uint32_t attributes);
// Sets a file's modification time. Best effort.
void setModificationTime(const std::filesystem::path &p, std::time_t t);

// Wildcard match as the file searches do it: '*' any run, '?' one
// character, letter case ignored; "*.*" matches every name, and a name
// without a dot is matched as if it ended in ".".
[[nodiscard]] bool wildcardMatch(const QString &pattern, const QString &name);
[[nodiscard]] bool hasWildcards(const QString &s);

// A host path's text as Qt sees it, and back.
[[nodiscard]] QString toQString(const std::filesystem::path &p);
[[nodiscard]] std::filesystem::path fromQString(const QString &s);

// A Windows-style or host path split at its last separator ('\' or '/'):
// the folder with its separator, and the name.
struct SplitPath {
    QString folder;
    QString name;
};
[[nodiscard]] SplitPath splitPath(const QString &path);

// Reads exactly n bytes at the current position; false on a short read.
[[nodiscard]] bool readExact(std::FILE *f, void *buf, std::size_t n);

} // namespace zipsupport
