// Installing a test package against the plain tools, side by side: our
// unwrapping and extraction versus Python's zlib plus bsdtar -x on the same
// package. Goal: no more than 1.2 times their time; peak memory of each side
// is reported (ours must stay far below the package's size).
//
// Size: QUENVAR_BENCH_MB (default 300). Scratch space: QUENVAR_BENCH_DIR
// (default the system's temporary folder); about four times the size is used.

#include "package/DFUnRar.h"
#include "package/PackageWriter.h"
#include "package/Rar4Writer.h"
#include "package/UnwrapPackage.h"
#include "platform/AppSetup.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Measure {
    double seconds = 0;
    long peakKb = 0;
    int status = 0;
};

// Runs work in a child process so that its peak memory is its own.
Measure inChild(const std::function<int()> &work)
{
    std::fflush(stdout); // the child must not print the parent's buffered lines again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(work());
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Measure m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakKb = usage.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return m;
}

// Test-like content: half incompressible (like compressed audio and video),
// half text.
void makeFolder(const fs::path &dir, std::size_t megabytes)
{
    fs::create_directories(dir / "media");
    std::ofstream(dir / "information.xml") << "<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\"/>";
    std::mt19937_64 rng(42);
    const std::size_t files = std::max<std::size_t>(1, megabytes / 25);
    const std::size_t perFile = megabytes * 1024 * 1024 / files;
    std::vector<char> block(1 << 20);
    for (std::size_t f = 0; f < files; ++f) {
        std::ofstream out(dir / "media" / ("part" + std::to_string(f) + (f % 2 ? ".txt" : ".mp3")), std::ios::binary);
        for (std::size_t written = 0; written < perFile; written += block.size()) {
            if (f % 2 == 0) {
                for (std::size_t i = 0; i + 8 <= block.size(); i += 8) {
                    const std::uint64_t v = rng();
                    std::memcpy(&block[i], &v, 8);
                }
            } else {
                static const char words[] = "listen and repeat the sentence after the speaker please ";
                for (std::size_t i = 0; i < block.size(); ++i)
                    block[i] = words[(i * 7 + (rng() & 3)) % (sizeof words - 1)];
            }
            out.write(block.data(), std::streamsize(std::min(block.size(), perFile - written)));
        }
    }
}

} // namespace

int main()
{
    platform::ensureUtf8Locale();
    const char *mbEnv = std::getenv("QUENVAR_BENCH_MB");
    const std::size_t mb = mbEnv ? std::size_t(std::atol(mbEnv)) : 300;
    const char *dirEnv = std::getenv("QUENVAR_BENCH_DIR");
    std::string pattern = ((dirEnv ? fs::path(dirEnv) : fs::temp_directory_path()) / "bench-install-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 2;
    }
    const fs::path root = pattern;
    std::printf("preparing a %zu MB package in %s\n", mb, root.c_str());
    makeFolder(root / "src", mb);
    package::packFolder(root / "src", root / "pkg.rar");
    package::writePackage(root / "pkg.rar", root / "pkg.qvtp");
    fs::remove(root / "pkg.rar");
    std::printf("package: %ju bytes\n", std::uintmax_t(fs::file_size(root / "pkg.qvtp")));

    const fs::path pkg = root / "pkg.qvtp";
    const auto ours = [&] {
        return inChild([&] {
            const fs::path tank = root / "ours";
            fs::create_directories(tank);
            const auto t0 = std::chrono::steady_clock::now();
            package::installPackage(QString::fromStdString(pkg.string()),
                                    QString::fromStdString((tank / "temp.rar").string()));
            const auto t1 = std::chrono::steady_clock::now();
            TDFUnRar rar;
            int errors = 0;
            rar.OnError = [&](TDFUnRar *, const QString &, int) { ++errors; };
            rar.Directory = QString::fromStdString(tank.string());
            rar.FileName = QString::fromStdString((tank / "temp.rar").string());
            rar.Extract();
            const auto t2 = std::chrono::steady_clock::now();
            std::printf("  ours: unwrap %.2f s, extract %.2f s\n", std::chrono::duration<double>(t1 - t0).count(),
                        std::chrono::duration<double>(t2 - t1).count());
            std::fflush(stdout);
            return errors == 0 ? 0 : 1;
        });
    };
    const auto tools = [&] {
        const fs::path tank = root / "tools";
        fs::create_directories(tank);
        const std::string cmd =
            "python3 -c \"import zlib,sys\n"
            "f=open(sys.argv[1],'rb'); f.read(8); d=zlib.decompressobj(); o=open(sys.argv[2],'wb')\n"
            "for c in iter(lambda: f.read(1<<20), b''): o.write(d.decompress(c))\n"
            "o.write(d.flush())\" '"
            + pkg.string() + "' '" + (tank / "temp.rar").string() + "' && bsdtar -xf '" + (tank / "temp.rar").string()
            + "' -C '" + tank.string() + "'";
        return inChild([cmd] { return std::system(cmd.c_str()) == 0 ? 0 : 1; });
    };

    // Alternate the two, three rounds each, and keep each side's best time;
    // the page cache is warm for both.
    Measure bestOurs;
    Measure bestTools;
    bestOurs.seconds = bestTools.seconds = 1e30;
    for (int round = 0; round < 3; ++round) {
        fs::remove_all(root / "ours");
        fs::remove_all(root / "tools");
        // Alternate which side runs first: the second inherits the first's
        // dirty pages still being written back.
        Measure t;
        Measure o;
        if (round % 2 == 0) {
            t = tools();
            o = ours();
        } else {
            o = ours();
            t = tools();
        }
        if (o.status != 0 || t.status != 0) {
            std::printf("a side failed: ours %d, tools %d\n", o.status, t.status);
            fs::remove_all(root);
            return 2;
        }
        if (o.seconds < bestOurs.seconds)
            bestOurs = o;
        if (t.seconds < bestTools.seconds)
            bestTools = t;
        std::printf("round %d: ours %.2f s (peak %ld KiB), python zlib + bsdtar %.2f s (peak %ld KiB)\n", round + 1,
                    o.seconds, o.peakKb, t.seconds, t.peakKb);
    }
    // Both sides must have produced the same files.
    const auto bytesBelow = [](const fs::path &dir) {
        std::uintmax_t total = 0;
        for (const auto &e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file() && e.path().filename() != "temp.rar")
                total += e.file_size();
        return total;
    };
    const std::uintmax_t oursBytes = bytesBelow(root / "ours");
    const std::uintmax_t toolsBytes = bytesBelow(root / "tools");
    std::printf("extracted: ours %ju bytes, tools %ju bytes\n", oursBytes, toolsBytes);
    if (oursBytes != toolsBytes || oursBytes < mb * 1024 * 1024) {
        std::printf("FAIL: the two sides extracted different content\n");
        fs::remove_all(root);
        return 2;
    }
    const double ratio = bestOurs.seconds / bestTools.seconds;
    std::printf("best: ours %.2f s, tools %.2f s, ratio %.2f (goal <= 1.20); peak memory ours %ld KiB, tools %ld KiB\n",
                bestOurs.seconds, bestTools.seconds, ratio, bestOurs.peakKb, bestTools.peakKb);
    fs::remove_all(root);
    const bool ok = ratio <= 1.2;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
