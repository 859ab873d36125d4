#include "package/Rar4Writer.h"

#include "package/Rar4Scan.h"
#include "platform/CodePage.h"

#include <zlib.h>

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace package {

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void put16(std::string &s, unsigned v)
{
    s.push_back(char(v & 0xFF));
    s.push_back(char((v >> 8) & 0xFF));
}
void put32(std::string &s, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s.push_back(char((v >> (8 * i)) & 0xFF));
}

std::uint32_t dosTime(std::time_t t)
{
    std::tm tm{};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80)
        return (1u << 21) | (1u << 16);
    return std::uint32_t(tm.tm_year - 80) << 25 | std::uint32_t(tm.tm_mon + 1) << 21 | std::uint32_t(tm.tm_mday) << 16
           | std::uint32_t(tm.tm_hour) << 11 | std::uint32_t(tm.tm_min) << 5 | std::uint32_t(tm.tm_sec / 2);
}

// A block with its header CRC (the low 16 bits of the CRC-32 of everything
// after the CRC field) in front.
std::string block(const std::string &body)
{
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(body.data()), uInt(body.size()));
    std::string out;
    put16(out, unsigned(crc & 0xFFFF));
    out += body;
    return out;
}

bool isAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

struct Rar4Writer::Impl {
    FilePtr file;
    fs::path path;
    Names names;

    void write(const void *data, std::size_t size)
    {
        if (size && std::fwrite(data, 1, size, file.get()) != size)
            throw RarWriteError("Cannot write \"" + path.string() + "\": " + std::strerror(errno));
    }
    void write(const std::string &s) { write(s.data(), s.size()); }

    std::string nameBytes(std::string_view storedName, std::uint16_t &flags) const
    {
        std::string n(storedName);
        std::replace(n.begin(), n.end(), '/', '\\');
        if (isAscii(n))
            return n;
        if (names == Names::Ansi)
            return platform::toAnsi(QString::fromUtf8(n.data(), qsizetype(n.size())));
        flags |= kRar4Unicode;
        return n;
    }

    std::string fileHeader(const std::string &name, std::uint16_t flags, std::uint64_t size, std::uint32_t crc,
                           std::uint32_t time, std::uint32_t attr) const
    {
        if (size > 0xFFFFFFFFull)
            flags |= kRar4Large;
        if (name.size() > 0xFFFF - 64)
            throw RarWriteError("Name too long: " + name);
        std::string body;
        body.push_back(char(0x74));
        put16(body, flags | kRar4LongBlock);
        const unsigned headSize = unsigned(7 + 25 + ((flags & kRar4Large) ? 8 : 0) + name.size());
        put16(body, headSize);
        put32(body, std::uint32_t(size));
        put32(body, std::uint32_t(size));
        body.push_back(char(2)); // Windows host: '\' separators and DOS attributes
        put32(body, crc);
        put32(body, time);
        body.push_back(char(20));   // unpacking version 2.0
        body.push_back(char(0x30)); // stored
        put16(body, unsigned(name.size()));
        put32(body, attr);
        if (flags & kRar4Large) {
            put32(body, std::uint32_t(size >> 32));
            put32(body, std::uint32_t(size >> 32));
        }
        body += name;
        return block(body);
    }
};

Rar4Writer::Rar4Writer(const fs::path &out, Names names) : d(std::make_unique<Impl>())
{
    d->path = out;
    d->names = names;
    d->file.reset(std::fopen(out.c_str(), "wb"));
    if (!d->file)
        throw RarWriteError("Cannot create \"" + out.string() + "\": " + std::strerror(errno));
    static const unsigned char marker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
    d->write(marker, sizeof marker);
    std::string main;
    main.push_back(char(0x73));
    put16(main, 0);
    put16(main, 13);
    put16(main, 0);
    put32(main, 0);
    d->write(block(main));
}

Rar4Writer::~Rar4Writer() = default;

void Rar4Writer::addDirectory(std::string_view storedName, std::time_t mtime)
{
    std::uint16_t flags = kRar4DirectoryMask;
    const std::string name = d->nameBytes(storedName, flags);
    d->write(d->fileHeader(name, flags, 0, 0, dosTime(mtime), 0x10));
}

