#pragma once
// The folders the system's own programs live in, and this program's own folder.
#include <string>
#include <vector>

namespace os {

// The system program folders, spelled as the system spells them, without a trailing
// separator. Linux: /usr/sbin, /sbin, /usr/lib/systemd, /lib/systemd. Windows: the system
// directory. Never fails.
std::vector<std::string> SystemDirectories();

// Folder of the running program's executable, with a trailing separator. Empty when the
// system does not tell.
std::string ExecutableDir();

} // namespace os
