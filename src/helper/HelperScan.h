#pragma once
// The helper's one job: which process holds which socket, with each holder's start time and
// executable path, from the descriptor scan of the Linux layer.
#include <cstdint>
#include <optional>
#include <string>

#include "helper/HelperProtocol.h"

namespace helper {

// Scans <procRoot>. With `onlyUid`, processes not wholly owned by that user (see ownedBy) are
// left out. A process that ended during the scan is left out with its sockets.
ScanResult scanSocketHolders(const std::string& procRoot, std::optional<std::uint32_t> onlyUid);

} // namespace helper
