// The connection list over the real snapshot with thousands of loopback connections held by
// another process: every connection appears once with its owner, a refresh after half of them
// closed removes exactly those rows, and refreshes during constant churn never duplicate a
// row or let the counter drift from the rows shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include "list/ConnectionList.h"
#include "list/MemoryListControl.h"
#include "snapshot/UnitGetTcpUdpTable.h"

namespace {

// --- The child's side: plain system calls only, it never returns ---

int listenOnLoopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 4096) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        ::_exit(3);
    port = ntohs(addr.sin_port);
    return fd;
}

struct Connection {
    int client = -1;
    int server = -1;
    std::uint16_t clientPort = 0;
};

Connection connectPair(int listener, std::uint16_t port) {
    Connection c;
    c.client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    if (c.client < 0 || ::connect(c.client, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        ::_exit(4);
    c.server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    sockaddr_in self{};
    socklen_t len = sizeof self;
    if (c.server < 0 || ::getsockname(c.client, reinterpret_cast<sockaddr*>(&self), &len) != 0)
        ::_exit(5);
    c.clientPort = ntohs(self.sin_port);
    // Closed with a reset, also when the process is killed: no end lingers in TIME_WAIT, so a
    // closed connection leaves the tables at once, and none of these ports stays in use for
    // tests that run afterwards.
    const linger abort{1, 0};
    if (::setsockopt(c.client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort) != 0 ||
        ::setsockopt(c.server, SOL_SOCKET, SO_LINGER, &abort, sizeof abort) != 0)
        ::_exit(10);
    return c;
}

void resetPair(Connection& c) {
    ::close(c.client);
    ::close(c.server);
    c.client = c.server = -1;
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readAll(int fd, void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int connectionsThatFit(int wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const rlim_t room = limit.rlim_max == RLIM_INFINITY ? 1u << 20 : limit.rlim_max;
    return static_cast<int>(std::min<rlim_t>(static_cast<rlim_t>(wanted), (room - 64) / 2));
}

// A forked process holding loopback connections to its own listener. Commands are single bytes
// on a pipe; replies are binary on another.
class ConnectionHolder {
public:
    // 'h': reset every connection with an odd index, open `fresh` new ones, reply with the new
    // client ports. 'c': keep replacing the oldest connection until the next byte arrives.
    // End of input: exit.
    ConnectionHolder(int connections, int fresh) {
        int toChild[2];
        int fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(toChild[1]);
            ::close(fromChild[0]);
            runChild(toChild[0], fromChild[1], connections, fresh);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        m_toChild = toChild[1];
        m_fromChild = fromChild[0];
        if (m_pid < 0)
            return;
        m_clientPorts.resize(static_cast<std::size_t>(connections));
        m_started = readAll(m_fromChild, &m_port, sizeof m_port) &&
                    readAll(m_fromChild, m_clientPorts.data(),
                            m_clientPorts.size() * sizeof(std::uint16_t));
    }

    ~ConnectionHolder() {
        if (m_toChild >= 0)
            ::close(m_toChild);
        if (m_fromChild >= 0)
            ::close(m_fromChild);
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    ConnectionHolder(const ConnectionHolder&) = delete;
    ConnectionHolder& operator=(const ConnectionHolder&) = delete;

    bool started() const { return m_started; }
    pid_t pid() const { return m_pid; }
    std::uint16_t port() const { return m_port; }
    const std::vector<std::uint16_t>& clientPorts() const { return m_clientPorts; }

    bool closeOddHalf(int fresh, std::vector<std::uint16_t>& freshPorts) {
        const char command = 'h';
        freshPorts.resize(static_cast<std::size_t>(fresh));
        return writeAll(m_toChild, &command, 1) &&
               readAll(m_fromChild, freshPorts.data(), freshPorts.size() * sizeof(std::uint16_t));
    }

    bool startChurn() {
        const char command = 'c';
        char ack = 0;
        return writeAll(m_toChild, &command, 1) && readAll(m_fromChild, &ack, 1);
    }

    bool stopChurn() {
        const char command = 's';
        char ack = 0;
        return writeAll(m_toChild, &command, 1) && readAll(m_fromChild, &ack, 1);
    }

private:
    [[noreturn]] static void runChild(int commands, int replies, int connections, int fresh) {
        raiseDescriptorLimit();
        std::uint16_t port = 0;
        const int listener = listenOnLoopback(port);
        std::deque<Connection> held;
        std::vector<std::uint16_t> ports;
        for (int i = 0; i < connections; ++i) {
            held.push_back(connectPair(listener, port));
            ports.push_back(held.back().clientPort);
        }
        if (!writeAll(replies, &port, sizeof port) ||
            !writeAll(replies, ports.data(), ports.size() * sizeof(std::uint16_t)))
            ::_exit(6);
        char command = 0;
        while (readAll(commands, &command, 1)) {
            if (command == 'h') {
                // The fresh connections are made while the odd half still holds its ports, so
                // none can take over the ports of a connection that is then closed.
                const std::size_t before = held.size();
                std::vector<std::uint16_t> freshPorts;
                for (int i = 0; i < fresh; ++i) {
                    held.push_back(connectPair(listener, port));
                    freshPorts.push_back(held.back().clientPort);
                }
                for (std::size_t i = 1; i < before; i += 2)
                    resetPair(held[i]);
                if (!writeAll(replies, freshPorts.data(),
                              freshPorts.size() * sizeof(std::uint16_t)))
                    ::_exit(7);
            } else if (command == 'c') {
                const char ack = 'k';
                if (!writeAll(replies, &ack, 1))
                    ::_exit(8);
                pollfd p{commands, POLLIN, 0};
                while (::poll(&p, 1, 0) == 0) {
                    if (held.front().client >= 0)
                        resetPair(held.front());
                    held.pop_front();
                    held.push_back(connectPair(listener, port));
                }
            } else if (command == 's') {
                const char ack = 'k';
                if (!writeAll(replies, &ack, 1))
                    ::_exit(9);
            }
        }
        ::_exit(0);
    }

    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
    bool m_started = false;
    std::uint16_t m_port = 0;
    std::vector<std::uint16_t> m_clientPorts;
};

// --- The parent's side ---

using RowKey =
    std::tuple<std::string, std::string, std::string, std::string, std::string, std::string>;

RowKey keyOf(const TMyRec& r) {
    return {r.Protocol, r.PID, r.LocalAddr, r.LocalPort, r.RemoteAddr, r.RemotePort};
}

RowKey keyOf(const std::string& protocol, const File_Rec& r) {
    return {protocol, r.PID, r.LocalAddr, r.LocalPort, r.RemoteAddr, r.RemotePort};
}

struct Counters {
    std::size_t net = 0;
    std::size_t app = 0;
    int netCalls = 0;
};

ConnectionListHooks liveHooks(Counters& counters) {
    ConnectionListHooks hooks = systemSnapshotHooks();
    hooks.showLocal = [] { return true; };
    hooks.setNetCount = [&counters](std::size_t n) {
        counters.net = n;
        ++counters.netCalls;
    };
    hooks.setAppCount = [&counters](std::size_t n) { counters.app = n; };
    return hooks;
}

// The holder's rows by (local port, remote port), with every row of the holder counted.
struct HolderRows {
    std::map<std::pair<std::string, std::string>, std::vector<RowHandle>> byPorts;
    std::size_t total = 0;
};

HolderRows holderRows(const MemoryListControl& list, const ConnectionHolder& holder) {
    HolderRows rows;
    const std::string pid = std::to_string(holder.pid());
    for (RowHandle row = list.firstRow(); row != nullptr; row = list.nextRow(row)) {
        if (row->Rec.PID != pid)
            continue;
        ++rows.total;
        rows.byPorts[{row->Rec.LocalPort, row->Rec.RemotePort}].push_back(row);
    }
    return rows;
}

// Both ends of the holder's connection from `clientPort`: (client end, server end).
std::pair<std::pair<std::string, std::string>, std::pair<std::string, std::string>>
endsOf(std::uint16_t clientPort, std::uint16_t listenPort) {
    const std::string c = std::to_string(clientPort);
    const std::string s = std::to_string(listenPort);
    return {{c, s}, {s, c}};
}

// The list shows exactly the snapshot: the same multiset of keys, so no endpoint is shown
// twice or left out, and the counter equals the rows shown.
void expectListMatchesSnapshot(const MemoryListControl& list, const Counters& counters, int round) {
    std::map<RowKey, int> balance;
    for (const File_Rec& r : TcpRecords)
        ++balance[keyOf("TCP", r)];
    for (const File_Rec& r : UdpRecords)
        ++balance[keyOf("UDP", r)];
    std::size_t rows = 0;
    for (RowHandle row = list.firstRow(); row != nullptr; row = list.nextRow(row)) {
        --balance[keyOf(row->Rec)];
        ++rows;
    }
    int mismatches = 0;
    for (const auto& [key, count] : balance) {
        if (count != 0 && ++mismatches <= 5)
            ADD_FAILURE() << "round " << round << ": " << std::get<0>(key) << " "
                          << std::get<2>(key) << ":" << std::get<3>(key) << " -> "
                          << std::get<4>(key) << ":" << std::get<5>(key) << " pid "
                          << std::get<1>(key) << (count > 0 ? " missing" : " shown too often")
                          << " (" << count << ")";
    }
    EXPECT_EQ(mismatches, 0) << "round " << round;
    EXPECT_EQ(rows, list.rowCount()) << "round " << round;
    EXPECT_EQ(counters.net, rows) << "round " << round;
    EXPECT_EQ(rows, TcpRecords.size() + UdpRecords.size()) << "round " << round;
}

} // namespace

TEST(ScaleLiveTest, RefreshAfterHalfTheConnectionsClosedRemovesExactlyThose) {
    const int connections = connectionsThatFit(2500);
    ASSERT_GT(connections, 100);
    constexpr int Fresh = 20;
    ConnectionHolder holder(connections, Fresh);
    ASSERT_TRUE(holder.started());

    MemoryListControl list;
    Counters counters;
    ConnectionList conn(list, liveHooks(counters));
    conn.FillList();

    // Every connection once from each end, with the holder's PID.
    HolderRows before = holderRows(list, holder);
    EXPECT_EQ(before.total, 2u * static_cast<std::size_t>(connections) + 1); // + the listener
    for (const std::uint16_t clientPort : holder.clientPorts()) {
        const auto [client, server] = endsOf(clientPort, holder.port());
        EXPECT_EQ(before.byPorts[client].size(), 1u) << "client port " << clientPort;
        EXPECT_EQ(before.byPorts[server].size(), 1u) << "client port " << clientPort;
    }
    EXPECT_EQ(counters.net, list.rowCount());

    // The selection and focus sit on a connection that survives (even indexes do).
    const auto kept = endsOf(holder.clientPorts()[2], holder.port());
    ASSERT_EQ(before.byPorts[kept.first].size(), 1u);
    const RowHandle selected = before.byPorts[kept.first].front();
    list.selectRow(selected);
    list.setFocusedRow(selected);

    std::vector<std::uint16_t> freshPorts;
    ASSERT_TRUE(holder.closeOddHalf(Fresh, freshPorts));
    conn.RefreshList();

    const HolderRows after = holderRows(list, holder);
    const std::size_t survivors = (static_cast<std::size_t>(connections) + 1) / 2;
    EXPECT_EQ(after.total, 2 * (survivors + Fresh) + 1);
    for (std::size_t i = 0; i < holder.clientPorts().size(); ++i) {
        const auto [client, server] = endsOf(holder.clientPorts()[i], holder.port());
        for (const auto& ends : {client, server}) {
            const auto it = after.byPorts.find(ends);
            if (i % 2 == 1) {
                EXPECT_TRUE(it == after.byPorts.end())
                    << "closed " << ends.first << "->" << ends.second << " still shown";
                continue;
            }
            ASSERT_TRUE(it != after.byPorts.end()) << ends.first << "->" << ends.second;
            ASSERT_EQ(it->second.size(), 1u);
            // The same row, not a new one with the same texts.
            EXPECT_EQ(it->second.front(), before.byPorts[ends].front());
            EXPECT_EQ(it->second.front()->Rec.Mark, "");
            EXPECT_EQ(it->second.front()->Rec.State, before.byPorts[ends].front()->Rec.State);
        }
    }
    for (const std::uint16_t clientPort : freshPorts) {
        const auto [client, server] = endsOf(clientPort, holder.port());
        for (const auto& ends : {client, server}) {
            const auto it = after.byPorts.find(ends);
            ASSERT_TRUE(it != after.byPorts.end()) << ends.first << "->" << ends.second;
            ASSERT_EQ(it->second.size(), 1u);
            EXPECT_EQ(it->second.front()->Rec.Mark, "add");
        }
    }
    EXPECT_EQ(list.selectedRow(), selected);
    EXPECT_EQ(list.focusedRow(), selected);
    EXPECT_EQ(counters.net, list.rowCount());
}

TEST(ScaleLiveTest, RefreshesDuringChurnNeverDuplicateRowsAndKeepTheCount) {
    const int connections = connectionsThatFit(1500);
    ASSERT_GT(connections, 100);
    ConnectionHolder holder(connections, 0);
    ASSERT_TRUE(holder.started());

    MemoryListControl list;
    Counters counters;
    ConnectionList conn(list, liveHooks(counters));
    conn.FillList();
    expectListMatchesSnapshot(list, counters, 0);

    ASSERT_TRUE(holder.startChurn());
    constexpr int Rounds = 25;
    const std::string holderPid = std::to_string(holder.pid());
    int churnedRows = 0;
    for (int round = 1; round <= Rounds; ++round) {
        // Selection somewhere in the middle, so that deletions around it are exercised.
        RowHandle row = list.firstRow();
        for (std::size_t i = 0; row != nullptr && i < list.rowCount() / 2; ++i)
            row = list.nextRow(row);
        list.selectRow(row);
        list.setFocusedRow(row);

        const int callsBefore = counters.netCalls;
        ASSERT_NO_THROW(conn.RefreshList());
        EXPECT_EQ(counters.netCalls, callsBefore + 1);
        expectListMatchesSnapshot(list, counters, round);
        if (list.rowCount() > 0) {
            EXPECT_NE(list.selectedRow(), nullptr) << "round " << round;
        }
        for (RowHandle r = list.firstRow(); r != nullptr; r = list.nextRow(r))
            churnedRows += r->Rec.PID == holderPid && r->Rec.Mark == "add" ? 1 : 0;
        if (HasFailure())
            break;
    }
    ASSERT_TRUE(holder.stopChurn());
    EXPECT_GT(churnedRows, 0) << "the holder's connections never changed between refreshes";

    // Quiet again: one more refresh still shows each of the holder's connections once.
    conn.RefreshList();
    expectListMatchesSnapshot(list, counters, Rounds + 1);
    const HolderRows rows = holderRows(list, holder);
    EXPECT_EQ(rows.total, 2u * static_cast<std::size_t>(connections) + 1);
    for (const auto& [ends, handles] : rows.byPorts)
        EXPECT_EQ(handles.size(), 1u) << ends.first << "->" << ends.second;
}
