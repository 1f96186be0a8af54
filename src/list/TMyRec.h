#pragma once
// One row of the connection list: the texts it shows, copied from the snapshot record it was
// made from.
#include <cstdint>
#include <string>

#include "os/Endpoints.h"

struct TMyRec {
    std::string Protocol;  // "TCP" or "UDP"; "TCPv6" or "UDPv6" for IPv6 endpoints
    std::string State;     // TcpStateText of the record's state; empty in UDP rows
    std::string LocalAddr; // dotted quad, or RFC 5952 text (with "%scope") in IPv6 rows
    std::string LocalPort;
    std::string RemoteAddr; // empty in UDP rows
    std::string RemotePort; // empty in UDP rows
    std::string PID;
    std::string ProcName;
    std::string ProcPath; // empty when no path was found
    std::string FileDesc;
    std::string Company;
    std::string Mark; // empty, "add" (added by a refresh) or "md" (TCP state changed)
    // Identity of the owning process when the row was made (File_Rec::ProcStartTime), so that
    // a command on "PID n" cannot reach a newer process that reuses the ID. 0 when unknown.
    std::uint64_t ProcStartTime = 0;
    // The socket as the last snapshot told it (File_Rec::Socket; protocol and state always
    // those of the row): what closing the connection reads.
    os::Endpoint Socket;
    // The remote host's name once a reverse lookup found one (column 14); empty until then.
    std::string RemoteHost;
    // Traffic (columns 15 to 18): bytes sent (acknowledged by the peer) and received so far,
    // from Socket's counters, and bytes per second over the last refresh interval; the texts
    // are empty and the rates negative where the system does not tell.
    double SendRate = -1;
    double ReceiveRate = -1;
    std::string SentText;
    std::string ReceivedText;
    std::string SendRateText;
    std::string ReceiveRateText;
};
