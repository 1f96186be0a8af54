// Descriptions and icons on the live system: a Debian-packaged program run as a child process.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/FileVersion.h"
#include "os/IconNames.h"
#include "snapshot/UnitGetTcpUdpTable.h"

extern char** environ;

namespace {

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string ExeOf(pid_t pid) {
    char buffer[PATH_MAX];
    std::string link = "/proc/" + std::to_string(pid) + "/exe";
    ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

// A Python interpreter running `code` (by default: waiting until it is killed), its standard
// output readable line by line.
class PythonChild {
public:
    explicit PythonChild(const std::string& python,
                         std::string code = "import sys; sys.stdin.read()") {
        std::string program = python;
        std::string flag = "-c";
        char* argv[] = {program.data(), flag.data(), code.data(), nullptr};
        int input[2];
        int output[2];
        if (::pipe(input) != 0)
            return;
        if (::pipe(output) != 0) {
            ::close(input[0]);
            ::close(input[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, input[1]);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        if (::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
            m_pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        m_stdin = input[1];
        m_stdout = output[0];
    }
    ~PythonChild() {
        if (m_stdin >= 0)
            ::close(m_stdin);
        if (m_stdout >= 0)
            ::close(m_stdout);
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    pid_t pid() const { return m_pid; }

    // One line of the child's output, without its end; empty when the child ends first.
    std::string readLine() {
        std::string line;
        char c = 0;
        while (::read(m_stdout, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

private:
    pid_t m_pid = 0;
    int m_stdin = -1;
    int m_stdout = -1;
};

} // namespace

TEST(IconsLive, PackagedInterpreterProcessHasADescription) {
    std::string python = RealPath("/usr/bin/python3");
    if (python.empty())
        GTEST_SKIP() << "no /usr/bin/python3 on this system";
    PythonChild child(python);
    ASSERT_GT(child.pid(), 0);
    // The child shows the interpreter as its executable once exec has happened.
    std::string exe;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((exe = ExeOf(child.pid())) != python && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(exe, python);

    std::string description, company;
    EXPECT_TRUE(os::DescribeExecutable(exe, description, company));
    EXPECT_FALSE(description.empty());
    // Asked again, the kept answer is the same.
    std::string again, againCompany;
    os::DescribeExecutable(exe, again, againCompany);
    EXPECT_EQ(again, description);
    EXPECT_EQ(againCompany, company);
}

TEST(IconsLive, SnapshotRowOfAPackagedProgramHasADescription) {
    std::string python = RealPath("/usr/bin/python3");
    if (python.empty())
        GTEST_SKIP() << "no /usr/bin/python3 on this system";
    PythonChild child(python, "import socket, sys\n"
                              "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                              "s.bind(('127.0.0.1', 0))\n"
                              "print(s.getsockname()[1], flush=True)\n"
                              "sys.stdin.read()\n");
    ASSERT_GT(child.pid(), 0);
    const std::string port = child.readLine();
    ASSERT_FALSE(port.empty());

    GetTcpUdpTable();
    const File_Rec* row = nullptr;
    for (const File_Rec& rec : UdpRecords)
        if (rec.LocalPort == port && rec.PID == std::to_string(child.pid()))
            row = &rec;
    ASSERT_NE(row, nullptr) << "no UDP row for port " << port;
    EXPECT_EQ(row->ProcPath, python);
    EXPECT_FALSE(row->FileDesc.empty());
}

TEST(IconsLive, UnpackagedProgramWithoutEntryIsUnknown) {
    std::string self = ExeOf(::getpid());
    ASSERT_FALSE(self.empty());
    std::string description = "stale", company = "stale";
    EXPECT_FALSE(os::DescribeExecutable(self, description, company));
    EXPECT_EQ(description, "");
    EXPECT_EQ(company, "");
}

TEST(IconsLive, EveryPathGetsAStableIcon) {
    std::string self = ExeOf(::getpid());
    const std::string paths[] = {self, "/usr/bin/python3", "/nonexistent/folder/report.pdf",
                                 "/nonexistent/program", "/tmp"};
    for (const std::string& path : paths) {
        int index = os::SystemIconIndexOfPath(path);
        EXPECT_GE(index, 0) << path;
        EXPECT_EQ(os::SystemIconIndexOfPath(path), index) << path;
        EXPECT_FALSE(os::SystemIconName(index).empty()) << path;
    }
    EXPECT_EQ(os::IconNameOfPath(self), "application-x-executable");
    EXPECT_EQ(os::SystemIconIndexOfPath(""), -1);
}

TEST(IconRegistry, IndicesAreStableAndShared) {
    int first = os::SystemIconIndexOfName("kestrel-test-icon-a");
    int second = os::SystemIconIndexOfName("kestrel-test-icon-b");
    EXPECT_GE(first, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(os::SystemIconIndexOfName("kestrel-test-icon-a"), first);
    EXPECT_EQ(os::SystemIconName(first), "kestrel-test-icon-a");
    EXPECT_EQ(os::SystemIconIndexOfName(""), -1);
    EXPECT_EQ(os::SystemIconName(-1), "");
    EXPECT_EQ(os::SystemIconName(1 << 30), "");
}
