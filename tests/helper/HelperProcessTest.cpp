// The real kestrel-helper against a parent that misbehaves: wrong arguments, no socket,
// random bytes, lengths at and past the limits, a request cut short, a parent that closes
// early, never reads, or dies. The helper must end with an error, never crash or hang, and
// never send anything but whole, well-formed messages. As root, also: the capability sets it
// refuses, and what its two capabilities let an ordinary user see.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "helper/HelperProtocol.h"
#include "ui/TempDir.h"

using namespace helper;
using namespace std::chrono_literals;

namespace {

constexpr uid_t Nobody = 65534;

// An exit status, or -1 when the process did not end in time (it is then killed).
int waitExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0)
            return -2;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return -1;
        }
        std::this_thread::sleep_for(10ms);
    }
}

struct Started {
    pid_t pid = -1;
    int fd = -1; // our end
};

// Starts `program` with `args` and our socket pair's other end on descriptor 3 (or `fd3`).
Started startHelper(const std::string& program, std::vector<std::string> args, int fd3 = -1) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fd3 >= 0 ? fd3 : pair[1], SocketFd);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        char* envp[] = {nullptr};
        ::execve(program.c_str(), argv.data(), envp);
        ::_exit(127);
    }
    ::close(pair[1]);
    return {pid, pair[0]};
}

Started startHelper() {
    return startHelper(KESTREL_HELPER_PATH, {VersionArgument});
}

// Everything the helper sent until it closed its end, within `limit`.
std::vector<std::uint8_t> readAll(int fd, std::chrono::milliseconds limit) {
    std::vector<std::uint8_t> all;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::uint8_t buf[65536];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        all.insert(all.end(), buf, buf + n);
    }
    return all;
}

// Splits what the helper sent into messages; "" when all are well-formed, whole helper
// messages (`partialLast`: the last one may be cut short, as by a send timeout).
std::string checkMessages(const std::vector<std::uint8_t>& bytes, std::size_t& count,
                          bool partialLast = false) {
    count = 0;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < HeaderSize)
            return partialLast ? "" : "a partial header";
        const auto header = decodeHeader(bytes.data() + at, Sender::Helper);
        if (!header)
            return "a header the helper may not send";
        at += HeaderSize;
        if (bytes.size() - at < header->length)
            return partialLast ? "" : "a partial message";
        const std::uint8_t* payload = bytes.data() + at;
        std::uint32_t flags = 0;
        ScanResult result;
        FailReason reason{};
        const bool ok = header->type == MessageType::Hello
                            ? decodeHello(payload, header->length, flags)
                        : header->type == MessageType::ScanReply
                            ? decodeScanReply(payload, header->length, result)
                            : decodeScanFailed(payload, header->length, reason);
        if (!ok || (count == 0) != (header->type == MessageType::Hello))
            return "a malformed message, or hello not first";
        at += header->length;
        ++count;
    }
    return "";
}

bool sendBytes(int fd, const std::vector<std::uint8_t>& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

// Runs `body` in a child process that plays the helper's parent, as `nobody` when this test
// runs as root (so that the helper starts with no capability unless its file grants them);
// the child's report ("" when all went well) is returned.
std::string asParent(const std::function<std::string()>& body, bool dropToNobody = true) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(report[0]);
        std::string result;
        if (dropToNobody && ::getuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0))
            result = "cannot become nobody";
        if (result.empty())
            result = body();
        const ssize_t ignored = ::write(report[1], result.data(), result.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(report[1]);
    std::string result;
    char buf[512];
    ssize_t n;
    while ((n = ::read(report[0], buf, sizeof buf)) > 0)
        result.append(buf, static_cast<std::size_t>(n));
    ::close(report[0]);
    if (waitExit(pid, 120s) != 0)
        result += " (the parent process failed)";
    return result;
}

std::string expectExit(Started helper, int code, std::chrono::milliseconds limit = 15s) {
    const int status = waitExit(helper.pid, limit);
    ::close(helper.fd);
    if (status != code)
        return "exit " + std::to_string(status) + " instead of " + std::to_string(code);
    return "";
}

