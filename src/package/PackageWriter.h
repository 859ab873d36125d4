#pragma once

#include <filesystem>

// Writing a test package from a RAR archive: the 8-byte header (the archive's
// size as a signed 32-bit little-endian number, then four zero bytes, which
// readers ignore) and the archive as one zlib stream. Streams from disk to
// disk; the package appears under its name only once complete.
// Throws package::EPackageError with a readable message.
namespace package {

void writePackage(const std::filesystem::path &rar, const std::filesystem::path &out, int level = 6);

} // namespace package
