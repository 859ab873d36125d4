#pragma once

#include <string>

namespace platform {

// A named lock held for the life of the process, standing in for a named
// kernel mutex used as an existence test: an exclusive flock on a file of
// that name in $XDG_RUNTIME_DIR (else the temporary folder). The kernel
// drops the lock when the process ends, however it ends.
class InstanceLock
{
public:
    explicit InstanceLock(const std::string &name);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // True when another process holds the lock of this name.
    [[nodiscard]] bool alreadyExists() const { return m_alreadyExists; }

    [[nodiscard]] static std::string lockPath(const std::string &name);

private:
    int m_fd = -1;
    bool m_alreadyExists = false;
};

} // namespace platform
