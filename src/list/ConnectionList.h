#pragma once
// FillList and RefreshList: keep the connection list in step with the endpoint snapshot.
// The window owns one ConnectionList and calls its two methods; everything they touch outside
// the list control comes in through ConnectionListHooks.
#include <cstddef>
#include <functional>
#include <vector>

#include "list/ListControl.h"
#include "snapshot/UnitGetTcpUdpTable.h"

// An empty function or a null table is allowed: no snapshot is taken, a missing table counts as
// empty, loopback rows are shown, no counter is set.
struct ConnectionListHooks {
    // Takes a new snapshot into *tcpRecords and *udpRecords, every Mark empty. May throw; then
    // no row is touched and the exception reaches the caller of FillList/RefreshList.
    std::function<void()> takeSnapshot;
    std::vector<File_Rec>* tcpRecords = nullptr;
    std::vector<File_Rec>* udpRecords = nullptr;
    // The option ShowLocal (the check box CBShowLocal), read each time the loopback test runs:
    // false hides TCP rows from 127.0.0.1 to 127.0.0.1.
    std::function<bool()> showLocal;
    // LabNetCount: rows shown. LabAppCount: programs.
    std::function<void(std::size_t)> setNetCount;
    std::function<void(std::size_t)> setAppCount;
};

// Hooks over the real snapshot: GetTcpUdpTable, TcpRecords and UdpRecords. The caller adds
// showLocal and the counter setters.
ConnectionListHooks systemSnapshotHooks();

class ConnectionList {
public:
    ConnectionList(ListControl& list, ConnectionListHooks hooks);

    // Fills the list from a first snapshot (rows already there are removed first), selects and
    // focuses the first row made, sorts by the header's sort column and direction, and sets
    // both counters. Programs: distinct exact ProcName values of the rows with a path,
    // including hidden loopback rows.
    void FillList();
    // Merges a new snapshot into the rows shown: surviving rows keep selection and focus (TCP
    // rows take the new state, marked "md" when it changed, else empty), vanished rows go,
    // new endpoints become rows marked "add"; then sorts, sets the counters, gives the list
    // the focus, selects the first row shown if nothing is selected, and repaints. Rows the
    // list's filter hides are merged as any other and count in both counters.
    void RefreshList();

private:
    bool hiddenLoopback(const TMyRec& row) const;

    ListControl& m_list;
    ConnectionListHooks m_hooks;
};
