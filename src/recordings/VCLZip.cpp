#include "recordings/VCLZip.h"

#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/WinPath.h"
#include "recordings/ZipSupport.h"

#include <QDir>
#include <QScopeGuard>

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace fs = std::filesystem;
using namespace zipsupport;

namespace {

// The deflater's first block: the store rule and the text judgement look at
// it. Reads and writes move in blocks of this size too.
constexpr std::size_t kBlock = 256 * 1024;
constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;

std::uint16_t levelFlags(int level)
{
    if (level == 1 || level == 2)
        return 0x0004;
    if (level == 8 || level == 9)
        return 0x0002;
    return 0;
}

// Text when the bytes outside printable ASCII (0-6, 128-255) number at most
// a quarter of those inside (7-127); nothing at all counts as text.
std::uint16_t judgeText(const unsigned char *data, std::size_t n)
{
    std::size_t binary = 0, text = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (data[i] <= 6 || data[i] >= 128)
            ++binary;
        else
            ++text;
    }
    return binary * 4 <= text ? 1 : 0;
}

// A raw deflate stream; neither copied nor moved.
class Deflater
{
public:
    explicit Deflater(int level)
    {
        m_ok = deflateInit2(&m_zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater()
    {
        if (m_ok)
            deflateEnd(&m_zs);
    }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;
    [[nodiscard]] bool ok() const { return m_ok; }
    z_stream &stream() { return m_zs; }

private:
    z_stream m_zs{};
    bool m_ok = false;
};

std::string localHeader(const TZipHeaderInfo &e)
{
    std::string h;
    h.reserve(30 + e.rawName.size());
    put32(h, kLocalSig);
    put16(h, e.version_needed);
    put16(h, e.flag);
    put16(h, e.compression_method);
    put16(h, static_cast<std::uint16_t>(e.last_mod_file_date_time & 0xFFFF));
    put16(h, static_cast<std::uint16_t>(e.last_mod_file_date_time >> 16));
    put32(h, e.crc32);
    put32(h, e.compressed_size);
    put32(h, e.uncompressed_size);
    put16(h, static_cast<std::uint16_t>(e.rawName.size()));
    put16(h, 0);
    h += e.rawName;
    return h;
}

QString nameKey(const QString &storedName)
{
    QString k = storedName;
    k.replace(u'/', u'\\');
    return k.toCaseFolded();
}

} // namespace

TVCLZip::TVCLZip() = default;
TVCLZip::~TVCLZip() = default;

void TVCLZip::writeAll(std::FILE *out, const void *data, std::size_t n)
{
    if (n && std::fwrite(data, 1, n, out) != n)
        throw ENotEnoughRoom();
}

std::uint64_t TVCLZip::position(std::FILE *out)
{
    const off_t pos = ftello(out);
    if (pos < 0)
        throw ENotEnoughRoom();
    return static_cast<std::uint64_t>(pos);
}

bool TVCLZip::excluded(const fs::path &path) const
{
    for (const QString &pattern : ExcludeList) {
        const SplitPath sp = splitPath(pattern);
        if (sp.folder.isEmpty()) {
            if (wildcardMatch(pattern, toQString(path.filename())))
                return true;
        } else if (wildcardMatch(toQString(platform::hostPath(pattern)), toQString(path))) {
            return true;
        }
    }
    return false;
}

bool TVCLZip::noCompress(const fs::path &path) const
{
    for (const QString &pattern : NoCompressList)
        if (wildcardMatch(splitPath(pattern).name, toQString(path.filename())))
            return true;
    return false;
}

void TVCLZip::addCandidate(const fs::path &path, const QString &storedFolder, bool directory,
                           std::vector<Candidate> &out)
{
    const QString name = toQString(path.filename());
    Candidate c;
    c.path = path;
    c.directory = directory;
    c.storedName = StorePaths ? storedFolder + name : name;
    if (directory)
        c.storedName += u'\\';
    out.push_back(std::move(c));
}

void TVCLZip::search(const fs::path &folder, const QString &storedFolder, const QString &pattern,
                     const fs::path &archive, std::vector<Candidate> &out)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::directory_entry &de = *it;
        std::error_code sec;
        // Linked folders are not entered: a link back up the tree would
        // make the walk endless.
        const bool isDir = de.is_directory(sec) && !de.is_symlink(sec);
        const QString name = toQString(de.path().filename());
        if (isDir) {
            if (Recurse) {
                if (AddDirEntriesOnRecurse && StorePaths)
                    addCandidate(de.path(), storedFolder, true, out);
                search(de.path(), storedFolder + name + u'\\', pattern, archive, out);
            }
            continue;
        }
        if (!wildcardMatch(pattern, name))
            continue;
        const fs::path real = fs::weakly_canonical(de.path(), sec);
        if (toQString(real).compare(toQString(archive), Qt::CaseInsensitive) == 0)
            continue;
        if (excluded(de.path()))
            continue;
        addCandidate(de.path(), storedFolder, false, out);
        processMessages();
    }
}

