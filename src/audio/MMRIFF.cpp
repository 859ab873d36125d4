#include "audio/MMRIFF.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void put32(std::uint8_t *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}

std::uint32_t get32(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
           | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

RiffFile::~RiffFile()
{
    close();
}

bool RiffFile::open(const std::filesystem::path &path, Mode mode)
{
    close();
    m_failed = false;
    m_pos = 0;
    m_bufFill = 0;
    int flags = O_RDONLY | O_CLOEXEC;
    if (mode == Mode::Create)
        flags = O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC;
    else if (mode == Mode::Update)
        flags = O_RDWR | O_CLOEXEC;
    m_fd = ::open(path.c_str(), flags, 0644);
    if (m_fd < 0)
        return false;
    if (mode != Mode::Create) {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
    }
    return true;
}

bool RiffFile::close()
{
    if (m_fd < 0)
        return !m_failed;
    flush();
    if (::close(m_fd) != 0)
        m_failed = true;
    m_fd = -1;
    m_buf.clear();
    m_buf.shrink_to_fit();
    return !m_failed;
}

bool RiffFile::setBuffer(std::size_t size)
{
    if (!flush())
        return false;
    try {
        m_buf.assign(size, 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

bool RiffFile::writeThrough(const void *data, std::size_t size)
{
    const char *p = static_cast<const char *>(data);
    std::int64_t at = m_bufStart;
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd, p, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_failed = true;
            return false;
        }
        p += n;
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool RiffFile::flush()
{
    if (m_fd < 0 || m_bufFill == 0)
        return m_fd >= 0 || m_bufFill == 0;
    const bool ok = writeThrough(m_buf.data(), m_bufFill);
    m_bufFill = 0;
    return ok;
}

std::size_t RiffFile::write(const void *data, std::size_t size)
{
    if (m_fd < 0 || size == 0)
        return 0;
    if (m_buf.empty()) {
        m_bufStart = m_pos;
        if (!writeThrough(data, size))
            return 0;
        m_pos += static_cast<std::int64_t>(size);
        return size;
    }
    const char *p = static_cast<const char *>(data);
    std::size_t left = size;
    while (left > 0) {
        if (m_bufFill == 0)
            m_bufStart = m_pos;
        const std::size_t take = std::min(left, m_buf.size() - m_bufFill);
        std::memcpy(m_buf.data() + m_bufFill, p, take);
        m_bufFill += take;
        m_pos += static_cast<std::int64_t>(take);
        p += take;
        left -= take;
        if (m_bufFill == m_buf.size() && !flush())
            return 0;
    }
    return size;
}

std::size_t RiffFile::read(void *data, std::size_t size)
{
    if (m_fd < 0 || !flush())
        return 0;
    char *p = static_cast<char *>(data);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(m_fd, p + got, size - got, m_pos);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
        m_pos += n;
    }
    return got;
}

std::int64_t RiffFile::seek(std::int64_t pos)
{
    if (m_fd < 0 || pos < 0 || !flush())
        return -1;
    m_pos = pos;
    return m_pos;
}

std::int64_t RiffFile::fileSize() const
{
    if (m_fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        return -1;
    // Pending bytes in the buffer may lie past the end on disk.
    return std::max<std::int64_t>(st.st_size, m_bufStart + static_cast<std::int64_t>(m_bufFill));
}

bool RiffFile::createChunk(TMMCKInfo &ck, std::uint32_t flags)
{
    std::uint8_t head[12];
    std::size_t len = 8;
    if (flags & MMIO_CREATERIFF)
        ck.ckid = FOURCC_RIFF;
    else if (flags & MMIO_CREATELIST)
        ck.ckid = FOURCC_LIST;
    put32(head, ck.ckid);
    put32(head + 4, ck.cksize);
    if (flags & (MMIO_CREATERIFF | MMIO_CREATELIST)) {
        put32(head + 8, ck.fccType);
        len = 12;
    }
    ck.dwDataOffset = static_cast<std::uint32_t>(m_pos + 8);
    ck.dwFlags = MMIO_DIRTY;
    return write(head, len) == len;
}

bool RiffFile::ascend(TMMCKInfo &ck)
{
    if (ck.dwFlags & MMIO_DIRTY) {
        const std::int64_t end = m_pos;
        const std::int64_t size = end - ck.dwDataOffset;
        if (size < 0 || size > 0xFFFFFFFFll)
            return false;
        ck.cksize = static_cast<std::uint32_t>(size);
        if (size & 1) {
            const std::uint8_t pad = 0;
            if (write(&pad, 1) != 1)
                return false;
        }
        const std::int64_t after = m_pos;
        std::uint8_t sz[4];
        put32(sz, ck.cksize);
        if (seek(ck.dwDataOffset - 4) < 0 || write(sz, 4) != 4 || seek(after) < 0)
            return false;
        ck.dwFlags &= ~MMIO_DIRTY;
        return true;
    }
    const std::int64_t after = static_cast<std::int64_t>(ck.dwDataOffset) + ck.cksize + (ck.cksize & 1);
    return seek(after) >= 0;
}

bool RiffFile::descend(TMMCKInfo &ck, const TMMCKInfo *parent, std::uint32_t flags)
{
    const std::int64_t size = fileSize();
    std::int64_t end = size;
    if (parent)
        end = std::min<std::int64_t>(end, static_cast<std::int64_t>(parent->dwDataOffset) + parent->cksize);
    const FOURCC wantId = ck.ckid;
    const FOURCC wantType = ck.fccType;
    // Each step moves forward by at least 8 bytes, so the walk ends.
    while (m_pos + 8 <= end) {
        std::uint8_t head[12];
        if (read(head, 8) != 8)
            return false;
        TMMCKInfo found;
        found.ckid = get32(head);
        found.cksize = get32(head + 4);
        found.dwDataOffset = static_cast<std::uint32_t>(m_pos);
        found.dwFlags = 0;
        const bool container = found.ckid == FOURCC_RIFF || found.ckid == FOURCC_LIST;
        if (container) {
            if (found.cksize < 4 || m_pos + 4 > end || read(head + 8, 4) != 4)
                return false;
            found.fccType = get32(head + 8);
        }
        const std::int64_t dataEnd = static_cast<std::int64_t>(found.dwDataOffset) + found.cksize;
        bool match = true;
        if (flags & MMIO_FINDCHUNK)
            match = found.ckid == wantId;
        else if (flags & MMIO_FINDRIFF)
            match = found.ckid == FOURCC_RIFF && found.fccType == wantType;
        else if (flags & MMIO_FINDLIST)
            match = found.ckid == FOURCC_LIST && found.fccType == wantType;
        if (match) {
            ck = found;
            return true;
        }
        if (seek(dataEnd + (found.cksize & 1)) < 0)
            return false;
    }
    return false;
}

bool RiffFile::truncateHere()
{
    if (m_fd < 0 || !flush())
        return false;
    return ::ftruncate(m_fd, m_pos) == 0;
}
