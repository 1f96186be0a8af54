// Ending a process through the real kernel: a child that holds a socket is ended and its
// socket leaves the snapshot; a stale identity leaves the child alive.
#include <csignal>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "os/ProcessControl.h"
#include "os/Processes.h"
#include "os/linux/ProcessControlLinux.h"
#include "os/linux/SocketChild.h"
#include "snapshot/UnitGetTcpUdpTable.h"

namespace {

bool snapshotHoldsListener(pid_t pid, std::uint16_t port) {
    GetTcpUdpTable();
    for (const File_Rec& rec : TcpRecords) {
        if (rec.LocalAddr == "127.0.0.1" && rec.LocalPort == std::to_string(port) &&
            rec.PID == std::to_string(pid))
            return true;
    }
    return false;
}

std::uint64_t recordedStartTime(pid_t pid, std::uint16_t port) {
    GetTcpUdpTable();
    for (const File_Rec& rec : TcpRecords) {
        if (rec.LocalPort == std::to_string(port) && rec.PID == std::to_string(pid))
            return rec.ProcStartTime;
    }
    return 0;
}

TEST(EndProcess, EndsTheRecordedProcessAndItsSocketLeavesTheSnapshot) {
    SocketChild child(false);
    ASSERT_GT(child.pid(), 0);
    ASSERT_NE(child.port(), 0);
    const std::uint64_t identity = recordedStartTime(child.pid(), child.port());
    ASSERT_NE(identity, 0u) << "the snapshot records the owner's start time";

    EXPECT_EQ(os::EndProcess(static_cast<std::uint32_t>(child.pid()), identity),
              os::EndProcessResult::Ended);
    const pid_t pid = child.pid();
    const int status = child.reap();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_FALSE(snapshotHoldsListener(pid, child.port()));
}

TEST(EndProcess, KillsAProcessThatIgnoresTheRequest) {
    SocketChild child(true);
    ASSERT_GT(child.pid(), 0);
    const std::uint64_t identity = os::ProcessStartTime(static_cast<std::uint32_t>(child.pid()));
    ASSERT_NE(identity, 0u);

    EXPECT_EQ(os::EndProcess(static_cast<std::uint32_t>(child.pid()), identity),
              os::EndProcessResult::Ended);
    const int status = child.reap();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

TEST(EndProcess, AnotherIdentityLeavesTheProcessAlive) {
    SocketChild child(false);
    ASSERT_GT(child.pid(), 0);
    const auto pid = static_cast<std::uint32_t>(child.pid());
    const std::uint64_t identity = os::ProcessStartTime(pid);
    ASSERT_NE(identity, 0u);

    for (const std::uint64_t stale : {identity - 1, identity + 1, std::uint64_t{0}})
        EXPECT_EQ(os::EndProcess(pid, stale), os::EndProcessResult::IdentityMismatch) << stale;
    EXPECT_TRUE(child.alive());
    EXPECT_TRUE(snapshotHoldsListener(child.pid(), child.port()));
}

TEST(EndProcess, GoneProcessIsReported) {
    pid_t pid = 0;
    std::uint64_t identity = 0;
    {
        SocketChild child(false);
        ASSERT_GT(child.pid(), 0);
        pid = child.pid();
        identity = os::ProcessStartTime(static_cast<std::uint32_t>(pid));
    } // killed and reaped here
    const os::EndProcessResult result = os::EndProcess(static_cast<std::uint32_t>(pid), identity);
    // The ID may already belong to a newcomer; either way nothing of ours is ended.
    EXPECT_TRUE(result == os::EndProcessResult::Gone ||
                result == os::EndProcessResult::IdentityMismatch);
    EXPECT_EQ(os::EndProcess(0, 1), os::EndProcessResult::Gone);
}

TEST(EndProcess, AnotherUsersProcessIsNotPermitted) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the attempt as an unprivileged user";
    SocketChild target(false);
    ASSERT_GT(target.pid(), 0);
    const auto pid = static_cast<std::uint32_t>(target.pid());
    const std::uint64_t identity = os::ProcessStartTime(pid);

    const pid_t attacker = ::fork();
    ASSERT_GE(attacker, 0);
    if (attacker == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        ::_exit(static_cast<int>(os::EndProcess(pid, identity)));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(attacker, &status, 0), attacker);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 100)
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(os::EndProcessResult::NotPermitted));
    EXPECT_TRUE(target.alive());
}

// The path for kernels without pidfd_open, forced.
TEST(EndProcessWithoutPidFd, EndsOnlyTheRecordedProcess) {
    SocketChild child(false);
    ASSERT_GT(child.pid(), 0);
    const std::uint64_t identity = os::ProcessStartTime(static_cast<std::uint32_t>(child.pid()));
    ASSERT_NE(identity, 0u);

    EXPECT_EQ(os::EndProcessWithoutPidFd(child.pid(), identity + 1),
              os::EndProcessResult::IdentityMismatch);
    EXPECT_TRUE(child.alive());

    EXPECT_EQ(os::EndProcessWithoutPidFd(child.pid(), identity), os::EndProcessResult::Ended);
    const int status = child.reap();
    EXPECT_TRUE(WIFSIGNALED(status));
}

} // namespace