// Reads the hello; its flags, or nullopt.
std::optional<std::uint32_t> readHello(int fd) {
    std::uint8_t bytes[HeaderSize + 4];
    std::size_t have = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (have < sizeof bytes && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::recv(fd, bytes + have, sizeof bytes - have, 0);
        if (n <= 0)
            return std::nullopt;
        have += static_cast<std::size_t>(n);
    }
    std::uint32_t flags = 0;
    const auto header = decodeHeader(bytes, Sender::Helper);
    if (have != sizeof bytes || !header || header->type != MessageType::Hello ||
        !decodeHello(bytes + HeaderSize, 4, flags))
        return std::nullopt;
    return flags;
}

// One scan through a started helper; nullopt on any failure.
std::optional<ScanResult> scanOnce(const Started& helper) {
    if (!sendBytes(helper.fd, encodeScanRequest()))
        return std::nullopt;
    std::uint8_t head[HeaderSize];
    std::vector<std::uint8_t> payload;
    std::size_t have = 0;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    std::optional<Header> header;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::size_t want = header ? header->length : HeaderSize;
        std::uint8_t* into = header ? payload.data() : head;
        if (have == want) {
            if (header)
                break;
            header = decodeHeader(head, Sender::Helper);
            if (!header || header->type != MessageType::ScanReply)
                return std::nullopt;
            payload.resize(header->length);
            have = 0;
            continue;
        }
        pollfd p{helper.fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::recv(helper.fd, into + have, want - have, 0);
        if (n <= 0)
            return std::nullopt;
        have += static_cast<std::size_t>(n);
    }
    ScanResult result;
    if (!header || have != header->length ||
        !decodeScanReply(payload.data(), payload.size(), result))
        return std::nullopt;
    return result;
}

std::vector<std::uint8_t> rawHeader(std::uint32_t magic, std::uint16_t version, std::uint16_t type,
                                    std::uint32_t length) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(magic >> (8 * i)));
    bytes.push_back(static_cast<std::uint8_t>(version));
    bytes.push_back(static_cast<std::uint8_t>(version >> 8));
    bytes.push_back(static_cast<std::uint8_t>(type));
    bytes.push_back(static_cast<std::uint8_t>(type >> 8));
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    return bytes;
}

} // namespace

TEST(HelperProcess, ArgumentsOtherThanTheVersionAreRefused) {
    const std::vector<std::vector<std::string>> wrong = {{},
                                                         {"--protocol=2"},
                                                         {"--protocol=0"},
                                                         {"--protocol=1", "--protocol=1"},
                                                         {"--protocol=1", "/proc"},
                                                         {"--protocol=1 "},
                                                         {"1"},
                                                         {"--help"}};
    for (const auto& args : wrong) {
        SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(asParent([&] {
                      Started helper = startHelper(KESTREL_HELPER_PATH, args);
                      const std::vector<std::uint8_t> sent = readAll(helper.fd, 5s);
                      if (!sent.empty())
                          return std::string("it wrote to its socket");
                      return expectExit(helper, 2);
                  }),
                  "");
    }
}

TEST(HelperProcess, NoSocketOnDescriptor3) {
    EXPECT_EQ(asParent([] {
                  int pipeFds[2];
                  if (::pipe(pipeFds) != 0)
                      return std::string("no pipe");
                  Started helper = startHelper(KESTREL_HELPER_PATH, {VersionArgument}, pipeFds[0]);
                  ::close(pipeFds[0]);
                  ::close(pipeFds[1]);
                  return expectExit(helper, 4);
              }),
              "");
}

TEST(HelperProcess, ScansUntilTheParentCloses) {
    EXPECT_EQ(asParent([] {
                  Started helper = startHelper();
                  const auto flags = readHello(helper.fd);
                  if (!flags)
                      return std::string("no hello");
                  if (::getuid() == Nobody && (*flags & HelloCapabilities))
                      return std::string("capabilities claimed without any");
                  for (int i = 0; i < 3; ++i) {
                      if (!scanOnce(helper))
                          return "scan " + std::to_string(i) + " failed";
                  }
                  ::shutdown(helper.fd, SHUT_WR);
                  return expectExit(helper, 0);
              }),
              "");
}

