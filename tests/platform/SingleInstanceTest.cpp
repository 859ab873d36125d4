#include "TestUtil.h"
#include "platform/SingleInstance.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

using platform::InstanceLock;

namespace {

std::string uniqueName()
{
    return "quenvar-lock-test-" + std::to_string(::getpid());
}

} // namespace

TEST(SingleInstanceTest, SecondProcessSeesTheLockUntilTheFirstIsKilled)
{
    const std::string name = uniqueName();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        InstanceLock lock(name);
        const char ok = lock.alreadyExists() ? 'n' : 'y';
        (void)!::write(ready[1], &ok, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(answer, 'y');

    {
        InstanceLock second(name);
        EXPECT_TRUE(second.alreadyExists());
    }

    // Killed without a chance to clean up: the kernel drops the lock.
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    InstanceLock after(name);
    EXPECT_FALSE(after.alreadyExists());
    ::unlink(InstanceLock::lockPath(name).c_str());
}

TEST(SingleInstanceTest, LockLivesInTheRuntimeFolder)
{
    testutil::TempDir dir;
    const char *old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    {
        InstanceLock lock("project1");
        EXPECT_FALSE(lock.alreadyExists());
        EXPECT_TRUE(std::filesystem::exists(dir.path() / "project1"));
    }
    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}
