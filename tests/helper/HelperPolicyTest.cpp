// The helper's decisions before and during a scan: which capability sets it refuses, what a
// /proc mount hides from whom, and which holders a scan reports (on a procfs fixture).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>

#include "helper/HelperPolicy.h"
#include "helper/HelperScan.h"
#include "os/linux/LinuxProcesses.h"
#include "ui/TempDir.h"

using namespace helper;

TEST(HelperPolicy, CapabilitySets) {
    const std::uint64_t needed = neededCapabilities();
    EXPECT_EQ(needed, 1ull << CAP_DAC_READ_SEARCH | 1ull << CAP_SYS_PTRACE);
    struct Case {
        std::uint64_t permitted;
        std::uint64_t ambient;
        bool refused;
    } cases[] = {
        {0, 0, false},
        {needed, 0, false},
        {1ull << CAP_SYS_PTRACE, 0, false},
        {needed | 1ull << CAP_NET_ADMIN, 0, false},
        {1ull << CAP_NET_ADMIN, 0, false},
        {needed | 1ull << CAP_NET_ADMIN | 1ull << CAP_NET_RAW, 0, true},
        {1ull << CAP_SYS_ADMIN, 0, true},
        {1ull << CAP_SETPCAP, 0, true},
        {1ull << 40, 0, true},
        {~0ull, 0, true},
        {needed, 1ull << CAP_SYS_PTRACE, true},
        {0, 1ull << CAP_NET_BIND_SERVICE, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(capabilityRefusal(c.permitted, c.ambient).has_value(), c.refused)
            << std::hex << c.permitted << " " << c.ambient;
}

TEST(HelperPolicy, ClosesOnlyTheCallersOwnSockets) {
    EXPECT_EQ(closeCapability(), 1ull << CAP_NET_ADMIN);
    struct Case {
        std::uint32_t caller;
        std::uint32_t socket;
        bool allowed;
    } cases[] = {
        {1000, 1000, true}, {1000, 1001, false}, {1000, 0, false},           {0, 1000, true},
        {0, 0, true},       {65534, 0, false},   {1000, 0xFFFFFFFFu, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mayClose(c.caller, c.socket), c.allowed) << c.caller << " " << c.socket;
}

TEST(HelperPolicy, ProcMountOptions) {
    const std::string other = "21 1 0:20 / /sys rw,relatime shared:7 - sysfs sysfs rw\n";
    struct Case {
        std::string mountinfo;
        bool found;
        int hidepid;
        std::optional<std::uint32_t> gid;
    } cases[] = {
        {other + "22 1 0:21 / /proc rw,relatime shared:12 - proc proc rw\n", true, 0, {}},
        {"22 1 0:21 / /proc rw - proc proc rw,hidepid=2,gid=1001\n", true, 2, 1001u},
        {"22 1 0:21 / /proc rw shared:1 master:2 - proc proc rw,hidepid=invisible,gid=27", true, 2,
         27u},
        {"22 1 0:21 / /proc rw - proc proc rw,hidepid=noaccess\n", true, 1, {}},
        {"22 1 0:21 / /proc rw - proc proc rw,hidepid=ptraceable,gid=x\n", true, 4, {}},
        {"22 1 0:21 / /proc rw - proc proc rw,hidepid=off,subset=pid\n", true, 0, {}},
        // The last mount on /proc is the one seen.
        {"22 1 0:21 / /proc rw - proc proc rw,hidepid=2\n23 22 0:30 / /proc rw - proc proc rw\n",
         true,
         0,
         {}},
        // Not procfs, or not on /proc, or a line cut short.
        {"22 1 0:21 / /proc rw - tmpfs tmpfs rw,hidepid=2\n", false, 0, {}},
        {"22 1 0:21 / /proc/sys rw - proc proc rw,hidepid=2\n", false, 0, {}},
        {"22 1 0:21 / /proc rw - proc\n", false, 0, {}},
        {"", false, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mountinfo);
        const ProcMount mount = parseProcMount(c.mountinfo);
        EXPECT_EQ(mount.found, c.found);
        EXPECT_EQ(mount.hidepid, c.hidepid);
        EXPECT_EQ(mount.gid, c.gid);
    }
}

TEST(HelperPolicy, WhoSeesOtherUsers) {
    ProcMount open;
    open.found = true;
    EXPECT_FALSE(othersHidden(open, {1000}));

    ProcMount hidden = open;
    hidden.hidepid = 2;
    EXPECT_TRUE(othersHidden(hidden, {1000, 27}));
    hidden.gid = 27;
    EXPECT_FALSE(othersHidden(hidden, {1000, 27}));
    EXPECT_TRUE(othersHidden(hidden, {1000, 28}));
    hidden.hidepid = 1;
    EXPECT_TRUE(othersHidden(hidden, {1000}));

    // No mount table to read: hidden, to be safe.
    EXPECT_TRUE(othersHidden(ProcMount{}, {0}));
}

TEST(HelperPolicy, OwnedBy) {
    EXPECT_TRUE(ownedBy("Name:\tx\nUid:\t1000\t1000\t1000\t1000\nGid:\t5\t5\t5\t5\n", 1000));
    EXPECT_FALSE(ownedBy("Uid:\t1000\t0\t1000\t1000\n", 1000)); // set-user-ID
    EXPECT_FALSE(ownedBy("Uid:\t1000\t1000\t0\t1000\n", 1000));
    EXPECT_FALSE(ownedBy("Uid:\t0\t0\t0\t0\n", 1000));
    EXPECT_FALSE(ownedBy("Uid:\t1000\t1000\n", 1000));
    EXPECT_FALSE(ownedBy("Uid:\t1000x\t1000\t1000\t1000\n", 1000));
    EXPECT_FALSE(ownedBy("Name:\tx\n", 1000));
    EXPECT_FALSE(ownedBy("", 0));
}

namespace {

// A process folder of a procfs fixture.
void addProcess(const std::string& root, std::uint32_t pid, std::uint32_t uid,
                const std::string& exe, std::initializer_list<std::uint64_t> inodes,
                bool withStat = true) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(root) / std::to_string(pid);
    fs::create_directories(dir / "fd");
    if (withStat) {
        std::ofstream(dir / "stat") << pid << " (x y) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 "
                                    << pid * 10 << " 1000 100\n";
    }
    std::ofstream(dir / "status") << "Name:\tx\nUid:\t" << uid << "\t" << uid << "\t" << uid << "\t"
                                  << uid << "\n";
    if (!exe.empty())
        fs::create_symlink(exe, dir / "exe");
    int fd = 3;
    for (const std::uint64_t inode : inodes)
        fs::create_symlink("socket:[" + std::to_string(inode) + "]",
                           dir / "fd" / std::to_string(fd++));
    fs::create_symlink("/dev/null", dir / "fd" / std::to_string(fd));
}

} // namespace

TEST(HelperScan, HoldersWithStartTimeAndPath) {
    TempDir proc;
    addProcess(proc.path(), 1, 0, "/usr/lib/systemd/systemd", {100, 101});
    addProcess(proc.path(), 700, 0, "/usr/sbin/sshd (deleted)", {101, 102});
    addProcess(proc.path(), 900, 1000, "/usr/bin/python3.11", {103});
    addProcess(proc.path(), 950, 1000, "", {104}, false); // ended: no stat any more
    addProcess(proc.path(), 960, 1000, "", {});

    ScanResult all = scanSocketHolders(proc.path(), std::nullopt);
    ASSERT_EQ(all.processes.size(), 3u);
    EXPECT_EQ(all.processes[0].pid, 1u);
    EXPECT_EQ(all.processes[0].startTime, 10u);
    EXPECT_EQ(all.processes[1].exePath, "/usr/sbin/sshd");
    EXPECT_EQ(all.processes[2].exePath, "/usr/bin/python3.11");
    EXPECT_EQ(all.processes[2].startTime, 9000u);
    EXPECT_EQ(all.sockets.size(), 5u);
    EXPECT_TRUE(encodeScanReply(all));

    // Where other users are hidden: only the caller's own processes.
    ScanResult own = scanSocketHolders(proc.path(), 1000u);
    ASSERT_EQ(own.processes.size(), 1u);
    EXPECT_EQ(own.processes[0].pid, 900u);
    ASSERT_EQ(own.sockets.size(), 1u);
    EXPECT_EQ(own.sockets[0].inode, 103u);

    EXPECT_TRUE(scanSocketHolders(proc.path() + "/none", std::nullopt).processes.empty());
}

// A holder's start time is the one its scan read; a PID that a newer process took after the
// scan (before its path was read) is left out rather than given the newcomer's facts.
TEST(HelperScan, APidReusedAfterItsScanIsLeftOut) {
    TempDir proc;
    addProcess(proc.path(), 20, 0, "/usr/sbin/old", {200});
    addProcess(proc.path(), 30, 0, "/usr/sbin/kept", {300});
    addProcess(proc.path(), 40, 0, "/usr/sbin/during", {400});
    std::mutex lock;
    std::map<std::uint32_t, int> reads;
    // The stat files say 200, 300, 400; PID 20 is reused after its two reads in the scan, PID
    // 40 between them.
    const os::linuxnet::StartTimeReader reader = [&](int procFd,
                                                     std::uint32_t pid) -> std::uint64_t {
        int n = 0;
        {
            const std::lock_guard<std::mutex> guard(lock);
            n = ++reads[pid];
        }
        if ((pid == 20 && n > 2) || (pid == 40 && n > 1))
            return 999;
        return os::linuxproc::processStartTimeAt(procFd, pid);
    };
    const ScanResult result = scanSocketHolders(proc.path(), std::nullopt, reader);
    ASSERT_EQ(result.processes.size(), 1u);
    EXPECT_EQ(result.processes[0].pid, 30u);
    EXPECT_EQ(result.processes[0].startTime, 300u);
    EXPECT_EQ(result.processes[0].exePath, "/usr/sbin/kept");
    ASSERT_EQ(result.sockets.size(), 1u);
    EXPECT_EQ(result.sockets[0].inode, 300u);
    EXPECT_EQ(reads[20], 3);
    EXPECT_TRUE(encodeScanReply(result));
}
