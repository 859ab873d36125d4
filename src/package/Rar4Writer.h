#pragma once

#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

// Writes a RAR 4 archive with stored entries, as package authors need: paths
// with '\' separators, the CRC-32 of every file, Windows attributes. Used by
// the authoring tool and by tests that need archives of a given shape.
namespace package {

class RarWriteError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class Rar4Writer
{
public:
    // How names outside ASCII are stored: UTF-8 under the Unicode-name flag,
    // or CP936 bytes without it, as older Chinese Windows tools wrote them.
    enum class Names { Unicode, Ansi };

    explicit Rar4Writer(const std::filesystem::path &out, Names names = Names::Unicode);
    ~Rar4Writer();
    Rar4Writer(const Rar4Writer &) = delete;
    Rar4Writer &operator=(const Rar4Writer &) = delete;

    // Stored names are UTF-8 with '/' or '\' separators.
    void addDirectory(std::string_view storedName, std::time_t mtime);
    void addFile(std::string_view storedName, const std::filesystem::path &source);
    void addData(std::string_view storedName, std::string_view bytes, std::time_t mtime);
    // Raw entry for tests: the name bytes and the CRC are written as given.
    void addRaw(std::string_view nameBytes, std::string_view bytes, std::uint32_t crc, std::uint16_t extraFlags = 0);
    // Writes the end block and closes the file; throws on a write error.
    void finish();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Writes every file and folder below `folder` (sorted by name, folders
// before their contents) into a new RAR 4 archive.
void packFolder(const std::filesystem::path &folder, const std::filesystem::path &rar,
                Rar4Writer::Names names = Rar4Writer::Names::Unicode);

} // namespace package
