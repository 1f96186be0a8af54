// IPv6 rows through the window logic against the real kernel: this test's own sockets on ::1
// (a listener, a connection with both its ends, a UDP socket) and, beside them, IPv4 traffic on
// a dual-stack listener, which stays IPv4. Texts, marks across refreshes, sorting among the
// IPv4 rows, the loopback test, the clipboard report, the details dialog and the export.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "list/Columns.h"
#include "ui/ClipboardReport.h"
#include "ui/CommandComponents.h"
#include "ui/FakeComponents.h"
#include "ui/ListExport.h"
#include "ui/TempDir.h"
#include "ui/UnitFormKestrel.h"

namespace {

class Socket {
public:
    explicit Socket(int fd = -1) : m_fd(fd) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = other.m_fd;
            other.m_fd = -1;
        }
        return *this;
    }
    ~Socket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int fd() const { return m_fd; }

private:
    int m_fd;
};

std::uint16_t portOf(const Socket& s) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

sockaddr_in6 v6Address(const char* ip, std::uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    ::inet_pton(AF_INET6, ip, &a.sin6_addr);
    return a;
}

Socket bound6(int type, const char* ip, bool v6only) {
    Socket s(::socket(AF_INET6, type | SOCK_CLOEXEC, 0));
    const int flag = v6only ? 1 : 0;
    EXPECT_EQ(::setsockopt(s.fd(), IPPROTO_IPV6, IPV6_V6ONLY, &flag, sizeof flag), 0);
    const sockaddr_in6 a = v6Address(ip, 0);
    EXPECT_EQ(::bind(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    if (type == SOCK_STREAM) {
        EXPECT_EQ(::listen(s.fd(), 4), 0);
    }
    return s;
}

Socket connect6(std::uint16_t port) {
    Socket s(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in6 a = v6Address("::1", port);
    EXPECT_EQ(::connect(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    return s;
}

Socket connect4(std::uint16_t port) {
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    return s;
}

Socket acceptFrom(const Socket& listener) {
    return Socket(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
}

std::string selfExe() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

class RecordingClipboard : public ClipboardText {
public:
    void setText(const std::string& text) override { content = text; }
    std::string content;
};

class NoShell : public ShellRequests {
public:
    void openDocument(const std::string&) override {}
    void selectInFileManager(const std::string&) override {}
    void showProperties(const std::string&) override {}
};

class RecordingProcInfoView : public ProcInfoView {
public:
    explicit RecordingProcInfoView(std::map<ProcInfoControl, std::string>& shown)
        : m_shown(shown) {}
    void setText(ProcInfoControl control, const std::string& text) override {
        m_texts[control] = text;
    }
    void drawLargeIcon(int) override {}
    void showModal() override { m_shown = m_texts; }
    void closeDialog() override {}

private:
    std::map<ProcInfoControl, std::string>& m_shown;
    std::map<ProcInfoControl, std::string> m_texts;
};

class RecordingProcInfoDialogs : public ui::ProcInfoDialogs {
public:
    std::unique_ptr<ProcInfoView> createProcInfoView() override {
        return std::make_unique<RecordingProcInfoView>(shown);
    }
    std::map<ProcInfoControl, std::string> shown;
};

class IPv6LiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        listener = bound6(SOCK_STREAM, "::1", true);
        port = portOf(listener);
        client = connect6(port);
        server = acceptFrom(listener);
        clientPort = portOf(client);
        udp = bound6(SOCK_DGRAM, "::1", true);
        udpPort = portOf(udp);
        dualStack = bound6(SOCK_STREAM, "::", false);
        dualPort = portOf(dualStack);
        client4 = connect4(dualPort);
        server4 = acceptFrom(dualStack);
        client4Port = portOf(client4);
        ASSERT_GT(server.fd(), 0);
        ASSERT_GT(server4.fd(), 0);
        ASSERT_NE(udpPort, 0);

        TFormKestrelServices services = systemFormServices();
        services.settingsFile = settings.file("Kestrel.ini");
        services.enableDebugPrivilege = [] { return false; };
        form = std::make_unique<TFormKestrel>(w.controls(), std::move(services));
        TFormKestrelCommands commands;
        commands.Shell = &shell;
        commands.Clipboard = &clipboard;
        commands.ProcInfoDialogs = &dialogs;
        form->SetCommandComponents(commands);
        form->FormCreate();
        ASSERT_TRUE(w.Messages.errors.empty());
    }

    // This process's row of `protocol` with that local port and remote address, or nullptr.
    RowHandle ownRow(const std::string& protocol, std::uint16_t localPort,
                     const std::string& remoteAddr) const {
        for (RowHandle row = w.VTS.firstRow(); row != nullptr; row = w.VTS.nextRow(row)) {
            if (row->Rec.PID == pid && row->Rec.Protocol == protocol &&
                row->Rec.LocalPort == std::to_string(localPort) &&
                row->Rec.RemoteAddr == remoteAddr)
                return row;
        }
        return nullptr;
    }

    std::size_t rowsOf(const std::string& protocol) const {
        std::size_t n = 0;
        for (RowHandle row = w.VTS.firstRow(); row != nullptr; row = w.VTS.nextRow(row))
            n += row->Rec.Protocol == protocol ? 1 : 0;
        return n;
    }

    // A user's event, then the event loop until the work it started is done.
    void event(const std::function<void()>& handler) {
        ui::dispatchEvent(w.Messages, handler);
        w.Worker.runAll();
    }

    // "local:port>remote:port state mark" of a row.
    static std::string texts(RowHandle row) {
        const TMyRec& r = row->Rec;
        return r.LocalAddr + ":" + r.LocalPort + ">" + r.RemoteAddr + ":" + r.RemotePort + " " +
               r.State + " " + r.Mark;
    }

    Socket listener, client, server, udp, dualStack, client4, server4;
    std::uint16_t port = 0, clientPort = 0, udpPort = 0, dualPort = 0, client4Port = 0;
    const std::string pid = std::to_string(::getpid());
    TempDir settings;
    FakeKestrelWindow w;
    NoShell shell;
    RecordingClipboard clipboard;
    RecordingProcInfoDialogs dialogs;
    std::unique_ptr<TFormKestrel> form;
};

std::string n(std::uint16_t value) {
    return std::to_string(value);
}

TEST_F(IPv6LiveTest, RowsFromTheKernelWithTheOptionOnly) {
    EXPECT_FALSE(form->showIPv6());
    EXPECT_EQ(rowsOf("TCPv6") + rowsOf("UDPv6"), 0u) << "off by default";
    // IPv4 traffic on the dual-stack listener is IPv4, whatever the option.
    for (const bool on : {false, true}) {
        SCOPED_TRACE(on);
        event([&] { form->setShowIPv6(on); });
        const RowHandle dual = ownRow("TCP", dualPort, "0.0.0.0");
        ASSERT_NE(dual, nullptr);
        EXPECT_EQ(texts(dual), "0.0.0.0:" + n(dualPort) + ">0.0.0.0:0 监听 ");
        const RowHandle server4Row = ownRow("TCP", dualPort, "127.0.0.1");
        ASSERT_NE(server4Row, nullptr);
        EXPECT_EQ(texts(server4Row),
                  "127.0.0.1:" + n(dualPort) + ">127.0.0.1:" + n(client4Port) + " 已建立 ");
        ASSERT_NE(ownRow("TCP", client4Port, "127.0.0.1"), nullptr);
        for (const char* remote : {"::", "::ffff:127.0.0.1", "::1"})
            EXPECT_EQ(ownRow("TCPv6", dualPort, remote), nullptr) << remote;
    }

    const std::string exe = selfExe();
    const std::string name = exe.substr(exe.rfind('/') + 1);
    struct Expected {
        const char* protocol;
        std::uint16_t localPort;
        const char* remote;
        std::string texts;
    };
    const Expected expected[] = {
        {"TCPv6", port, "::", "::1:" + n(port) + ">:::0 监听 add"},
        {"TCPv6", clientPort, "::1", "::1:" + n(clientPort) + ">::1:" + n(port) + " 已建立 add"},
        {"TCPv6", port, "::1", "::1:" + n(port) + ">::1:" + n(clientPort) + " 已建立 add"},
        {"UDPv6", udpPort, "", "::1:" + n(udpPort) + ">:  add"},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.texts);
        const RowHandle row = ownRow(e.protocol, e.localPort, e.remote);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(texts(row), e.texts);
        EXPECT_EQ(row->Rec.ProcPath, exe);
        EXPECT_EQ(row->Rec.ProcName, name);
        EXPECT_NE(row->Rec.ProcStartTime, 0u);
    }
    // At the next refresh the TCP marks go, the UDP one stays; the rows are the same rows.
    const RowHandle listenerRow = ownRow("TCPv6", port, "::");
    const RowHandle udpRow = ownRow("UDPv6", udpPort, "");
    event([&] { w.BTNRefresh.click(); });
    EXPECT_EQ(ownRow("TCPv6", port, "::"), listenerRow);
    EXPECT_EQ(ownRow("UDPv6", udpPort, ""), udpRow);
    EXPECT_EQ(listenerRow->Rec.Mark, "");
    EXPECT_EQ(ownRow("TCPv6", clientPort, "::1")->Rec.Mark, "");
    EXPECT_EQ(udpRow->Rec.Mark, "add");

    // A closed connection leaves at the next refresh.
    client = Socket();
    server = Socket();
    event([&] { w.BTNRefresh.click(); });
    const RowHandle closing = ownRow("TCPv6", clientPort, "::1");
    if (closing != nullptr) {
        EXPECT_NE(closing->Rec.State, "已建立") << "only a closing state may linger";
    }

    event([&] { form->setShowIPv6(false); });
    EXPECT_EQ(rowsOf("TCPv6") + rowsOf("UDPv6"), 0u);
    EXPECT_NE(ownRow("TCP", dualPort, "0.0.0.0"), nullptr);
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(IPv6LiveTest, SortedAmongTheIPv4Rows) {
    event([&] { form->setShowIPv6(true); });
    // Two clicks on the protocol header: descending, then ascending.
    event([&] { form->VTSHeaderClick(ColumnProtocol); });
    event([&] { form->VTSHeaderClick(ColumnProtocol); });
    ASSERT_EQ(w.VTS.sortDirection(), SortDirection::Ascending);
    const std::map<std::string, int> rank{{"TCP", 0}, {"TCPv6", 1}, {"UDP", 2}, {"UDPv6", 3}};
    int last = 0;
    for (RowHandle row = w.VTS.firstRow(); row != nullptr; row = w.VTS.nextRow(row)) {
        ASSERT_EQ(rank.count(row->Rec.Protocol), 1u) << row->Rec.Protocol;
        EXPECT_GE(rank.at(row->Rec.Protocol), last);
        last = rank.at(row->Rec.Protocol);
    }
    EXPECT_EQ(last, 3);

    // By local address "127.0.0.1" sorts before "::1" (":" is above the digits), and a refresh
    // keeps the order.
    event([&] { form->VTSHeaderClick(ColumnLocalAddr); });
    event([&] { form->VTSHeaderClick(ColumnLocalAddr); });
    event([&] { w.BTNRefresh.click(); });
    // Looked up once: the machine may hold many thousands of rows.
    const RowHandle ipv4Own = ownRow("TCP", client4Port, "127.0.0.1");
    const RowHandle ipv6Own = ownRow("TCPv6", clientPort, "::1");
    int position = 0, ipv4Row = -1, ipv6Row = -1;
    for (RowHandle row = w.VTS.firstRow(); row != nullptr; row = w.VTS.nextRow(row), ++position) {
        if (row == ipv4Own)
            ipv4Row = position;
        if (row == ipv6Own)
            ipv6Row = position;
    }
    ASSERT_GE(ipv4Row, 0);
    ASSERT_GE(ipv6Row, 0);
    EXPECT_LT(ipv4Row, ipv6Row);
}

TEST_F(IPv6LiveTest, LoopbackConnectionsFollowShowLocal) {
    event([&] { form->setShowIPv6(true); });
    event([&] { w.CBShowLocal.setChecked(false); });
    EXPECT_EQ(ownRow("TCPv6", clientPort, "::1"), nullptr) << "::1 to ::1 is hidden";
    for (RowHandle row = w.VTS.firstRow(); row != nullptr; row = w.VTS.nextRow(row))
        EXPECT_FALSE(row->Rec.Protocol == "TCPv6" && row->Rec.LocalAddr == "::1" &&
                     row->Rec.RemoteAddr == "::1")
            << texts(row);
    EXPECT_EQ(ownRow("TCP", client4Port, "127.0.0.1"), nullptr) << "so is 127.0.0.1 to 127.0.0.1";
    EXPECT_NE(ownRow("TCPv6", port, "::"), nullptr) << "a listener's remote address is ::";
    EXPECT_NE(ownRow("UDPv6", udpPort, ""), nullptr);

    event([&] { w.CBShowLocal.setChecked(true); });
    ASSERT_NE(ownRow("TCPv6", clientPort, "::1"), nullptr);
    EXPECT_EQ(ownRow("TCPv6", clientPort, "::1")->Rec.Mark, "add");
    EXPECT_EQ(ownRow("TCPv6", port, "::")->Rec.Mark, "");
}

TEST_F(IPv6LiveTest, ReportDialogAndExportOfAnIPv6Row) {
    event([&] { form->setShowIPv6(true); });
    const RowHandle row = ownRow("TCPv6", clientPort, "::1");
    ASSERT_NE(row, nullptr);
    w.VTS.selectRow(row);
    w.VTS.setFocusedRow(row);
    event([&] { w.NCopy.click(); });
    const std::string exe = selfExe();
    const std::string expected =
        std::string(ReportSeparator) + "\r\n" + "程序名称:" + row->Rec.ProcName + "\r\n" +
        "程序说明:" + row->Rec.FileDesc + "\r\n" + "路径:" + exe + "\r\n" + "PID:" + pid + "\r\n" +
        "网络协议:TCPv6\r\n" + "本机地址:::1\r\n" + "本地端口:" + n(clientPort) + "\r\n" +
        "目标地址:::1\r\n" + "目标端口:" + n(port) + "\r\n" + "状态:已建立\r\n" +
        "生成:Kestrel\r\n" + "主页:" + ReportHomePageURL + "\r\n" + ReportSeparator + "\r\n";
    EXPECT_EQ(clipboard.content, expected);

    event([&] { form->VTSDblClick(); });
    EXPECT_EQ(dialogs.shown[ProcInfoControl::EPath], exe);
    EXPECT_EQ(dialogs.shown[ProcInfoControl::LabPID], "PID:" + pid);

    const std::string exported = exportList(w.VTS, ExportFormat::Tsv);
    const std::string line =
        row->Rec.ProcName + "\tTCPv6\t::1\t" + n(clientPort) + "\t::1\t" + n(port) + "\t已建立\n";
    EXPECT_NE(exported.find(line), std::string::npos) << exported;
}

} // namespace
