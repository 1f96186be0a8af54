#pragma once
// FillList and RefreshList: keep the connection list in step with the endpoint snapshot.
// The window owns one ConnectionList and calls its two methods; everything they touch outside
// the list control comes in through ConnectionListHooks.
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "list/ListControl.h"
#include "snapshot/UnitGetTcpUdpTable.h"

// An empty function or a null table is allowed: no snapshot is taken, a missing table counts as
// empty, loopback rows are shown, no counter is set.
struct ConnectionListHooks {
    // Takes a new snapshot into *tcpRecords and *udpRecords (and the IPv6 tables), every Mark
    // empty. May throw; then no row is touched and the exception reaches the caller of
    // FillList/RefreshList.
    std::function<void()> takeSnapshot;
    std::vector<File_Rec>* tcpRecords = nullptr;
    std::vector<File_Rec>* udpRecords = nullptr;
    std::vector<File_Rec>* tcp6Records = nullptr;
    std::vector<File_Rec>* udp6Records = nullptr;
    // The option ShowLocal (the check box CBShowLocal), read each time the loopback test runs:
    // false hides TCP rows from 127.0.0.1 to 127.0.0.1 and TCPv6 rows from ::1 to ::1.
    std::function<bool()> showLocal;
    // The option ShowIPv6, read once per fill and refresh: true makes rows ("TCPv6", "UDPv6")
    // of the IPv6 tables; false (or empty) leaves those tables out, so that a refresh removes
    // the IPv6 rows shown.
    std::function<bool()> showIPv6;
    // LabNetCount: rows shown. LabAppCount: programs.
    std::function<void(std::size_t)> setNetCount;
    std::function<void(std::size_t)> setAppCount;
    // Seconds on a steady clock, read once per snapshot: the traffic rates are the counters'
    // growth over the time between two snapshots. Without it no rate is known.
    std::function<double()> secondsNow;
};

// Hooks over the real snapshot: GetTcpUdpTable, TcpRecords, UdpRecords, Tcp6Records and
// Udp6Records. The caller adds showLocal, showIPv6 and the counter setters.
ConnectionListHooks systemSnapshotHooks();

// What a merge needs of the new records alone, their index by endpoint, made ahead of the
// merge on any thread, so that a worker can do it while the window keeps running. It refers to
// the records, which must stay where they are until the merge; one merge uses it up. Without
// IPv6 tables it has none.
class PreparedSnapshot {
public:
    PreparedSnapshot(std::vector<File_Rec>& tcp, std::vector<File_Rec>& udp);
    PreparedSnapshot(std::vector<File_Rec>& tcp, std::vector<File_Rec>& udp,
                     std::vector<File_Rec>& tcp6, std::vector<File_Rec>& udp6);
    ~PreparedSnapshot();
    PreparedSnapshot(PreparedSnapshot&&) noexcept;
    PreparedSnapshot& operator=(PreparedSnapshot&&) noexcept;

private:
    friend class ConnectionList;
    struct Indexes;
    std::unique_ptr<Indexes> m_indexes;
};

class ConnectionList {
public:
    ConnectionList(ListControl& list, ConnectionListHooks hooks);

    // Fills the list from a first snapshot (rows already there are removed first: TCP, UDP, then
    // with showIPv6 TCPv6 and UDPv6), selects and focuses the first row made, sorts by the header's
    // sort column and direction, and sets both counters. Programs: distinct exact ProcName values
    // of the rows with a path, including hidden loopback rows.
    void FillList();
    // FillList from records taken already (takeSnapshot is not called); without IPv6 tables
    // none are shown.
    void FillList(const std::vector<File_Rec>& tcp, const std::vector<File_Rec>& udp);
    void FillList(const std::vector<File_Rec>& tcp, const std::vector<File_Rec>& udp,
                  const std::vector<File_Rec>& tcp6, const std::vector<File_Rec>& udp6);
    // Merges a new snapshot into the rows shown: surviving rows keep selection and focus (TCP
    // rows take the new state, marked "md" when it changed, else empty), vanished rows go,
    // new endpoints become rows marked "add"; then sorts, sets the counters, gives the list
    // the focus, selects the first row shown if nothing is selected, and repaints. Rows the
    // list's filter hides are merged as any other and count in both counters.
    void RefreshList();
    // RefreshList from records taken already (takeSnapshot is not called); marks them. Without
    // IPv6 tables the IPv6 rows go.
    void RefreshList(std::vector<File_Rec>& tcp, std::vector<File_Rec>& udp);
    void RefreshList(std::vector<File_Rec>& tcp, std::vector<File_Rec>& udp,
                     std::vector<File_Rec>& tcp6, std::vector<File_Rec>& udp6);
    // RefreshList from records prepared already; the same merge, without indexing them here.
    // The option ShowIPv6 is read now, not when they were prepared.
    void RefreshList(PreparedSnapshot& prepared);

private:
    bool hiddenLoopback(const TMyRec& row) const;
    bool ipv6Shown() const;

    ListControl& m_list;
    ConnectionListHooks m_hooks;
    double m_snapshotSeconds = 0; // when the rows' counters were read
    bool m_snapshotTimed = false;
};
