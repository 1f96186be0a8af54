// The Linux layer's use of kestrel-helper, run as an ordinary user next to a helper that holds
// its capabilities: a root listener gets its owner; a helper that dies is started once more,
// and after a second death the program scans by itself (and sees root's listener no more).
// As root the test copies itself and the helper into a folder of their own, gives the copy of
// the helper its capabilities and runs its own copy as nobody; that run does the checks.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "os/linux/HelperClient.h"
#include "os/linux/LinuxEndpoints.h"
#include "ui/TempDir.h"

using namespace os::linuxnet;

namespace {

constexpr const char* PortVariable = "KESTREL_TEST_ROOT_PORT";
constexpr const char* PidVariable = "KESTREL_TEST_ROOT_PID";

// The PID that owns the TCP listener on 127.0.0.1:`port` in one snapshot; -1 when not listed.
long ownerOfListener(std::uint16_t port) {
    std::vector<Endpoint> tcp;
    std::vector<Endpoint> udp;
    if (!collectEndpoints("/proc", Source::Auto, tcp, udp))
        return -1;
    for (const Endpoint& e : tcp) {
        if (e.state == 2 && e.localPort == port &&
            e.localAddr == std::array<std::uint8_t, 16>{127, 0, 0, 1})
            return e.pid;
    }
    return -1;
}

// This process's running kestrel-helper children.
std::vector<pid_t> helperChildren() {
    std::vector<pid_t> found;
    const std::string self = std::to_string(::getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, comm, state, ppid;
        if (stat >> pid >> comm >> state >> ppid && ppid == self && comm == "(kestrel-helper)" &&
            state != "Z")
            found.push_back(static_cast<pid_t>(std::stol(pid)));
    }
    return found;
}

void killHelper() {
    const std::vector<pid_t> helpers = helperChildren();
    ASSERT_EQ(helpers.size(), 1u);
    ASSERT_EQ(::kill(helpers[0], SIGKILL), 0);
    // Ended, though not yet waited for: the program finds out at its next request. A helper
    // with threads (as under a sanitizer) shows as a zombie while its other threads still hold
    // its socket: only the exit report to the parent, read without reaping, says it is gone.
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(helpers[0]), &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(info.si_pid, helpers[0]);
}

} // namespace

TEST(HelperClientAsUser, StartedOnceRestartedOnceThenOwnScan) {
    const char* port = std::getenv(PortVariable);
    const char* pid = std::getenv(PidVariable);
    if (port == nullptr || pid == nullptr)
        GTEST_SKIP() << "run by HelperClient.AsAnOrdinaryUser";
    const auto listener = static_cast<std::uint16_t>(std::stoi(port));
    const long root = std::stol(pid);
    ASSERT_NE(::getuid(), 0u);
    ASSERT_FALSE(os::linuxhelper::helperPath().empty());

    EXPECT_EQ(ownerOfListener(listener), root);
    EXPECT_EQ(ownerOfListener(listener), root);
    EXPECT_EQ(helperChildren().size(), 1u) << "one helper, kept between snapshots";

    killHelper();
    EXPECT_EQ(ownerOfListener(listener), root) << "restarted after its first death";
    killHelper();
    EXPECT_EQ(ownerOfListener(listener), 0) << "after a second death the own scan sees no owner";
    EXPECT_TRUE(helperChildren().empty());
    EXPECT_EQ(ownerOfListener(listener), 0);
}

TEST(HelperClient, AsAnOrdinaryUser) {
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to set file capabilities and run as nobody";
    TempDir dir;
    std::filesystem::permissions(
        dir.path(), std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                        std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                        std::filesystem::perms::others_exec);
    const std::string test = dir.path() + "/helper_client_test";
    const std::string helper = dir.path() + "/kestrel-helper";
    std::filesystem::copy_file("/proc/self/exe", test);
    std::filesystem::copy_file(KESTREL_HELPER_PATH, helper);
    ASSERT_EQ(std::system(("setcap cap_dac_read_search,cap_sys_ptrace=ep " + helper).c_str()), 0);

    const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(sock, 4), 0);
    ASSERT_EQ(::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &length), 0);

    const std::string command = std::string("env ") + PortVariable + "=" +
                                std::to_string(ntohs(addr.sin_port)) + " " + PidVariable + "=" +
                                std::to_string(::getpid()) +
                                " setpriv --reuid=65534 --regid=65534 --clear-groups " + test +
                                " --gtest_filter=HelperClientAsUser.*";
    FILE* run = ::popen((command + " 2>&1").c_str(), "r");
    ASSERT_NE(run, nullptr);
    std::string output;
    char buf[4096];
    while (const std::size_t n = std::fread(buf, 1, sizeof buf, run))
        output.append(buf, n);
    const int status = ::pclose(run);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << output;
    // It must have run, not skipped.
    EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
    EXPECT_EQ(output.find("SKIPPED"), std::string::npos) << output;
    ::close(sock);
}
