#pragma once
// Where the help file KestrelHelp.html is.
#include <string>
#include <vector>

// The places the help file may be, best first: next to the executable (a build tree), the
// data folder relative to the executable's folder (a relocated installation), the data folder
// the program was installed to. `exeDir` ends with a separator; an empty one is skipped.
std::vector<std::string> HelpFileCandidates(const std::string& exeDir);

// The first candidate that is an existing file; when none is, the installed location, so the
// desktop can say what is missing.
std::string HelpFilePath(const std::string& exeDir);
