#include "platform/WinPath.h"

#include <QDir>

#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {

namespace {

bool equalsNoCase(const std::string &a, const std::string &b)
{
    if (a.size() == b.size()) {
        bool same = true;
        for (std::size_t i = 0; i < a.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(a[i]))
                   == std::tolower(static_cast<unsigned char>(b[i]));
        if (same)
            return true;
    }
    // Non-ASCII names (Chinese, accented letters) compare case-folded.
    return QString::fromUtf8(a.c_str()).compare(QString::fromUtf8(b.c_str()), Qt::CaseInsensitive) == 0;
}

} // namespace

fs::path driveCRoot()
{
    const char *xdg = std::getenv("XDG_DATA_HOME");
    fs::path base;
    if (xdg && *xdg && fs::path(xdg).is_absolute()) {
        base = xdg;
    } else {
        const char *home = std::getenv("HOME");
        base = fs::path(home && *home ? home : "/tmp") / ".local" / "share";
    }
    return base / "quenvar";
}

fs::path resolveCaseInsensitive(const fs::path &base, const fs::path &relative)
{
    fs::path current = base;
    std::error_code ec;
    for (const fs::path &part : relative) {
        const std::string name = part.string();
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            current /= part;
            continue;
        }
        fs::path exact = current / part;
        if (fs::exists(fs::symlink_status(exact, ec)) || !fs::is_directory(current, ec)) {
            current = std::move(exact);
            continue;
        }
        fs::path found;
        for (fs::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
            if (equalsNoCase(it->path().filename().string(), name)) {
                found = it->path();
                break;
            }
        }
        current = found.empty() ? std::move(exact) : std::move(found);
    }
    return current;
}

fs::path hostPath(std::string_view windowsPath)
{
    std::string p(windowsPath);
    for (char &c : p)
        if (c == '\\')
            c = '/';
    const bool driveC = p.size() >= 2 && (p[0] == 'c' || p[0] == 'C') && p[1] == ':';
    if (!driveC)
        return fs::path(p);
    std::string rest = p.substr(2);
    while (!rest.empty() && rest.front() == '/')
        rest.erase(0, 1);
    const bool trailing = !rest.empty() && rest.back() == '/';
    const fs::path root = driveCRoot();
    fs::path exact = root / rest;
    std::error_code ec;
    fs::path out = fs::exists(exact, ec) ? exact : resolveCaseInsensitive(root, fs::path(rest));
    // Folder paths keep their closing separator so that names appended to
    // them as text land inside.
    if (trailing && !out.string().ends_with('/'))
        out += "/";
    return out;
}

fs::path hostPath(const QString &windowsPath)
{
    const QByteArray utf8 = windowsPath.toUtf8();
    return hostPath(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

QString hostPathString(const QString &windowsPath)
{
    return QString::fromStdString(hostPath(windowsPath).string());
}

std::uintmax_t freeDiskSpace(const fs::path &path)
{
    std::error_code ec;
    fs::path p = path;
    while (!p.empty()) {
        const fs::space_info info = fs::space(p, ec);
        if (!ec)
            return info.available;
        if (p == p.parent_path())
            break;
        p = p.parent_path();
    }
    return 0;
}

} // namespace platform
