#include "package/DFUnRar.h"

#include "package/ArchivePath.h"
#include "platform/WinPath.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <cstring>
#include <filesystem>

namespace {

TDFUnRar *g_current = nullptr; // the component whose extraction runs (for the callback)
int g_loadCount = 0;           // components holding the library
TDFUnRar::PromptScript g_promptScript;

// A small modal prompt: one edit box of at most 120 characters, "Ok" and
// "Annuler". Returns whether "Ok" closed it; text holds the edit box's
// content either way.
bool runPrompt(const QString &caption, QString &text, bool masked)
{
    if (g_promptScript)
        return g_promptScript(caption, text);
    QDialog dialog;
    dialog.setWindowTitle(caption);
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    auto *layout = new QVBoxLayout(&dialog);
    auto *edit = new QLineEdit(text, &dialog);
    edit->setMaxLength(120);
    if (masked) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    }
    layout->addWidget(edit);
    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *ok = buttons->addButton(QStringLiteral("Ok"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.adjustSize();
    if (const QScreen *screen = dialog.screen())
        dialog.move(screen->availableGeometry().center() - dialog.rect().center());
    const bool accepted = dialog.exec() == QDialog::Accepted;
    text = edit->text();
    return accepted;
}

// Writes text as a zero-terminated string into a buffer of size bytes,
// cutting it (at a character boundary) so that string and terminator fit.
void writeCString(char *buffer, std::size_t size, const QByteArray &text)
{
    if (!buffer || size == 0)
        return;
    std::size_t n = std::min<std::size_t>(std::size_t(text.size()), size - 1);
    while (n > 0 && n < std::size_t(text.size()) && (static_cast<unsigned char>(text[qsizetype(n)]) & 0xC0) == 0x80)
        --n;
    std::memcpy(buffer, text.constData(), n);
    buffer[n] = '\0';
}

QString fromWide(const wchar_t *w) { return QString::fromWCharArray(w); }

QDateTime fromDosTime(unsigned t)
{
    const QDate date(int((t >> 25) & 0x7F) + 1980, int((t >> 21) & 0x0F), int((t >> 16) & 0x1F));
    const QTime time(int((t >> 11) & 0x1F), int((t >> 5) & 0x3F), int(t & 0x1F) * 2);
    return QDateTime(date, time);
}

} // namespace

int dfUnRarCallback(unsigned msg, unrar::LPARAM, unrar::LPARAM p1, unrar::LPARAM p2) noexcept
{
    TDFUnRar *component = g_current;
    if (!component)
        return 0;
    try {
        return component->onCallback(msg, p1, p2);
    } catch (...) {
        // A handler's exception must not unwind through the library: it is
        // kept, the library is told to stop, and it is thrown again once
        // the library call has returned.
        if (!component->m_pending)
            component->m_pending = std::current_exception();
        return -1;
    }
}

namespace dfunrar {

QString commentMessage(int code)
{
    switch (code) {
    case 11: return QStringLiteral("Mémoire insuffisante");
    case 12: return QStringLiteral("données corrompues");
    case 14: return QStringLiteral("format inconnu");
    case 20: return QStringLiteral("buffer trop petit");
    default: return {};
    }
}

QString processMessage(int code)
{
    switch (code) {
    case 12: return QStringLiteral("données corrompues");
    case 13: return QStringLiteral("Archive défectueuse");
    case 14: return QStringLiteral("format inconnu");
    case 15: return QStringLiteral("Volumn-Error");
    case 16: return QStringLiteral("Erreur à la création du fichier");
    case 17: return QStringLiteral("Erreur à la fermeture du fichier");
    case 18: return QStringLiteral("Erreur de lecture");
    case 19: return QStringLiteral("Erreur d'écriture");
    default: return {};
    }
}

} // namespace dfunrar

TDFUnRar::TDFUnRar(QObject *owner)
    : QObject(owner), m_commentBuffer(std::make_unique<char[]>(dfunrar::kCommentBufferSize)),
      m_header(std::make_unique<unrar::RARHeaderDataEx>())
{
    m_open = unrar::RAROpenArchiveData{};
    std::memset(m_header.get(), 0, sizeof *m_header);
    m_loaded = unrar::binding().loaded || unrar::loadLibrary();
    if (m_loaded) {
        ++g_loadCount;
        if (unrar::binding().RARGetDllVersion)
            m_dllVersion = unrar::binding().RARGetDllVersion();
    }
}

TDFUnRar::~TDFUnRar()
{
    if (g_current == this)
        g_current = nullptr;
    // The module goes with the last component that holds it; releasing it
    // under another live component would leave that one calling nothing.
    if (m_loaded && --g_loadCount == 0)
        unrar::unloadLibrary();
}

void TDFUnRar::setPromptScript(PromptScript script) { g_promptScript = std::move(script); }

void TDFUnRar::setMode(TDFRarMode mode)
{
    m_mode = mode;
    m_operation = mode == DFRAR_EXTRACT ? unrar::RAR_EXTRACT : unrar::RAR_TEST;
}

void TDFUnRar::error(const QString &message, int id)
{
    if (OnError)
        OnError(this, message, id);
}

void TDFUnRar::status(TRarStatus s)
{
    if (OnRarStatus)
        OnRarStatus(this, QString(), s);
}

void TDFUnRar::rethrowPending()
{
    if (m_pending) {
        std::exception_ptr e = std::exchange(m_pending, nullptr);
        std::rethrow_exception(e);
    }
}

bool TDFUnRar::openArchive(unsigned openMode)
{
    m_arcName = FileName.toUtf8();
    m_open = unrar::RAROpenArchiveData{};
    m_open.ArcName = m_arcName.constData();
    m_open.OpenMode = openMode;
    m_open.OpenResult = 0;
    m_open.CmtBuf = m_commentBuffer.get();
    m_open.CmtBufSize = dfunrar::kCommentBufferSize;
    m_open.CmtSize = m_commentSize;
    m_open.CmtState = 0;
    if (StopProcessing)
        return false;
    status(RAR_ONBEFOREOPEN);
    m_handle = unrar::binding().RAROpenArchive(&m_open);
    status(RAR_ONOPEN);
    switch (m_open.CmtState) {
    case 0:
        m_comment.clear();
        m_commentSize = 0;
        break;
    case 1: {
        m_commentBuffer[dfunrar::kCommentBufferSize - 1] = '\0';
        m_comment = QString::fromUtf8(m_commentBuffer.get());
        m_commentSize = unsigned(std::strlen(m_commentBuffer.get()));
        if (OnComment)
            OnComment(this, m_comment);
        break;
    }
    case 11:
    case 12:
    case 14:
    case 20:
        error(dfunrar::commentMessage(int(m_open.CmtState)), int(m_open.CmtState));
        break;
    default:
        break;
    }
    return true;
}

void TDFUnRar::closeArchive()
{
    const int rc = unrar::binding().RARCloseArchive ? unrar::binding().RARCloseArchive(m_handle) : 0;
    m_handle = nullptr;
    if (rc == unrar::ERAR_ECLOSE)
        error(QString::fromUtf8(dfunrar::kCloseError), unrar::ERAR_ECLOSE);
    status(RAR_AFTERCLOSE);
}

void TDFUnRar::registerCallback()
{
    unrar::binding().RARSetCallback(m_handle, &dfUnRarCallback, 0);
    if (!Password.isEmpty())
        unrar::binding().RARSetPassword(m_handle, Password.toUtf8().constData());
}

void TDFUnRar::fillHeaderData()
{
    const unrar::RARHeaderDataEx &h = *m_header;
    TDFRARHeaderData d;
    d.ArchiveName = QString::fromUtf8(h.ArcName);
    d.FileName = fromWide(h.FileNameW);
    d.ContinuedFromPrev = h.Flags & unrar::RHDF_SPLITBEFORE;
    d.ContinuedOnNext = h.Flags & unrar::RHDF_SPLITAFTER;
    d.Encrypted = h.Flags & unrar::RHDF_ENCRYPTED;
    d.Directory = (h.Flags & unrar::RHDF_DIRECTORY) == unrar::RHDF_DIRECTORY;
    d.DictionarySize = h.DictSize;
    d.PackSize = h.PackSize;
    d.UnpSize = h.UnpSize;
    static const char *const hosts[] = {"DOS", "IBM OS/2", "Windows", "Unix"};
    if (h.HostOS < 4)
        d.HostOS = QString::fromLatin1(hosts[h.HostOS]);
    d.CRC = QString::number(h.FileCRC, 16);
    d.FileTime = fromDosTime(h.FileTime);
    d.MajorVersion = int(h.UnpVer / 10);
    d.MinorVersion = int(h.UnpVer % 10);
    static const char *const methods[] = {"pas de compression", "la plus rapide", "rapide",
                                          "normale",            "bonne",          "la meilleure"};
    if (h.Method >= 0x30 && h.Method <= 0x35)
        d.Method = QString::fromUtf8(methods[h.Method - 0x30]);
    d.faArchive = h.FileAttr & 0x20;
    d.faCompressed = h.FileAttr & 0x800;
    d.faDirectory = h.FileAttr & 0x10;
    d.faHidden = h.FileAttr & 0x02;
    d.faNormal = h.FileAttr & 0x80;
    d.faOffline = h.FileAttr & 0x1000;
    d.faReadOnly = h.FileAttr & 0x01;
    d.faSystem = h.FileAttr & 0x04;
    d.faTemporary = h.FileAttr & 0x100;
    m_hdrData = d;
}

int TDFUnRar::processCurrentFile()
{
    const unrar::Binding &b = unrar::binding();
    const QByteArray dir = Directory.toUtf8();
    int operation = m_operation;
    const QString storedName = fromWide(m_header->FileNameW);
    // An entry that would land outside the destination folder is passed
    // over and reported, whatever the override policy.
    if (operation == unrar::RAR_EXTRACT) {
        const auto relative = package::safeRelativePath(storedName.toStdString());
        const bool unsafeName = !relative;
        const bool unsafeLink = m_header->RedirType == unrar::REDIR_SYMLINK && relative
                                && !package::linkStaysInside(*relative, m_header->RedirName);
        const bool unsafeHard = m_header->RedirType == unrar::REDIR_HARDLINK
                                && !package::safeRelativePath(m_header->RedirName);
        if (unsafeName || unsafeLink || unsafeHard) {
            error(QString::fromUtf8(dfunrar::kUnsafeEntry) + storedName, unrar::ERAR_ECREATE);
            return b.RARProcessFile(m_handle, unrar::RAR_SKIP, dir.constData(), nullptr);
        }
    }
    if (OverrideEvent != OR_ALWAYS) {
        const QString target = Directory + QLatin1Char('\\') + storedName;
        const bool isDirectory = (m_header->Flags & unrar::RHDF_DIRECTORY) == unrar::RHDF_DIRECTORY;
        std::error_code ec;
        if (!FileList.isEmpty() && !FileList.contains(target, Qt::CaseInsensitive)) {
            operation = unrar::RAR_SKIP;
        } else if (isDirectory || operation != unrar::RAR_EXTRACT
                   || !std::filesystem::exists(platform::hostPath(target), ec)) {
            // the operation stands
        } else if (OverrideEvent == OR_NEVER) {
            operation = unrar::RAR_SKIP;
        } else {
            bool canOverride = false;
            if (OnOverride)
                OnOverride(this, target, canOverride);
            if (!canOverride)
                operation = unrar::RAR_SKIP;
        }
    }
    const int rc = b.RARProcessFile(m_handle, operation, dir.constData(), nullptr);
    rethrowPending();
    return rc;
}

int TDFUnRar::onCallback(unsigned msg, unrar::LPARAM p1, unrar::LPARAM p2)
{
    int result = 0;
    switch (msg) {
    case unrar::UCM_PROCESSDATA:
        result = StopProcessing ? -1 : 0;
        break;
    case unrar::UCM_NEEDPASSWORD: {
        QString password = Password;
        if (OnPassword)
            OnPassword(this, password);
        else if (PromptForPass)
            runPrompt(QStringLiteral("Mot de passe : ..."), password, true);
        else
            error(QString::fromUtf8(dfunrar::kNoPassword), 0);
        writeCString(reinterpret_cast<char *>(p1), p2 > 0 ? std::size_t(p2) : 0, password.toUtf8());
        if (OnRarStatus)
            OnRarStatus(this, QString::fromUtf8(dfunrar::kPasswordUsed) + Password, RAR_ONPASSWORD);
        result = 0;
        break;
    }
    case unrar::UCM_CHANGEVOLUME: {
        auto *name = reinterpret_cast<char *>(p1);
        if (p2 == unrar::RAR_VOL_ASK) {
            if (OnVolChange) {
                OnVolChange(this, name, 0);
            } else if (PromptForVolumn) {
                QString entered = FileName;
                if (runPrompt(QStringLiteral("Archive suivante : ..."), entered, false)) {
                    writeCString(name, unrar::kNameSize, entered.toUtf8());
                    result = entered == FileName ? -1 : 0;
                } else {
                    result = -1;
                }
            }
            if (!name || name[0] == '\0')
                result = -1;
        }
        break;
    }
    default:
        break;
    }
    if (StopProcessing)
        result = -1;
    return result;
}

void TDFUnRar::Extract()
{
    StopProcessing = false;
    if (!m_loaded || !unrar::binding().loaded) {
        error(QString::fromUtf8(dfunrar::kNotLoaded), 0);
        return;
    }
    m_filesProcessed = 0;
    m_sizeProcessed = 0;
    if (CanProgress)
        CountFiles();
    g_current = this;
    if (!openArchive(m_mode == DFRAR_LIST ? unrar::RAR_OM_LIST : unrar::RAR_OM_EXTRACT)) {
        g_current = nullptr;
        return;
    }
    const unrar::Binding &b = unrar::binding();
    try {
        if (!StopProcessing && !m_handle) {
            // Nothing to read: a missing, empty or foreign file. The windows
            // still see the archive closed, as after any extraction.
            error(QString::fromUtf8(dfunrar::kOpenFailed), int(m_open.OpenResult));
        } else if (!StopProcessing) {
            registerCallback();
            for (;;) {
                const int r = b.RARReadHeaderEx(m_handle, m_header.get());
                rethrowPending();
                if (r == unrar::ERAR_END_ARCHIVE)
                    break;
                if (r == unrar::ERAR_BAD_DATA) {
                    error(QString::fromUtf8(dfunrar::kBadHeader), unrar::ERAR_BAD_DATA);
                } else if (OnFileProcessing || OnProgress) {
                    fillHeaderData();
                    if (OnFileProcessing)
                        OnFileProcessing(this, m_hdrData, r);
                    if (OnProgress) {
                        ++m_filesProcessed;
                        ++m_sizeProcessed;
                        OnProgress(this, m_filesProcessed, m_fileCount, m_sizeProcessed, m_sizeCount);
                    }
                }
                if (StopProcessing)
                    break;
                const int c = r == unrar::ERAR_SUCCESS ? processCurrentFile() : 0;
                if (c >= 12 && c <= 19)
                    error(dfunrar::processMessage(c), c);
                if (StopProcessing || c != 0)
                    break;
            }
        }
    } catch (...) {
        closeArchive();
        g_current = nullptr;
        throw;
    }
    closeArchive();
    g_current = nullptr;
}

void TDFUnRar::CountFiles()
{
    if (!m_loaded || !unrar::binding().loaded) {
        error(QString::fromUtf8(dfunrar::kNotLoaded), 0);
        return;
    }
    m_fileCount = 0;
    m_sizeCount = 0;
    TDFUnRar *previous = std::exchange(g_current, this);
    const unrar::Binding &b = unrar::binding();
    if (!openArchive(unrar::RAR_OM_EXTRACT)) {
        g_current = previous;
        return;
    }
    try {
        if (!StopProcessing && m_handle) {
            registerCallback();
            for (;;) {
                const int r = b.RARReadHeaderEx(m_handle, m_header.get());
                rethrowPending();
                if (r == unrar::ERAR_END_ARCHIVE || StopProcessing)
                    break;
                if (r != unrar::ERAR_SUCCESS)
                    continue;
                const int c = b.RARProcessFile(m_handle, unrar::RAR_SKIP, Directory.toUtf8().constData(), nullptr);
                rethrowPending();
                if (c != 0)
                    break;
                if (!(m_header->Flags & unrar::RHDF_SPLITBEFORE)) {
                    ++m_fileCount;
                    m_sizeCount += m_header->UnpSize;
                }
            }
        }
    } catch (...) {
        closeArchive();
        g_current = previous;
        throw;
    }
    closeArchive();
    g_current = previous;
}
