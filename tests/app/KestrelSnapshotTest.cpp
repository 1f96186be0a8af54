// The kestrel-snapshot program as a user runs it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
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

// kestrel-snapshot --follow on a pipe, read line by line as it writes.
class FollowRun {
public:
    explicit FollowRun(const std::vector<std::string>& args) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            std::vector<char*> argv{const_cast<char*>(KESTREL_SNAPSHOT_PATH),
                                    const_cast<char*>("--follow")};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(KESTREL_SNAPSHOT_PATH, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~FollowRun() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        closeOutput();
        if (m_err >= 0)
            ::close(m_err);
    }
    FollowRun(const FollowRun&) = delete;
    FollowRun& operator=(const FollowRun&) = delete;

    // The next line that contains every one of `parts`, within a few seconds; empty if none.
    std::string lineWith(const std::vector<std::string>& parts,
                         std::chrono::milliseconds within = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        for (;;) {
            std::size_t end;
            while ((end = m_buffer.find('\n')) != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                bool all = true;
                for (const std::string& p : parts)
                    all = all && line.find(p) != std::string::npos;
                if (all)
                    return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return {};
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return {};
            char chunk[4096];
            const ssize_t n = ::read(m_out, chunk, sizeof chunk);
            if (n <= 0)
                return {};
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    void closeOutput() {
        if (m_out >= 0)
            ::close(m_out);
        m_out = -1;
    }
    // Exit status after `signal` (0: none sent), and what it wrote to standard error.
    int finish(int signal, std::string& err) {
        if (signal != 0)
            ::kill(m_pid, signal);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        err = slurpPipe(m_err);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    static std::string slurpPipe(int fd) {
        std::string text;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0)
            text.append(buf, static_cast<std::size_t>(n));
        return text;
    }
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_buffer;
};

struct LoopbackPair {
    int client = -1;
    int accepted = -1;
    std::string clientPort;
    LoopbackPair() {
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(server, 1) != 0 ||
            ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return;
        accepted = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(server);
        sockaddr_in b{};
        len = sizeof b;
        ::getsockname(client, reinterpret_cast<sockaddr*>(&b), &len);
        clientPort = std::to_string(ntohs(b.sin_port));
    }
    void close() {
        ::close(client);
        ::close(accepted);
    }
};

// Connections before the start (their owner known, their beginning not), after it (opened
// at a refresh) and between two refreshes (no owner), each logged once as it ends; SIGTERM
// ends the program with status 0.
TEST(KestrelSnapshotFollowTest, PrintsEachEventAsItHappensAsJson) {
    LoopbackPair before;
    ASSERT_GE(before.accepted, 0);
    FollowRun run({"--format", "json", "--interval", "1"});
    const std::string pid = "\"pid\":" + std::to_string(::getpid());
    // The first snapshot only learns what there is: connections are made until one made after
    // it is logged as opened by a refresh.
    std::vector<std::unique_ptr<LoopbackPair>> made;
    std::string opened;
    for (int attempt = 0; attempt < 20 && opened.empty(); ++attempt) {
        made.push_back(std::make_unique<LoopbackPair>());
        ASSERT_GE(made.back()->accepted, 0);
        opened = run.lineWith(
            {"\"event\":\"open\"", "\"local_port\":" + made.back()->clientPort + ",", pid},
            std::chrono::milliseconds(1500));
    }
    ASSERT_FALSE(opened.empty());
    LoopbackPair& after = *made.back();
    EXPECT_NE(opened.find("\"source\":\"refresh\""), std::string::npos) << opened;
    EXPECT_NE(opened.find("\"duration_ms\":null"), std::string::npos) << opened;

    before.close();
    const std::string endBefore =
        run.lineWith({"\"event\":\"close\"", "\"local_port\":" + before.clientPort + ","});
    ASSERT_FALSE(endBefore.empty());
    EXPECT_NE(endBefore.find(pid), std::string::npos) << endBefore;
    EXPECT_NE(endBefore.find("\"source\":\"announced\""), std::string::npos) << endBefore;
    EXPECT_NE(endBefore.find("\"duration_ms\":null"), std::string::npos) << endBefore;
    EXPECT_NE(endBefore.find("\"local_address\":\"127.0.0.1\""), std::string::npos);
    EXPECT_EQ(endBefore.front(), '{');
    EXPECT_EQ(endBefore.back(), '}');

    after.close();
    const std::string endAfter =
        run.lineWith({"\"event\":\"close\"", "\"local_port\":" + after.clientPort + ","});
    ASSERT_FALSE(endAfter.empty());
    EXPECT_NE(endAfter.find(pid), std::string::npos) << endAfter;
    EXPECT_EQ(endAfter.find("\"duration_ms\":null"), std::string::npos) << endAfter;

    LoopbackPair quick;
    ASSERT_GE(quick.accepted, 0);
    quick.close();
    const std::string endQuick =
        run.lineWith({"\"event\":\"close\"", "\"local_port\":" + quick.clientPort + ","});
    ASSERT_FALSE(endQuick.empty());
    EXPECT_NE(endQuick.find("\"pid\":0,\"name\":\"\",\"path\":\"\""), std::string::npos)
        << endQuick;

    std::string err;
    EXPECT_EQ(run.finish(SIGTERM, err), 0);
    EXPECT_EQ(err, "");
}

// Tab-separated lines; a reader that goes away ends the program quietly.
TEST(KestrelSnapshotFollowTest, TextLinesAndAClosedPipeEndsQuietly) {
    FollowRun run({});
    // Until the program listens, ends go unseen: connections are made until one is logged.
    std::string line;
    for (int attempt = 0; attempt < 20 && line.empty(); ++attempt) {
        LoopbackPair quick;
        ASSERT_GE(quick.accepted, 0);
        quick.close();
        line = run.lineWith({"\tclose\tannounced\tTCP\t", "\t" + quick.clientPort + "\t"},
                            std::chrono::milliseconds(500));
    }
    ASSERT_FALSE(line.empty());
    const std::vector<std::string> f = fields(line);
    ASSERT_EQ(f.size(), 15u) << line;
    EXPECT_EQ(f[5], "127.0.0.1");
    EXPECT_EQ(f[12], "0");

    run.closeOutput();
    LoopbackPair more;
    more.close();
    std::string err;
    EXPECT_EQ(run.finish(0, err), 0);
    EXPECT_EQ(err, "");
}

TEST(KestrelSnapshotFollowTest, FollowOptionsAloneOrOutOfRangeFail) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--format", "json"},
                                                 {"--follow", "--interval", "0"},
                                                 {"--follow", "--interval", "x"},
                                                 {"--follow", "--format", "xml"}}) {
        const RunResult run = runSnapshot(args);
        EXPECT_EQ(run.status, 1) << args[1];
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

} // namespace
