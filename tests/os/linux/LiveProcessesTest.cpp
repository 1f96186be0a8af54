// Processes and capabilities on the live system.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <linux/capability.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "os/Privilege.h"
#include "os/Processes.h"
#include "snapshot/UnitGetTcpUdpTable.h"

namespace {

std::string selfExe() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// A child that has exited and been reaped: its PID is free.
pid_t goneProcess() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(LiveProcessesTest, OwnProcessIsInTheSnapshotWithItsExecutable) {
    std::vector<os::ProcessEntry> processes;
    ASSERT_TRUE(os::SnapshotProcesses(processes));
    const std::string exe = selfExe();
    const std::string name = exe.substr(exe.rfind('/') + 1);
    const auto self =
        std::find_if(processes.begin(), processes.end(), [](const os::ProcessEntry& p) {
            return p.pid == static_cast<std::uint32_t>(::getpid());
        });
    ASSERT_NE(self, processes.end());
    EXPECT_EQ(self->exeFile, name);
    EXPECT_EQ(GetProcessNameByPID(processes, static_cast<std::uint32_t>(::getpid())), name);
    EXPECT_EQ(os::ProcessImagePath(static_cast<std::uint32_t>(::getpid())), exe);
    EXPECT_NE(os::ProcessStartTime(static_cast<std::uint32_t>(::getpid())), 0u);
}

TEST(LiveProcessesTest, GoneOrUnknownProcessesGiveEmptyAnswers) {
    const pid_t gone = goneProcess();
    for (const std::uint32_t pid : {0u, static_cast<std::uint32_t>(gone), 0xFFFFFFF0u}) {
        SCOPED_TRACE(pid);
        EXPECT_EQ(os::ProcessImagePath(pid), "");
        EXPECT_EQ(os::ProcessStartTime(pid), 0u);
    }
}

TEST(LiveProcessesTest, StartTimeTellsAReusedPidApart) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    const std::uint64_t childStart = os::ProcessStartTime(static_cast<std::uint32_t>(child));
    const std::uint64_t ownStart = os::ProcessStartTime(static_cast<std::uint32_t>(::getpid()));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_NE(childStart, 0u);
    EXPECT_GE(childStart, ownStart);
    EXPECT_EQ(os::ProcessStartTime(static_cast<std::uint32_t>(child)), 0u);
}

TEST(LiveProcessesTest, DeletedExecutableKeepsItsPlainPath) {
    char dir[] = "/tmp/kestrel-exe-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string copy = std::string(dir) + "/sleeper";
    {
        std::ifstream in("/bin/sleep", std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_EQ(::chmod(copy.c_str(), 0755), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(copy.c_str(), "sleeper", "60", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(child, 0);
    // Wait until the child runs the copy, then remove the file under it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (os::ProcessImagePath(static_cast<std::uint32_t>(child)) != copy &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::unlink(copy.c_str());
    ::rmdir(dir);
    const std::string path = os::ProcessImagePath(static_cast<std::uint32_t>(child));
    std::vector<os::ProcessEntry> processes;
    os::SnapshotProcesses(processes);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(path, copy);
    EXPECT_EQ(GetProcessNameByPID(processes, static_cast<std::uint32_t>(child)), "sleeper");
}

// The capability bits of this process from /proc/self/status ("CapPrm", "CapEff").
std::uint64_t capabilitySet(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stoull(line.substr(key.size()), nullptr, 16);
    }
    return 0;
}

bool hasCap(std::uint64_t set, int cap) {
    return (set >> cap) & 1u;
}

TEST(LivePrivilegeTest, DebugPrivilegeFollowsThePermittedSet) {
    const std::uint64_t permitted = capabilitySet("CapPrm");
    const bool both = hasCap(permitted, CAP_SYS_PTRACE) && hasCap(permitted, CAP_DAC_READ_SEARCH);
    EXPECT_EQ(EnableDebugPrivilege(), both);
    const std::uint64_t effective = capabilitySet("CapEff");
    EXPECT_EQ(hasCap(effective, CAP_SYS_PTRACE), hasCap(permitted, CAP_SYS_PTRACE));
    EXPECT_EQ(hasCap(effective, CAP_DAC_READ_SEARCH), hasCap(permitted, CAP_DAC_READ_SEARCH));
    EXPECT_FALSE(SetPrivilege("cap_no_such_thing", true));
}

TEST(LivePrivilegeTest, PermittedCapabilityCanBeDroppedAndRaisedAgain) {
    if (!hasCap(capabilitySet("CapPrm"), CAP_SYS_PTRACE))
        GTEST_SKIP() << "cap_sys_ptrace is not permitted here";
    EXPECT_TRUE(os::AdjustOwnPrivilege("cap_sys_ptrace", false));
    EXPECT_FALSE(hasCap(capabilitySet("CapEff"), CAP_SYS_PTRACE));
    EXPECT_TRUE(os::AdjustOwnPrivilege("cap_sys_ptrace", true));
    EXPECT_TRUE(hasCap(capabilitySet("CapEff"), CAP_SYS_PTRACE));
}

} // namespace
