#pragma once
// The helper's one job: which process holds which socket, with each holder's start time and
// executable path, from the descriptor scan of the Linux layer.
#include <cstdint>
#include <optional>
#include <string>

#include "helper/HelperProtocol.h"
#include "os/linux/LinuxEndpoints.h"

namespace helper {

// Scans <procRoot>. With `onlyUid`, processes not wholly owned by that user (see ownedBy) are
// left out. Each holder's start time is the one the scan read before and after its
// descriptors; a process whose start time changed meanwhile or before its path was read (it
// ended, its ID maybe reused) is left out with its sockets. `readStartTime` replaces the
// reading of <procRoot>/<pid>/stat (tests).
ScanResult scanSocketHolders(const std::string& procRoot, std::optional<std::uint32_t> onlyUid,
                             os::linuxnet::StartTimeReader readStartTime = {});

} // namespace helper
