#include "os/Privilege.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace os {

namespace {

struct Capabilities {
    __user_cap_header_struct header{};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
};

// The capability syscalls directly, so that no libcap is needed. They act on the calling
// thread: the thread that takes snapshots must be the one that raised them.
bool readCapabilities(Capabilities& caps) {
    caps.header.version = _LINUX_CAPABILITY_VERSION_3;
    caps.header.pid = 0;
    return ::syscall(SYS_capget, &caps.header, caps.data) == 0;
}

bool writeCapabilities(Capabilities& caps) {
    caps.header.version = _LINUX_CAPABILITY_VERSION_3;
    caps.header.pid = 0;
    return ::syscall(SYS_capset, &caps.header, caps.data) == 0;
}

int capabilityNumber(const std::string& name) {
    if (name == "cap_sys_ptrace" || name == "CAP_SYS_PTRACE")
        return CAP_SYS_PTRACE;
    if (name == "cap_dac_read_search" || name == "CAP_DAC_READ_SEARCH")
        return CAP_DAC_READ_SEARCH;
    return -1;
}

bool hasBit(const __u32 (&words)[2], int cap) {
    return (words[cap / 32] >> (cap % 32)) & 1u;
}

} // namespace

std::vector<std::string> DebugPrivilegeNames() {
    return {"cap_sys_ptrace", "cap_dac_read_search"};
}

bool AdjustOwnPrivilege(const std::string& name, bool enable) {
    const int cap = capabilityNumber(name);
    if (cap < 0)
        return false;
    Capabilities caps;
    if (!readCapabilities(caps))
        return false;
    const unsigned word = static_cast<unsigned>(cap / 32);
    const __u32 bit = 1u << (cap % 32);
    if (!(caps.data[word].permitted & bit))
        return false;
    if (enable)
        caps.data[word].effective |= bit;
    else
        caps.data[word].effective &= ~bit;
    if (!writeCapabilities(caps))
        return false;
    Capabilities now;
    if (!readCapabilities(now))
        return false;
    const __u32 effective[2] = {now.data[0].effective, now.data[1].effective};
    return hasBit(effective, cap) == enable;
}

} // namespace os
