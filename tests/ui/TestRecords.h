#pragma once
// Snapshot records for the window tests' fake systems.
#include "snapshot/UnitGetTcpUdpTable.h"

inline File_Rec tcpRecord(int state, const char* localAddr, const char* localPort,
                          const char* remoteAddr, const char* remotePort, const char* pid,
                          const char* name, const char* path = "") {
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

inline File_Rec udpRecord(const char* localAddr, const char* localPort, const char* pid,
                          const char* name, const char* path = "") {
    File_Rec r;
    r.LocalAddr = localAddr;
    r.LocalPort = localPort;
    r.PID = pid;
    r.ProcName = name;
    r.ProcPath = path;
    return r;
}
