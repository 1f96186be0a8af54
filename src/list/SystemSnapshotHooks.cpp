#include "list/ConnectionList.h"

ConnectionListHooks systemSnapshotHooks() {
    ConnectionListHooks hooks;
    hooks.takeSnapshot = [] { GetTcpUdpTable(); };
    hooks.tcpRecords = &TcpRecords;
    hooks.udpRecords = &UdpRecords;
    hooks.tcp6Records = &Tcp6Records;
    hooks.udp6Records = &Udp6Records;
    return hooks;
}
