#pragma once

#include "platform/Dialogs.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <string>
#include <vector>

// Helpers shared by the tests of every subsystem.
namespace testutil {

// One error box or message box that a handler showed.
struct ShownBox {
    QString caption;
    QString text;
    platform::MsgIcon icon = platform::MsgIcon::Error;
};

// Replaces the error display and message boxes with recorders (done by the
// test main). Message boxes answer OK (or what answerNext says).
void installScriptedUi();
std::vector<ShownBox> &shownErrors();
std::vector<ShownBox> &shownMessages();
void clearShown();
// The answer the next message box gets (once); OK or Yes by default.
void answerNext(platform::MsgResult result);

// Sets an environment variable for its lifetime, then restores the old
// value (or its absence).
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const std::string &value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *m_name;
    std::string m_old;
    bool m_had = false;
};

// A fresh temporary folder, removed by the destructor. It also points
// XDG_DATA_HOME at itself, so "c:\" maps inside it while the object lives.
class TempDataHome
{
public:
    TempDataHome();
    ~TempDataHome();
    TempDataHome(const TempDataHome &) = delete;
    TempDataHome &operator=(const TempDataHome &) = delete;

    [[nodiscard]] const std::filesystem::path &path() const { return m_path; }
    // Host path of drive C ("<tmp>/quenvar").
    [[nodiscard]] std::filesystem::path driveC() const { return m_path / "quenvar"; }

private:
    std::filesystem::path m_path;
    ScopedEnv m_xdg;
};

// A fresh temporary folder, removed by the destructor.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    [[nodiscard]] const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

void writeFile(const std::filesystem::path &p, std::string_view bytes);
[[nodiscard]] std::string readFile(const std::filesystem::path &p);

// Runs a shell command, returns its exit status; stdout goes to *out when
// given.
int run(const std::string &command, std::string *out = nullptr);

// True when a program is on PATH.
[[nodiscard]] bool haveTool(const std::string &name);

// Folder of the shared real-world test data (archives, data packets).
[[nodiscard]] std::filesystem::path testdataDir();

// Processes events for the given milliseconds (lets queued messages and
// timers run).
void pump(int ms);

// A microphone for tests of the real capture path: points alsa-lib's
// default device at the project's paced virtual microphone (a two-tone
// signal delivered in real time). Must be created before PortAudio first
// starts in the process; the configuration lives in the given folder.
class VirtualMicrophone
{
public:
    explicit VirtualMicrophone(const std::filesystem::path &folder);
    VirtualMicrophone(const VirtualMicrophone &) = delete;
    VirtualMicrophone &operator=(const VirtualMicrophone &) = delete;

private:
    ScopedEnv m_config;
};

} // namespace testutil
