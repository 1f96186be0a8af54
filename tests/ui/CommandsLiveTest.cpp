// "结束进程" through the window logic against the real system: the child's row is made from a
// real snapshot, the command ends the child and the refresh that follows drops its row; with
// a stale identity in the row the child lives on and the user hears "无法结束进程!".
// "断开连接" on a loopback connection of this process: the peer sees it aborted and the refresh
// that follows drops its row.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <linux/capability.h>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "os/ProcessControl.h"
#include "os/linux/SocketChild.h"
#include "ui/FakeComponents.h"
#include "ui/TempDir.h"
#include "ui/UnitFormKestrel.h"

namespace {

class CommandsLiveTest : public ::testing::Test {
protected:
    void create() {
        TFormKestrelServices services = systemFormServices();
        services.settingsFile = settings.file("Kestrel.ini");
        services.enableDebugPrivilege = [] { return false; };
        form = std::make_unique<TFormKestrel>(w.controls(), std::move(services));
        form->FormCreate();
        ASSERT_TRUE(w.Messages.errors.empty());
    }

    RowHandle rowOf(pid_t pid, std::uint16_t port) const {
        for (RowHandle row = w.VTS.firstRow(); row != nullptr; row = w.VTS.nextRow(row)) {
            if (row->Rec.PID == std::to_string(pid) && row->Rec.LocalPort == std::to_string(port))
                return row;
        }
        return nullptr;
    }

    void endFocused(RowHandle row) {
        w.VTS.selectRow(row);
        w.VTS.setFocusedRow(row);
        ui::dispatchEvent(w.Messages, [this] { w.BTNEndPro.click(); });
        // The end, then the refresh it asks for, run here in turn.
        w.Worker.runAll();
    }

    TempDir settings;
    FakeKestrelWindow w;
    std::unique_ptr<TFormKestrel> form;
};

TEST_F(CommandsLiveTest, EndedProcessLeavesTheList) {
    SocketChild child(false);
    ASSERT_GT(child.pid(), 0);
    create();
    const RowHandle row = rowOf(child.pid(), child.port());
    ASSERT_NE(row, nullptr);
    ASSERT_FALSE(row->Rec.ProcPath.empty());
    ASSERT_NE(row->Rec.ProcStartTime, 0u);

    endFocused(row);
    EXPECT_TRUE(w.Messages.messages.empty());
    EXPECT_TRUE(w.Messages.errors.empty());
    EXPECT_FALSE(child.alive());
    EXPECT_EQ(rowOf(child.pid(), child.port()), nullptr)
        << "the refresh after the end drops the row";
}

TEST_F(CommandsLiveTest, StaleIdentityLeavesTheProcessAlive) {
    SocketChild child(false);
    ASSERT_GT(child.pid(), 0);
    create();
    const RowHandle row = rowOf(child.pid(), child.port());
    ASSERT_NE(row, nullptr);
    // As if the row had been made for an earlier process that had this ID.
    row->Rec.ProcStartTime -= 1;

    endFocused(row);
    EXPECT_EQ(w.Messages.messages, std::vector<std::string>{"无法结束进程!"});
    EXPECT_TRUE(child.alive());
    EXPECT_NE(rowOf(child.pid(), child.port()), nullptr);
}

bool mayCloseConnections() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    return ::syscall(SYS_capget, &header, data) == 0 &&
           ((data[CAP_NET_ADMIN / 32].effective >> (CAP_NET_ADMIN % 32)) & 1u);
}

std::uint16_t portOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0
               ? ntohs(address.sin_port)
               : 0;
}

TEST_F(CommandsLiveTest, ClosedConnectionIsAbortedAndLeavesTheList) {
    if (!mayCloseConnections())
        GTEST_SKIP() << "needs CAP_NET_ADMIN (helper_client_test closes through the helper)";
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length), 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(server, 0);

    FakeMenuItem& closeItem = w.NCloseConnection;
    create();
    const RowHandle row = rowOf(::getpid(), portOf(client));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Rec.State, "已建立");
    w.VTS.selectRow(row);
    w.VTS.setFocusedRow(row);
    ui::dispatchEvent(w.Messages, [&] { form->VTSGetPopupMenu(row, 1, {1, 1}); });
    ASSERT_TRUE(closeItem.enabled());
    w.Messages.answers = {ui::Answer::Yes};
    ui::dispatchEvent(w.Messages, [&] { closeItem.click(); });
    w.Worker.runAll(); // the refresh it asks for
    EXPECT_TRUE(w.Messages.messages.empty());
    EXPECT_TRUE(w.Messages.errors.empty());
    char byte = 0;
    EXPECT_EQ(::recv(server, &byte, 1, MSG_DONTWAIT), -1);
    EXPECT_EQ(errno, ECONNRESET) << "the peer sees the connection aborted";
    EXPECT_EQ(rowOf(::getpid(), portOf(client)), nullptr) << "the refresh drops the row";
    // The peer's own row (this process, the listener's port) is no connection any more.
    for (RowHandle r = w.VTS.firstRow(); r != nullptr; r = w.VTS.nextRow(r)) {
        if (r->Rec.PID == std::to_string(::getpid()) &&
            r->Rec.RemotePort == std::to_string(portOf(client))) {
            EXPECT_NE(r->Rec.State, "已建立");
        }
    }
    for (int fd : {listener, client, server})
        ::close(fd);
}

// Sends `bytes` from `from` and reads them all at `to`.
bool pump(int from, int to, std::size_t bytes) {
    std::vector<char> buffer(64 * 1024, 'k');
    std::size_t sent = 0;
    std::size_t received = 0;
    while (received < bytes) {
        if (sent < bytes) {
            const ssize_t n =
                ::send(from, buffer.data(), std::min(buffer.size(), bytes - sent), MSG_DONTWAIT);
            if (n > 0)
                sent += static_cast<std::size_t>(n);
        }
        const ssize_t n = ::recv(to, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n > 0)
            received += static_cast<std::size_t>(n);
        else if (n == 0)
            return false;
    }
    return true;
}

TEST_F(CommandsLiveTest, SentMebibyteShowsInTheTrafficColumns) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length), 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(server, 0);
    ASSERT_TRUE(pump(client, server, 1 << 20));

    create();
    RowHandle row = rowOf(::getpid(), portOf(client));
    ASSERT_NE(row, nullptr);
    ASSERT_TRUE(row->Rec.Socket.hasByteCounters);
    EXPECT_GE(row->Rec.Socket.bytesAcked, 1u << 20);
    // At least 1.0 MB: "1.0 MB" and up, never in KB.
    EXPECT_NE(row->Rec.SentText.find(" MB"), std::string::npos) << row->Rec.SentText;
    EXPECT_EQ(row->Rec.SentText.rfind("1.", 0), 0u) << row->Rec.SentText;
    EXPECT_EQ(row->Rec.ReceivedText, "0 B");
    EXPECT_EQ(row->Rec.SendRateText, "");

    // Another 2 MiB before the next refresh: a rate above 0, at most 2 MiB over any interval of
    // a millisecond or more.
    ASSERT_TRUE(pump(client, server, 2 << 20));
    ui::dispatchEvent(w.Messages, [this] { w.BTNRefresh.click(); });
    w.Worker.runAll();
    row = rowOf(::getpid(), portOf(client));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Rec.SentText, "3.0 MB");
    EXPECT_GT(row->Rec.SendRate, 0);
    EXPECT_EQ(row->Rec.ReceiveRateText, "0 B/s");
    for (int fd : {listener, client, server})
        ::close(fd);
}

} // namespace
