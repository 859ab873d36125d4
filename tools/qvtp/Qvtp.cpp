#include "Qvtp.h"

#include "package/ArchivePath.h"
#include "package/DFUnRar.h"
#include "package/PackageWriter.h"
#include "package/Rar4Writer.h"
#include "package/UnwrapPackage.h"
#include "playlist/TClientDataSet.h"
#include "platform/WinPath.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace qvtp {

const char *const kUsage =
    "Usage:\n"
    "  qvtp pack FOLDER OUT.qvtp     write FOLDER (information.xml at its top) as a test package\n"
    "  qvtp unpack PACKAGE FOLDER    extract a package into FOLDER as the program installs it\n"
    "  qvtp check PACKAGE|FOLDER     list manifest records with a non-integer FileType or\n"
    "                                PlayTime, or naming a file that is missing\n"
    "Exit status: 0 success, 1 failure or problems found, 2 wrong usage.\n";

namespace {

// A scratch folder under the system's temporary folder, removed at the end.
class ScratchDir
{
public:
    ScratchDir()
    {
        std::string pattern = (fs::temp_directory_path() / "qvtp-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ec;
        if (!m_path.empty())
            fs::remove_all(m_path, ec);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    [[nodiscard]] const fs::path &path() const { return m_path; }

private:
    fs::path m_path;
};

QString q(const fs::path &p) { return QString::fromStdString(p.string()); }

} // namespace

int pack(const std::string &folder, const std::string &outPackage, std::ostream &out, std::ostream &err)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        err << "qvtp: not a folder: " << folder << '\n';
        return 1;
    }
    if (!fs::exists(fs::path(folder) / "information.xml", ec))
        err << "qvtp: warning: " << folder << " has no information.xml at its top\n";
    const fs::path rar = fs::path(outPackage + ".rar.part");
    try {
        package::packFolder(folder, rar);
        package::writePackage(rar, outPackage);
    } catch (const std::exception &e) {
        fs::remove(rar, ec);
        err << "qvtp: " << e.what() << '\n';
        return 1;
    }
    const auto rarSize = fs::file_size(rar, ec);
    fs::remove(rar, ec);
    out << "packed " << folder << " into " << outPackage << " (" << rarSize << " bytes of archive)\n";
    return 0;
}

int unpack(const std::string &packagePath, const std::string &folder, std::ostream &out, std::ostream &err)
{
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
        err << "qvtp: cannot create folder " << folder << '\n';
        return 1;
    }
    // The archive lands in the target folder first, as temp.rar does in the
    // program, and goes once extracted.
    const fs::path archive = fs::path(folder) / ".qvtp-unpack.rar";
    try {
        package::installPackage(QString::fromStdString(packagePath), q(archive));
    } catch (const std::exception &e) {
        err << "qvtp: " << e.what() << '\n';
        return 1;
    }
    int failures = 0;
    unsigned entries = 0;
    TDFUnRar rar;
    rar.Directory = q(folder);
    rar.FileName = q(archive);
    rar.setMode(DFRAR_EXTRACT);
    rar.OverrideEvent = OR_ALWAYS;
    rar.OnError = [&](TDFUnRar *, const QString &message, int id) {
        ++failures;
        err << "qvtp: " << message.toStdString() << " (" << id << ")\n";
    };
    rar.OnProgress = [&](TDFUnRar *, unsigned n, unsigned, unsigned, unsigned) { entries = n; };
    rar.Extract();
    fs::remove(archive, ec);
    if (failures > 0)
        return 1;
    out << "unpacked " << entries << " entries into " << folder << '\n';
    return 0;
}

