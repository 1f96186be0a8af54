// The kestrel-snapshot program as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
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

// A copy of this test program under `name` in a fresh folder, started to hold a loopback
// listener; ended, reaped and removed with its folder when the object goes.
class HeldListener {
public:
    explicit HeldListener(const std::string& name) {
        char folderName[] = "/tmp/kestrel-odd-XXXXXX";
        if (::mkdtemp(folderName) == nullptr)
            return;
        m_folder = folderName;
        m_program = m_folder + "/" + name;
        {
            std::ifstream in("/proc/self/exe", std::ios::binary);
            std::ofstream out(m_program, std::ios::binary);
            out << in.rdbuf();
        }
        if (::chmod(m_program.c_str(), 0755) != 0)
            return;
        int toChild[2];
        int fromChild[2];
        // Close-on-exec, so that neither end outlives its use in the programs started here.
        if (::pipe2(toChild, O_CLOEXEC) != 0)
            return;
        if (::pipe2(fromChild, O_CLOEXEC) != 0) {
            ::close(toChild[0]);
            ::close(toChild[1]);
            return;
        }
        m_child = ::fork();
        if (m_child == 0) {
            ::dup2(toChild[0], 0);
            ::dup2(fromChild[1], 1);
            ::setenv("KESTREL_TEST_HOLD_LISTENER", "1", 1);
            ::execl(m_program.c_str(), m_program.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        m_toChild = toChild[1];
        char c;
        while (m_child > 0 && ::read(fromChild[0], &c, 1) == 1 && c != '\n')
            m_port += c;
        ::close(fromChild[0]);
    }
    ~HeldListener() {
        if (m_toChild >= 0)
            ::close(m_toChild);
        if (m_child > 0) {
            int status = 0;
            ::waitpid(m_child, &status, 0);
        }
        if (!m_program.empty())
            ::unlink(m_program.c_str());
        if (!m_folder.empty())
            ::rmdir(m_folder.c_str());
    }
    HeldListener(const HeldListener&) = delete;
    HeldListener& operator=(const HeldListener&) = delete;

    const std::string& folder() const { return m_folder; }
    const std::string& port() const { return m_port; } // empty when it did not start
    pid_t pid() const { return m_child; }

private:
    std::string m_folder;
    std::string m_program;
    std::string m_port;
    pid_t m_child = -1;
    int m_toChild = -1;
};

TEST(KestrelSnapshotTest, OddCharactersInAPathAreEscapedOnOneLine) {
    ASSERT_FALSE(HoldListenerMode);
    const HeldListener held("odd\tname\\with\nbreak");
    ASSERT_FALSE(held.port().empty()) << "the listener did not start";
    const std::string folder = held.folder();
    const std::string port = held.port();
    const RunResult run = runSnapshot({});
    ASSERT_EQ(run.status, 0) << run.err;

    std::istringstream lines(run.out);
    std::string line;
    bool found = false;
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = fields(line);
        ASSERT_EQ(f.size(), 11u) << line;
        if (f[0] == "TCP" && f[2] == "127.0.0.1" && f[3] == port) {
            found = true;
            EXPECT_EQ(f[6], std::to_string(held.pid()));
            EXPECT_EQ(f[8], folder + "/odd\\tname\\\\with\\nbreak");
        }
    }
    EXPECT_TRUE(found);

    // The same path in the other formats: a quoted CSV field, a JSON string with its escapes.
    const std::string pid = std::to_string(held.pid());
    const RunResult csv = runSnapshot({"--format", "csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(csv.out.find("\r\nTCP,2,127.0.0.1," + port + ",0.0.0.0,0," + pid +
                           ",\"odd\tname\\with\n"
                           "break\",\"" +
                           folder + "/odd\tname\\with\nbreak\","),
              std::string::npos)
        << csv.out;
    const RunResult json = runSnapshot({"--format=json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("{\"protocol\":\"TCP\",\"state\":2,\"localAddress\":\"127.0.0.1\","
                            "\"localPort\":" +
                            port + ",\"remoteAddress\":\"0.0.0.0\",\"remotePort\":0,\"pid\":" +
                            pid + ",\"name\":\"odd\\tname\\\\with\\nbreak\",\"path\":\"" + folder +
                            "/odd\\tname\\\\with\\nbreak\","),
              std::string::npos)
        << json.out;
}

TEST(KestrelSnapshotTest, JsonTextIsUtf8WhateverThePathHolds) {
    ASSERT_FALSE(HoldListenerMode);
    // Valid Chinese text, a lone continuation byte, a cut sequence, an overlong "/", a
    // surrogate, a quote and a control character.
    const HeldListener held("网\x80x\xe4\xb8y\xc0\xafz\xed\xa0\x80\"\x01");
    ASSERT_FALSE(held.port().empty()) << "the listener did not start";
    const RunResult json = runSnapshot({"--format", "json"});
    ASSERT_EQ(json.status, 0) << json.err;
    const std::string fffd = "\xEF\xBF\xBD";
    const std::string name = "网" + fffd + "x" + fffd + fffd + "y" + fffd + fffd + "z" + fffd +
                             fffd + fffd + "\\\"\\u0001";
    EXPECT_NE(json.out.find("\"pid\":" + std::to_string(held.pid()) + ",\"name\":\"" + name +
                            "\",\"path\":\"" + held.folder() + "/" + name + "\""),
              std::string::npos)
        << json.out;
}

// This test's own sockets: an IPv4 and an IPv6 listener and an IPv6 UDP socket on loopback.
struct OwnSockets {
    OwnSockets() {
        tcp4 = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(tcp4, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(tcp4, 4), 0);
        tcp6 = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        udp6 = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 b{};
        b.sin6_family = AF_INET6;
        b.sin6_addr = in6addr_loopback;
        EXPECT_EQ(::bind(tcp6, reinterpret_cast<sockaddr*>(&b), sizeof b), 0);
        EXPECT_EQ(::listen(tcp6, 4), 0);
        EXPECT_EQ(::bind(udp6, reinterpret_cast<sockaddr*>(&b), sizeof b), 0);
    }
    ~OwnSockets() {
        for (const int fd : {tcp4, tcp6, udp6})
            ::close(fd);
    }
    static std::string portOf(int fd) {
        sockaddr_storage s{};
        socklen_t len = sizeof s;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&s), &len);
        const std::uint16_t port = s.ss_family == AF_INET6
                                       ? reinterpret_cast<sockaddr_in6*>(&s)->sin6_port
                                       : reinterpret_cast<sockaddr_in*>(&s)->sin_port;
        return std::to_string(ntohs(port));
    }
    int tcp4 = -1;
    int tcp6 = -1;
    int udp6 = -1;
};

