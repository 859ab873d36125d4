#include "recordings/VCLUnZip.h"

#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/Messages.h"
#include "platform/WinPath.h"
#include "recordings/ZipSupport.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScopeGuard>

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;
using namespace zipsupport;

namespace {

constexpr std::size_t kBlock = 256 * 1024;
constexpr std::uint64_t kEndSearch = 22 + 65535;

QString errorString(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

std::uint64_t fileSize(std::FILE *f)
{
    if (fseeko(f, 0, SEEK_END) != 0)
        return 0;
    const off_t size = ftello(f);
    return size < 0 ? 0 : static_cast<std::uint64_t>(size);
}

// Sets the wait cursor for a scope when there is a screen to show it on.
class WaitCursor
{
public:
    WaitCursor()
    {
        m_on = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
        if (m_on)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~WaitCursor()
    {
        if (m_on)
            QGuiApplication::restoreOverrideCursor();
    }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;

private:
    bool m_on = false;
};

// A raw inflate stream; neither copied nor moved.
class Inflater
{
public:
    Inflater() { m_ok = inflateInit2(&m_zs, -MAX_WBITS) == Z_OK; }
    ~Inflater()
    {
        if (m_ok)
            inflateEnd(&m_zs);
    }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;
    [[nodiscard]] bool ok() const { return m_ok; }
    z_stream &stream() { return m_zs; }

private:
    z_stream m_zs{};
    bool m_ok = false;
};

} // namespace

EFOpenError::EFOpenError(const QString &file, int err)
    : EZipError(QStringLiteral("Cannot open file \"%1\". %2").arg(file, errorString(err)).toStdString())
{
}

EFCreateError::EFCreateError(const QString &file, int err)
    : EZipError(QStringLiteral("Cannot create file \"%1\". %2").arg(file, errorString(err)).toStdString())
{
}

TVCLUnZip::BusyScope::BusyScope(TVCLUnZip &owner) : m_owner(owner)
{
    if (m_owner.m_busy)
        throw EZipBusy();
    m_owner.m_busy = true;
    m_owner.m_cancel = false;
}

TVCLUnZip::BusyScope::~BusyScope()
{
    m_owner.m_busy = false;
}

TVCLUnZip::TVCLUnZip() = default;
TVCLUnZip::~TVCLUnZip() = default;

void TVCLUnZip::setZipName(const QString &name)
{
    if (name == m_zipName)
        return;
    m_zipName = name;
    m_entries.clear();
    m_end = {};
    m_directoryRead = false;
}

void TVCLUnZip::setDestDir(const QString &dir)
{
    m_destDir = dir;
    if (m_destDir.size() > 1 && (m_destDir.endsWith(u'\\') || m_destDir.endsWith(u'/')))
        m_destDir.chop(1);
}

void TVCLUnZip::processMessages()
{
    if (DoProcessMessages)
        platform::ProcessMessages();
    if (m_cancel && m_busy) {
        m_cancel = false;
        throw EUserCanceled();
    }
}

void TVCLUnZip::CancelOperation()
{
    if (m_busy)
        m_cancel = true;
}

fs::path TVCLUnZip::zipHostPath() const
{
    return platform::hostPath(m_zipName);
}

void TVCLUnZip::ReadZip()
{
    const BusyScope busy(*this);
    const WaitCursor wait;
    readDirectoryNoWait();
}

void TVCLUnZip::readDirectoryNoWait()
{
    const fs::path path = zipHostPath();
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        throw EFOpenError(m_zipName, errno);
    struct stat st {};
    if (::fstat(::fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode))
        throw EFOpenError(m_zipName, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    readDirectory(f.get(), m_zipName);
}

QString TVCLUnZip::decodeName(const std::string &raw, std::uint16_t flag, std::uint16_t madeBy) const
{
    if (flag & 0x0800)
        return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
    const int host = madeBy >> 8;
    // Names from DOS-family hosts are in the OEM code page. Archives made on
    // other hosts carry that system's bytes, which here means UTF-8 when
    // they read as such; anything else is taken as the ANSI code page.
    if (host != 0 && platform::isValidUtf8(raw))
        return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
    return platform::fromAnsi(raw);
}

void TVCLUnZip::fillNames(TZipHeaderInfo &e) const
{
    QString name = decodeName(e.rawName, e.flag, e.version_made_by);
    name.replace(u'/', u'\\');
    const qsizetype cut = name.lastIndexOf(u'\\');
    e.directory = name.left(cut + 1);
    e.filename = name.mid(cut + 1);
}

void TVCLUnZip::readDirectory(std::FILE *f, const QString &displayName)
{
    m_entries.clear();
    m_end = {};
    m_directoryRead = false;
    const std::uint64_t size = fileSize(f);
    if (size == 0) {
        m_directoryRead = true;
        return;
    }

    const std::uint64_t tail = std::min(size, kEndSearch);
    std::vector<unsigned char> buf(tail);
    if (fseeko(f, static_cast<off_t>(size - tail), SEEK_SET) != 0 || !readExact(f, buf.data(), buf.size()))
        throw EFOpenError(displayName, errno);

    std::int64_t found = -1;
    for (std::int64_t i = static_cast<std::int64_t>(tail) - 22; i >= 0; --i) {
        const unsigned char *p = buf.data() + i;
        if (get32(p) != kEndSig)
            continue;
        const std::uint16_t thisDisk = get16(p + 4);
        const std::uint16_t startDisk = get16(p + 6);
        const std::uint32_t offset = get32(p + 16);
        if (thisDisk > 999 || startDisk > thisDisk || static_cast<std::int32_t>(offset) < 0)
            continue;
        found = i;
        break;
    }

    if (found < 0) {
        switch (IncompleteZipMode) {
        case izAssumeMulti: throw EIncompleteZip();
        case izAssumeNotAZip: throw ENotAZipFile();
        case izAssumeBad: rebuildFromLocalHeaders(f, size); return;
        }
    }

    const unsigned char *p = buf.data() + found;
    m_end.this_disk = get16(p + 4);
    m_end.start_central_disk = get16(p + 6);
    m_end.num_entries_this_disk = get16(p + 8);
    m_end.num_entries = get16(p + 10);
    m_end.size_central = get32(p + 12);
    m_end.offset_central = get32(p + 16);
    const std::size_t commentAvail = static_cast<std::size_t>(tail - static_cast<std::uint64_t>(found) - 22);
    const std::size_t commentLen = std::min<std::size_t>(get16(p + 20), commentAvail);
    m_end.comment.assign(reinterpret_cast<const char *>(p + 22), commentLen);

    const std::uint64_t endPos = size - tail + static_cast<std::uint64_t>(found);
    if (m_end.offset_central > endPos || fseeko(f, static_cast<off_t>(m_end.offset_central), SEEK_SET) != 0)
        throw EBadZipFile();

    m_entries.reserve(m_end.num_entries);
    for (unsigned i = 0; i < m_end.num_entries; ++i) {
        unsigned char h[46];
        if (!readExact(f, h, sizeof h) || get32(h) != kCentralSig)
            throw EBadZipFile();
        TZipHeaderInfo e;
        e.version_made_by = get16(h + 4);
        e.version_needed = get16(h + 6);
        e.flag = get16(h + 8);
        e.compression_method = get16(h + 10);
        e.last_mod_file_date_time = static_cast<std::uint32_t>(get16(h + 14)) << 16 | get16(h + 12);
        e.crc32 = get32(h + 16);
        e.compressed_size = get32(h + 20);
        e.uncompressed_size = get32(h + 24);
        e.filename_length = get16(h + 28);
        e.Cextra_field_length = get16(h + 30);
        e.file_comment_length = get16(h + 32);
        e.disk_number_start = get16(h + 34);
        e.internal_file_attributes = get16(h + 36);
        e.external_file_attributes = get32(h + 38);
        e.relative_offset = get32(h + 42);
        e.rawName.resize(e.filename_length);
        e.centralExtra.resize(e.Cextra_field_length);
        e.comment.resize(e.file_comment_length);
        if (!readExact(f, e.rawName.data(), e.rawName.size()) ||
            !readExact(f, e.centralExtra.data(), e.centralExtra.size()) ||
            !readExact(f, e.comment.data(), e.comment.size()))
            throw EBadZipFile();
        fillNames(e);
        m_entries.push_back(std::move(e));
    }
    m_directoryRead = true;
}

void TVCLUnZip::rebuildFromLocalHeaders(std::FILE *f, std::uint64_t size)
{
    std::uint64_t pos = 0;
    while (pos + 30 <= size) {
        unsigned char h[30];
        if (fseeko(f, static_cast<off_t>(pos), SEEK_SET) != 0 || !readExact(f, h, sizeof h) || get32(h) != kLocalSig)
            break;
        TZipHeaderInfo e;
        e.version_needed = get16(h + 4);
        e.flag = get16(h + 6);
        e.compression_method = get16(h + 8);
        e.last_mod_file_date_time = static_cast<std::uint32_t>(get16(h + 12)) << 16 | get16(h + 10);
        e.crc32 = get32(h + 14);
        e.compressed_size = get32(h + 18);
        e.uncompressed_size = get32(h + 22);
        e.filename_length = get16(h + 26);
        e.Lextra_field_length = get16(h + 28);
        e.relative_offset = static_cast<std::uint32_t>(pos);
        // Sizes behind the data cannot be found without the directory.
        if ((e.flag & 0x0008) && e.compressed_size == 0)
            break;
        e.rawName.resize(e.filename_length);
        if (!readExact(f, e.rawName.data(), e.rawName.size()))
            break;
        const std::uint64_t next = pos + 30 + e.filename_length + e.Lextra_field_length + e.compressed_size;
        if (next > size || pos > 0xFFFFFFFFu)
            break;
        e.version_made_by = 20;
        e.external_file_attributes = kAttrArchive;
        fillNames(e);
        m_entries.push_back(std::move(e));
        pos = next;
        if (m_entries.back().flag & 0x0008) {
            unsigned char d[4];
            pos += (fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0 && readExact(f, d, 4) && get32(d) == kDescriptorSig)
                       ? 16
                       : 12;
        }
    }
    if (m_entries.empty())
        throw EBadZipFile();
    m_end.num_entries = m_end.num_entries_this_disk = static_cast<std::uint16_t>(m_entries.size());
    m_directoryRead = true;
}

std::uint64_t TVCLUnZip::dataOffset(std::FILE *f, const TZipHeaderInfo &e)
{
    unsigned char h[30];
    if (fseeko(f, static_cast<off_t>(e.relative_offset), SEEK_SET) != 0 || !readExact(f, h, sizeof h))
        throw EFatalUnzipError();
    if (get32(h) != kLocalSig)
        throw EBadZipFile();
    return static_cast<std::uint64_t>(e.relative_offset) + 30 + get16(h + 26) + get16(h + 28);
}

bool TVCLUnZip::selected(const TZipHeaderInfo &e) const
{
    for (QString pattern : FilesList) {
        pattern.replace(u'/', u'\\');
        if (pattern.contains(u'\\') ? wildcardMatch(pattern, e.fullName()) : wildcardMatch(pattern, e.filename))
            return true;
    }
    return false;
}

int TVCLUnZip::UnZip()
{
    const BusyScope busy(*this);
    const auto clearList = qScopeGuard([this] { FilesList.clear(); });
    if (!m_directoryRead)
        readDirectoryNoWait();

    const fs::path dest = m_destDir.isEmpty() ? fs::current_path() : platform::hostPath(m_destDir);
    std::error_code ec;
    fs::create_directories(dest, ec);

    const fs::path path = zipHostPath();
    FilePtr zip(std::fopen(path.c_str(), "rb"));
    if (!zip)
        throw EFOpenError(m_zipName, errno);

    int count = 0;
    // A copy: handlers run between blocks and may give the component a new
    // name, which forgets the directory.
    const std::vector<TZipHeaderInfo> entries = m_entries;
    for (const TZipHeaderInfo &e : entries) {
        if (!DoAll && !selected(e))
            continue;
        if (extractOne(zip.get(), e, dest))
            ++count;
        processMessages();
    }
    zip.reset();
    if (OnUnZipComplete)
        OnUnZipComplete(*this, count);
    return count;
}

bool TVCLUnZip::mayOverwrite(const fs::path &target, const TZipHeaderInfo &e)
{
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0)
        return true;
    switch (OverwriteMode) {
    case Always: return true;
    case Never: return false;
    case Prompt: {
        bool overwrite = false;
        if (OnPromptForOverwrite)
            OnPromptForOverwrite(*this, overwrite, toQString(target));
        return overwrite;
    }
    case ifNewer: return e.last_mod_file_date_time > toDosDateTime(st.st_mtime);
    case ifOlder: return e.last_mod_file_date_time < toDosDateTime(st.st_mtime);
    }
    return false;
}

bool TVCLUnZip::extractOne(std::FILE *zip, const TZipHeaderInfo &e, const fs::path &dest)
{
    std::error_code ec;
    fs::path folder = dest;
    if (RecreateDirs) {
        QString dir = e.directory;
        if (dir.size() >= 2 && dir[1] == u':' && dir[0].isLetter())
            dir.remove(0, 2);
        for (const QString &part : dir.split(u'\\', Qt::SkipEmptyParts)) {
            if (part == QStringLiteral("."))
                continue;
            // A folder that climbs out of the destination is never written.
            if (part == QStringLiteral("..") || part.contains(QChar(0)))
                return false;
            folder /= fromQString(part);
        }
    }
    if (e.filename.isEmpty()) {
        if (RecreateDirs)
            fs::create_directories(folder, ec);
        return true;
    }
    if (e.filename == QStringLiteral(".") || e.filename == QStringLiteral("..") || e.filename.contains(QChar(0)))
        return false;

    fs::create_directories(folder, ec);
    // A folder reached through a symbolic link may lie elsewhere: the real
    // location must still be below the destination.
    const fs::path realDest = fs::canonical(dest, ec);
    const fs::path realFolder = fs::canonical(folder, ec);
    if (ec)
        return false;
    const fs::path rel = realFolder.lexically_relative(realDest);
    if (rel.empty() || *rel.begin() == "..")
        return false;

    const fs::path target = folder / fromQString(e.filename);
    if (!mayOverwrite(target, e))
        return false;

    // Never through a symbolic link: it could point anywhere.
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(target.c_str(), flags, 0666);
    if (fd < 0 && errno == EACCES && ReplaceReadOnly) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            ::chmod(target.c_str(), (st.st_mode & 07777) | S_IWUSR);
            fd = ::open(target.c_str(), flags, 0666);
        }
    }
    if (fd < 0)
        return false;
    FilePtr out(::fdopen(fd, "wb"));
    if (!out) {
        ::close(fd);
        return false;
    }

