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

// Started with this variable set, the test program only holds a loopback listener: it writes
// the port to standard output and ends when standard input closes.
const bool HoldListenerMode = [] {
    if (std::getenv("KESTREL_TEST_HOLD_LISTENER") == nullptr)
        return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd, 1) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        ::_exit(1);
    const std::string port = std::to_string(ntohs(a.sin_port)) + "\n";
    if (::write(1, port.data(), port.size()) != static_cast<ssize_t>(port.size()))
        ::_exit(1);
    char byte;
    while (::read(0, &byte, 1) > 0) {
    }
    ::_exit(0);
}();

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

TEST(KestrelSnapshotTest, OddCharactersInAPathAreEscapedOnOneLine) {
    ASSERT_FALSE(HoldListenerMode);
    char folderName[] = "/tmp/kestrel-odd-XXXXXX";
    ASSERT_NE(::mkdtemp(folderName), nullptr);
    const std::string folder = folderName;
    const std::string program = folder + "/odd\tname\\with\nbreak";
    {
        std::ifstream in("/proc/self/exe", std::ios::binary);
        std::ofstream out(program, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);

    int toChild[2];
    int fromChild[2];
    // Close-on-exec, so that neither end outlives its use in the programs started here.
    ASSERT_EQ(::pipe2(toChild, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(fromChild, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        ::setenv("KESTREL_TEST_HOLD_LISTENER", "1", 1);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    std::string port;
    char c;
    while (::read(fromChild[0], &c, 1) == 1 && c != '\n')
        port += c;
    const RunResult run = port.empty() ? RunResult{} : runSnapshot({});
    ::close(toChild[1]);
    ::close(fromChild[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::unlink(program.c_str());
    ::rmdir(folder.c_str());
    ASSERT_FALSE(port.empty()) << "the listener did not start";
    ASSERT_EQ(run.status, 0) << run.err;

    std::istringstream lines(run.out);
    std::string line;
    bool found = false;
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = fields(line);
        ASSERT_EQ(f.size(), 11u) << line;
        if (f[0] == "TCP" && f[2] == "127.0.0.1" && f[3] == port) {
            found = true;
            EXPECT_EQ(f[6], std::to_string(child));
            EXPECT_EQ(f[8], folder + "/odd\\tname\\\\with\\nbreak");
        }
    }
    EXPECT_TRUE(found);
}

} // namespace
