#pragma once
// Snapshot records for the tests' fake systems: every test builds its records here.
#include <string_view>

#include "snapshot/UnitGetTcpUdpTable.h"

inline File_Rec tcpRecord(int state, std::string_view localAddr, std::string_view localPort,
                          std::string_view remoteAddr, std::string_view remotePort,
                          std::string_view pid, std::string_view name, std::string_view path = "") {
    File_Rec r;
    r.State = state;
    r.LocalAddr = localAddr;
    r.LocalPort = localPort;
    r.RemoteAddr = remoteAddr;
    r.RemotePort = remotePort;
    r.PID = pid;
    r.ProcName = name;
    r.ProcPath = path;
    return r;
}

inline File_Rec udpRecord(std::string_view localAddr, std::string_view localPort,
                          std::string_view pid, std::string_view name, std::string_view path = "") {
    File_Rec r;
    r.LocalAddr = localAddr;
    r.LocalPort = localPort;
    r.PID = pid;
    r.ProcName = name;
    r.ProcPath = path;
    return r;
}