    const auto discard = [&] {
        out.reset();
        ::unlink(target.c_str());
    };
    try {
        return extractData(zip, e, target, out);
    } catch (...) {
        // Cancelled or failed half way: no partial file stays behind.
        discard();
        throw;
    }
}

bool TVCLUnZip::extractData(std::FILE *zip, const TZipHeaderInfo &e, const fs::path &target, FilePtr &out)
{
    const auto discard = [&] {
        out.reset();
        ::unlink(target.c_str());
    };

    const std::uint64_t offset = dataOffset(zip, e);
    if (fseeko(zip, static_cast<off_t>(offset), SEEK_SET) != 0) {
        discard();
        throw EFatalUnzipError();
    }

    std::vector<unsigned char> in(kBlock);
    std::vector<unsigned char> outBuf(kBlock);
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t written = 0;
    std::uint64_t remaining = e.compressed_size;
    bool failed = false;

    const auto deliver = [&](const unsigned char *data, std::size_t n) -> bool {
        if (written + n > e.uncompressed_size)
            return false; // larger than the recorded size: EBiggerThanUncompressed
        if (n && std::fwrite(data, 1, n, out.get()) != n) {
            discard();
            throw ECantWriteUCF();
        }
        crc = crc32(crc, data, static_cast<uInt>(n));
        written += n;
        return true;
    };
    const auto readBlock = [&](std::size_t n) {
        if (!readExact(zip, in.data(), n)) {
            discard();
            throw EFatalUnzipError();
        }
        remaining -= n;
    };

    if (e.compression_method == 0) {
        while (remaining > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, remaining));
            readBlock(n);
            if (!deliver(in.data(), n)) {
                discard();
                return false;
            }
            processMessages();
        }
    } else if (e.compression_method == 8) {
        Inflater inflater;
        if (!inflater.ok()) {
            discard();
            throw std::bad_alloc();
        }
        z_stream &zs = inflater.stream();
        int ret = Z_OK;
        while (ret != Z_STREAM_END) {
            if (zs.avail_in == 0) {
                if (remaining == 0) {
                    failed = true; // the stream ends early: the check fails
                    break;
                }
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, remaining));
                readBlock(n);
                zs.next_in = in.data();
                zs.avail_in = static_cast<uInt>(n);
            }
            zs.next_out = outBuf.data();
            zs.avail_out = static_cast<uInt>(outBuf.size());
            ret = inflate(&zs, Z_NO_FLUSH);
            if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) {
                failed = true;
                break;
            }
            const std::size_t produced = outBuf.size() - zs.avail_out;
            if (!deliver(outBuf.data(), produced)) {
                discard();
                return false;
            }
            if (ret == Z_BUF_ERROR && produced == 0 && zs.avail_in > 0) {
                failed = true; // no progress possible
                break;
            }
            processMessages();
        }
    } else {
        platform::messageBox(nullptr, QStringLiteral("Unknown Compression Method"), QStringLiteral("Zip Error"));
        failed = true;
    }

    std::FILE *raw = out.release();
    if (std::fclose(raw) != 0) {
        ::unlink(target.c_str());
        throw ECantWriteUCF();
    }
    setModificationTime(target, fromDosDateTime(e.last_mod_file_date_time));
    if (RetainAttributes)
        applyDosAttributes(target, e.external_file_attributes);

    if (failed || crc != e.crc32 || written != e.uncompressed_size) {
        ::unlink(target.c_str());
        return false;
    }
    return true;
}
