#include "ZipFixtures.h"

#include "TestUtil.h"

#include <sys/stat.h>

#include <fcntl.h>
#include <map>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace zipfix {

std::string randomBytes(std::uint32_t seed, std::size_t n)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char &c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

std::string textBytes(std::uint32_t seed, std::size_t n)
{
    static const char *words[] = {"the", "student", "answers", "listening", "speaking", "exam", "question",
                                  "record", "play", "text", "\n", "and", "of", "to"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) {
        s += words[rng() % 14];
        s += ' ';
    }
    s.resize(n);
    return s;
}

namespace {
std::uint16_t g16(const std::string &b, std::size_t o)
{
    if (o + 2 > b.size())
        throw std::runtime_error("record beyond the end");
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[o]) | static_cast<unsigned char>(b[o + 1]) << 8);
}
std::uint32_t g32(const std::string &b, std::size_t o)
{
    return g16(b, o) | static_cast<std::uint32_t>(g16(b, o + 2)) << 16;
}
} // namespace

RawArchive parse(const std::string &b)
{
    RawArchive a;
    if (b.size() < 22)
        throw std::runtime_error("too short");
    std::size_t end = std::string::npos;
    for (std::size_t i = b.size() - 22 + 1; i-- > 0;)
        if (g32(b, i) == 0x06054B50) {
            end = i;
            break;
        }
    if (end == std::string::npos)
        throw std::runtime_error("no end record");
    const unsigned count = g16(b, end + 10);
    a.cdSize = g32(b, end + 12);
    a.cdOffset = g32(b, end + 16);
    a.comment = b.substr(end + 22, g16(b, end + 20));
    std::size_t p = a.cdOffset;
    for (unsigned i = 0; i < count; ++i) {
        if (g32(b, p) != 0x02014B50)
            throw std::runtime_error("bad central header");
        RawEntry e{};
        e.madeBy = g16(b, p + 4);
        e.needed = g16(b, p + 6);
        e.flag = g16(b, p + 8);
        e.method = g16(b, p + 10);
        e.time = g16(b, p + 12);
        e.date = g16(b, p + 14);
        e.crc = g32(b, p + 16);
        e.csize = g32(b, p + 20);
        e.usize = g32(b, p + 24);
        const std::size_t n = g16(b, p + 28), x = g16(b, p + 30), c = g16(b, p + 32);
        e.internal = g16(b, p + 36);
        e.external = g32(b, p + 38);
        e.offset = g32(b, p + 42);
        e.name = b.substr(p + 46, n);
        e.extra = b.substr(p + 46 + n, x);
        e.comment = b.substr(p + 46 + n + x, c);
        p += 46 + n + x + c;
        const std::size_t l = e.offset;
        if (g32(b, l) != 0x04034B50)
            throw std::runtime_error("bad local header");
        e.lNeeded = g16(b, l + 4);
        e.lFlag = g16(b, l + 6);
        e.lMethod = g16(b, l + 8);
        e.lCrc = g32(b, l + 14);
        e.lCsize = g32(b, l + 18);
        e.lUsize = g32(b, l + 22);
        e.lExtraLen = g16(b, l + 28);
        e.lName = b.substr(l + 30, g16(b, l + 26));
        a.entries.push_back(std::move(e));
    }
    if (p != end || p - a.cdOffset != a.cdSize)
        throw std::runtime_error("central directory size does not add up");
    return a;
}

void setMtime(const fs::path &p, std::time_t t)
{
    struct timespec times[2] = {{0, UTIME_OMIT}, {t, 0}};
    ::utimensat(AT_FDCWD, p.c_str(), times, 0);
}

std::time_t mtime(const fs::path &p)
{
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mtime;
}

std::string compareTrees(const fs::path &a, const fs::path &b)
{
    std::map<std::string, std::string> fa, fb;
    for (const auto *side : {&a, &b}) {
        auto &m = side == &a ? fa : fb;
        for (const auto &de : fs::recursive_directory_iterator(*side))
            if (de.is_regular_file())
                m[fs::relative(de.path(), *side).string()] = testutil::readFile(de.path());
    }
    std::string report;
    for (const auto &[name, data] : fa) {
        const auto it = fb.find(name);
        if (it == fb.end())
            report += "only left: " + name + "\n";
        else if (it->second != data)
            report += "differs: " + name + "\n";
    }
    for (const auto &[name, data] : fb)
        if (!fa.count(name))
            report += "only right: " + name + "\n";
    return report;
}

std::string sevenZip()
{
    return testutil::haveTool("7zz") ? "7zz" : "7z";
}

std::string q(const fs::path &p)
{
    std::string s = "'";
    for (char c : p.string()) {
        if (c == '\'')
            s += "'\\''";
        else
            s += c;
    }
    return s + "'";
}

} // namespace zipfix
