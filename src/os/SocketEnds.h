#pragma once
// The system's announcements of sockets that end (Linux: the sock_diag destroy groups), read on
// a thread of their own into a bounded queue, so that neither the kernel nor the window waits
// for the other. Windows announces nothing: there the listener never listens.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "os/Endpoints.h"

namespace os {

struct SocketEnd {
    // When the announcement was read: milliseconds since 1970 (UTC).
    std::int64_t timeMs = 0;
    // The socket as it ended: protocol, family, last state, addresses, ports, cookie and, for
    // TCP, the byte counters. The system names no owner, inode or user (pid 0, inode 0,
    // uid NoUserId).
    Endpoint endpoint;
};

struct SocketEndCounts {
    std::uint64_t received = 0;   // announcements read and queued
    std::uint64_t queueDrops = 0; // announcements read while the queue was full
    // Times the kernel said it dropped announcements for want of room (ENOBUFS); each stands
    // for one or more lost announcements.
    std::uint64_t kernelDrops = 0;
    std::uint64_t malformed = 0; // messages that could not be read
};

class SocketEndListener {
public:
    static constexpr std::size_t DefaultCapacity = 32768;

    // Starts listening, with room for `capacity` announcements not yet taken. When the system
    // refuses (Windows, Linux before 4.2, a sandbox), listening() is false and nothing runs.
    explicit SocketEndListener(std::size_t capacity = DefaultCapacity);
    ~SocketEndListener(); // stops the thread and waits for it
    SocketEndListener(const SocketEndListener&) = delete;
    SocketEndListener& operator=(const SocketEndListener&) = delete;

    bool listening() const;
    // Moves the queued announcements, oldest first, to the end of `out`; never waits. Returns
    // how many were moved.
    std::size_t take(std::vector<SocketEnd>& out);
    // Waits at most `timeout` until an announcement is queued; true when one is.
    bool wait(std::chrono::milliseconds timeout);
    SocketEndCounts counts() const;
    // CPU time the listening thread has used so far, in seconds; negative when unknown.
    double threadCpuSeconds() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace os
