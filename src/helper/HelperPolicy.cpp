#include "helper/HelperPolicy.h"

#include <algorithm>
#include <charconv>
#include <linux/capability.h>

namespace helper {

namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

template <typename T> bool parseNumber(std::string_view text, T& value) {
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && res.ec == std::errc() && res.ptr == text.data() + text.size();
}

int hidepidValue(std::string_view text) {
    if (text == "0" || text == "off")
        return 0;
    if (text == "1" || text == "noaccess")
        return 1;
    if (text == "2" || text == "invisible")
        return 2;
    if (text == "4" || text == "ptraceable")
        return 4;
    return 2; // a value this program does not know: assume the administrator hides
}

} // namespace

std::uint64_t neededCapabilities() {
    return 1ull << CAP_DAC_READ_SEARCH | 1ull << CAP_SYS_PTRACE;
}

std::uint64_t closeCapability() {
    return 1ull << CAP_NET_ADMIN;
}

std::optional<std::string> capabilityRefusal(std::uint64_t permitted, std::uint64_t ambient) {
    if (ambient != 0)
        return std::string("kestrel-helper: refusing to run with ambient capabilities");
    if ((permitted & ~(neededCapabilities() | closeCapability())) != 0)
        return std::string("kestrel-helper: refusing to run with capabilities beyond "
                           "cap_dac_read_search, cap_sys_ptrace and cap_net_admin");
    return std::nullopt;
}

bool mayClose(std::uint32_t callerUid, std::uint32_t socketUid) {
    return callerUid == 0 || socketUid == callerUid;
}

ProcMount parseProcMount(std::string_view mountinfo) {
    ProcMount result;
    for (std::string_view line : split(mountinfo, '\n')) {
        // id parent major:minor root mountpoint options [optional fields] - type source super
        const std::vector<std::string_view> fields = split(line, ' ');
        const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
        if (fields.size() < 5 || fields[4] != "/proc" || dash == fields.end() ||
            fields.end() - dash < 4 || dash[1] != "proc")
            continue;
        // Later lines are mounted over earlier ones: the last one counts.
        result = ProcMount{};
        result.found = true;
        for (std::string_view option : split(dash[3], ',')) {
            if (option.starts_with("hidepid=")) {
                result.hidepid = hidepidValue(option.substr(8));
            } else if (option.starts_with("gid=")) {
                std::uint32_t gid = 0;
                if (parseNumber(option.substr(4), gid))
                    result.gid = gid;
            }
        }
    }
    return result;
}

bool othersHidden(const ProcMount& mount, const std::vector<std::uint32_t>& callerGroups) {
    if (mount.found && mount.hidepid == 0)
        return false;
    return !(mount.found && mount.gid &&
             std::find(callerGroups.begin(), callerGroups.end(), *mount.gid) != callerGroups.end());
}

bool ownedBy(std::string_view status, std::uint32_t uid) {
    for (std::string_view line : split(status, '\n')) {
        if (!line.starts_with("Uid:"))
            continue;
        line.remove_prefix(4);
        int checked = 0;
        for (std::string_view field : split(line, '\t')) {
            if (field.empty())
                continue;
            std::uint32_t value = 0;
            if (!parseNumber(field, value) || value != uid)
                return false;
            if (++checked == 3)
                return true;
        }
        return false;
    }
    return false;
}

} // namespace helper
