#pragma once
// Where the help file is: KestrelHelp.html on Linux; on Windows KestrelHelp.chm next to the
// executable (KestrelHelp.html there when no compiled help could be built).
#include <string>
#include <vector>

// The places the help file may be, best first: next to the executable (a build tree; on
// Windows the installation too), the data folder relative to the executable's folder (a
// relocated installation), the data folder the program was installed to (both not on Windows).
// `exeDir` ends with a separator; an empty one is skipped.
std::vector<std::string> HelpFileCandidates(const std::string& exeDir);

// The help file's sections that stand in for the home page and the update page while these
// addresses are not set (the build's KESTREL_HOME_PAGE_URL, KESTREL_UPDATE_URL).
constexpr const char* HelpSectionAbout = "about";
constexpr const char* HelpSectionUpdates = "updates";

// The first candidate that is an existing file; when none is, the installed location (on
// Windows the compiled help next to the executable), so the desktop can say what is missing.
std::string HelpFilePath(const std::string& exeDir);
