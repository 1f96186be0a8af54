// The Linux layer's use of kestrel-helper, run as an ordinary user next to a helper that holds
// its capabilities: a root listener gets its owner; a helper that dies is started once more,
// and after a second death the program scans by itself (and sees root's listener no more).
// As root the test copies itself and the helper into a folder of their own, gives the copy of
// the helper its capabilities and runs its own copy as nobody; that run does the checks.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "os/ConnectionControl.h"
#include "os/linux/HelperClient.h"
#include "os/linux/LinuxEndpoints.h"
#include "ui/TempDir.h"

using namespace os::linuxnet;

namespace {

constexpr const char* PortVariable = "KESTREL_TEST_ROOT_PORT";
constexpr const char* PeerPortVariable = "KESTREL_TEST_ROOT_PEER_PORT";
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

namespace {

std::uint16_t portOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0
               ? ntohs(address.sin_port)
               : 0;
}

// A connected pair on 127.0.0.1: {listener, client, server}.
std::vector<int> loopbackPair() {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (listener < 0 || client < 0 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length) != 0 ||
        ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return {};
    const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    return {listener, client, server};
}

// The established connection from 127.0.0.1:`local` to `remote` in a new snapshot.
std::optional<Endpoint> connectionRow(std::uint16_t local, std::uint16_t remote) {
    std::vector<Endpoint> tcp;
    std::vector<Endpoint> udp;
    if (!collectEndpoints("/proc", Source::Auto, tcp, udp))
        return std::nullopt;
    for (const Endpoint& e : tcp) {
        if (e.state == 5 && e.localPort == local && e.remotePort == remote)
            return e;
    }
    return std::nullopt;
}

int receiveError(int fd) {
    char byte = 0;
    return ::recv(fd, &byte, 1, MSG_DONTWAIT) < 0 ? errno : 0;
}

} // namespace

TEST(HelperClientCloseAsUser, ClosesTheUsersOwnConnectionOnly) {
    const char* port = std::getenv(PortVariable);
    const char* peer = std::getenv(PeerPortVariable);
    if (port == nullptr || peer == nullptr)
        GTEST_SKIP() << "run by HelperClient.ClosesOnlyTheCallersConnections";
    ASSERT_NE(::getuid(), 0u);
    const auto root = connectionRow(static_cast<std::uint16_t>(std::stoi(port)),
                                    static_cast<std::uint16_t>(std::stoi(peer)));
    ASSERT_TRUE(root);
    EXPECT_EQ(root->uid, 0u);
    EXPECT_EQ(os::CloseConnection(*root), os::CloseConnectionResult::NotPermitted)
        << "root's connection, through the helper";

    const std::vector<int> own = loopbackPair();
    ASSERT_EQ(own.size(), 3u);
    const auto mine = connectionRow(portOf(own[1]), portOf(own[2]));
    ASSERT_TRUE(mine);
    EXPECT_EQ(mine->uid, ::getuid());
    // The helper checks the socket it finds, not what it is told: a row claiming root's
    // connection under this user's ID is still root's.
    Endpoint claimed = *root;
    claimed.uid = ::getuid();
    EXPECT_EQ(os::CloseConnection(claimed), os::CloseConnectionResult::NotPermitted);
    EXPECT_EQ(os::CloseConnection(*mine), os::CloseConnectionResult::Closed);
    EXPECT_EQ(receiveError(own[2]), ECONNRESET) << "the peer sees the abort";
    EXPECT_FALSE(connectionRow(portOf(own[1]), portOf(own[2])));
    EXPECT_EQ(os::CloseConnection(*mine), os::CloseConnectionResult::Gone);
    EXPECT_EQ(helperChildren().size(), 1u);
    for (int fd : own)
        ::close(fd);
}

TEST(HelperClient, ClosesOnlyTheCallersConnections) {
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
    ASSERT_EQ(std::system(
                  ("setcap cap_dac_read_search,cap_sys_ptrace,cap_net_admin=ep " + helper).c_str()),
              0);
    const std::vector<int> rootPair = loopbackPair();
    ASSERT_EQ(rootPair.size(), 3u);

    const std::string command = std::string("env ") + PortVariable + "=" +
                                std::to_string(portOf(rootPair[1])) + " " + PeerPortVariable + "=" +
                                std::to_string(portOf(rootPair[2])) +
                                " setpriv --reuid=65534 --regid=65534 --clear-groups " + test +
                                " --gtest_filter=HelperClientCloseAsUser.*";
    FILE* run = ::popen((command + " 2>&1").c_str(), "r");
    ASSERT_NE(run, nullptr);
    std::string output;
    char buf[4096];
    while (const std::size_t n = std::fread(buf, 1, sizeof buf, run))
        output.append(buf, n);
    const int status = ::pclose(run);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
    EXPECT_EQ(output.find("SKIPPED"), std::string::npos) << output;
    // Root's connection still works.
    EXPECT_EQ(::send(rootPair[1], "x", 1, MSG_NOSIGNAL), 1);
    char byte = 0;
    EXPECT_EQ(::recv(rootPair[2], &byte, 1, 0), 1);
    for (int fd : rootPair)
        ::close(fd);
}
