#pragma once

#include <QString>

#include <filesystem>
#include <string_view>

// Drive C on Linux. The program names its files with fixed Windows paths
// ("c:\testtank\information.xml"); they live in the per-user data folder
// $XDG_DATA_HOME/quenvar/ (default ~/.local/share/quenvar/). Tests set
// XDG_DATA_HOME to a temporary folder.
namespace platform {

// The folder that stands for "c:\"; read from the environment on each call.
[[nodiscard]] std::filesystem::path driveCRoot();

// Maps a Windows path to a host path: the drive prefix "c:\" (any letter
// case, either slash) becomes driveCRoot(), '\' becomes '/', and when the
// exact path does not exist each component is matched against the existing
// entries without regard to letter case (tests are authored on Windows,
// where "Audio\A.MP3" and "audio/a.mp3" are one file). Components that do not
// exist are kept as written. A path without a drive prefix is mapped
// relative to nothing: only its separators change.
[[nodiscard]] std::filesystem::path hostPath(std::string_view windowsPath);
[[nodiscard]] std::filesystem::path hostPath(const QString &windowsPath);
[[nodiscard]] inline std::filesystem::path hostPath(const char *windowsPath)
{
    return hostPath(std::string_view(windowsPath));
}

// Host path as text for messages and Qt APIs.
[[nodiscard]] QString hostPathString(const QString &windowsPath);

// Resolves each component of an existing-looking host path without regard
// to letter case, starting below base (which is taken as it is).
[[nodiscard]] std::filesystem::path resolveCaseInsensitive(const std::filesystem::path &base,
                                                           const std::filesystem::path &relative);

// Free bytes available to the user on the file system holding path (the
// nearest existing ancestor is asked); 0 when it cannot be told.
[[nodiscard]] std::uintmax_t freeDiskSpace(const std::filesystem::path &path);

} // namespace platform
