// kestrel-snapshot.exe as a program: it lists the test's own listener.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include <winsock2.h>

#include <windows.h>
#include <ws2tcpip.h>

#ifndef KESTREL_SNAPSHOT_EXE
#error "KESTREL_SNAPSHOT_EXE comes from the build (tests/os/windows/windows.cmake)"
#endif

namespace {

// The build tree's path as Windows sees it: Wine maps the Unix root to drive Z:.
std::wstring programPath() {
    std::string path = KESTREL_SNAPSHOT_EXE;
    if (!path.empty() && path.front() == '/')
        path = "Z:" + path;
    std::wstring wide;
    for (char c : path)
        wide.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

// Runs the program and returns its standard output; false when it cannot be started or does
// not exit with status 0 within a minute.
bool runSnapshot(std::string& output) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return false;
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    const std::wstring program = programPath();
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info{};
    const bool started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                          TRUE, 0, nullptr, nullptr, &startup, &info) != 0;
    ::CloseHandle(writeEnd);
    if (!started) {
        ::CloseHandle(readEnd);
        return false;
    }
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
        output.append(buffer, got);
    ::CloseHandle(readEnd);
    DWORD status = 1;
    const bool exited = ::WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0 &&
                        ::GetExitCodeProcess(info.hProcess, &status);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return exited && status == 0;
}

} // namespace

TEST(SnapshotProgram, ListsOwnListener) {
    WSADATA data{};
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    const std::string expected =
        "TCP\t2\t127.0.0.1\t" + std::to_string(ntohs(address.sin_port)) + "\t0.0.0.0\t0\t";

    bool found = false;
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!found && std::chrono::steady_clock::now() < deadline) {
        output.clear();
        ASSERT_TRUE(runSnapshot(output)) << output;
        found = output.find(expected) != std::string::npos;
        if (!found)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(found) << output;
    ::closesocket(listener);
    ::WSACleanup();
}
