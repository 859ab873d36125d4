#pragma once

#include "recordings/VCLUnZip.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

enum TZipAction { zaUpdate, zaReplace, zaFreshen };

// The ZIP writer: packs FilesList into ZipName, creating the archive or
// updating an existing one through a temporary file. Same thread rules as
// TVCLUnZip.
class TVCLZip : public TVCLUnZip
{
public:
    TVCLZip();
    ~TVCLZip() override;

    int PackLevel = 6;
    bool Recurse = false;
    bool StorePaths = false;
    TZipAction ZipAction = zaUpdate;
    bool AddDirEntriesOnRecurse = false;
    QStringList ExcludeList;
    QStringList NoCompressList;
    QString TempPath;

    std::function<void(TVCLZip &sender, int fileCount)> OnZipComplete;

    // Packs FilesList into ZipName; returns the number of files packed (new
    // or replaced entries). FilesList is empty afterwards in every case.
    int Zip();

private:
    struct Candidate {
        std::filesystem::path path;
        QString storedName; // "\" separated, as compared and stored
        bool directory = false;
    };

    [[nodiscard]] std::vector<Candidate> gatherFiles(const std::filesystem::path &archive);
    void search(const std::filesystem::path &folder, const QString &storedFolder, const QString &pattern,
                const std::filesystem::path &archive, std::vector<Candidate> &out);
    void addCandidate(const std::filesystem::path &path, const QString &storedFolder, bool directory,
                      std::vector<Candidate> &out);
    [[nodiscard]] bool excluded(const std::filesystem::path &path) const;
    [[nodiscard]] bool noCompress(const std::filesystem::path &path) const;

    // Writes one file as an entry at the current end of out; false when the
    // file is skipped (gone, unreadable, or a name already in the archive).
    bool packOne(std::FILE *out, const Candidate &c, std::vector<TZipHeaderInfo> &entries,
                 std::set<QString> &names);
    void copyEntry(std::FILE *in, std::FILE *out, const TZipHeaderInfo &old, std::vector<TZipHeaderInfo> &entries,
                   std::set<QString> &names);
    void writeDirectory(std::FILE *out, const std::vector<TZipHeaderInfo> &entries, const std::string &comment);
    void writeAll(std::FILE *out, const void *data, std::size_t n);
    [[nodiscard]] std::uint64_t position(std::FILE *out);
    void moveIntoPlace(const std::filesystem::path &from, const std::filesystem::path &to);
};
