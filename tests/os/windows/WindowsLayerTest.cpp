// The Win32 layer against the real system: its own sockets, its own process, the system's
// own DLLs.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include <winsock2.h>

#include <windows.h>
#include <ws2tcpip.h>

#include "os/ConnectionControl.h"
#include "os/Endpoints.h"
#include "os/FileVersion.h"
#include "os/IconNames.h"
#include "os/Privilege.h"
#include "os/ProcessControl.h"
#include "os/Processes.h"
#include "os/SettingsPath.h"
#include "os/SingleInstance.h"
#include "os/SystemDirs.h"
#include "os/windows/CloseTcpEntry.h"
#include "snapshot/UnitGetTcpUdpTable.h"

namespace {

class WinsockSession {
public:
    WinsockSession() { m_ok = ::WSAStartup(MAKEWORD(2, 2), &m_data) == 0; }
    ~WinsockSession() {
        if (m_ok)
            ::WSACleanup();
    }
    bool ok() const { return m_ok; }

private:
    WSADATA m_data{};
    bool m_ok = false;
};

class Socket {
public:
    explicit Socket(int type, int family = AF_INET) : m_socket(::socket(family, type, 0)) {}
    ~Socket() {
        if (m_socket != INVALID_SOCKET)
            ::closesocket(m_socket);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return m_socket; }

    // Binds to 127.0.0.1 on a port the system picks; 0 on failure.
    std::uint16_t bindLoopback() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return 0;
        int length = sizeof address;
        if (::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return 0;
        return ntohs(address.sin_port);
    }

