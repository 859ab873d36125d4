#include "package/UnwrapPackage.h"

#include "platform/WinPath.h"

#include <zlib.h>

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace package {

namespace {

constexpr std::size_t kChunk = 256 * 1024;

// A z_stream that always ends.
class Inflater
{
public:
    Inflater()
    {
        std::memset(&m_z, 0, sizeof m_z);
        if (inflateInit(&m_z) != Z_OK)
            throw EPackageError(kZlibError);
    }
    ~Inflater() { inflateEnd(&m_z); }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;
    z_stream &z() { return m_z; }

private:
    z_stream m_z;
};

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    [[nodiscard]] int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// The system's description of errno, without a trailing full stop.
std::string systemText(int err)
{
    std::string text = std::strerror(err);
    while (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

std::string fileMessage(const char *what, const QString &path, int err)
{
    return std::string(what) + " \"" + path.toStdString() + "\". " + systemText(err);
}

std::size_t readFd(int fd, char *buf, std::size_t n)
{
    for (;;) {
        const ssize_t got = ::read(fd, buf, n);
        if (got >= 0)
            return std::size_t(got);
        if (errno != EINTR)
            throw EPackageError(kStreamReadError);
    }
}

void writeFd(int fd, const char *data, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            throw EPackageError(kStreamWriteError);
        data += w;
        n -= std::size_t(w);
    }
}

} // namespace

std::int64_t unwrapStream(const ReadFn &source, const WriteFn &sink)
{
    unsigned char header[8];
    std::size_t have = 0;
    while (have < sizeof header) {
        const std::size_t got = source(reinterpret_cast<char *>(header) + have, sizeof header - have);
        if (got == 0)
            throw EPackageError(kStreamReadError);
        have += got;
    }
    const auto n = std::int32_t(std::uint32_t(header[0]) | std::uint32_t(header[1]) << 8
                                | std::uint32_t(header[2]) << 16 | std::uint32_t(header[3]) << 24);
    if (n < 0)
        throw EPackageError(kStreamWriteError);
    if (n == 0)
        return 0;

    Inflater inflater;
    z_stream &z = inflater.z();
    std::vector<char> in(kChunk);
    std::vector<char> out(kChunk);
    std::int64_t produced = 0;
    while (produced < n) {
        if (z.avail_in == 0) {
            const std::size_t got = source(in.data(), in.size());
            if (got == 0)
                throw EPackageError(kStreamReadError); // the payload ends before N bytes
            z.next_in = reinterpret_cast<Bytef *>(in.data());
            z.avail_in = uInt(got);
        }
        const auto want = std::size_t(std::min<std::int64_t>(std::int64_t(out.size()), n - produced));
        z.next_out = reinterpret_cast<Bytef *>(out.data());
        z.avail_out = uInt(want);
        const int rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t made = want - z.avail_out;
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            throw EPackageError(kZlibError);
        if (made > 0) {
            sink(out.data(), made);
            produced += std::int64_t(made);
        }
        if (rc == Z_STREAM_END && produced < n)
            throw EPackageError(kStreamReadError);
    }
    return n;
}

void UnwrapPackage(std::istream &Source, std::string &Destination)
{
    std::string fresh;
    unwrapStream(
        [&Source](char *buf, std::size_t n) -> std::size_t {
            Source.read(buf, std::streamsize(n));
            return std::size_t(Source.gcount());
        },
        [&fresh](const char *data, std::size_t n) {
            try {
                fresh.append(data, n);
            } catch (const std::bad_alloc &) {
                throw EPackageError(kOutOfMemory);
            }
        });
    Destination.swap(fresh);
}

void installPackage(const QString &packageFile, const QString &archivePath)
{
    const QString packageFull = QFileInfo(packageFile).absoluteFilePath();
    // Opened without blocking: a FIFO named like a package must not hang
    // the installation. Only plain files are packages.
    Fd package(::open(QFile::encodeName(packageFull).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (package.get() < 0)
        throw EPackageError(fileMessage("Cannot open file", packageFull, errno));
    struct stat st {};
    if (::fstat(package.get(), &st) != 0)
        throw EPackageError(fileMessage("Cannot open file", packageFull, errno));
    if (!S_ISREG(st.st_mode))
        throw EPackageError(fileMessage("Cannot open file", packageFull, S_ISDIR(st.st_mode) ? EISDIR : EINVAL));
    ::fcntl(package.get(), F_SETFL, ::fcntl(package.get(), F_GETFL) & ~O_NONBLOCK);

    const fs::path target = platform::hostPath(archivePath);
    const QString targetText = QFileInfo(QString::fromStdString(target.string())).absoluteFilePath();
    // The archive grows in a temporary file beside the old one; it replaces
    // it only once complete. When the temporary file cannot be made, the
    // payload is still checked first: a broken package reports its own error.
    std::string tempName = (target.parent_path() / ".temp.rar.XXXXXX").string();
    Fd temp(::mkstemp(tempName.data()));
    const int createErrno = errno;
    bool keepTemp = false;
    struct TempRemover {
        const std::string &name;
        const bool &active;
        const bool &keep;
        ~TempRemover()
        {
            if (active && !keep)
                ::unlink(name.c_str());
        }
    };
    const bool haveTemp = temp.get() >= 0;
    const TempRemover remover{tempName, haveTemp, keepTemp};

    unwrapStream([&package](char *buf, std::size_t n) { return readFd(package.get(), buf, n); },
                 [&temp](const char *data, std::size_t n) {
                     if (temp.get() >= 0)
                         writeFd(temp.get(), data, n);
                 });
    if (!haveTemp)
        throw EPackageError(fileMessage("Cannot create file", targetText, createErrno));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(temp.get(), 0666 & ~mask);
    if (::close(temp.release()) != 0)
        throw EPackageError(kStreamWriteError);
    if (::rename(tempName.c_str(), target.c_str()) != 0)
        throw EPackageError(fileMessage("Cannot create file", targetText, errno));
    keepTemp = true;
}

} // namespace package
