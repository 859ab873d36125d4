#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace pkgtest {

// zlib stream of data (with header and Adler-32 trailer).
[[nodiscard]] std::string zlibCompress(std::string_view data);

// A package: the size field, four further header bytes, then the payload.
[[nodiscard]] std::string package(std::string_view rar, std::int32_t size, std::uint32_t bytes4to7 = 0);
[[nodiscard]] inline std::string package(std::string_view rar)
{
    return package(rar, std::int32_t(rar.size()));
}

// Every regular file below folder (relative UTF-8 path -> content).
[[nodiscard]] std::map<std::string, std::string> treeOf(const std::filesystem::path &folder);

// The real archives of the shared test data.
[[nodiscard]] std::filesystem::path rarSample(const char *name);

} // namespace pkgtest
