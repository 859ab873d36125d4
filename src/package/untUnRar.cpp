#include "package/untUnRar.h"

#include "package/ArchivePath.h"
#include "package/Rar4Scan.h"
#include "platform/CodePage.h"
#include "platform/WinPath.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <QString>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace unrar {

namespace {

struct ArchiveFree {
    void operator()(archive *a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveFree>;

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release()
    {
        const int f = fd;
        fd = -1;
        return f;
    }
};

constexpr int kMaxFailedHeaders = 16; // consecutive failed reads before the archive counts as ended
constexpr int kMaxVolumeAsks = 3;
constexpr std::size_t kBlock = 256 * 1024;

// One open archive (the library's handle).
struct Reader {
    std::string arcName;                 // as given, for the header record
    std::vector<std::string> volumes;    // host paths, in order
    ArchivePtr a;
    package::Rar4Scan scan;
    std::size_t nextBlock = 0;
    const package::Rar4FileBlock *block = nullptr;
    archive_entry *entry = nullptr;
    int entryIndex = -1;                 // index of the current entry, -1 before the first
    bool haveEntry = false;
    bool dead = false;
    int failedReads = 0;
    std::string name;                    // entry name, UTF-8, '/' separators
    UNRARCALLBACK callback = nullptr;
    LPARAM userData = 0;
    int (*changeVolProc)(char *, int) = nullptr;
    int (*processDataProc)(unsigned char *, int) = nullptr;
    std::string password;
};

bool g_libraryAvailable = true;

Binding &theBinding()
{
    static Binding b;
    return b;
}

std::string utf8Name(const char *raw)
{
    if (!raw)
        return {};
    const std::string_view bytes(raw);
    if (platform::isValidUtf8(bytes))
        return std::string(bytes);
    return platform::fromAnsi(bytes).toStdString();
}

void copyString(char *dst, std::size_t size, const std::string &src)
{
    std::size_t n = std::min(src.size(), size - 1);
    // Never cut a UTF-8 sequence in half.
    while (n > 0 && n < src.size() && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

void copyWide(wchar_t *dst, std::size_t size, const std::string &utf8)
{
    const std::u32string wide = QString::fromUtf8(utf8.data(), qsizetype(utf8.size())).toStdU32String();
    const std::size_t n = std::min(wide.size(), size - 1);
    for (std::size_t i = 0; i < n; ++i)
        dst[i] = static_cast<wchar_t>(wide[i]);
    dst[n] = L'\0';
}

std::string backslashed(std::string s)
{
    for (char &c : s)
        if (c == '/')
            c = '\\';
    return s;
}

unsigned dosTime(std::time_t t)
{
    std::tm tm{};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80)
        return (0u << 25) | (1u << 21) | (1u << 16);
    return unsigned(tm.tm_year - 80) << 25 | unsigned(tm.tm_mon + 1) << 21 | unsigned(tm.tm_mday) << 16
           | unsigned(tm.tm_hour) << 11 | unsigned(tm.tm_min) << 5 | unsigned(tm.tm_sec / 2);
}

// "x.part1.rar" -> "x.part2.rar" (keeping the width), "x.rar" -> "x.r00",
// "x.r00" -> "x.r01"; empty when the name follows neither scheme.
std::string nextVolumeName(const std::string &path)
{
    static const std::regex part(R"(^(.*\.part)([0-9]+)(\.rar)$)", std::regex::icase);
    static const std::regex oldStyle(R"(^(.*\.r)([0-9]{2,})$)", std::regex::icase);
    std::smatch m;
    if (std::regex_match(path, m, part)) {
        std::string digits = std::to_string(std::stoull(m[2].str()) + 1);
        const auto width = std::size_t(m[2].length());
        if (digits.size() < width)
            digits.insert(0, width - digits.size(), '0');
        return m[1].str() + digits + m[3].str();
    }
    if (std::regex_match(path, m, oldStyle)) {
        std::string digits = std::to_string(std::stoull(m[2].str()) + 1);
        const auto width = std::size_t(m[2].length());
        if (digits.size() < width)
            digits.insert(0, width - digits.size(), '0');
        return m[1].str() + digits;
    }
    if (path.size() > 4 && QString::fromStdString(path.substr(path.size() - 4)).compare(".rar", Qt::CaseInsensitive) == 0)
        return path.substr(0, path.size() - 2) + "00";
    return {};
}

bool isVolumeSet(const Reader &r, const std::string &first)
{
    static const std::regex part(R"(^.*\.part[0-9]+\.rar$)", std::regex::icase);
    return (r.scan.isRar4 && (r.scan.mainFlags & 0x0001)) || std::regex_match(first, part);
}

bool openArchive(Reader &r)
{
    ArchivePtr a(archive_read_new());
    if (!a)
        return false;
    archive_read_support_format_rar(a.get());
    archive_read_support_format_rar5(a.get());
    std::vector<const char *> names;
    for (const std::string &v : r.volumes)
        names.push_back(v.c_str());
    names.push_back(nullptr);
    if (archive_read_open_filenames(a.get(), names.data(), 64 * 1024) != ARCHIVE_OK)
        return false;
    r.a = std::move(a);
    r.nextBlock = 0;
    r.block = nullptr;
    r.entry = nullptr;
    r.entryIndex = -1;
    r.haveEntry = false;
    r.dead = false;
    r.failedReads = 0;
    return true;
}

void rescan(Reader &r)
{
    r.scan = {};
    for (const std::string &v : r.volumes) {
        package::Rar4Scan s = package::scanRar4(v);
        if (&v == &r.volumes.front()) {
            r.scan.isRar4 = s.isRar4;
            r.scan.mainFlags = s.mainFlags;
        }
        for (auto &f : s.files)
            r.scan.files.push_back(std::move(f));
    }
}

int readHeader(Reader &r)
{
    if (r.dead)
        return ERAR_END_ARCHIVE;
    r.haveEntry = false;
    const int rc = archive_read_next_header(r.a.get(), &r.entry);
    if (rc == ARCHIVE_EOF) {
        r.dead = true;
        return ERAR_END_ARCHIVE;
    }
    if (rc < ARCHIVE_WARN) {
        // A fatal error leaves libarchive unable to go on; the next read
        // then reports the end so that a caller that reads on stops.
        if (rc == ARCHIVE_FATAL || ++r.failedReads >= kMaxFailedHeaders)
            r.dead = true;
        return ERAR_BAD_DATA;
    }
    r.failedReads = 0;
    r.haveEntry = true;
    ++r.entryIndex;
    r.block = nullptr;
    if (r.scan.isRar4) {
        while (r.nextBlock < r.scan.files.size() && (r.scan.files[r.nextBlock].flags & package::kRar4SplitBefore))
            ++r.nextBlock;
        if (r.nextBlock < r.scan.files.size())
            r.block = &r.scan.files[r.nextBlock++];
        // Should libarchive ever pass over a block, the walk and the entries
        // fall out of step; a block that disagrees on the size is not used,
        // so a good file is never failed on another file's CRC.
        if (r.block && archive_entry_size_is_set(r.entry)
            && r.block->unpSize != std::uint64_t(archive_entry_size(r.entry))
            && archive_entry_filetype(r.entry) == AE_IFREG && !archive_entry_symlink(r.entry)
            && !archive_entry_hardlink(r.entry))
            r.block = nullptr;
    }
    r.name = utf8Name(archive_entry_pathname(r.entry));
    if (r.name.empty()) {
        if (const wchar_t *w = archive_entry_pathname_w(r.entry))
            r.name = QString::fromWCharArray(w).toStdString();
    }
    for (char &c : r.name)
        if (c == '\\')
            c = '/';
    return ERAR_SUCCESS;
}

void fillHeader(const Reader &r, RARHeaderDataEx *h)
{
    std::memset(h, 0, sizeof *h);
    copyString(h->ArcName, sizeof h->ArcName, r.arcName);
    copyWide(h->ArcNameW, kNameSize, r.arcName);
    const std::string stored = backslashed(r.name);
    copyString(h->FileName, sizeof h->FileName, stored);
    copyWide(h->FileNameW, kNameSize, stored);
    const mode_t type = archive_entry_filetype(r.entry);
    const bool dir = type == AE_IFDIR;
    const auto size = std::uint64_t(archive_entry_size(r.entry));
    h->UnpSize = unsigned(size & 0xFFFFFFFFu);
    h->UnpSizeHigh = unsigned(size >> 32);
    if (archive_entry_is_data_encrypted(r.entry) > 0)
        h->Flags |= RHDF_ENCRYPTED;
    if (dir)
        h->Flags |= RHDF_DIRECTORY;
    if (const package::Rar4FileBlock *b = r.block) {
        h->Flags |= b->flags & (RHDF_SPLITBEFORE | RHDF_SPLITAFTER | RHDF_ENCRYPTED | RHDF_SOLID | RHDF_DIRECTORY);
        h->PackSize = unsigned(b->packSize & 0xFFFFFFFFu);
        h->PackSizeHigh = unsigned(b->packSize >> 32);
        h->HostOS = b->hostOS;
        h->FileCRC = b->crc;
        h->FileTime = b->dosTime;
        h->UnpVer = b->unpVer;
        h->Method = b->method;
        h->FileAttr = b->attr;
        h->DictSize = (b->flags & RHDF_DIRECTORY) == RHDF_DIRECTORY ? 0 : (64u * 1024u) << ((b->flags >> 5) & 7);
    } else {
        // RAR 5: libarchive hands out neither the packed size, the method,
        // the host system nor the CRC; what it does give is filled in.
        h->HostOS = 3;
        h->FileTime = dosTime(archive_entry_mtime(r.entry));
        h->UnpVer = 50;
        unsigned attr = dir ? 0x10 : 0x20;
        if (!(archive_entry_perm(r.entry) & 0200))
            attr |= 0x01;
        h->FileAttr = attr;
    }
    if (const char *link = archive_entry_symlink(r.entry)) {
        h->RedirType = REDIR_SYMLINK;
        copyString(h->RedirName, sizeof h->RedirName, utf8Name(link));
    } else if (const char *hard = archive_entry_hardlink(r.entry)) {
        h->RedirType = REDIR_HARDLINK;
        copyString(h->RedirName, sizeof h->RedirName, utf8Name(hard));
    }
}

int answer(Reader &r, unsigned msg, LPARAM p1, LPARAM p2)
{
    if (!r.callback)
        return 0;
    return r.callback(msg, r.userData, p1, p2);
}

// Makes every folder of `relative` (below base) except its last component,
// refusing to pass through a link: extraction never follows one.
bool makeParents(const fs::path &base, const fs::path &relative)
{
    fs::path current = base;
    std::error_code ec;
    for (auto it = relative.begin(); it != relative.end(); ++it) {
        if (std::next(it) == relative.end())
            break;
        current /= *it;
        const fs::file_status st = fs::symlink_status(current, ec);
        if (fs::is_symlink(st))
            return false;
        if (fs::exists(st)) {
            if (!fs::is_directory(st))
                return false;
            continue;
        }
        if (!fs::create_directory(current, ec) && !fs::is_directory(fs::symlink_status(current, ec)))
            return false;
    }
    return true;
}

// Clears the way for a new file or link at target: an old file or link
// goes, a folder stays and makes the entry fail.
bool clearTarget(const fs::path &target)
{
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(target, ec);
    if (!fs::exists(st) && !fs::is_symlink(st))
        return true;
    if (fs::is_directory(st))
        return false;
    return fs::remove(target, ec);
}

// Reads the current entry's data; writes it to fd unless fd < 0. Returns a
// result code; on failure the caller removes what was written.
int pumpData(Reader &r, int fd)
{
    std::vector<unsigned char> buffer(kBlock);
    uLong crc = crc32(0L, Z_NULL, 0);
    std::uint64_t total = 0;
    for (;;) {
        const la_ssize_t n = archive_read_data(r.a.get(), buffer.data(), buffer.size());
        if (n == 0)
            break;
        if (n < 0) {
            if (n == ARCHIVE_FATAL)
                r.dead = true;
            return ERAR_BAD_DATA;
        }
        crc = crc32(crc, buffer.data(), uInt(n));
        total += std::uint64_t(n);
        for (la_ssize_t done = 0; fd >= 0 && done < n;) {
            const ssize_t w = ::write(fd, buffer.data() + done, std::size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return ERAR_EWRITE;
            done += w;
        }
        if (r.processDataProc && r.processDataProc(buffer.data(), int(n)) == -1)
            return ERAR_UNKNOWN;
        if (answer(r, UCM_PROCESSDATA, LPARAM(buffer.data()), LPARAM(n)) == -1)
            return ERAR_UNKNOWN;
    }
    if (archive_entry_size_is_set(r.entry) && total != std::uint64_t(archive_entry_size(r.entry)))
        return ERAR_BAD_DATA;
    // libarchive leaves stored RAR 4 data unchecked; the stored CRC decides.
    // A piece of a split file carries the CRC of that piece only.
    if (r.block && !(r.block->flags & (package::kRar4SplitAfter | package::kRar4SplitBefore)) && crc != r.block->crc)
        return ERAR_BAD_DATA;
    return ERAR_SUCCESS;
}

int extractRegular(Reader &r, const fs::path &target, bool write)
{
    if (!write)
        return pumpData(r, -1);
    if (!clearTarget(target))
        return ERAR_ECREATE;
    mode_t mode = 0644;
    if (archive_entry_perm(r.entry) & 0111)
        mode = 0755;
    Fd fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (fd.fd < 0)
        return ERAR_ECREATE;
    int rc = pumpData(r, fd.fd);
    if (rc == ERAR_SUCCESS && ::close(fd.release()) != 0)
        rc = ERAR_ECLOSE;
    if (rc != ERAR_SUCCESS) {
        std::error_code ec;
        fs::remove(target, ec); // never leave a truncated file behind
        return rc;
    }
    if (archive_entry_mtime_is_set(r.entry)) {
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = archive_entry_mtime(r.entry);
        times[0].tv_nsec = times[1].tv_nsec = archive_entry_mtime_nsec(r.entry);
        ::utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    return ERAR_SUCCESS;
}

// The data of a file split over volumes ran out: ask for the next volume,
// then read the archive again up to the same entry.
bool askNextVolume(Reader &r)
{
    std::string next = nextVolumeName(r.volumes.back());
    for (int attempt = 0; attempt < kMaxVolumeAsks; ++attempt) {
        std::vector<char> buf(kNameSize, '\0');
        copyString(buf.data(), buf.size(), next);
        int reply = 0;
        if (r.changeVolProc)
            reply = r.changeVolProc(buf.data(), RAR_VOL_ASK);
        if (reply != -1)
            reply = answer(r, UCM_CHANGEVOLUME, LPARAM(buf.data()), RAR_VOL_ASK);
        if (reply == -1 || buf[0] == '\0')
            return false;
        const std::string chosen = platform::hostPath(std::string_view(buf.data())).string();
        std::error_code ec;
        if (fs::is_regular_file(chosen, ec)) {
            const int wanted = r.entryIndex;
            r.volumes.push_back(chosen);
            rescan(r);
            if (!openArchive(r))
                return false;
            while (r.entryIndex < wanted)
                if (readHeader(r) != ERAR_SUCCESS)
                    return false;
            answer(r, UCM_CHANGEVOLUME, LPARAM(buf.data()), RAR_VOL_NOTIFY);
            return true;
        }
        next = chosen;
    }
    return false;
}

int processFile(Reader &r, int operation, const char *destPath, const char *destName)
{
    if (!r.haveEntry)
        return ERAR_BAD_ARCHIVE;
    r.haveEntry = false; // one operation per header
    const bool encrypted = archive_entry_is_data_encrypted(r.entry) > 0 || (r.block && (r.block->flags & package::kRar4Encrypted));
    if (operation == RAR_SKIP) {
        if (archive_read_data_skip(r.a.get()) == ARCHIVE_FATAL)
            r.dead = true;
        return ERAR_SUCCESS;
    }
    if (encrypted) {
        std::string pass = r.password;
        if (pass.empty()) {
            std::vector<char> buf(128, '\0');
            if (answer(r, UCM_NEEDPASSWORD, LPARAM(buf.data()), LPARAM(buf.size())) == -1)
                return ERAR_UNKNOWN;
            pass.assign(buf.data(), strnlen(buf.data(), buf.size()));
        }
        // libarchive cannot decrypt RAR data; reading it would end the whole
        // archive, so the data is passed over and the file fails.
        if (archive_read_data_skip(r.a.get()) == ARCHIVE_FATAL)
            r.dead = true;
        return pass.empty() ? ERAR_MISSING_PASSWORD : ERAR_BAD_PASSWORD;
    }
    const bool write = operation == RAR_EXTRACT;
    const mode_t type = archive_entry_filetype(r.entry);
    fs::path base;
    fs::path relative;
    fs::path target;
    if (write) {
        if (destName && *destName) {
            target = platform::hostPath(std::string_view(destName));
            base = target.parent_path();
            relative = target.filename();
        } else {
            const auto safe = package::safeRelativePath(r.name);
            if (!safe)
                return ERAR_ECREATE;
            base = platform::hostPath(std::string_view(destPath ? destPath : ""));
            if (base.empty())
                base = ".";
            relative = *safe;
            target = base / relative;
        }
        // The destination itself is the caller's and is made when missing.
        std::error_code made;
        fs::create_directories(base, made);
        if (!makeParents(base, relative))
            return ERAR_ECREATE;
    }
    std::error_code ec;
    if (type == AE_IFDIR) {
        if (write) {
            const fs::file_status st = fs::symlink_status(target, ec);
            if (fs::is_symlink(st) || (fs::exists(st) && !fs::is_directory(st)))
                return ERAR_ECREATE;
            if (!fs::exists(st) && !fs::create_directory(target, ec))
                return ERAR_ECREATE;
        }
        return ERAR_SUCCESS;
    }
    if (const char *link = archive_entry_symlink(r.entry)) {
        if (!write)
            return ERAR_SUCCESS;
        const std::string linkTarget = utf8Name(link);
        if (!package::linkStaysInside(relative, linkTarget) || !clearTarget(target))
            return ERAR_ECREATE;
        std::string slashed = linkTarget;
        for (char &c : slashed)
            if (c == '\\')
                c = '/';
        fs::create_symlink(slashed, target, ec);
        return ec ? ERAR_ECREATE : ERAR_SUCCESS;
    }
    if (const char *hard = archive_entry_hardlink(r.entry)) {
        if (!write)
            return ERAR_SUCCESS;
        const auto other = package::safeRelativePath(utf8Name(hard));
        if (!other || (destName && *destName))
            return ERAR_ECREATE;
        const fs::path source = base / *other;
        // The source must be a plain file reached without passing a link.
        if (!makeParents(base, *other) || !fs::is_regular_file(fs::symlink_status(source, ec)) || !clearTarget(target))
            return ERAR_ECREATE;
        fs::create_hard_link(source, target, ec);
        if (ec && !fs::copy_file(source, target, ec))
            return ERAR_ECREATE;
        return ERAR_SUCCESS;
    }
    if (type != AE_IFREG && type != 0)
        return ERAR_ECREATE; // devices, fifos and sockets are not test files
    int rc = extractRegular(r, target, write);
    // Data of a split file that ends early means a volume is missing.
    if (rc == ERAR_BAD_DATA && r.block && (r.block->flags & package::kRar4SplitAfter)
        && isVolumeSet(r, r.volumes.front())) {
        if (!askNextVolume(r))
            return ERAR_EOPEN;
        r.haveEntry = true;
        return processFile(r, operation, destPath, destName);
    }
    return rc;
}

Reader *reader(HANDLE h) { return static_cast<Reader *>(h); }

} // namespace

Binding &binding() { return theBinding(); }

void setLibraryAvailable(bool available) { g_libraryAvailable = available; }

bool loadLibrary()
{
    Binding &b = theBinding();
    if (!g_libraryAvailable) {
        b = Binding{};
        return false;
    }
    b.loaded = true;
    b.RAROpenArchive = &unrar::RAROpenArchive;
    b.RAROpenArchiveEx = &unrar::RAROpenArchiveEx;
    b.RARCloseArchive = &unrar::RARCloseArchive;
    b.RARReadHeader = &unrar::RARReadHeader;
    b.RARReadHeaderEx = &unrar::RARReadHeaderEx;
    b.RARProcessFile = &unrar::RARProcessFile;
    b.RARSetCallback = &unrar::RARSetCallback;
    b.RARSetChangeVolProc = &unrar::RARSetChangeVolProc;
    b.RARSetProcessDataProc = &unrar::RARSetProcessDataProc;
    b.RARSetPassword = &unrar::RARSetPassword;
    b.RARGetDllVersion = &unrar::RARGetDllVersion;
    return true;
}

void unloadLibrary() { theBinding() = Binding{}; }

HANDLE RAROpenArchive(RAROpenArchiveData *data)
{
    if (!data)
        return nullptr;
    data->OpenResult = ERAR_SUCCESS;
    // libarchive hands out no archive comments.
    data->CmtState = 0;
    data->CmtSize = 0;
    auto r = std::make_unique<Reader>();
    r->arcName = data->ArcName ? data->ArcName : "";
    const std::string first = platform::hostPath(std::string_view(r->arcName)).string();
    std::error_code ec;
    if (r->arcName.empty() || !fs::is_regular_file(first, ec) || ::access(first.c_str(), R_OK) != 0) {
        data->OpenResult = ERAR_EOPEN;
        return nullptr;
    }
    r->volumes.push_back(first);
    rescan(*r);
    if (isVolumeSet(*r, first)) {
        // The following volumes are found by name, as the RAR tool names them.
        for (std::string next = nextVolumeName(first); !next.empty() && fs::is_regular_file(next, ec);
             next = nextVolumeName(next))
            r->volumes.push_back(next);
        rescan(*r);
    }
    if (!openArchive(*r)) {
        data->OpenResult = ERAR_BAD_ARCHIVE;
        return nullptr;
    }
    return r.release();
}

HANDLE RAROpenArchiveEx(RAROpenArchiveData *data) { return RAROpenArchive(data); }

int RARCloseArchive(HANDLE handle)
{
    Reader *r = reader(handle);
    if (!r)
        return ERAR_SUCCESS;
    const int rc = r->a ? archive_read_close(r->a.get()) : ARCHIVE_OK;
    delete r;
    return rc == ARCHIVE_OK ? ERAR_SUCCESS : ERAR_ECLOSE;
}

int RARReadHeaderEx(HANDLE handle, RARHeaderDataEx *header)
{
    Reader *r = reader(handle);
    if (!r || !header)
        return ERAR_END_ARCHIVE; // the handle of a failed open has nothing to read
    const int rc = readHeader(*r);
    if (rc == ERAR_SUCCESS)
        fillHeader(*r, header);
    return rc;
}

int RARReadHeader(HANDLE handle, RARHeaderData *header)
{
    if (!header)
        return ERAR_END_ARCHIVE;
    auto ex = std::make_unique<RARHeaderDataEx>();
    const int rc = RARReadHeaderEx(handle, ex.get());
    if (rc != ERAR_SUCCESS)
        return rc;
    std::memset(header, 0, sizeof *header);
    copyString(header->ArcName, sizeof header->ArcName, ex->ArcName);
    copyString(header->FileName, sizeof header->FileName, ex->FileName);
    header->Flags = ex->Flags;
    header->PackSize = ex->PackSize;
    header->UnpSize = ex->UnpSize;
    header->HostOS = ex->HostOS;
    header->FileCRC = ex->FileCRC;
    header->FileTime = ex->FileTime;
    header->UnpVer = ex->UnpVer;
    header->Method = ex->Method;
    header->FileAttr = ex->FileAttr;
    return rc;
}

int RARProcessFile(HANDLE handle, int operation, const char *destPath, const char *destName)
{
    Reader *r = reader(handle);
    if (!r || !r->a)
        return ERAR_BAD_ARCHIVE;
    try {
        return processFile(*r, operation, destPath, destName);
    } catch (const std::bad_alloc &) {
        return ERAR_NO_MEMORY;
    } catch (...) {
        return ERAR_UNKNOWN;
    }
}

void RARSetCallback(HANDLE handle, UNRARCALLBACK callback, LPARAM userData)
{
    if (Reader *r = reader(handle)) {
        r->callback = callback;
        r->userData = userData;
    }
}

void RARSetChangeVolProc(HANDLE handle, int (*proc)(char *, int))
{
    if (Reader *r = reader(handle))
        r->changeVolProc = proc;
}

void RARSetProcessDataProc(HANDLE handle, int (*proc)(unsigned char *, int))
{
    if (Reader *r = reader(handle))
        r->processDataProc = proc;
}

void RARSetPassword(HANDLE handle, const char *password)
{
    if (Reader *r = reader(handle))
        r->password = password ? password : "";
}

int RARGetDllVersion() { return kDllVersion; }

} // namespace unrar