TEST(HelperProcess, BadRequestsEndItWithoutAReply) {
    std::vector<std::vector<std::uint8_t>> requests = {
        rawHeader(Magic, ProtocolVersion, 2, 1),
        rawHeader(Magic, ProtocolVersion, 2, static_cast<std::uint32_t>(MaxMessage)),
        rawHeader(Magic, ProtocolVersion, 2, 0xffffffff),
        rawHeader(Magic, ProtocolVersion + 1, 2, 0),
        rawHeader(Magic, 0xffff, 2, 0),
        rawHeader(Magic ^ 0x01000000, ProtocolVersion, 2, 0),
        rawHeader(Magic, ProtocolVersion, 1, 4), // a hello, from the parent
        rawHeader(Magic, ProtocolVersion, 3, 8),
        rawHeader(Magic, ProtocolVersion, 0, 0),
    };
    std::mt19937 random(20261210);
    for (int i = 0; i < 12; ++i) {
        std::vector<std::uint8_t> noise(1 + random() % 4096);
        for (auto& byte : noise)
            byte = static_cast<std::uint8_t>(random());
        requests.push_back(noise);
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(asParent([&] {
                      Started helper = startHelper();
                      if (!readHello(helper.fd))
                          return std::string("no hello");
                      sendBytes(helper.fd, requests[i]);
                      const std::vector<std::uint8_t> after = readAll(helper.fd, 15s);
                      if (!after.empty())
                          return "it answered with " + std::to_string(after.size()) + " bytes";
                      return expectExit(helper, 5);
                  }),
                  "");
    }
}

TEST(HelperProcess, ARequestCutShortTimesOut) {
    EXPECT_EQ(asParent([] {
                  Started helper = startHelper();
                  if (!readHello(helper.fd))
                      return std::string("no hello");
                  std::vector<std::uint8_t> half = encodeScanRequest();
                  half.resize(HeaderSize - 1);
                  sendBytes(helper.fd, half);
                  return expectExit(helper, 5, 20s);
              }),
              "");
}

TEST(HelperProcess, AParentThatClosesEarly) {
    EXPECT_EQ(asParent([] {
                  Started helper = startHelper();
                  ::close(helper.fd);
                  const int status = waitExit(helper.pid, 15s);
                  // Gone before the hello was read (write failed) or right after (end).
                  if (status != 6 && status != 0)
                      return "exit " + std::to_string(status);
                  Started asked = startHelper();
                  if (!readHello(asked.fd) || !sendBytes(asked.fd, encodeScanRequest()))
                      return std::string("no hello");
                  ::close(asked.fd);
                  const int after = waitExit(asked.pid, 30s);
                  return after == 6 || after == 0 ? std::string() : "exit " + std::to_string(after);
              }),
              "");
}

TEST(HelperProcess, AParentThatNeverReads) {
    EXPECT_EQ(asParent([] {
                  // Sockets of the parent's own, so that every reply is some kilobytes long.
                  std::vector<int> held;
                  for (int i = 0; i < 400; ++i) {
                      int pair[2];
                      if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
                          break;
                      held.insert(held.end(), {pair[0], pair[1]});
                  }
                  Started helper = startHelper();
                  // Requests until the helper's replies fill the socket; nothing is read.
                  const std::vector<std::uint8_t> request = encodeScanRequest();
                  for (int i = 0; i < 400; ++i) {
                      if (::send(helper.fd, request.data(), request.size(),
                                 MSG_NOSIGNAL | MSG_DONTWAIT) !=
                          static_cast<ssize_t>(request.size()))
                          break;
                  }
                  const int status = waitExit(helper.pid, 120s);
                  const std::vector<std::uint8_t> sent = readAll(helper.fd, 2s);
                  ::close(helper.fd);
                  for (const int fd : held)
                      ::close(fd);
                  std::size_t count = 0;
                  const std::string problem = checkMessages(sent, count, true);
                  if (!problem.empty())
                      return problem;
                  // The buffer may just have held every reply; else the send timeout ended it.
                  if (status != 6 && !(status == -1 && count == 401))
                      return "exit " + std::to_string(status) + " after " + std::to_string(count) +
                             " messages";
                  return std::string();
              }),
              "");
}

