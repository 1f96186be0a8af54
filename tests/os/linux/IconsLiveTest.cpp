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

// A Python interpreter that waits until it is killed.
class PythonChild {
public:
    explicit PythonChild(const std::string& python) {
        std::string program = python;
        std::string flag = "-c";
        std::string code = "import sys; sys.stdin.read()";
        char* argv[] = {program.data(), flag.data(), code.data(), nullptr};
        int ends[2];
        if (::pipe(ends) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
        posix_spawn_file_actions_addclose(&actions, ends[1]);
        if (::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
            m_pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[0]);
        m_stdin = ends[1];
    }
    ~PythonChild() {
        if (m_stdin >= 0)
            ::close(m_stdin);
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = 0;
    int m_stdin = -1;
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
