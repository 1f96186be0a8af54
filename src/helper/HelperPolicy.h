#pragma once
// What kestrel-helper decides before it scans: whether its capabilities are acceptable, and
// which processes the caller may be shown. Pure functions over text and numbers, so that they
// are tested without privileges.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace helper {

// The capability bits the helper scans with (cap_dac_read_search, cap_sys_ptrace).
std::uint64_t neededCapabilities();
// The bit of cap_net_admin, which the helper keeps permitted but raises only around closing
// a connection.
std::uint64_t closeCapability();

// Why the helper must not run with these sets (a sentence for standard error), or nullopt
// when it may: the ambient set must be empty, and nothing beyond the three may be permitted.
std::optional<std::string> capabilityRefusal(std::uint64_t permitted, std::uint64_t ambient);

// Whether a caller with real user ID `callerUid` may have the socket of user `socketUid`
// closed: its own sockets, and root's caller any.
bool mayClose(std::uint32_t callerUid, std::uint32_t socketUid);

// The options of the /proc mount that matter here.
struct ProcMount {
    bool found = false;
    int hidepid = 0;                  // 0 off, 1 noaccess, 2 invisible, 4 ptraceable
    std::optional<std::uint32_t> gid; // the group that may see every process
};

// The top-most procfs mount on /proc in the text of /proc/self/mountinfo.
ProcMount parseProcMount(std::string_view mountinfo);

// True when the administrator hid other users' processes from this caller: hidepid is set
// (or the mount is unknown) and the caller's groups do not include the mount's gid=.
bool othersHidden(const ProcMount& mount, const std::vector<std::uint32_t>& callerGroups);

// True when the text of /proc/<pid>/status shows real, effective and saved user ID all equal
// to `uid` (the processes such a mount still shows to that user); false when unreadable.
bool ownedBy(std::string_view status, std::uint32_t uid);

} // namespace helper
