// The single-instance claim against the real kernel and file system: lock files in the user's
// own runtime folder, and another local user who can neither block nor count.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/SingleInstance.h"

namespace {

namespace fs = std::filesystem;

// A name no real instance uses, different for every test process.
std::string testName(const char* what) {
    return std::string("KestrelTest-") + what + "-" + std::to_string(::getpid());
}

// Every test runs with a runtime folder of its own, as a desktop session gives one.
class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrel-instance-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_base = pattern;
        ASSERT_EQ(::chmod(pattern, 0711), 0);
        m_runtime = m_base / "runtime";
        ASSERT_EQ(::mkdir(m_runtime.c_str(), 0700), 0);
        ::setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (m_base / "cache").c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_base, ignored);
    }

    fs::path m_base;
    fs::path m_runtime;
};

TEST_F(SingleInstance, SecondClaimSeesTheFirstUntilItEnds) {
    const std::string name = testName("pair");
    {
        const os::SingleInstance first(name);
        EXPECT_FALSE(first.alreadyRunning());
        const os::SingleInstance second(name);
        EXPECT_TRUE(second.alreadyRunning());
        const os::SingleInstance other(name + "-other");
        EXPECT_FALSE(other.alreadyRunning());
    }
    const os::SingleInstance again(name);
    EXPECT_FALSE(again.alreadyRunning());
}

TEST_F(SingleInstance, KilledHolderLeavesNoStaleClaim) {
    const std::string name = testName("killed");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        const os::SingleInstance held(name);
        const char state = held.alreadyRunning() ? 'n' : 'y';
        if (::write(ready[1], &state, 1) != 1)
            ::_exit(2);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char state = 0;
    ASSERT_EQ(::read(ready[0], &state, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(state, 'y');
    {
        const os::SingleInstance whileHeld(name);
        EXPECT_TRUE(whileHeld.alreadyRunning());
    }
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const os::SingleInstance afterCrash(name);
    EXPECT_FALSE(afterCrash.alreadyRunning());
}

TEST_F(SingleInstance, NameTooLongStartsAsFirstInstance) {
    const std::string name(300, 'K');
    const os::SingleInstance first(name);
    const os::SingleInstance second(name);
    EXPECT_FALSE(first.alreadyRunning());
    EXPECT_FALSE(second.alreadyRunning());
}

// A display given as a path ("/run/user/1000/wayland-0") names one file, not folders.
TEST_F(SingleInstance, DisplayPathStaysOneFileInTheRuntimeFolder) {
    const std::string name = "Kestrel@/run/user/1000/wayland-0";
    const os::SingleInstance first(name);
    const os::SingleInstance second(name);
    EXPECT_FALSE(first.alreadyRunning());
    EXPECT_TRUE(second.alreadyRunning());
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(m_runtime)) {
        EXPECT_TRUE(entry.is_regular_file()) << entry.path();
        EXPECT_EQ(entry.path().filename().string().find('/'), std::string::npos);
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

// A runtime folder that others may enter or write is not trusted: the claim goes to the
// user's own folder in the cache folder, and still sees a second start.
TEST_F(SingleInstance, RuntimeFolderOpenToOthersIsNotUsed) {
    ASSERT_EQ(::chmod(m_runtime.c_str(), 0777), 0);
    const std::string name = testName("open");
    const os::SingleInstance first(name);
    const os::SingleInstance second(name);
    EXPECT_FALSE(first.alreadyRunning());
    EXPECT_TRUE(second.alreadyRunning());
    EXPECT_TRUE(fs::is_empty(m_runtime));
    const fs::path kept = m_base / "cache" / "kestrel";
    ASSERT_TRUE(fs::is_directory(kept));
    EXPECT_EQ(fs::status(kept).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_FALSE(fs::is_empty(kept));

    // Without any folder of its own the program starts as a first instance.
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("XDG_CACHE_HOME", m_runtime.c_str(), 1);
    ::mkdir((m_runtime / "kestrel").c_str(), 0777);
    ::chmod((m_runtime / "kestrel").c_str(), 0777);
    const os::SingleInstance unsure(name + "-unsure");
    const os::SingleInstance unsureAgain(name + "-unsure");
    EXPECT_FALSE(unsure.alreadyRunning());
    EXPECT_FALSE(unsureAgain.alreadyRunning());
}

// A user ID no account uses, from `from` upwards.
uid_t unusedUserId(uid_t from) {
    for (uid_t id = from;; ++id)
        if (::getpwuid(id) == nullptr && ::getgrgid(id) == nullptr)
            return id;
}

// A child process running `work` as user `id` with `runtime` as its runtime folder; it
// reports one byte, then waits to be killed when `stay` is true.
struct Child {
    pid_t pid = -1;
    int report = -1;

    char result() const {
        char state = 0;
        return ::read(report, &state, 1) == 1 ? state : '?';
    }
    void end(bool kill) {
        if (kill)
            ::kill(pid, SIGKILL);
        int status = 0;
        EXPECT_EQ(::waitpid(pid, &status, 0), pid);
        ::close(report);
    }
};

template <typename Work> Child runAs(uid_t id, const fs::path& runtime, bool stay, Work work) {
    int pipes[2];
    if (::pipe(pipes) != 0)
        return {};
    const pid_t child = ::fork();
    if (child != 0) {
        ::close(pipes[1]);
        return {child, pipes[0]};
    }
    ::close(pipes[0]);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (runtime / "cache").c_str(), 1);
    if (::setgroups(0, nullptr) != 0 || ::setresgid(id, id, id) != 0 ||
        ::setresuid(id, id, id) != 0)
        ::_exit(3);
    const char state = work();
    if (::write(pipes[1], &state, 1) != 1)
        ::_exit(2);
    while (stay)
        ::pause();
    ::_exit(0);
}

// Another local user binds the name the claim once used (an abstract socket named after the
// program, the display and the victim's user ID) and runs an instance of the same name
// itself: the victim still starts as a first instance, and its own second start is refused.
TEST_F(SingleInstance, AnotherUserCanNeitherBlockNorCount) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as two other users";
    const uid_t victim = unusedUserId(61000);
    const uid_t attacker = unusedUserId(victim + 1);
    const fs::path victimRuntime = m_base / "victim";
    const fs::path attackerRuntime = m_base / "attacker";
    for (const auto& [folder, owner] :
         {std::pair{victimRuntime, victim}, std::pair{attackerRuntime, attacker}}) {
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        ASSERT_EQ(::chown(folder.c_str(), owner, owner), 0);
    }
    const std::string name = testName("users") + "@:0";

    Child holder = runAs(attacker, attackerRuntime, true, [&] {
        static const os::SingleInstance own(name);
        const std::string old = name + "-" + std::to_string(victim);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, old.data(), old.size());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + old.size());
        const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
        return !own.alreadyRunning() && bound ? 'y' : 'n';
    });
    ASSERT_GT(holder.pid, 0);
    EXPECT_EQ(holder.result(), 'y') << "the other user's own instance and old-name socket";

    Child started = runAs(victim, victimRuntime, false, [&] {
        const os::SingleInstance first(name);
        const os::SingleInstance second(name);
        if (first.alreadyRunning())
            return 'b';
        return second.alreadyRunning() ? 'y' : 'c';
    });
    ASSERT_GT(started.pid, 0);
    EXPECT_EQ(started.result(), 'y') << "b: blocked by the other user, c: second start not refused";
    started.end(false);
    holder.end(true);
}

} // namespace