std::vector<TVCLZip::Candidate> TVCLZip::gatherFiles(const fs::path &archivePath)
{
    std::error_code ec;
    const fs::path archive = fs::weakly_canonical(archivePath, ec);
    std::vector<Candidate> out;
    for (const QString &entry : FilesList) {
        if (entry.isEmpty() || entry.endsWith(u'\\') || entry.endsWith(u'/'))
            continue;
        const SplitPath sp = splitPath(entry);
        QString folder = sp.folder;
        if (folder.isEmpty() && !RootDir.isEmpty())
            folder = RootDir.endsWith(u'\\') || RootDir.endsWith(u'/') ? RootDir : RootDir + u'\\';
        const fs::path hostFolder = folder.isEmpty() ? fs::current_path(ec) : platform::hostPath(folder);

        // The folder as stored with StorePaths: no drive, no leading separator.
        QString storedFolder = folder;
        storedFolder.replace(u'/', u'\\');
        if (storedFolder.size() >= 2 && storedFolder[1] == u':' && storedFolder[0].isLetter())
            storedFolder.remove(0, 2);
        while (storedFolder.startsWith(u'\\'))
            storedFolder.remove(0, 1);

        if (hasWildcards(sp.name)) {
            search(hostFolder, storedFolder, sp.name, archive, out);
        } else {
            const fs::path path = hostFolder / fromQString(sp.name);
            if (excluded(path) || !fs::is_regular_file(path, ec))
                continue;
            if (toQString(fs::weakly_canonical(path, ec)).compare(toQString(archive), Qt::CaseInsensitive) == 0)
                continue;
            addCandidate(path, storedFolder, false, out);
        }
        processMessages();
    }
    return out;
}