TEST(KestrelSnapshotTest, Ipv6LinesOnlyWithTheOptionAndAfterTheIpv4Lines) {
    const OwnSockets own;
    const std::string pid = std::to_string(::getpid());
    const std::string tcp6Port = OwnSockets::portOf(own.tcp6);
    const std::string udp6Port = OwnSockets::portOf(own.udp6);
    for (const bool ipv6 : {false, true}) {
        SCOPED_TRACE(ipv6);
        const RunResult run = ipv6 ? runSnapshot({"--ipv6"}) : runSnapshot({"--format", "tsv"});
        ASSERT_EQ(run.status, 0) << run.err;
        std::istringstream lines(run.out);
        std::string line;
        const std::vector<std::string> order{"TCP", "UDP", "TCPv6", "UDPv6"};
        std::size_t last = 0;
        bool foundTcp4 = false, foundTcp6 = false, foundUdp6 = false;
        while (std::getline(lines, line)) {
            const std::vector<std::string> f = fields(line);
            ASSERT_EQ(f.size(), 11u) << line;
            const auto at = std::find(order.begin(), order.end(), f[0]);
            ASSERT_NE(at, order.end()) << line;
            const auto rank = static_cast<std::size_t>(at - order.begin());
            EXPECT_GE(rank, last) << line;
            last = rank;
            foundTcp4 |= f[0] == "TCP" && f[3] == OwnSockets::portOf(own.tcp4) && f[6] == pid;
            if (f[6] == pid && f[0] == "TCPv6" && f[3] == tcp6Port) {
                foundTcp6 = true;
                EXPECT_EQ(line, "TCPv6\t2\t::1\t" + tcp6Port + "\t::\t0\t" + pid + "\t" + f[7] +
                                    "\t" + f[8] + "\t" + f[9] + "\t" + f[10]);
                EXPECT_EQ(f[7], "app_snapshot_test");
            }
            if (f[6] == pid && f[0] == "UDPv6" && f[3] == udp6Port) {
                foundUdp6 = true;
                EXPECT_EQ(f[1], "0");
                EXPECT_EQ(f[2], "::1");
                EXPECT_EQ(f[4], "");
                EXPECT_EQ(f[5], "");
            }
        }
        EXPECT_TRUE(foundTcp4);
        EXPECT_EQ(foundTcp6, ipv6);
        EXPECT_EQ(foundUdp6, ipv6);
        if (!ipv6) {
            EXPECT_LE(last, 1u) << "no IPv6 line without --ipv6";
        }
    }
}

