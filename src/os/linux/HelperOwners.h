#pragma once
// What kestrel-helper told about the owners of the last snapshot's sockets, kept so that the
// process lookups of that snapshot find the paths this program may not read itself.
#include <cstdint>
#include <string>
#include <vector>

#include "helper/HelperProtocol.h"
#include "os/linux/LinuxEndpoints.h"

namespace os::linuxhelper {

// The holders of a decoded reply, each with its process's start time as the helper's scan
// read it (so that no later lookup can take a newer process that reused the ID for the owner).
// A socket whose PID the reply does not list is left out.
linuxnet::SocketHolders holdersOf(const helper::ScanResult& result);

// Replaces what is known with the processes of one helper reply.
void rememberOwners(std::vector<helper::ProcessFacts> processes);

// The executable path the helper read for `pid`, if that process had start time `startTime`
// (not 0); empty otherwise.
std::string knownImagePath(std::uint32_t pid, std::uint64_t startTime);

} // namespace os::linuxhelper
