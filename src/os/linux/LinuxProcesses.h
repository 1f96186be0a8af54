#pragma once
// The Linux side of os/Processes.h, on any procfs root (the live /proc or a test fixture).
#include <cstdint>
#include <string>
#include <vector>

#include "os/Processes.h"

namespace os::linuxproc {

// One read of <procRoot>: every process with the name a user knows it by: the file name of
// its executable when that link is readable, else of the first word of its command line, else
// its kernel name (comm). False when the root cannot be listed.
bool snapshotProcesses(const std::string& procRoot, std::vector<ProcessEntry>& processes);

// readlink <procRoot>/<pid>/exe without a trailing " (deleted)"; empty when not readable.
std::string processImagePath(const std::string& procRoot, std::uint32_t pid);

// Field 22 (starttime) of <procRoot>/<pid>/stat; 0 when unreadable or malformed.
std::uint64_t processStartTime(const std::string& procRoot, std::uint32_t pid);
// The same below an open procfs folder.
std::uint64_t processStartTimeAt(int procFd, std::uint32_t pid);

} // namespace os::linuxproc
