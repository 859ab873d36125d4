#pragma once

#include <QString>

#include <cstddef>
#include <functional>
#include <istream>
#include <stdexcept>
#include <string>

// A test package (*.qvtp): an 8-byte header whose first four bytes hold the
// unpacked size N (signed, little-endian; the other four are ignored), then
// one zlib stream whose first N inflated bytes are a RAR archive.
namespace package {

// Failures of unwrapping and installing, with the texts the user sees.
class EPackageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char *kStreamReadError = "Stream read error";
inline constexpr const char *kStreamWriteError = "Stream write error";
inline constexpr const char *kZlibError = "Error";
inline constexpr const char *kOutOfMemory = "Out of memory";
inline constexpr const char *kOutOfMemoryExpanding = "Out of memory while expanding memory stream";

// Reads up to n bytes into buf; 0 at the end. Throws EPackageError.
using ReadFn = std::function<std::size_t(char *buf, std::size_t n)>;
// Takes the next piece of the archive. Throws EPackageError.
using WriteFn = std::function<void(const char *data, std::size_t n)>;

// Reads the header from source, inflates the payload and hands exactly N
// bytes to sink, piece by piece; returns N. Input beyond what N needs is not
// examined (no trailer check, no error for a longer payload).
std::int64_t unwrapStream(const ReadFn &source, const WriteFn &sink);

// Source positioned at a package; Destination's whole content is replaced by
// the unpacked archive, and only once unwrapping has succeeded.
void UnwrapPackage(std::istream &Source, std::string &Destination);

// Installs the package file as the archive at `archivePath` (a Windows path
// such as "c:\testtank\temp.rar", or a host path): the archive is inflated
// into a temporary file beside it and renamed into place, so a failure
// leaves the previous archive exactly as it was and memory stays flat
// whatever the package's size.
void installPackage(const QString &packageFile, const QString &archivePath);

} // namespace package
