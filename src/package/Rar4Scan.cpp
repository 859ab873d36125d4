#include "package/Rar4Scan.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace fs = std::filesystem;

namespace package {

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::uint32_t le32(const unsigned char *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t le16(const unsigned char *p) { return std::uint16_t(p[0] | p[1] << 8); }

constexpr unsigned char kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr int kMaxBlocks = 1 << 20; // a bound on the walk; real tests hold far fewer entries

} // namespace

Rar4Scan scanRar4(const fs::path &archive)
{
    Rar4Scan scan;
    FilePtr f(std::fopen(archive.c_str(), "rb"));
    if (!f)
        return scan;
    unsigned char marker[7];
    if (std::fread(marker, 1, 7, f.get()) != 7 || std::memcmp(marker, kMarker, 7) != 0)
        return scan;
    scan.isRar4 = true;
    std::uint64_t pos = 7;
    for (int block = 0; block < kMaxBlocks; ++block) {
        unsigned char base[7];
        const std::size_t got = std::fread(base, 1, 7, f.get());
        if (got == 0) {
            scan.complete = true; // archives may end without an end block
            return scan;
        }
        if (got != 7)
            return scan;
        const std::uint8_t type = base[2];
        const std::uint16_t flags = le16(base + 3);
        const std::uint16_t headSize = le16(base + 5);
        if (headSize < 7)
            return scan;
        std::string head(headSize - 7, '\0');
        if (!head.empty() && std::fread(head.data(), 1, head.size(), f.get()) != head.size())
            return scan;
        const auto *h = reinterpret_cast<const unsigned char *>(head.data());
        std::uint64_t dataSize = 0;
        if (type == 0x73) {
            scan.mainFlags = flags;
            // Encrypted headers cannot be walked without the key.
            if (flags & 0x0080)
                return scan;
        } else if (type == 0x74) {
            if (head.size() < 25)
                return scan;
            Rar4FileBlock fb;
            fb.flags = flags;
            fb.packSize = le32(h);
            fb.unpSize = le32(h + 4);
            fb.hostOS = h[8];
            fb.crc = le32(h + 9);
            fb.dosTime = le32(h + 13);
            fb.unpVer = h[17];
            fb.method = h[18];
            const std::uint16_t nameSize = le16(h + 19);
            fb.attr = le32(h + 21);
            std::size_t nameAt = 25;
            if (flags & kRar4Large) {
                if (head.size() < 33)
                    return scan;
                fb.packSize |= std::uint64_t(le32(h + 25)) << 32;
                fb.unpSize |= std::uint64_t(le32(h + 29)) << 32;
                nameAt = 33;
            }
            if (nameAt + nameSize > head.size())
                return scan;
            fb.rawName.assign(head.data() + nameAt, nameSize);
            if (const auto nul = fb.rawName.find('\0'); nul != std::string::npos)
                fb.rawName.resize(nul);
            dataSize = fb.packSize;
            scan.files.push_back(std::move(fb));
        } else if (type == 0x7B) {
            scan.complete = true;
            return scan;
        } else if (flags & kRar4LongBlock) {
            if (head.size() < 4)
                return scan;
            dataSize = le32(h);
        }
        pos += headSize;
        if (dataSize > 0) {
            pos += dataSize;
            if (pos > std::uint64_t(INT64_MAX) || ::fseeko(f.get(), off_t(pos), SEEK_SET) != 0)
                return scan;
        }
    }
    return scan;
}

} // namespace package
