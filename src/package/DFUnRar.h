#pragma once

#include "package/untUnRar.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <memory>

enum TDFRarMode { DFRAR_EXTRACT = 0, DFRAR_LIST = 1 };
enum TOverrideOptions { OR_ALWAYS = 0, OR_NEVER = 1, OR_EVENT = 2 };
enum TRarStatus { RAR_ONOPEN = 0, RAR_ONBEFOREOPEN = 1, RAR_AFTERCLOSE = 2, RAR_ONPASSWORD = 3 };

// One file of the archive as OnFileProcessing sees it.
struct TDFRARHeaderData {
    QString ArchiveName;
    QString FileName;
    bool ContinuedFromPrev = false;
    bool ContinuedOnNext = false;
    bool Encrypted = false;
    bool Directory = false;
    unsigned DictionarySize = 0;
    unsigned PackSize = 0;
    unsigned UnpSize = 0;
    QString HostOS;    // "DOS", "IBM OS/2", "Windows", "Unix"
    QString CRC;       // "%x"
    QDateTime FileTime;
    int MajorVersion = 0;
    int MinorVersion = 0;
    QString Method;    // "pas de compression" .. "la meilleure"
    bool faArchive = false;
    bool faCompressed = false;
    bool faDirectory = false;
    bool faHidden = false;
    bool faNormal = false;
    bool faOffline = false;
    bool faReadOnly = false;
    bool faSystem = false;
    bool faTemporary = false;
};

// The extraction component: drives the UnRAR library archive by archive and
// file by file and turns what happens into events. It raises no errors of
// its own; failures go to OnError. Events arrive synchronously on the
// calling (UI) thread, inside Extract. One extraction at a time per process,
// and never started from one of its own handlers.
class TDFUnRar : public QObject
{
    Q_OBJECT
public:
    explicit TDFUnRar(QObject *owner = nullptr);
    ~TDFUnRar() override;

    // Published properties.
    [[nodiscard]] const QString &ArchivComment() const { return m_comment; }
    bool CanProgress = false;
    [[nodiscard]] unsigned CommentSize() const { return m_commentSize; }
    QString Directory;
    [[nodiscard]] int DllVersion() const { return m_dllVersion; }
    QStringList FileList;
    QString FileName;
    [[nodiscard]] TDFRarMode Mode() const { return m_mode; }
    void setMode(TDFRarMode mode);
    TOverrideOptions OverrideEvent = OR_ALWAYS;
    QString Password;
    bool PromptForPass = false;
    bool PromptForVolumn = false;
    bool StopProcessing = false;

    std::function<void(TDFUnRar *Sender, const QString &Comment)> OnComment;
    std::function<void(TDFUnRar *Sender, const QString &Message, int MessageID)> OnError;
    std::function<void(TDFUnRar *Sender, const TDFRARHeaderData &hdrData, int status)> OnFileProcessing;
    std::function<void(TDFUnRar *Sender, const QString &FileName, bool &CanOverride)> OnOverride;
    std::function<void(TDFUnRar *Sender, QString &Password)> OnPassword;
    std::function<void(TDFUnRar *Sender, unsigned FilesProcessed, unsigned FileCount, unsigned SizeProcessed,
                       unsigned SizeCount)>
        OnProgress;
    std::function<void(TDFUnRar *Sender, const QString &Message, TRarStatus status)> OnRarStatus;
    std::function<void(TDFUnRar *Sender, char *ArcName, int Mode)> OnVolChange;

    // Processes the archive named by FileName according to Mode. Reports
    // through events only.
    void Extract();
    // The counting pass (FileCount, SizeCount), run by Extract first when
    // CanProgress is set.
    void CountFiles();

    [[nodiscard]] unsigned FileCount() const { return m_fileCount; }
    [[nodiscard]] unsigned SizeCount() const { return m_sizeCount; }

    // The password and next-volume prompts. Tests script them: the script
    // gets the dialog's caption and edit text, may change the text and
    // returns whether "Ok" closed it.
    using PromptScript = std::function<bool(const QString &caption, QString &text)>;
    static void setPromptScript(PromptScript script);

private:
    friend int dfUnRarCallback(unsigned msg, unrar::LPARAM, unrar::LPARAM p1, unrar::LPARAM p2) noexcept;

    void error(const QString &message, int id);
    void status(TRarStatus s);
    bool openArchive(unsigned openMode);
    void closeArchive();
    void registerCallback();
    int processCurrentFile();
    void fillHeaderData();
    int onCallback(unsigned msg, unrar::LPARAM p1, unrar::LPARAM p2);
    void rethrowPending();

    bool m_loaded = false;
    int m_dllVersion = 0;
    QString m_comment;
    unsigned m_commentSize = 0;
    TDFRarMode m_mode = DFRAR_EXTRACT;
    int m_operation = unrar::RAR_EXTRACT;
    unrar::HANDLE m_handle = nullptr;
    QByteArray m_arcName; // the open record points into it
    unrar::RAROpenArchiveData m_open;
    std::unique_ptr<char[]> m_commentBuffer;
    std::unique_ptr<unrar::RARHeaderDataEx> m_header;
    TDFRARHeaderData m_hdrData;
    unsigned m_filesProcessed = 0;
    unsigned m_sizeProcessed = 0;
    unsigned m_fileCount = 0;
    unsigned m_sizeCount = 0;
    std::exception_ptr m_pending; // an exception thrown by a handler inside the library's callback
};

// Error texts of the component.
namespace dfunrar {
inline constexpr const char *kNotLoaded = "UnRar.Dll not loaded";
inline constexpr const char *kNoPassword = "Pas de mot de passe!";
inline constexpr const char *kBadHeader = "Entête de fichier corrompu";
inline constexpr const char *kCloseError = "Erreur lors de la fermeture";
inline constexpr const char *kOpenFailed = "Impossible d'ouvrir l'archive";
inline constexpr const char *kUnsafeEntry = "Entrée refusée hors du dossier : ";
inline constexpr const char *kPasswordUsed = "Le mot de passe utilisé est : ";
inline constexpr int kCommentBufferSize = 65536;
// Message of a comment-state or file result code; empty when the code has none.
[[nodiscard]] QString commentMessage(int code);
[[nodiscard]] QString processMessage(int code);
} // namespace dfunrar
