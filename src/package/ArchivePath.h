#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

// Entry names come from archives that anyone can make. Before anything is
// written, a stored name is turned into a path that stays below the
// destination folder, or refused.
namespace package {

// The stored name as a relative path with '/' separators ("a\b" and "a/b"
// are one name); empty when the name is absolute, carries a drive letter,
// climbs out with "..", or names nothing.
[[nodiscard]] std::optional<std::filesystem::path> safeRelativePath(std::string_view storedName);

// Whether a link stored at relative path `linkPath` with target `target`
// may be created: only targets that descend from the link's own folder,
// so no chain of such links can lead out of the destination folder.
[[nodiscard]] bool linkStaysInside(const std::filesystem::path &linkPath, std::string_view target);

} // namespace package
