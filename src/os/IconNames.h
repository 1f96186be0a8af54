#pragma once
// The system's icons for file paths. On Linux a "system index" is the position of an icon key
// in one process-wide registry: the same for the small and the large pictures, and stable for
// the life of the process. An icon key is one or more icon-theme names, best first, separated
// by ';'; a name starting with '/' is a picture file.
#include <string>

namespace os {

// The system index of `iconKey`, registering it on first use. -1 for an empty key.
int SystemIconIndexOfName(const std::string& iconKey);

// The icon key registered under `systemIndex`; empty for an index never handed out.
std::string SystemIconName(int systemIndex);

// The icon key for `path`: the Icon of the desktop entry that launches it, else the
// executable icon for an executable, the folder icon for a folder, else the icons of the MIME
// type its name implies. The file need not exist. Empty only for an empty path.
std::string IconNameOfPath(const std::string& path);

// SystemIconIndexOfName(IconNameOfPath(path)), kept per path: the window asks on every repaint.
// -1 only for an empty path.
int SystemIconIndexOfPath(const std::string& path);

} // namespace os