    // Binds to ::1 on a port the system picks; 0 on failure.
    std::uint16_t bindLoopback6() {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return 0;
        int length = sizeof address;
        if (::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return 0;
        return ntohs(address.sin6_port);
    }

private:
    SOCKET m_socket;
};

// Polls the tables until `found` accepts them, for at most 30 s: a busy machine may publish a
// new socket late.
template <typename Predicate> bool pollTables(Predicate found) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    do {
        std::vector<os::Endpoint> tcp;
        std::vector<os::Endpoint> udp;
        if (os::ReadEndpointTables(tcp, udp) && found(tcp, udp))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::string ownExeName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring wide(path, length);
    wide = wide.substr(wide.find_last_of(L"\\/") + 1);
    std::string name;
    for (wchar_t c : wide)
        name.push_back(static_cast<char>(c)); // the test's own name is ASCII
    return name;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool endsWithNoCase(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           lowerAscii(text.substr(text.size() - suffix.size())) == lowerAscii(suffix);
}

} // namespace

TEST(WindowsEndpoints, OwnTcpListenerShowsWithListenStateAndPort) {
    WinsockSession winsock;
    ASSERT_TRUE(winsock.ok());
    Socket listener(SOCK_STREAM);
    const std::uint16_t port = listener.bindLoopback();
    ASSERT_NE(port, 0);
    ASSERT_EQ(::listen(listener.get(), 4), 0);

    // Wine may report PID 0 for sockets it does not map to a process, so the owner is not
    // checked here; its decoding is tested on byte fixtures.
    EXPECT_TRUE(pollTables([&](const auto& tcp, const auto&) {
        for (const os::Endpoint& e : tcp) {
            EXPECT_EQ(e.protocol, os::Protocol::Tcp);
            if (e.state == 2 && e.family == os::Family::V4 && e.localAddr[0] == 127 &&
                e.localAddr[1] == 0 && e.localAddr[2] == 0 && e.localAddr[3] == 1 &&
                e.localPort == port)
                return true;
        }
        return false;
    })) << "listener on 127.0.0.1:"
        << port;
}

TEST(WindowsEndpoints, OwnIpv6ListenerShowsAsAnIpv6Row) {
    WinsockSession winsock;
    ASSERT_TRUE(winsock.ok());
    Socket listener(SOCK_STREAM, AF_INET6);
    ASSERT_NE(listener.get(), INVALID_SOCKET);
    const std::uint16_t port = listener.bindLoopback6();
    ASSERT_NE(port, 0);
    ASSERT_EQ(::listen(listener.get(), 4), 0);

    const std::array<std::uint8_t, 16> loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_TRUE(pollTables([&](const auto& tcp, const auto&) {
        for (const os::Endpoint& e : tcp) {
            if (e.state == 2 && e.family == os::Family::V6 && e.localAddr == loopback &&
                e.localPort == port)
                return AddressText(e.family, e.localAddr, e.localScopeId) == "::1";
        }
        return false;
    })) << "listener on [::1]:"
        << port;
}

TEST(WindowsEndpoints, OwnUdpSocketShowsWithItsPort) {
    WinsockSession winsock;
    ASSERT_TRUE(winsock.ok());
    Socket udp(SOCK_DGRAM);
    const std::uint16_t port = udp.bindLoopback();
    ASSERT_NE(port, 0);

    EXPECT_TRUE(pollTables([&](const auto&, const auto& table) {
        for (const os::Endpoint& e : table) {
            EXPECT_EQ(e.protocol, os::Protocol::Udp);
            if (e.family == os::Family::V4 && e.localAddr[0] == 127 && e.localAddr[3] == 1 &&
                e.localPort == port)
                return true;
        }
        return false;
    })) << "UDP socket on 127.0.0.1:"
        << port;
}

TEST(WindowsProcesses, SnapshotHoldsThisTestWithItsPathAndStartTime) {
    std::vector<os::ProcessEntry> processes;
    ASSERT_TRUE(os::SnapshotProcesses(processes));
    const std::uint32_t self = ::GetCurrentProcessId();
    const std::string name = GetProcessNameByPID(processes, self);
    EXPECT_TRUE(endsWithNoCase(name, ownExeName())) << name;

    const std::string path = os::ProcessImagePath(self);
    EXPECT_TRUE(endsWithNoCase(path, "\\" + ownExeName())) << path;
    EXPECT_EQ(path.substr(0, path.size() - ownExeName().size()), os::ExecutableDir());

    const std::uint64_t started = os::ProcessStartTime(self);
    EXPECT_NE(started, 0u);
    EXPECT_EQ(os::ProcessStartTime(self), started);
}

TEST(WindowsProcesses, NoProcessGivesEmptyAnswers) {
    // Process IDs are multiples of 4; this one is never handed out.
    constexpr std::uint32_t none = 0xFFFFFFF1u;
    EXPECT_EQ(os::ProcessImagePath(none), "");
    EXPECT_EQ(os::ProcessStartTime(none), 0u);
    EXPECT_EQ(os::EndProcess(none, 1), os::EndProcessResult::Gone);
}

// A suspended copy of this test: a real process that runs no code of its own.
class SuspendedChild {
public:
    SuspendedChild() {
        wchar_t path[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring commandLine = L"\"" + std::wstring(path) + L"\" --gtest_list_tests";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        m_started = ::CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE,
                                     CREATE_SUSPENDED, nullptr, nullptr, &startup, &m_info) != 0;
    }
    ~SuspendedChild() {
        if (!m_started)
            return;
        ::TerminateProcess(m_info.hProcess, 0);
        ::CloseHandle(m_info.hThread);
        ::CloseHandle(m_info.hProcess);
    }
    bool started() const { return m_started; }
    std::uint32_t pid() const { return m_info.dwProcessId; }
    bool exited() const { return ::WaitForSingleObject(m_info.hProcess, 0) == WAIT_OBJECT_0; }
    DWORD exitCode() const {
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(m_info.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION m_info{};
    bool m_started = false;
};

TEST(WindowsProcesses, EndProcessChecksTheIdentityFirst) {
    SuspendedChild child;
    ASSERT_TRUE(child.started());
    const std::uint64_t started = os::ProcessStartTime(child.pid());
    ASSERT_NE(started, 0u);

    EXPECT_EQ(os::EndProcess(child.pid(), 0), os::EndProcessResult::IdentityMismatch);
    EXPECT_EQ(os::EndProcess(child.pid(), started + 1), os::EndProcessResult::IdentityMismatch);
    EXPECT_FALSE(child.exited());

    EXPECT_EQ(os::EndProcess(child.pid(), started), os::EndProcessResult::Ended);
    EXPECT_TRUE(child.exited());
    EXPECT_EQ(child.exitCode(), 0u);
}

TEST(WindowsSingleInstance, SecondClaimSeesTheFirst) {
    const std::string name = "KestrelTest-" + std::to_string(::GetCurrentProcessId());
    os::SingleInstance first(name);
    EXPECT_FALSE(first.alreadyRunning());
    {
        os::SingleInstance second(name);
        EXPECT_TRUE(second.alreadyRunning());
    }
    os::SingleInstance other(name + "-other");
    EXPECT_FALSE(other.alreadyRunning());
}

TEST(WindowsSingleInstance, NameIsFreeAgainAfterTheHolderIsGone) {
    const std::string name = "KestrelTest-again-" + std::to_string(::GetCurrentProcessId());
    { os::SingleInstance first(name); }
    os::SingleInstance later(name);
    EXPECT_FALSE(later.alreadyRunning());
}

TEST(WindowsVersion, SystemDllDescribesItself) {
    const std::vector<std::string> dirs = os::SystemDirectories();
    ASSERT_EQ(dirs.size(), 1u);
    ASSERT_FALSE(dirs[0].empty());
    EXPECT_NE(dirs[0].back(), '\\');
    const std::string kernel32 = dirs[0] + "\\kernel32.dll";

    std::vector<std::uint8_t> block;
    ASSERT_TRUE(os::LoadVersionResource(kernel32, block));
    ASSERT_GE(block.size(), 6u);
    EXPECT_EQ(static_cast<std::size_t>(block[0] | block[1] << 8), block.size());

    std::string company;
    EXPECT_NE(GetFileVersionStrings(kernel32, company), "");
    EXPECT_NE(company, "");
}

TEST(WindowsVersion, NoResourceFromFoldersOrMissingFiles) {
    std::vector<std::uint8_t> block{1, 2, 3};
    EXPECT_FALSE(os::LoadVersionResource(os::SystemDirectories().at(0), block));
    EXPECT_TRUE(block.empty());
    EXPECT_FALSE(os::LoadVersionResource(os::ExecutableDir() + "no-such-file.dll", block));
    EXPECT_FALSE(os::LoadVersionResource("", block));
    std::string description = "x";
    std::string company = "y";
    EXPECT_FALSE(os::DescribeExecutable(os::ProcessImagePath(::GetCurrentProcessId()), description,
                                        company));
    EXPECT_EQ(description + company, "");
}

TEST(WindowsPrivilege, UnknownPrivilegeIsRefused) {
    EXPECT_EQ(os::DebugPrivilegeNames(), std::vector<std::string>{"SeDebugPrivilege"});
    EXPECT_FALSE(os::AdjustOwnPrivilege("SeNoSuchPrivilege", true));
    EXPECT_FALSE(os::AdjustOwnPrivilege("", true));
}

// A folder named outside any ANSI code page, removed afterwards.
class UnicodeTempDir {
public:
    UnicodeTempDir() {
        wchar_t base[MAX_PATH + 1] = {};
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
        m_path = std::wstring(base, length) + L"kestrel-\u6D4B\u8BD5-\u00FC-\u05D0-" +
                 std::to_wstring(::GetCurrentProcessId());
    }
    ~UnicodeTempDir() {
        for (const wchar_t* file : {L"\\sub\\Kestrel.ini", L"\\Kestrel.ini"})
            ::DeleteFileW((m_path + file).c_str());
        ::RemoveDirectoryW((m_path + L"\\sub").c_str());
        ::RemoveDirectoryW(m_path.c_str());
    }
    std::string utf8() const {
        const int size =
            ::WideCharToMultiByte(CP_UTF8, 0, m_path.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string out(static_cast<std::size_t>(size), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, m_path.c_str(), -1, out.data(), size, nullptr, nullptr);
        out.resize(out.size() - 1);
        return out;
    }
    const std::wstring& wide() const { return m_path; }

private:
    std::wstring m_path;
};

TEST(WindowsSettings, FileRoundTripsThroughAUnicodeFolder) {
    UnicodeTempDir dir;
    const std::string file = dir.utf8() + "\\sub\\Kestrel.ini";
    std::string contents = "left over";
    EXPECT_EQ(os::ReadWholeFile(file, contents), os::FileReadResult::Missing);
    EXPECT_EQ(contents, "");

    ASSERT_TRUE(os::ReplaceWholeFile(file, "[Set]\r\nShowLocal=1\r\n"));
    // The folder really has the wide name, not a code-page mangling of it.
    const DWORD attributes = ::GetFileAttributesW((dir.wide() + L"\\sub").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

    EXPECT_EQ(os::ReadWholeFile(file, contents), os::FileReadResult::Read);
    EXPECT_EQ(contents, "[Set]\r\nShowLocal=1\r\n");
    ASSERT_TRUE(os::ReplaceWholeFile(file, "[Set]\r\nShowLocal=0\r\n"));
    EXPECT_EQ(os::ReadWholeFile(file, contents), os::FileReadResult::Read);
    EXPECT_EQ(contents, "[Set]\r\nShowLocal=0\r\n");

    // Nothing but the file is left in the folder.
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((dir.wide() + L"\\sub\\*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::wstring> names;
    do {
        if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0)
            names.emplace_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    EXPECT_EQ(names, std::vector<std::wstring>{L"Kestrel.ini"});
}

TEST(WindowsSettings, ReadOnlyFileIsLeftAlone) {
    UnicodeTempDir dir;
    const std::string file = dir.utf8() + "\\Kestrel.ini";
    ASSERT_TRUE(os::ReplaceWholeFile(file, "old"));
    const std::wstring wide = dir.wide() + L"\\Kestrel.ini";
    ASSERT_TRUE(::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(os::ReplaceWholeFile(file, "new"));
    ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::string contents;
    EXPECT_EQ(os::ReadWholeFile(file, contents), os::FileReadResult::Read);
    EXPECT_EQ(contents, "old");
    // A folder is no file to read.
    EXPECT_EQ(os::ReadWholeFile(dir.utf8(), contents), os::FileReadResult::Failed);
}

TEST(WindowsSettings, SettingsFileLivesNextToTheExecutable) {
    const std::string dir = os::ExecutableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '\\');
    EXPECT_EQ(os::SettingsFilePath(), dir + "Kestrel.ini");
}

TEST(WindowsIcons, PathsGetShellIndicesThatNameThemBack) {
    EXPECT_EQ(os::SystemIconIndexOfPath(""), -1);
    EXPECT_EQ(os::SystemIconIndexOfName(""), -1);
    const std::string self = os::ProcessImagePath(::GetCurrentProcessId());
    EXPECT_EQ(os::IconNameOfPath(self), self);
    const int index = os::SystemIconIndexOfPath(self);
    ASSERT_GE(index, 0);
    EXPECT_EQ(os::SystemIconIndexOfPath(self), index);
    EXPECT_NE(os::SystemIconName(index), "");
    EXPECT_EQ(os::SystemIconName(-5), "");
}

namespace {

// Stops replacing SetTcpEntry when the test ends, however it ends.
struct SetTcpEntryReplaced {
    explicit SetTcpEntryReplaced(os::windows::SetTcpEntryCall call) {
        os::windows::ReplaceSetTcpEntry(std::move(call));
    }
    ~SetTcpEntryReplaced() { os::windows::ReplaceSetTcpEntry({}); }
};

} // namespace

TEST(WindowsCloseConnection, DeleteTcbRowLayout) {
    os::Endpoint e;
    e.localAddr = {127, 0, 0, 1};
    e.remoteAddr = {10, 1, 2, 3};
    e.localPort = 0x1234;
    e.remotePort = 443;
    const MIB_TCPROW row = os::windows::DeleteTcbRow(e);
    EXPECT_EQ(row.dwState, 12u) << "MIB_TCP_STATE_DELETE_TCB";
    const auto* local = reinterpret_cast<const std::uint8_t*>(&row.dwLocalAddr);
    const auto* remote = reinterpret_cast<const std::uint8_t*>(&row.dwRemoteAddr);
    EXPECT_EQ(std::vector<std::uint8_t>(local, local + 4),
              (std::vector<std::uint8_t>{127, 0, 0, 1}));
    EXPECT_EQ(std::vector<std::uint8_t>(remote, remote + 4),
              (std::vector<std::uint8_t>{10, 1, 2, 3}));
    // Ports in network order in the low 16 bits.
    const auto* port = reinterpret_cast<const std::uint8_t*>(&row.dwLocalPort);
    EXPECT_EQ(port[0], 0x12);
    EXPECT_EQ(port[1], 0x34);
    EXPECT_EQ(row.dwLocalPort >> 16, 0u);
    EXPECT_EQ(ntohs(static_cast<u_short>(row.dwRemotePort)), 443);
}

TEST(WindowsCloseConnection, OwnConnectionGoesToSetTcpEntryAsItsRow) {
    WinsockSession winsock;
    ASSERT_TRUE(winsock.ok());
    Socket listener(SOCK_STREAM);
    const std::uint16_t port = listener.bindLoopback();
    ASSERT_NE(port, 0);
    ASSERT_EQ(::listen(listener.get(), 4), 0);
    Socket client(SOCK_STREAM);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    sockaddr_in own{};
    int length = sizeof own;
    ASSERT_EQ(::getsockname(client.get(), reinterpret_cast<sockaddr*>(&own), &length), 0);
    const std::uint16_t clientPort = ntohs(own.sin_port);

    os::Endpoint row;
    ASSERT_TRUE(pollTables([&](const auto& tcp, const auto&) {
        for (const os::Endpoint& e : tcp) {
            if (e.family == os::Family::V4 && e.localPort == clientPort && e.remotePort == port) {
                row = e;
                return true;
            }
        }
        return false;
    }));
    EXPECT_TRUE(os::CanCloseConnection(row));

    const struct Case {
        DWORD answer;
        os::CloseConnectionResult result;
    } cases[] = {
        {NO_ERROR, os::CloseConnectionResult::Closed},
        {ERROR_ACCESS_DENIED, os::CloseConnectionResult::NotPermitted},
        {ERROR_MR_MID_NOT_FOUND, os::CloseConnectionResult::NotPermitted},
        {ERROR_NOT_SUPPORTED, os::CloseConnectionResult::NotSupported},
        {ERROR_NOT_FOUND, os::CloseConnectionResult::Gone},
        {ERROR_INVALID_PARAMETER, os::CloseConnectionResult::Failed},
    };
    for (const Case& c : cases) {
        std::vector<MIB_TCPROW> asked;
        SetTcpEntryReplaced replaced([&](MIB_TCPROW& r) {
            asked.push_back(r);
            return c.answer;
        });
        EXPECT_EQ(os::CloseConnection(row), c.result) << c.answer;
        ASSERT_EQ(asked.size(), 1u);
        const MIB_TCPROW expected = os::windows::DeleteTcbRow(row);
        EXPECT_EQ(std::memcmp(&asked[0], &expected, sizeof expected), 0);
        EXPECT_EQ(asked[0].dwState, 12u);
        EXPECT_EQ(ntohs(static_cast<u_short>(asked[0].dwLocalPort)), clientPort);
        EXPECT_EQ(ntohs(static_cast<u_short>(asked[0].dwRemotePort)), port);
    }

    // A connection no longer in the table, or now another process's, is not asked for.
    int calls = 0;
    SetTcpEntryReplaced replaced([&](MIB_TCPROW&) {
        ++calls;
        return static_cast<DWORD>(NO_ERROR);
    });
    os::Endpoint gone = row;
    gone.remotePort = static_cast<std::uint16_t>(port == 1 ? 2 : 1);
    EXPECT_EQ(os::CloseConnection(gone), os::CloseConnectionResult::Gone);
    os::Endpoint other = row;
    other.pid = row.pid + 4;
    EXPECT_EQ(os::CloseConnection(other), os::CloseConnectionResult::Gone);
    // IPv6 rows cannot be closed on Windows.
    os::Endpoint v6 = row;
    v6.family = os::Family::V6;
    EXPECT_FALSE(os::CanCloseConnection(v6));
    EXPECT_EQ(os::CloseConnection(v6), os::CloseConnectionResult::NotSupported);
    EXPECT_EQ(calls, 0);
}
