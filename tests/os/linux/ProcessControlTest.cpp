// Ending a process through the real kernel: a child that holds a socket is ended and its
// socket leaves the snapshot; a stale identity leaves the child alive.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "os/ProcessControl.h"
#include "os/Processes.h"
#include "snapshot/UnitGetTcpUdpTable.h"

namespace {

// A forked child listening on 127.0.0.1, reaped (or killed) when the object goes.
class SocketChild {
public:
    explicit SocketChild(bool ignoreTerm) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            if (ignoreTerm)
                ::signal(SIGTERM, SIG_IGN);
            const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t len = sizeof addr;
            std::uint16_t port = 0;
            if (sock >= 0 && ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                ::listen(sock, 1) == 0 &&
                ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
                port = ntohs(addr.sin_port);
            if (::write(fds[1], &port, sizeof port) != sizeof port)
                ::_exit(2);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        if (m_pid > 0 && ::read(fds[0], &m_port, sizeof m_port) != sizeof m_port)
            m_port = 0;
        ::close(fds[0]);
    }
    ~SocketChild() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    SocketChild(const SocketChild&) = delete;
    SocketChild& operator=(const SocketChild&) = delete;

    pid_t pid() const { return m_pid; }
    std::uint16_t port() const { return m_port; }

    // True while the child has not exited (a zombie counts as exited).
    bool alive() {
        if (m_pid <= 0)
            return false;
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_status = status;
            m_pid = -1;
            return false;
        }
        return done == 0;
    }
    // Reaps the child after it was ended; its exit status.
    int reap() {
        if (m_pid > 0) {
            ::waitpid(m_pid, &m_status, 0);
            m_pid = -1;
        }
        return m_status;
    }

private:
    pid_t m_pid = -1;
    std::uint16_t m_port = 0;
    int m_status = 0;
};

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

} // namespace
