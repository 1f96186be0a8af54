// The kestrel-snapshot program as a user runs it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(int fd) {
    std::string text;
    ::lseek(fd, 0, SEEK_SET);
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    return text;
}

RunResult runSnapshot(const std::vector<std::string>& args) {
    RunResult run;
    char outName[] = "/tmp/kestrel-snapshot-out-XXXXXX";
    char errName[] = "/tmp/kestrel-snapshot-err-XXXXXX";
    const int out = ::mkstemp(outName);
    const int err = ::mkstemp(errName);
    if (out < 0 || err < 0)
        return run;
    ::unlink(outName);
    ::unlink(errName);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(KESTREL_SNAPSHOT_PATH)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(KESTREL_SNAPSHOT_PATH, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(out);
    run.err = slurp(err);
    ::close(out);
    ::close(err);
    return run;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return out;
        start = tab + 1;
    }
}

TEST(KestrelSnapshotTest, HelpExplainsTheColumns) {
    for (const char* flag : {"--help", "-h"}) {
        const RunResult run = runSnapshot({flag});
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find("Usage: kestrel-snapshot"), std::string::npos);
        EXPECT_NE(run.out.find("setcap cap_dac_read_search,cap_sys_ptrace+ep"), std::string::npos);
        EXPECT_EQ(run.err, "");
    }
}

TEST(KestrelSnapshotTest, UnknownArgumentFailsWithOneLine) {
    const RunResult run = runSnapshot({"--bogus"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_NE(run.err.find("--bogus"), std::string::npos);
}

TEST(KestrelSnapshotTest, PrintsOwnListenerAndUdpSocketAsTabSeparatedLines) {
    const int tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(tcp, 0);
    ASSERT_GE(udp, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(tcp, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(tcp, 4), 0);
    ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const auto portOf = [](int fd) {
        sockaddr_in b{};
        socklen_t len = sizeof b;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&b), &len);
        return std::to_string(ntohs(b.sin_port));
    };
    const std::string tcpPort = portOf(tcp);
    const std::string udpPort = portOf(udp);

    const RunResult run = runSnapshot({});
    ::close(tcp);
    ::close(udp);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    std::istringstream lines(run.out);
    std::string line;
    bool sawUdp = false;
    bool foundTcp = false;
    bool foundUdp = false;
    const std::string pid = std::to_string(::getpid());
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = fields(line);
        ASSERT_EQ(f.size(), 11u) << line;
        ASSERT_TRUE(f[0] == "TCP" || f[0] == "UDP") << line;
        if (f[0] == "UDP") {
            sawUdp = true;
            EXPECT_EQ(f[1], "0");
            EXPECT_EQ(f[4], "");
            EXPECT_EQ(f[5], "");
        } else {
            EXPECT_FALSE(sawUdp) << "TCP line after the UDP lines";
        }
        if (f[0] == "TCP" && f[2] == "127.0.0.1" && f[3] == tcpPort) {
            foundTcp = true;
            EXPECT_EQ(f[1], "2");
            EXPECT_EQ(f[4], "0.0.0.0");
            EXPECT_EQ(f[5], "0");
            EXPECT_EQ(f[6], pid);
            EXPECT_EQ(f[7], "app_snapshot_test");
            EXPECT_NE(f[8].find("/app_snapshot_test"), std::string::npos);
        }
        if (f[0] == "UDP" && f[2] == "127.0.0.1" && f[3] == udpPort) {
            foundUdp = true;
            EXPECT_EQ(f[6], pid);
        }
    }
    EXPECT_TRUE(foundTcp);
    EXPECT_TRUE(foundUdp);
}

} // namespace
