#include "package/PackageWriter.h"

#include "package/UnwrapPackage.h"

#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace package {

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

class Deflater
{
public:
    explicit Deflater(int level)
    {
        std::memset(&m_z, 0, sizeof m_z);
        if (deflateInit(&m_z, level) != Z_OK)
            throw EPackageError("Cannot start the compressor");
    }
    ~Deflater() { deflateEnd(&m_z); }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;
    z_stream &z() { return m_z; }

private:
    z_stream m_z;
};

[[noreturn]] void fail(const std::string &what, const fs::path &p)
{
    throw EPackageError(what + " \"" + p.string() + "\": " + std::strerror(errno));
}

} // namespace

void writePackage(const fs::path &rar, const fs::path &out, int level)
{
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(rar, ec);
    if (ec)
        throw EPackageError("Cannot read \"" + rar.string() + "\": " + ec.message());
    if (size > std::uintmax_t(INT32_MAX))
        throw EPackageError("The archive is larger than a package can describe (2 GB - 1 byte)");
    FilePtr in(std::fopen(rar.c_str(), "rb"));
    if (!in)
        fail("Cannot open", rar);
    const fs::path temp = fs::path(out.string() + ".part");
    FilePtr o(std::fopen(temp.c_str(), "wb"));
    if (!o)
        fail("Cannot create", temp);
    struct Cleanup {
        const fs::path &p;
        bool done = false;
        ~Cleanup()
        {
            std::error_code e;
            if (!done)
                fs::remove(p, e);
        }
    } cleanup{temp};

    unsigned char header[8] = {};
    for (int i = 0; i < 4; ++i)
        header[i] = static_cast<unsigned char>((size >> (8 * i)) & 0xFF);
    if (std::fwrite(header, 1, 8, o.get()) != 8)
        fail("Cannot write", temp);

    Deflater deflater(level);
    z_stream &z = deflater.z();
    std::vector<unsigned char> inBuf(1 << 20);
    std::vector<unsigned char> outBuf(1 << 20);
    int flush = Z_NO_FLUSH;
    do {
        const std::size_t got = std::fread(inBuf.data(), 1, inBuf.size(), in.get());
        if (std::ferror(in.get()))
            fail("Cannot read", rar);
        flush = std::feof(in.get()) ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = inBuf.data();
        z.avail_in = uInt(got);
        do {
            z.next_out = outBuf.data();
            z.avail_out = uInt(outBuf.size());
            deflate(&z, flush);
            const std::size_t have = outBuf.size() - z.avail_out;
            if (have && std::fwrite(outBuf.data(), 1, have, o.get()) != have)
                fail("Cannot write", temp);
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    if (std::fclose(o.release()) != 0)
        fail("Cannot write", temp);
    fs::rename(temp, out, ec);
    if (ec)
        throw EPackageError("Cannot create \"" + out.string() + "\": " + ec.message());
    cleanup.done = true;
}

} // namespace package
