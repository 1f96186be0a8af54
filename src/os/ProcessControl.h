#pragma once
// Ending a process at the user's request.
#include <cstdint>

namespace os {

enum class EndProcessResult {
    Ended,            // the process was asked to end and is gone, or was killed
    Gone,             // no process with that ID exists (any more)
    NotPermitted,     // the system refused the signal (another user's process, no rights)
    IdentityMismatch, // the ID now belongs to another process, or the identity is unknown
    Failed,           // any other refusal of the system
};

// Ends process `pid`, but only while it is still the process that was recorded with start
// time `expectedStartTime` (os::ProcessStartTime at snapshot time): a process ID can be reused
// by an unrelated program within seconds. An unknown identity (0) is refused. The process is
// first asked to end (Linux: SIGTERM); one that is still alive after a short wait is killed.
// Never throws; every refusal comes back as a result other than Ended.
EndProcessResult EndProcess(std::uint32_t pid, std::uint64_t expectedStartTime);

} // namespace os