bool TVCLZip::packOne(std::FILE *out, const Candidate &c, std::vector<TZipHeaderInfo> &entries,
                      std::set<QString> &names)
{
    const QString key = nameKey(c.storedName);
    if (names.count(key))
        return false;

    FilePtr in;
    struct stat st {};
    if (c.directory) {
        if (::stat(c.path.c_str(), &st) != 0)
            return false;
    } else {
        in.reset(std::fopen(c.path.c_str(), "rb"));
        if (!in || ::fstat(::fileno(in.get()), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
    }

    QString stored = c.storedName;
    stored.replace(u'\\', u'/');
    TZipHeaderInfo e;
    e.rawName = platform::toAnsi(stored);
    if (e.rawName.size() > 0xFFFF)
        return false;
    const int level = std::clamp(PackLevel, 0, 9);
    e.version_made_by = 20;
    e.version_needed = 20;
    e.flag = levelFlags(level);
    e.last_mod_file_date_time = toDosDateTime(st.st_mtime);
    e.external_file_attributes = dosAttributes(c.path);
    e.filename_length = static_cast<std::uint16_t>(e.rawName.size());
    const std::uint64_t offset = position(out);
    if (offset > kMax32 || static_cast<std::uint64_t>(st.st_size) > kMax32)
        throw EZipTooLarge();
    e.relative_offset = static_cast<std::uint32_t>(offset);
    {
        QString n = stored;
        n.replace(u'/', u'\\');
        const qsizetype cut = n.lastIndexOf(u'\\', n.endsWith(u'\\') ? -2 : -1);
        e.directory = c.directory ? n : n.left(cut + 1);
        e.filename = c.directory ? QString() : n.mid(cut + 1);
    }

    // Final CRC and sizes are known only after the data: the header is
    // written now and again when they are.
    const std::string provisional = localHeader(e);
    writeAll(out, provisional.data(), provisional.size());

    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t total = 0;
    std::uint64_t packed = 0;
    std::vector<unsigned char> buf(kBlock);
    const auto readBlock = [&]() -> std::size_t {
        if (!in)
            return 0;
        const std::size_t n = std::fread(buf.data(), 1, buf.size(), in.get());
        crc = crc32(crc, buf.data(), static_cast<uInt>(n));
        total += n;
        if (total > kMax32)
            throw EZipTooLarge();
        return n;
    };
    const auto deliver = [&](const void *data, std::size_t n) {
        writeAll(out, data, n);
        packed += n;
        if (packed > kMax32)
            throw EZipTooLarge();
    };

    std::size_t n = readBlock();
    const bool store = level == 0 || c.directory || noCompress(c.path);
    if (store) {
        e.compression_method = 0;
        e.internal_file_attributes = 0;
        while (n > 0) {
            deliver(buf.data(), n);
            processMessages();
            n = readBlock();
        }
    } else {
        e.internal_file_attributes = judgeText(buf.data(), n);
        Deflater deflater(level);
        if (!deflater.ok())
            throw std::bad_alloc();
        z_stream &zs = deflater.stream();
        std::vector<unsigned char> outBuf(std::max<std::size_t>(kBlock, deflateBound(&zs, kBlock)));
        if (n < buf.size()) {
            // The whole file is in the first block: keep the deflated form
            // only when it is shorter.
            zs.next_in = buf.data();
            zs.avail_in = static_cast<uInt>(n);
            zs.next_out = outBuf.data();
            zs.avail_out = static_cast<uInt>(outBuf.size());
            if (deflate(&zs, Z_FINISH) != Z_STREAM_END)
                throw std::bad_alloc();
            const std::size_t produced = outBuf.size() - zs.avail_out;
            if (produced >= n) {
                e.compression_method = 0;
                deliver(buf.data(), n);
            } else {
                e.compression_method = 8;
                deliver(outBuf.data(), produced);
            }
            processMessages();
        } else {
            e.compression_method = 8;
            for (;;) {
                const int flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
                zs.next_in = buf.data();
                zs.avail_in = static_cast<uInt>(n);
                int ret = Z_OK;
                do {
                    zs.next_out = outBuf.data();
                    zs.avail_out = static_cast<uInt>(outBuf.size());
                    ret = deflate(&zs, flush);
                    if (ret == Z_STREAM_ERROR)
                        throw std::bad_alloc();
                    deliver(outBuf.data(), outBuf.size() - zs.avail_out);
                } while (zs.avail_out == 0 || (flush == Z_FINISH && ret != Z_STREAM_END));
                processMessages();
                if (flush == Z_FINISH)
                    break;
                n = readBlock();
            }
        }
    }

    e.crc32 = static_cast<std::uint32_t>(crc);
    e.compressed_size = static_cast<std::uint32_t>(packed);
    e.uncompressed_size = static_cast<std::uint32_t>(total);
    const std::string final = localHeader(e);
    if (fseeko(out, static_cast<off_t>(offset), SEEK_SET) != 0)
        throw ENotEnoughRoom();
    writeAll(out, final.data(), final.size());
    if (fseeko(out, 0, SEEK_END) != 0)
        throw ENotEnoughRoom();

    names.insert(key);
    entries.push_back(std::move(e));
    return true;
}

void TVCLZip::copyEntry(std::FILE *in, std::FILE *out, const TZipHeaderInfo &old, std::vector<TZipHeaderInfo> &entries,
                        std::set<QString> &names)
{
    const std::uint64_t dataStart = dataOffset(in, old);
    std::uint64_t length = dataStart - old.relative_offset + old.compressed_size;
    if (old.flag & 0x0008) {
        unsigned char sig[4];
        if (fseeko(in, static_cast<off_t>(dataStart + old.compressed_size), SEEK_SET) != 0 || !readExact(in, sig, 4))
            throw EFatalUnzipError();
        length += get32(sig) == kDescriptorSig ? 16 : 12;
    }
    const std::uint64_t offset = position(out);
    if (offset > kMax32)
        throw EZipTooLarge();
    if (fseeko(in, static_cast<off_t>(old.relative_offset), SEEK_SET) != 0)
        throw EFatalUnzipError();
    std::vector<unsigned char> buf(kBlock);
    while (length > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, buf.size()));
        if (!readExact(in, buf.data(), n))
            throw EFatalUnzipError();
        writeAll(out, buf.data(), n);
        length -= n;
        processMessages();
    }
    TZipHeaderInfo e = old;
    e.relative_offset = static_cast<std::uint32_t>(offset);
    names.insert(nameKey(e.fullName()));
    entries.push_back(std::move(e));
}

