#pragma once
// Processes: the snapshot of all processes and what can be asked about one of them.
#include <cstdint>
#include <string>
#include <vector>

namespace os {

struct ProcessEntry {
    std::uint32_t pid = 0;
    std::string exeFile; // executable file name without folder, UTF-8
};

// One snapshot of all running processes, in the system's order. Returns false, with
// `processes` empty, when the system gives no snapshot.
bool SnapshotProcesses(std::vector<ProcessEntry>& processes);

// Full path of the executable of process `pid`, UTF-8; empty when the process is gone or may
// not be inspected.
std::string ProcessImagePath(std::uint32_t pid);

// What tells process `pid` apart from a later process that reuses the ID (Linux: start time
// in clock ticks after boot; Windows: creation time). 0 when the process is gone or the value
// cannot be read.
std::uint64_t ProcessStartTime(std::uint32_t pid);

} // namespace os
