// The single-instance claim against the real kernel: abstract Unix socket names.
#include <string>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/SingleInstance.h"

namespace {

// A name no real instance uses, different for every test process.
std::string testName(const char* what) {
    return std::string("KestrelTest-") + what + "-" + std::to_string(::getpid());
}

TEST(SingleInstance, SecondClaimSeesTheFirstUntilItEnds) {
    const std::string name = testName("pair");
    {
        const os::SingleInstance first(name);
        EXPECT_FALSE(first.alreadyRunning());
        const os::SingleInstance second(name);
        EXPECT_TRUE(second.alreadyRunning());
        const os::SingleInstance other(name + "-other");
        EXPECT_FALSE(other.alreadyRunning());
    }
    const os::SingleInstance again(name);
    EXPECT_FALSE(again.alreadyRunning());
}

TEST(SingleInstance, KilledHolderLeavesNoStaleClaim) {
    const std::string name = testName("killed");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        const os::SingleInstance held(name);
        const char state = held.alreadyRunning() ? 'n' : 'y';
        if (::write(ready[1], &state, 1) != 1)
            ::_exit(2);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char state = 0;
    ASSERT_EQ(::read(ready[0], &state, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(state, 'y');
    {
        const os::SingleInstance whileHeld(name);
        EXPECT_TRUE(whileHeld.alreadyRunning());
    }
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const os::SingleInstance afterCrash(name);
    EXPECT_FALSE(afterCrash.alreadyRunning());
}

TEST(SingleInstance, NameTooLongStartsAsFirstInstance) {
    const std::string name(300, 'K');
    const os::SingleInstance first(name);
    const os::SingleInstance second(name);
    EXPECT_FALSE(first.alreadyRunning());
    EXPECT_FALSE(second.alreadyRunning());
}

} // namespace
