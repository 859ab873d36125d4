#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// RIFF file I/O: a buffered file with chunk creation, ascent and descent in
// the manner of the platform's multimedia file functions. Sizes of created
// chunks are written when the writer ascends out of them, so a file can be
// written front to back without knowing its length.
//
// Threads: one object per thread.

using FOURCC = std::uint32_t;

[[nodiscard]] constexpr FOURCC mmioFOURCC(char a, char b, char c, char d)
{
    return static_cast<FOURCC>(static_cast<std::uint8_t>(a))
           | (static_cast<FOURCC>(static_cast<std::uint8_t>(b)) << 8)
           | (static_cast<FOURCC>(static_cast<std::uint8_t>(c)) << 16)
           | (static_cast<FOURCC>(static_cast<std::uint8_t>(d)) << 24);
}

inline constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
inline constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');

constexpr std::uint32_t MMIO_DIRTY = 0x10000000;
constexpr std::uint32_t MMIO_CREATERIFF = 0x0020;
constexpr std::uint32_t MMIO_CREATELIST = 0x0040;
constexpr std::uint32_t MMIO_FINDCHUNK = 0x0010;
constexpr std::uint32_t MMIO_FINDRIFF = 0x0020;
constexpr std::uint32_t MMIO_FINDLIST = 0x0040;

struct TMMCKInfo {
    FOURCC ckid = 0;
    std::uint32_t cksize = 0;
    FOURCC fccType = 0;
    std::uint32_t dwDataOffset = 0;
    std::uint32_t dwFlags = 0;
};

class RiffFile
{
public:
    enum class Mode { Read, Create, Update };

    RiffFile() = default;
    ~RiffFile();
    RiffFile(const RiffFile &) = delete;
    RiffFile &operator=(const RiffFile &) = delete;

    // False with errno-style failure when the file cannot be opened.
    [[nodiscard]] bool open(const std::filesystem::path &path, Mode mode);
    // Writes out the buffer and closes; false when anything failed since open.
    bool close();
    [[nodiscard]] bool isOpen() const { return m_fd >= 0; }

    // Buffer of `size` bytes for reads and writes (flushes the old one).
    [[nodiscard]] bool setBuffer(std::size_t size);
    bool flush();

    // Bytes written (0 on failure) / read (0 at the end or on failure).
    std::size_t write(const void *data, std::size_t size);
    std::size_t read(void *data, std::size_t size);
    // Absolute seek; returns the new position or -1.
    std::int64_t seek(std::int64_t pos);
    [[nodiscard]] std::int64_t tell() const { return m_pos; }
    [[nodiscard]] std::int64_t fileSize() const;

    // Writes a chunk header (with "RIFF"/"LIST" and fccType when asked by
    // the flag) and remembers where its data begin.
    [[nodiscard]] bool createChunk(TMMCKInfo &ck, std::uint32_t flags);
    // Leaves a chunk: when it was written (dirty) its real size is patched
    // in and an odd size gets a pad byte; then the position moves past it.
    [[nodiscard]] bool ascend(TMMCKInfo &ck);
    // Finds the next chunk (with MMIO_FINDCHUNK, the next of ck.ckid; with
    // MMIO_FINDRIFF/LIST, a RIFF/LIST of ck.fccType) inside parent (or the
    // file) and moves to its data. False when there is none or the file is
    // malformed.
    [[nodiscard]] bool descend(TMMCKInfo &ck, const TMMCKInfo *parent, std::uint32_t flags);

    // Cuts the file at the current position (after a rewrite that came out
    // shorter than the old file).
    bool truncateHere();

    [[nodiscard]] bool failed() const { return m_failed; }

private:
    bool writeThrough(const void *data, std::size_t size);

    int m_fd = -1;
    std::vector<char> m_buf;
    std::size_t m_bufFill = 0; // pending write bytes in m_buf
    std::int64_t m_bufStart = 0;
    std::size_t m_readAvail = 0; // readable bytes in m_buf (read mode)
    std::int64_t m_pos = 0;
    bool m_failed = false;
    bool m_writing = false;
};