namespace {

// Checks the manifest of an installed-style folder; returns the problem count.
int checkFolder(const fs::path &folder, std::ostream &out, std::ostream &err, bool &readFailed)
{
    TClientDataSet table(QStringLiteral("dsplaylist"));
    table.setFileName(q(folder / "information.xml"));
    try {
        table.Open();
    } catch (const std::exception &e) {
        err << "qvtp: " << e.what() << '\n';
        readFailed = true;
        return 0;
    }
    int problems = 0;
    const auto report = [&](int recNo, const QString &rowId, const std::string &what) {
        ++problems;
        out << "record " << recNo + 1;
        if (!rowId.isEmpty())
            out << " (RowID " << rowId.toStdString() << ")";
        out << ": " << what << '\n';
    };
    const auto fieldText = [&](const char *name) -> std::optional<QString> {
        if (!table.FindField(QString::fromLatin1(name)))
            return std::nullopt;
        return table.FieldByName(QString::fromLatin1(name)).AsString();
    };
    const auto checkFile = [&](int recNo, const QString &rowId, const char *field, const QString &name) {
        const std::string stored = name.toStdString();
        const auto relative = package::safeRelativePath(stored);
        if (!relative) {
            report(recNo, rowId, std::string(field) + " \"" + stored + "\" does not name a file inside the test");
            return;
        }
        std::error_code ec;
        if (!fs::is_regular_file(platform::resolveCaseInsensitive(folder, *relative), ec))
            report(recNo, rowId, std::string(field) + " \"" + stored + "\" is missing");
    };
    for (table.First(); !table.Eof(); table.Next()) {
        const int recNo = table.RecNo();
        const QString rowId = fieldText("RowID").value_or(QString());
        std::optional<int> kind;
        for (const char *name : {"FileType", "PlayTime"}) {
            const std::optional<QString> text = fieldText(name);
            if (!text) {
                report(recNo, rowId, std::string("has no field ") + name);
                continue;
            }
            try {
                const int value = table.FieldByName(QString::fromLatin1(name)).AsInteger();
                if (std::string(name) == "FileType")
                    kind = value;
            } catch (const std::exception &) {
                report(recNo, rowId, std::string(name) + " \"" + text->toStdString() + "\" is not an integer");
            }
        }
        // Which fields name files depends on the kind: every kind but the
        // preparation countdown plays or shows FilePath; the recorded-audio
        // and audio-with-text kinds load a text from Font.
        const QString filePath = fieldText("FilePath").value_or(QString());
        const QString font = fieldText("Font").value_or(QString());
        if (kind && *kind >= 0 && *kind <= 6 && *kind != 5)
            checkFile(recNo, rowId, "FilePath", filePath);
        if (kind && (*kind == 0 || *kind == 4) && !font.isEmpty())
            checkFile(recNo, rowId, "Font", font);
    }
    return problems;
}

} // namespace

int check(const std::string &target, std::ostream &out, std::ostream &err)
{
    std::error_code ec;
    fs::path folder = target;
    ScratchDir scratch;
    if (fs::is_regular_file(target, ec)) {
        if (scratch.path().empty()) {
            err << "qvtp: cannot create a temporary folder\n";
            return 1;
        }
        std::ostringstream quiet;
        if (unpack(target, scratch.path().string(), quiet, err) != 0)
            return 1;
        folder = scratch.path();
    } else if (!fs::is_directory(target, ec)) {
        err << "qvtp: no such package or folder: " << target << '\n';
        return 1;
    }
    bool readFailed = false;
    const int problems = checkFolder(folder, out, err, readFailed);
    if (readFailed)
        return 1;
    if (problems == 0)
        out << "no problems found\n";
    return problems == 0 ? 0 : 1;
}

int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
        out << kUsage;
        return 0;
    }
    if (args.size() == 3 && args[0] == "pack")
        return pack(args[1], args[2], out, err);
    if (args.size() == 3 && args[0] == "unpack")
        return unpack(args[1], args[2], out, err);
    if (args.size() == 2 && args[0] == "check")
        return check(args[1], out, err);
    err << kUsage;
    return 2;
}

} // namespace qvtp