void TVCLZip::writeDirectory(std::FILE *out, const std::vector<TZipHeaderInfo> &entries, const std::string &comment)
{
    if (entries.size() > 0xFFFF)
        throw EZipTooLarge();
    const std::uint64_t start = position(out);
    std::string d;
    for (const TZipHeaderInfo &e : entries) {
        d.clear();
        put32(d, kCentralSig);
        put16(d, e.version_made_by);
        put16(d, e.version_needed);
        put16(d, e.flag);
        put16(d, e.compression_method);
        put16(d, static_cast<std::uint16_t>(e.last_mod_file_date_time & 0xFFFF));
        put16(d, static_cast<std::uint16_t>(e.last_mod_file_date_time >> 16));
        put32(d, e.crc32);
        put32(d, e.compressed_size);
        put32(d, e.uncompressed_size);
        put16(d, static_cast<std::uint16_t>(e.rawName.size()));
        put16(d, static_cast<std::uint16_t>(e.centralExtra.size()));
        put16(d, static_cast<std::uint16_t>(e.comment.size()));
        put16(d, 0);
        put16(d, e.internal_file_attributes);
        put32(d, e.external_file_attributes);
        put32(d, e.relative_offset);
        d += e.rawName;
        d += e.centralExtra;
        d += e.comment;
        writeAll(out, d.data(), d.size());
    }
    const std::uint64_t end = position(out);
    if (end > kMax32)
        throw EZipTooLarge();
    d.clear();
    put32(d, kEndSig);
    put16(d, 0);
    put16(d, 0);
    put16(d, static_cast<std::uint16_t>(entries.size()));
    put16(d, static_cast<std::uint16_t>(entries.size()));
    put32(d, static_cast<std::uint32_t>(end - start));
    put32(d, static_cast<std::uint32_t>(start));
    const std::size_t commentLen = std::min<std::size_t>(comment.size(), 0xFFFF);
    put16(d, static_cast<std::uint16_t>(commentLen));
    d.append(comment, 0, commentLen);
    writeAll(out, d.data(), d.size());
}

void TVCLZip::moveIntoPlace(const fs::path &from, const fs::path &to)
{
    if (::rename(from.c_str(), to.c_str()) == 0)
        return;
    if (errno != EXDEV)
        throw EFCreateError(toQString(to), errno);
    // Another file system: copy beside the target, then rename over it, so
    // the old archive stays whole until the new one is complete.
    const fs::path part = fs::path(to.string() + ".KPZ");
    std::uint64_t copied = 0;
    bool ok = false;
    {
        FilePtr in(std::fopen(from.c_str(), "rb"));
        FilePtr out(in ? std::fopen(part.c_str(), "wb") : nullptr);
        if (in && out) {
            std::vector<unsigned char> buf(kBlock);
            ok = true;
            for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), in.get())) > 0;) {
                if (std::fwrite(buf.data(), 1, n, out.get()) != n) {
                    ok = false;
                    break;
                }
                copied += n;
            }
            ok = ok && !std::ferror(in.get()) && std::fflush(out.get()) == 0;
            if (std::fclose(out.release()) != 0)
                ok = false;
        }
    }
    if (copied == 0)
        platform::messageBox(nullptr,
                             QStringLiteral("Could not copy from ") + toQString(from) + QStringLiteral(" -> ") +
                                 toQString(to),
                             QStringLiteral("Error"));
    if (!ok || copied == 0 || ::rename(part.c_str(), to.c_str()) != 0) {
        ::unlink(part.c_str());
        throw ENotEnoughRoom();
    }
    ::unlink(from.c_str());
}

