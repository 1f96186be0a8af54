#include "os/ProcessControl.h"

#include "os/Processes.h"
#include "os/linux/ProcessControlLinux.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace os {
namespace {

using Clock = std::chrono::steady_clock;

// How long a process gets to end after SIGTERM, and how long we wait to see SIGKILL land
// (so that the refresh that follows no longer finds its sockets).
constexpr std::chrono::milliseconds TermGrace{2000};
constexpr std::chrono::milliseconds KillGrace{1000};

// Raw system calls: glibc's own wrappers are recent (2.36) and not declared for C++ there.
int pidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u));
}

int pidfdSendSignal(int pidfd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0u));
}

class PidFd {
public:
    explicit PidFd(int fd) : m_fd(fd) {}
    ~PidFd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PidFd(const PidFd&) = delete;
    PidFd& operator=(const PidFd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

EndProcessResult resultOfErrno(int error) {
    switch (error) {
    case ESRCH:
        return EndProcessResult::Gone;
    case EPERM:
    case EACCES:
        return EndProcessResult::NotPermitted;
    default:
        return EndProcessResult::Failed;
    }
}

// True once the process behind `pidfd` has exited (a zombie counts as exited).
bool waitForExit(int pidfd, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{pidfd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready > 0)
            return true;
        if (ready == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

EndProcessResult EndProcessWithoutPidFd(pid_t pid, std::uint64_t expectedStartTime) {
    if (ProcessStartTime(static_cast<std::uint32_t>(pid)) != expectedStartTime)
        return EndProcessResult::IdentityMismatch;
    if (::kill(pid, SIGTERM) != 0)
        return resultOfErrno(errno);

    const auto deadline = Clock::now() + TermGrace;
    while (Clock::now() < deadline) {
        if (ProcessStartTime(static_cast<std::uint32_t>(pid)) != expectedStartTime)
            return EndProcessResult::Ended;
        const timespec pause{0, 20 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    if (ProcessStartTime(static_cast<std::uint32_t>(pid)) != expectedStartTime)
        return EndProcessResult::Ended;
    if (::kill(pid, SIGKILL) != 0 && errno != ESRCH)
        return resultOfErrno(errno);
    return EndProcessResult::Ended;
}

EndProcessResult EndProcess(std::uint32_t pid, std::uint64_t expectedStartTime) {
    if (expectedStartTime == 0)
        return EndProcessResult::IdentityMismatch;
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT32_MAX))
        return EndProcessResult::Gone;

    const auto target = static_cast<pid_t>(pid);
    const int raw = pidfdOpen(target);
    if (raw < 0) {
        if (errno == ENOSYS)
            return EndProcessWithoutPidFd(target, expectedStartTime);
        return resultOfErrno(errno);
    }
    const PidFd pidfd(raw);

    // The pidfd pins the process that held the ID when it was opened. The recorded process
    // started before the record was taken, so if the ID still shows the recorded start time
    // now, the pidfd refers to that very process and the signal cannot reach a newcomer.
    if (ProcessStartTime(pid) != expectedStartTime)
        return EndProcessResult::IdentityMismatch;

    if (pidfdSendSignal(pidfd.get(), SIGTERM) != 0) {
        if (errno == ENOSYS)
            return EndProcessWithoutPidFd(target, expectedStartTime);
        return resultOfErrno(errno);
    }
    if (waitForExit(pidfd.get(), TermGrace))
        return EndProcessResult::Ended;

    if (pidfdSendSignal(pidfd.get(), SIGKILL) != 0) {
        // It ended on its own between the wait and the kill.
        if (errno == ESRCH)
            return EndProcessResult::Ended;
        return resultOfErrno(errno);
    }
    waitForExit(pidfd.get(), KillGrace);
    return EndProcessResult::Ended;
}

} // namespace os
