#include "package/ArchivePath.h"

#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace package {

namespace {

std::vector<std::string> splitComponents(std::string_view name)
{
    std::vector<std::string> parts;
    std::string current;
    for (char c : name) {
        if (c == '/' || c == '\\') {
            parts.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    parts.push_back(std::move(current));
    return parts;
}

bool hasDriveLetter(std::string_view name)
{
    return name.size() >= 2 && name[1] == ':'
           && ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z'));
}

} // namespace

std::optional<fs::path> safeRelativePath(std::string_view storedName)
{
    if (storedName.empty() || storedName.front() == '/' || storedName.front() == '\\'
        || hasDriveLetter(storedName) || storedName.find('\0') != std::string_view::npos)
        return std::nullopt;
    fs::path result;
    for (const std::string &part : splitComponents(storedName)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return std::nullopt;
        // A colon inside a component would be a drive or a stream name on
        // the machines the packages come from; it is never a plain name.
        if (part.find(':') != std::string::npos)
            return std::nullopt;
        result /= part;
    }
    if (result.empty())
        return std::nullopt;
    return result;
}

bool linkStaysInside(const fs::path &linkPath, std::string_view target)
{
    if (target.empty() || target.front() == '/' || target.front() == '\\' || hasDriveLetter(target))
        return false;
    // No ".." at all, not even one that stays inside on paper: a chain of
    // links ("q -> .", then "p -> q/..") resolves ".." against where the
    // previous link led, so only targets that descend are safe to create.
    for (const std::string &part : splitComponents(target))
        if (part == ".." || part.find(':') != std::string::npos)
            return false;
    return !linkPath.empty();
}

} // namespace package
