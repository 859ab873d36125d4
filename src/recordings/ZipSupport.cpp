#include "recordings/ZipSupport.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace fs = std::filesystem;

namespace zipsupport {

std::uint32_t toDosDateTime(std::time_t t)
{
    std::tm tm{};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80)
        return (1u << 5 | 1u) << 16; // 1980-01-01 00:00:00
    if (tm.tm_year > 80 + 127)
        return 0xFF9FBF7Du; // 2107-12-31 23:59:58, the last DOS time
    const std::uint32_t date = static_cast<std::uint32_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    const std::uint32_t time = static_cast<std::uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    return date << 16 | time;
}

std::time_t fromDosDateTime(std::uint32_t dosDateTime)
{
    const std::uint32_t date = dosDateTime >> 16;
    const std::uint32_t time = dosDateTime & 0xFFFF;
    std::tm tm{};
    tm.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
    tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>(date & 0x1F);
    tm.tm_hour = static_cast<int>((time >> 11) & 0x1F);
    tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>((time & 0x1F) * 2);
    tm.tm_isdst = -1;
    // Broken stored fields (month 0, day 0) are carried over by mktime as
    // it normalises them; that is as good as any other reading.
    return std::mktime(&tm);
}

std::uint32_t dosAttributes(const fs::path &p)
{
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0)
        return 0;
    std::uint32_t a = 0;
    if (S_ISDIR(st.st_mode))
        a |= kAttrDirectory;
    else
        a |= kAttrArchive;
    if (!(st.st_mode & S_IWUSR))
        a |= kAttrReadOnly;
    const std::string name = p.filename().string();
    if (name.size() > 1 && name[0] == '.' && name != "..")
        a |= kAttrHidden;
    return a;
}

void applyDosAttributes(const fs::path &p, std::uint32_t attributes)
{
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0)
        return;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    ::chmod(p.c_str(), mode);
}

void setModificationTime(const fs::path &p, std::time_t t)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = t;
    times[1].tv_nsec = 0;
    ::utimensat(AT_FDCWD, p.c_str(), times, 0);
}

bool hasWildcards(const QString &s)
{
    return s.contains(u'*') || s.contains(u'?');
}

namespace {

bool globMatch(const QString &pattern, const QString &name)
{
    // Greedy match with one backtrack point: never exponential, whatever
    // the pattern.
    qsizetype p = 0, n = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool wildcardMatch(const QString &patternIn, const QString &nameIn)
{
    QString pattern = patternIn.toCaseFolded();
    if (pattern == QStringLiteral("*.*"))
        pattern = QStringLiteral("*");
    const QString name = nameIn.toCaseFolded();
    if (globMatch(pattern, name))
        return true;
    // "*." picks the names without an extension.
    return !name.contains(u'.') && globMatch(pattern, name + u'.');
}

QString toQString(const fs::path &p)
{
    return QFile::decodeName(QByteArray::fromStdString(p.string()));
}

fs::path fromQString(const QString &s)
{
    return fs::path(QFile::encodeName(s).toStdString());
}

SplitPath splitPath(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'));
    return {path.left(cut + 1), path.mid(cut + 1)};
}

bool readExact(std::FILE *f, void *buf, std::size_t n)
{
    return n == 0 || std::fread(buf, 1, n, f) == n;
}

} // namespace zipsupport