TEST(KestrelSnapshotTest, CsvAndJsonCarryTheSameEndpoints) {
    const OwnSockets own;
    const std::string pid = std::to_string(::getpid());
    const std::string tcp6Port = OwnSockets::portOf(own.tcp6);
    const std::string udp6Port = OwnSockets::portOf(own.udp6);

    const RunResult csv = runSnapshot({"--ipv6", "--format", "csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::string header = "protocol,state,localAddress,localPort,remoteAddress,remotePort,"
                               "pid,name,path,description,company\r\n";
    EXPECT_EQ(csv.out.substr(0, header.size()), header);
    EXPECT_NE(csv.out.find("\r\nTCPv6,2,::1," + tcp6Port + ",::,0," + pid + ",app_snapshot_test,"),
              std::string::npos);
    EXPECT_NE(csv.out.find("\r\nUDPv6,0,::1," + udp6Port + ",,," + pid + ",app_snapshot_test,"),
              std::string::npos);

    const RunResult json = runSnapshot({"--format", "json", "--ipv6"});
    ASSERT_EQ(json.status, 0) << json.err;
    ASSERT_GE(json.out.size(), 4u);
    EXPECT_EQ(json.out.substr(0, 2), "[\n");
    EXPECT_EQ(json.out.substr(json.out.size() - 3), "\n]\n");
    // One object a line: as many as the CSV has records.
    std::istringstream lines(json.out);
    std::string line;
    std::size_t objects = 0;
    while (std::getline(lines, line)) {
        if (line == "[" || line == "]")
            continue;
        ++objects;
        EXPECT_EQ(line.substr(0, 3), "  {") << line;
        EXPECT_TRUE(line.back() == '}' || line.substr(line.size() - 2) == "},") << line;
    }
    EXPECT_GT(objects, 2u);
    EXPECT_NE(json.out.find("{\"protocol\":\"TCPv6\",\"state\":2,\"localAddress\":\"::1\","
                            "\"localPort\":" +
                            tcp6Port + ",\"remoteAddress\":\"::\",\"remotePort\":0,\"pid\":" + pid +
                            ",\"name\":\"app_snapshot_test\",\"path\":\""),
              std::string::npos);
    EXPECT_NE(json.out.find("{\"protocol\":\"UDPv6\",\"state\":0,\"localAddress\":\"::1\","
                            "\"localPort\":" +
                            udp6Port +
                            ",\"remoteAddress\":null,\"remotePort\":null,\"pid\":" + pid + ","),
              std::string::npos);
}

TEST(KestrelSnapshotTest, BadFormatsFailWithOneLine) {
    const std::vector<std::vector<std::string>> cases{
        {"--format"}, {"--format", "xml"}, {"--format="}, {"--format", "JSON"}, {"--ipv6=1"}};
    for (const std::vector<std::string>& args : cases) {
        SCOPED_TRACE(args.back());
        const RunResult run = runSnapshot(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
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

    // Bytes written to standard output and not read yet.
    int unread() const {
        int n = 0;
        return ::ioctl(m_out, FIONREAD, &n) == 0 ? n : -1;
    }
    // As finish, but gives up (-2, killing it) when the program has not ended within `within`:
    // a hang guard, not a measure.
    int finishWithin(int signal, std::chrono::seconds within) {
        ::kill(m_pid, signal);
        const auto deadline = std::chrono::steady_clock::now() + within;
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return -2; // the destructor kills it
            ::usleep(10000);
        }
        m_pid = -1;
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
            {"\"event\":\"open\"", "\"localPort\":" + made.back()->clientPort + ",", pid},
            std::chrono::milliseconds(1500));
    }
    ASSERT_FALSE(opened.empty());
    LoopbackPair& after = *made.back();
    EXPECT_NE(opened.find("\"source\":\"refresh\""), std::string::npos) << opened;
    EXPECT_NE(opened.find("\"durationMs\":null"), std::string::npos) << opened;

    before.close();
    const std::string endBefore =
        run.lineWith({"\"event\":\"close\"", "\"localPort\":" + before.clientPort + ","});
    ASSERT_FALSE(endBefore.empty());
    EXPECT_NE(endBefore.find(pid), std::string::npos) << endBefore;
    EXPECT_NE(endBefore.find("\"source\":\"announced\""), std::string::npos) << endBefore;
    EXPECT_NE(endBefore.find("\"durationMs\":null"), std::string::npos) << endBefore;
    EXPECT_NE(endBefore.find("\"localAddress\":\"127.0.0.1\""), std::string::npos);
    EXPECT_EQ(endBefore.front(), '{');
    EXPECT_EQ(endBefore.back(), '}');

    after.close();
    const std::string endAfter =
        run.lineWith({"\"event\":\"close\"", "\"localPort\":" + after.clientPort + ","});
    ASSERT_FALSE(endAfter.empty());
    EXPECT_NE(endAfter.find(pid), std::string::npos) << endAfter;
    EXPECT_EQ(endAfter.find("\"durationMs\":null"), std::string::npos) << endAfter;

    LoopbackPair quick;
    ASSERT_GE(quick.accepted, 0);
    quick.close();
    const std::string endQuick =
        run.lineWith({"\"event\":\"close\"", "\"localPort\":" + quick.clientPort + ","});
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

// A reader that reads nothing fills the pipe and the program waits in its write; SIGTERM still
// ends it, with status 0.
TEST(KestrelSnapshotFollowTest, ASignalEndsItWhileItsOutputIsFull) {
    FollowRun run({});
    // Each closed pair is two lines of about 100 bytes; the pipe holds 64 KiB.
    for (int round = 0; round < 40 && run.unread() < 60 * 1024; ++round) {
        for (int i = 0; i < 100; ++i) {
            LoopbackPair pair;
            ASSERT_GE(pair.accepted, 0);
            pair.close();
        }
        ::usleep(300000);
    }
    ASSERT_GE(run.unread(), 60 * 1024) << "the output never filled the pipe";
    EXPECT_EQ(run.finishWithin(SIGTERM, std::chrono::seconds(20)), 0);
}

TEST(KestrelSnapshotFollowTest, FollowOptionsAloneOrOutOfRangeFail) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--interval", "5"},
                                                 {"--follow", "--interval", "0"},
                                                 {"--follow", "--interval", "x"},
                                                 {"--follow", "--interval"},
                                                 {"--follow", "--format", "xml"},
                                                 {"--follow", "--format", "csv"},
                                                 {"--follow", "--format="},
                                                 {"--follow", "--ipv6"}}) {
        const RunResult run = runSnapshot(args);
        EXPECT_EQ(run.status, 1) << args[1];
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

} // namespace
