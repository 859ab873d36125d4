#pragma once

#include "recordings/ZipSupport.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// ZIP archive errors. Each carries its fixed text; EZipError is the base.
class EZipError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

#define QUENVAR_ZIP_ERROR(Name, Text)                                                                             \
    class Name : public EZipError                                                                                 \
    {                                                                                                             \
    public:                                                                                                       \
        static constexpr const char *kText = Text;                                                                \
        Name() : EZipError(kText) {}                                                                              \
    };

QUENVAR_ZIP_ERROR(EIncompleteZip, "Incomplete Zip File")
QUENVAR_ZIP_ERROR(ENotAZipFile, "Not a valid zip file!")
QUENVAR_ZIP_ERROR(EBadZipFile, "Not a valid zip file!")
QUENVAR_ZIP_ERROR(EFatalUnzipError, "Premature end of file reached")
QUENVAR_ZIP_ERROR(EBiggerThanUncompressed, "File is larger than uncompressed size!")
QUENVAR_ZIP_ERROR(ECantWriteUCF, "Cant write uncompressed file")
QUENVAR_ZIP_ERROR(ENotEnoughRoom, "Not enough room to write archive")
QUENVAR_ZIP_ERROR(EUserCanceled, "User Aborted Operation")
// Refused second operation while one runs on the same component.
QUENVAR_ZIP_ERROR(EZipBusy, "Zip operation already in progress")
// A file or an archive beyond the 32-bit sizes and offsets of the records
// (no ZIP64 records are written): refused rather than written corrupt.
QUENVAR_ZIP_ERROR(EZipTooLarge, "File too large for a Zip archive")

#undef QUENVAR_ZIP_ERROR

// The platform's file errors: "Cannot open file "%s". %s".
class EFOpenError : public EZipError
{
public:
    EFOpenError(const QString &file, int err);
};
class EFCreateError : public EZipError
{
public:
    EFCreateError(const QString &file, int err);
};

enum TUZOverwriteMode { Prompt, Always, Never, ifNewer, ifOlder };
enum TIncompleteZipMode { izAssumeMulti, izAssumeBad, izAssumeNotAZip };

// One archive entry with the central directory's fields.
struct TZipHeaderInfo {
    std::uint16_t version_made_by = 20;
    std::uint16_t version_needed = 20;
    std::uint16_t flag = 0;
    std::uint16_t compression_method = 0;
    std::uint32_t last_mod_file_date_time = 0; // DOS date in the high half
    std::uint32_t crc32 = 0;
    std::uint32_t compressed_size = 0;
    std::uint32_t uncompressed_size = 0;
    std::uint16_t filename_length = 0;
    std::uint16_t Cextra_field_length = 0;
    std::uint16_t Lextra_field_length = 0;
    std::uint16_t file_comment_length = 0;
    std::uint16_t disk_number_start = 0;
    std::uint16_t internal_file_attributes = 0;
    std::uint32_t external_file_attributes = 0;
    std::uint32_t relative_offset = 0;
    QString directory; // with its closing "\" when not empty
    QString filename;
    std::string rawName;      // the name bytes as stored
    std::string centralExtra; // central extra field as stored
    std::string comment;      // entry comment as stored

    // Stored folder and file name, "\" separated.
    [[nodiscard]] QString fullName() const { return directory + filename; }
};

// The end of central directory record.
struct TEndCentral {
    std::uint16_t this_disk = 0;
    std::uint16_t start_central_disk = 0;
    std::uint16_t num_entries_this_disk = 0;
    std::uint16_t num_entries = 0;
    std::uint32_t size_central = 0;
    std::uint32_t offset_central = 0;
    std::string comment;
};

// The ZIP reader and extractor. Runs on the calling thread (the UI thread in
// the program); with DoProcessMessages it passes control to the event loop
// between blocks, so it refuses a second operation while one runs.
class TVCLUnZip
{
public:
    TVCLUnZip();
    virtual ~TVCLUnZip();
    TVCLUnZip(const TVCLUnZip &) = delete;
    TVCLUnZip &operator=(const TVCLUnZip &) = delete;

    // The archive's path, Windows-style ("c:\...") or a host path. A new
    // name forgets the directory read before.
    [[nodiscard]] QString ZipName() const { return m_zipName; }
    void setZipName(const QString &name);

    // A trailing separator is removed on assignment.
    [[nodiscard]] QString DestDir() const { return m_destDir; }
    void setDestDir(const QString &dir);

    QStringList FilesList;
    bool RecreateDirs = false;
    bool OEMConvert = true;
    bool DoProcessMessages = true;
    QString RootDir;
    bool DoAll = false;
    TUZOverwriteMode OverwriteMode = Prompt;
    bool RetainAttributes = true;
    bool ReplaceReadOnly = false;
    TIncompleteZipMode IncompleteZipMode = izAssumeMulti;

    std::function<void(TVCLUnZip &sender, int fileCount)> OnUnZipComplete;
    // Asked under OverwriteMode Prompt for each existing target; without a
    // handler existing files are kept.
    std::function<void(TVCLUnZip &sender, bool &overwriteIt, const QString &file)> OnPromptForOverwrite;

    // Reads the archive directory of ZipName.
    void ReadZip();
    // Extracts the selected entries; returns how many were extracted.
    int UnZip();

    [[nodiscard]] int Count() const { return static_cast<int>(m_entries.size()); }
    [[nodiscard]] const TZipHeaderInfo &Entry(int index) const { return m_entries.at(static_cast<std::size_t>(index)); }
    [[nodiscard]] const std::string &ZipComment() const { return m_end.comment; }
    [[nodiscard]] bool Busy() const { return m_busy; }
    // Asks the running operation to stop at its next block; it then raises
    // EUserCanceled (an interrupted Zip removes its output, an interrupted
    // entry leaves no file). For handlers that run between blocks.
    void CancelOperation();

protected:
    class BusyScope
    {
    public:
        explicit BusyScope(TVCLUnZip &owner);
        ~BusyScope();
        BusyScope(const BusyScope &) = delete;
        BusyScope &operator=(const BusyScope &) = delete;

    private:
        TVCLUnZip &m_owner;
    };

    void processMessages();
    [[nodiscard]] std::filesystem::path zipHostPath() const;
    // Reads the directory of an open archive into m_entries and m_end.
    void readDirectory(std::FILE *f, const QString &displayName);
    // Name bytes to text by the entry's flag and host.
    [[nodiscard]] QString decodeName(const std::string &raw, std::uint16_t flag, std::uint16_t madeBy) const;
    // Offset of an entry's data behind its local header.
    [[nodiscard]] static std::uint64_t dataOffset(std::FILE *f, const TZipHeaderInfo &e);

    std::vector<TZipHeaderInfo> m_entries;
    TEndCentral m_end;
    bool m_directoryRead = false;
    bool m_busy = false;
    bool m_cancel = false;

private:
    void readDirectoryNoWait();
    void rebuildFromLocalHeaders(std::FILE *f, std::uint64_t fileSize);
    void fillNames(TZipHeaderInfo &e) const;
    [[nodiscard]] bool selected(const TZipHeaderInfo &e) const;
    [[nodiscard]] bool extractOne(std::FILE *zip, const TZipHeaderInfo &e, const std::filesystem::path &dest);
    [[nodiscard]] bool extractData(std::FILE *zip, const TZipHeaderInfo &e, const std::filesystem::path &target,
                                   zipsupport::FilePtr &out);
    [[nodiscard]] bool mayOverwrite(const std::filesystem::path &target, const TZipHeaderInfo &e);

    QString m_zipName;
    QString m_destDir;
};
