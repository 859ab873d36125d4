#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace platform {

std::string InstanceLock::lockPath(const std::string &name)
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::filesystem::path dir = (runtime && *runtime) ? std::filesystem::path(runtime)
                                                      : std::filesystem::temp_directory_path();
    return (dir / name).string();
}

InstanceLock::InstanceLock(const std::string &name)
{
    m_fd = ::open(lockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0)
        return; // No lock file can be had: behave as the only copy.
    int r;
    do {
        r = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        m_alreadyExists = (errno == EWOULDBLOCK);
        ::close(m_fd);
        m_fd = -1;
    }
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace platform