TEST(HelperProcess, EndsWithItsParent) {
    // Orphans come to this process, so that the helper can be waited for.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0), 0);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t parent = ::fork();
    if (parent == 0) {
        if (::getuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0))
            ::_exit(1);
        Started helper = startHelper();
        const bool hello = readHello(helper.fd).has_value();
        const pid_t pid = hello ? helper.pid : -1;
        if (::write(report[1], &pid, sizeof pid) != sizeof pid)
            ::_exit(1);
        for (;;)
            ::pause(); // holds the socket open: only the parent's death can end the helper
    }
    ::close(report[1]);
    pid_t helperPid = -1;
    ASSERT_EQ(::read(report[0], &helperPid, sizeof helperPid),
              static_cast<ssize_t>(sizeof helperPid));
    ::close(report[0]);
    ASSERT_GT(helperPid, 0);
    ::kill(parent, SIGKILL);
    EXPECT_EQ(waitExit(parent, 10s), 128 + SIGKILL);
    // The parent's death signal and the end of its socket race: either ends the helper.
    const int status = waitExit(helperPid, 10s);
    EXPECT_TRUE(status == 128 + SIGKILL || status == 0) << "exit " << status;
    ::prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
}

// The rest needs root: file capabilities are set on a copy, and the helper is started as
// nobody with them.
class HelperCapabilities : public ::testing::Test {
protected:
    void SetUp() override {
        if (::getuid() != 0)
            GTEST_SKIP() << "needs root to set file capabilities";
        std::filesystem::permissions(m_dir.path(), std::filesystem::perms::all &
                                                       ~std::filesystem::perms::others_write &
                                                       ~std::filesystem::perms::group_write);
        m_copy = m_dir.path() + "/kestrel-helper";
        std::filesystem::copy_file(KESTREL_HELPER_PATH, m_copy);
    }
    bool setcap(const std::string& caps) {
        const std::string command = "setcap " + caps + " " + m_copy;
        return std::system(command.c_str()) == 0;
    }
    TempDir m_dir;
    std::string m_copy;
};

TEST_F(HelperCapabilities, RefusesMoreThanItsThree) {
    for (const char* caps :
         {"cap_dac_read_search,cap_sys_ptrace,cap_net_admin,cap_net_raw=ep", "cap_setpcap=p",
          "cap_dac_read_search,cap_sys_ptrace,cap_sys_admin=p"}) {
        SCOPED_TRACE(caps);
        ASSERT_TRUE(setcap(caps));
        EXPECT_EQ(asParent([&] {
                      Started helper = startHelper(m_copy, {VersionArgument});
                      if (!readAll(helper.fd, 5s).empty())
                          return std::string("it wrote to its socket");
                      return expectExit(helper, 3);
                  }),
                  "");
    }
}

TEST_F(HelperCapabilities, RefusesAnAmbientSet) {
    // Started by a process that keeps cap_sys_ptrace as nobody and raises it into the ambient
    // set: one of the helper's own two, but not given by its file.
    EXPECT_EQ(
        asParent(
            [&] {
                if (::prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0 || ::setgroups(0, nullptr) != 0 ||
                    ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
                    return std::string("cannot become nobody");
                __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
                __user_cap_data_struct data[2]{};
                data[0].permitted = data[0].effective = data[0].inheritable = 1u << CAP_SYS_PTRACE;
                if (::syscall(SYS_capset, &header, data) != 0 ||
                    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_SYS_PTRACE, 0, 0) != 0)
                    return std::string("cannot raise the ambient set");
                Started helper = startHelper(KESTREL_HELPER_PATH, {VersionArgument});
                if (!readAll(helper.fd, 5s).empty())
                    return std::string("it wrote to its socket");
                return expectExit(helper, 3);
            },
            false),
        "");
}