void Rar4Writer::addData(std::string_view storedName, std::string_view bytes, std::time_t mtime)
{
    std::uint16_t flags = 0;
    const std::string name = d->nameBytes(storedName, flags);
    const auto crc = std::uint32_t(crc32(0L, reinterpret_cast<const Bytef *>(bytes.data()), uInt(bytes.size())));
    d->write(d->fileHeader(name, flags, bytes.size(), crc, dosTime(mtime), 0x20));
    d->write(bytes.data(), bytes.size());
}

void Rar4Writer::addRaw(std::string_view nameBytes, std::string_view bytes, std::uint32_t crc, std::uint16_t extraFlags)
{
    d->write(d->fileHeader(std::string(nameBytes), extraFlags, bytes.size(), crc, dosTime(0), 0x20));
    d->write(bytes.data(), bytes.size());
}

void Rar4Writer::addFile(std::string_view storedName, const fs::path &source)
{
    FilePtr in(std::fopen(source.c_str(), "rb"));
    struct stat st {};
    if (!in || ::fstat(fileno(in.get()), &st) != 0)
        throw RarWriteError("Cannot open \"" + source.string() + "\": " + std::strerror(errno));
    const auto size = std::uint64_t(st.st_size);
    // The CRC sits in the header before the data: one pass for the CRC,
    // one for the copy, so that nothing has to be held or patched.
    std::vector<unsigned char> buffer(1 << 20);
    uLong crc = crc32(0L, Z_NULL, 0);
    std::uint64_t seen = 0;
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0;) {
        crc = crc32(crc, buffer.data(), uInt(n));
        seen += n;
    }
    if (std::ferror(in.get()) || seen != size)
        throw RarWriteError("Cannot read \"" + source.string() + "\" (changed while packing?)");
    std::uint16_t flags = 0;
    const std::string name = d->nameBytes(storedName, flags);
    d->write(d->fileHeader(name, flags, size, std::uint32_t(crc), dosTime(st.st_mtime), 0x20));
    std::rewind(in.get());
    std::uint64_t copied = 0;
    for (std::size_t n; copied < size && (n = std::fread(buffer.data(), 1, std::min<std::uint64_t>(buffer.size(), size - copied), in.get())) > 0;) {
        d->write(buffer.data(), n);
        copied += n;
    }
    if (copied != size)
        throw RarWriteError("Cannot read \"" + source.string() + "\" (changed while packing?)");
}

void Rar4Writer::finish()
{
    if (!d->file)
        return;
    std::string end;
    end.push_back(char(0x7B));
    put16(end, 0x4000);
    put16(end, 7);
    d->write(block(end));
    std::FILE *f = d->file.release();
    if (std::fclose(f) != 0)
        throw RarWriteError("Cannot write \"" + d->path.string() + "\": " + std::strerror(errno));
}

void packFolder(const fs::path &folder, const fs::path &rar, Rar4Writer::Names names)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw RarWriteError("Not a folder: \"" + folder.string() + "\"");
    std::vector<fs::path> entries;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec), end; !ec && it != end;
         it.increment(ec))
        entries.push_back(it->path());
    if (ec)
        throw RarWriteError("Cannot read \"" + folder.string() + "\": " + ec.message());
    // A folder sorts before its contents, so extraction can create it first.
    std::sort(entries.begin(), entries.end());
    const fs::path outAbs = fs::weakly_canonical(rar, ec);
    Rar4Writer writer(rar, names);
    for (const fs::path &p : entries) {
        if (fs::weakly_canonical(p, ec) == outAbs)
            continue;
        const std::string stored = fs::relative(p, folder).generic_string();
        const fs::file_status st = fs::symlink_status(p, ec);
        if (fs::is_symlink(st))
            throw RarWriteError("Links cannot be packed: \"" + p.string() + "\"");
        if (fs::is_directory(st)) {
            struct stat s {};
            ::stat(p.c_str(), &s);
            writer.addDirectory(stored, s.st_mtime);
        } else if (fs::is_regular_file(st)) {
            writer.addFile(stored, p);
        } else {
            throw RarWriteError("Not a file or folder: \"" + p.string() + "\"");
        }
    }
    writer.finish();
}

} // namespace package
