#pragma once
// The Linux side of ending a process, beyond os/ProcessControl.h.
#include <cstdint>
#include <sys/types.h>

#include "os/ProcessControl.h"

namespace os {

// What EndProcess falls back to on kernels without pidfd_open (before 5.3): the identity is
// checked right before each kill(), which leaves a short window between the check and the
// signal in which the ID could change hands. Same results as EndProcess.
EndProcessResult EndProcessWithoutPidFd(pid_t pid, std::uint64_t expectedStartTime);

} // namespace os
