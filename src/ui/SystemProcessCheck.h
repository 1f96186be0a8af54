#pragma once
// Which executables count as system programs when the user asks to end their process.
#include <string>
#include <vector>

// `text` with the ASCII letters a-z changed to A-Z; every other byte, UTF-8 included, is kept.
std::string UpperCaseAscii(std::string text);

// True when `path` contains one of `systemDirs` (folder names without a trailing separator)
// anywhere, both compared with only the ASCII letters folded. A plain substring test on
// purpose: a folder whose name merely begins with a system folder's name ("/usr/sbin2") asks
// as well, and asking once too often is harmless. Empty entries match nothing.
bool IsUnderSystemDir(const std::string& path, const std::vector<std::string>& systemDirs);
