#include "list/ConnectionList.h"

ConnectionListHooks systemSnapshotHooks() {
    ConnectionListHooks hooks;
    hooks.takeSnapshot = [] { GetTcpUdpTable(); };
    hooks.tcpRecords = &TcpRecords;
    hooks.udpRecords = &UdpRecords;
    return hooks;
}