int TVCLZip::Zip()
{
    const BusyScope busy(*this);
    const auto clearList = qScopeGuard([this] { FilesList.clear(); });

    const fs::path archive = zipHostPath();
    std::vector<Candidate> list = gatherFiles(archive);

    struct stat ast {};
    const bool update = ::stat(archive.c_str(), &ast) == 0;
    // Only a plain file is updated: renaming over a folder or a device
    // would destroy something that is no archive.
    if (update && !S_ISREG(ast.st_mode))
        throw EFCreateError(ZipName(), S_ISDIR(ast.st_mode) ? EISDIR : EINVAL);
    std::vector<TZipHeaderInfo> old;
    std::string comment;
    FilePtr in;
    if (update) {
        in.reset(std::fopen(archive.c_str(), "rb"));
        if (!in)
            throw EFOpenError(ZipName(), errno);
        readDirectory(in.get(), ZipName());
        old = m_entries;
        comment = m_end.comment;
    }

    fs::path outPath;
    FilePtr out;
    if (update) {
        const fs::path dir = TempPath.isEmpty() ? fromQString(QDir::tempPath()) : platform::hostPath(TempPath);
        std::string tmpl = (dir / "KPZXXXXXX").string();
        const int fd = ::mkstemp(tmpl.data());
        if (fd < 0)
            throw EFCreateError(toQString(fs::path(tmpl)), errno);
        outPath = tmpl;
        out.reset(::fdopen(fd, "w+b"));
        if (!out) {
            ::close(fd);
            ::unlink(outPath.c_str());
            throw std::bad_alloc();
        }
    } else {
        out.reset(std::fopen(archive.c_str(), "wb"));
        if (!out)
            throw EFCreateError(ZipName(), errno);
        outPath = archive;
    }
    // Whatever fails from here on, the partial output goes and the old
    // archive stays as it was.
    auto removeOutput = qScopeGuard([&] {
        out.reset();
        ::unlink(outPath.c_str());
        m_entries.clear();
        m_end = {};
        m_directoryRead = false;
    });
    std::setvbuf(out.get(), nullptr, _IOFBF, 1 << 20);

    std::vector<TZipHeaderInfo> entries;
    std::set<QString> names;
    int count = 0;
    for (const TZipHeaderInfo &e : old) {
        const QString key = nameKey(e.fullName());
        const auto match = std::find_if(list.begin(), list.end(),
                                        [&](const Candidate &c) { return nameKey(c.storedName) == key; });
        if (match != list.end()) {
            const Candidate c = *match;
            list.erase(match);
            struct stat st {};
            const bool newer = ::stat(c.path.c_str(), &st) == 0 &&
                               e.last_mod_file_date_time < toDosDateTime(st.st_mtime);
            if ((ZipAction == zaReplace || newer) && !names.count(key) && packOne(out.get(), c, entries, names)) {
                ++count;
                continue;
            }
        }
        copyEntry(in.get(), out.get(), e, entries, names);
    }
    if (ZipAction != zaFreshen) {
        for (const Candidate &c : list)
            if (packOne(out.get(), c, entries, names))
                ++count;
    }
    writeDirectory(out.get(), entries, comment);
    if (std::fflush(out.get()) != 0 || std::ferror(out.get()))
        throw ENotEnoughRoom();
    if (std::fclose(out.release()) != 0)
        throw ENotEnoughRoom();
    in.reset();
    if (update)
        moveIntoPlace(outPath, archive);
    removeOutput.dismiss();

    m_entries = std::move(entries);
    m_end = {};
    m_end.num_entries = m_end.num_entries_this_disk = static_cast<std::uint16_t>(m_entries.size());
    m_end.comment = comment;
    m_directoryRead = true;
    if (OnZipComplete)
        OnZipComplete(*this, count);
    return count;
}
