#pragma once
// A forked child that listens on 127.0.0.1 and waits to be ended; killed and reaped when the
// object goes. For tests that end a real process.
#include <arpa/inet.h>
#include <csignal>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

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
