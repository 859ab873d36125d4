#include "TestUtil.h"

#include "platform/ErrorDisplay.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include <sys/wait.h>

namespace fs = std::filesystem;

namespace testutil {

namespace {

std::optional<platform::MsgResult> &nextAnswer()
{
    static std::optional<platform::MsgResult> a;
    return a;
}

fs::path makeTemp()
{
    std::string tmpl = (fs::temp_directory_path() / "quenvar-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    return fs::path(tmpl);
}

} // namespace

std::vector<ShownBox> &shownErrors()
{
    static std::vector<ShownBox> v;
    return v;
}

std::vector<ShownBox> &shownMessages()
{
    static std::vector<ShownBox> v;
    return v;
}

void clearShown()
{
    shownErrors().clear();
    shownMessages().clear();
}

void answerNext(platform::MsgResult result)
{
    nextAnswer() = result;
}

void installScriptedUi()
{
    platform::setErrorSink([](const QString &caption, const QString &text) {
        shownErrors().push_back({caption, text, platform::MsgIcon::Error});
    });
    platform::setMessageScript([](const platform::MessageRequest &r) {
        shownMessages().push_back({r.caption, r.text, r.icon});
        if (nextAnswer()) {
            const platform::MsgResult a = *nextAnswer();
            nextAnswer().reset();
            return a;
        }
        return r.buttons == platform::MsgButtons::YesNo || r.buttons == platform::MsgButtons::YesNoCancel
                   ? platform::MsgResult::Yes
                   : platform::MsgResult::Ok;
    });
}

ScopedEnv::ScopedEnv(const char *name, const std::string &value) : m_name(name)
{
    if (const char *old = std::getenv(name)) {
        m_had = true;
        m_old = old;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (m_had)
        setenv(m_name, m_old.c_str(), 1);
    else
        unsetenv(m_name);
}

TempDataHome::TempDataHome() : m_path(makeTemp()), m_xdg("XDG_DATA_HOME", m_path.string()) {}

TempDataHome::~TempDataHome()
{
    std::error_code ec;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

TempDir::TempDir() : m_path(makeTemp()) {}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

void writeFile(const fs::path &p, std::string_view bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const fs::path &p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

int run(const std::string &command, std::string *out)
{
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0)
        if (out)
            out->append(buf.data(), n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool haveTool(const std::string &name)
{
    return run("command -v " + name + " >/dev/null 2>&1") == 0;
}

fs::path testdataDir()
{
    // A git worktree lies beside the others, not beside shared/: the
    // environment may point at the data instead.
    if (const char *dir = std::getenv("QUENVAR_TESTDATA_DIR"); dir && *dir)
        return fs::path(dir);
    return fs::path(QUENVAR_TESTDATA_DIR);
}

void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

namespace {

fs::path writeMicrophoneConfig(const fs::path &folder)
{
    const fs::path conf = folder / "virtual-microphone.conf";
    writeFile(conf, std::string("pcm_type.quenvarmic { lib \"") + QUENVAR_MIC_PLUGIN
                        + "\" }\npcm.!default { type quenvarmic }\n");
    return conf;
}

} // namespace

VirtualMicrophone::VirtualMicrophone(const std::filesystem::path &folder)
    : m_config("ALSA_CONFIG_PATH", writeMicrophoneConfig(folder).string())
{
}

} // namespace testutil