// Holds a listener of this (root) process, which nobody sees the owner of only through the
// helper.
class HelperView : public HelperCapabilities {
protected:
    void SetUp() override {
        HelperCapabilities::SetUp();
        if (IsSkipped())
            return;
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(m_listener, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(::listen(m_listener, 4), 0);
    }
    void TearDown() override {
        if (m_listener >= 0)
            ::close(m_listener);
    }

    // In the parent process: starts the helper copy and scans once. "" when the hello's flags
    // are `flags` and the reply names this process (with its path) exactly when `seen`.
    std::string scanFinds(std::uint32_t flags, bool seen) {
        const std::uint32_t self = static_cast<std::uint32_t>(::getppid());
        const std::string selfPath = std::filesystem::read_symlink("/proc/self/exe").string();
        Started helper = startHelper(m_copy, {VersionArgument});
        const auto hello = readHello(helper.fd);
        if (!hello)
            return "no hello";
        if (*hello != flags)
            return "hello flags " + std::to_string(*hello);
        const auto result = scanOnce(helper);
        ::close(helper.fd);
        waitExit(helper.pid, 15s);
        if (!result)
            return "no reply";
        bool found = false;
        for (const ProcessFacts& process : result->processes) {
            if (process.pid == self)
                found = process.exePath == selfPath && process.startTime != 0;
        }
        return found == seen ? "" : std::string(found ? "saw" : "missed") + " root's listener";
    }

    int m_listener = -1;
};

TEST_F(HelperView, ItsTwoShowOtherUsersSockets) {
    ASSERT_TRUE(setcap("cap_dac_read_search,cap_sys_ptrace=ep"));
    EXPECT_EQ(asParent([&] { return scanFinds(HelloCapabilities, true); }), "");
    ASSERT_TRUE(setcap("-r"));
    EXPECT_EQ(asParent([&] { return scanFinds(0, false); }), "");
}

TEST_F(HelperView, CapNetAdminIsToldButNotEffective) {
    ASSERT_TRUE(setcap("cap_dac_read_search,cap_net_admin,cap_sys_ptrace=ep"));
    EXPECT_EQ(asParent([&] { return scanFinds(HelloCapabilities | HelloCanClose, true); }), "");
    ASSERT_TRUE(setcap("cap_net_admin=ep"));
    EXPECT_EQ(asParent([&] { return scanFinds(HelloCanClose, false); }), "");
    // Between requests the helper holds cap_net_admin permitted only.
    ASSERT_TRUE(setcap("cap_dac_read_search,cap_net_admin,cap_sys_ptrace=ep"));
    EXPECT_EQ(asParent([&] {
                  Started helper = startHelper(m_copy, {VersionArgument});
                  if (!readHello(helper.fd))
                      return std::string("no hello");
                  std::ifstream status("/proc/" + std::to_string(helper.pid) + "/status");
                  std::string line;
                  std::string result = "no CapEff line";
                  while (std::getline(status, line)) {
                      if (line.starts_with("CapEff:") || line.starts_with("CapPrm:")) {
                          const std::uint64_t bits = std::stoull(line.substr(8), nullptr, 16);
                          const bool netAdmin = (bits >> CAP_NET_ADMIN) & 1u;
                          if (line.starts_with("CapEff:"))
                              result = netAdmin ? "cap_net_admin effective" : "";
                          else if (!netAdmin)
                              return std::string("cap_net_admin not permitted");
                      }
                  }
                  ::close(helper.fd);
                  waitExit(helper.pid, 15s);
                  return result;
              }),
              "");
}

TEST_F(HelperView, FollowsHidepid) {
    // A /proc of its own with the mount options of each case, in a mount namespace of the
    // parent process; the helper then runs as nobody (group nogroup, 65534) with its two.
    ASSERT_TRUE(setcap("cap_dac_read_search,cap_sys_ptrace=ep"));
    const struct Case {
        const char* options;
        bool hidden;
    } cases[] = {
        {"hidepid=2", true},  {"hidepid=invisible,gid=12345", true},
        {"hidepid=1", true},  {"hidepid=2,gid=65534", false},
        {"hidepid=0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        EXPECT_EQ(asParent(
                      [&] {
                          if (::unshare(CLONE_NEWNS) != 0 ||
                              ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                              ::mount("proc", "/proc", "proc", 0, c.options) != 0)
                              return std::string("cannot mount a /proc of its own");
                          if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 ||
                              ::setuid(Nobody) != 0)
                              return std::string("cannot become nobody");
                          return scanFinds(HelloCapabilities | (c.hidden ? HelloOthersHidden : 0),
                                           !c.hidden);
                      },
                      false),
                  "");
    }
}
