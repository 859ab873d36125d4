#include "app/WorkingFolders.h"

#include "platform/WinPath.h"

#include <QString>

#include <filesystem>
#include <system_error>

namespace app {

namespace {

// The base folder, set each time the check runs.
QString g_baseFolder;

void ensureFolder(const QString &windowsPath)
{
    std::error_code ec;
    const std::filesystem::path p = platform::hostPath(windowsPath);
    if (!std::filesystem::is_directory(p, ec))
        std::filesystem::create_directory(p, ec);
}

} // namespace

void checkWorkingFolders()
{
    g_baseFolder = QStringLiteral("c:\\");
    // Drive C's root is a folder of our own on Linux; it may not exist yet
    // on a fresh account, unlike a real drive.
    std::error_code ec;
    std::filesystem::create_directories(platform::driveCRoot(), ec);
    ensureFolder(g_baseFolder + QStringLiteral("recording\\"));
    ensureFolder(g_baseFolder + QStringLiteral("testtank\\"));
}

} // namespace app
