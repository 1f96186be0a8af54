#pragma once
// Where the settings file lives, and how it is read and replaced as a whole.
#include <string>

namespace os {

// Full name of Kestrel.ini. Linux: $XDG_CONFIG_HOME/kestrel/Kestrel.ini; when XDG_CONFIG_HOME
// is unset, empty or not absolute, ~/.config/kestrel/Kestrel.ini with the home folder from
// $HOME (if absolute) or else the user database. Empty when no home folder can be found.
// Windows: next to the executable (empty when its folder is unknown).
std::string SettingsFilePath();

enum class FileReadResult { Read, Missing, Failed };

// Reads the whole file `path` into `contents` (emptied first). Missing: the file or a folder on
// its way does not exist. Failed: it exists but cannot be read (no permission, a folder, an
// I/O error).
FileReadResult ReadWholeFile(const std::string& path, std::string& contents);

// Replaces the file `path` by `contents` so that a crash leaves either the old or the new
// file, never a mix: a temporary file beside it, flushed to disk, renamed over it. Missing
// folders on the way are created (Linux: mode 0700). A replaced file keeps its permission
// bits; a symbolic link keeps its place and the file it points to is replaced, but only when
// that is an existing regular file owned by the user running the program (Linux). False when
// any step is refused, also when an existing file may not be written or a link leads
// elsewhere (nowhere, a folder, another user's file); the old file is then unchanged, no
// folder is made and no temporary file is left behind.
bool ReplaceWholeFile(const std::string& path, const std::string& contents);

} // namespace os
