#include "os/Users.h"

#include <cerrno>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace os {

namespace {

// A name with control characters (a name service may hand over anything) would break the
// lines it is shown in; the number serves better then.
std::string plainName(const char* name) {
    const std::string text = name;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return {};
    }
    return text;
}

} // namespace

std::string UserName(std::uint32_t uid) {
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::size_t size = hint > 0 ? static_cast<std::size_t>(hint) : 1024;
    // A name service may want more room than it hints at; past 1 MiB the entry is not a sane one.
    constexpr std::size_t MaxBuffer = 1u << 20;
    std::vector<char> buffer;
    for (;;) {
        buffer.resize(size);
        passwd entry{};
        passwd* found = nullptr;
        const int error =
            ::getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found);
        if (error == 0)
            return found != nullptr && found->pw_name != nullptr ? plainName(found->pw_name)
                                                                 : std::string();
        if (error != ERANGE || size >= MaxBuffer)
            return {};
        size *= 2;
    }
}

} // namespace os
