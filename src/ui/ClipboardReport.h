#pragma once
// The plain-text report about one connection row that "拷贝到剪贴板" puts on the clipboard.
#include <string>

#include "list/TMyRec.h"

// The line that frames the report: 23 x U+2015 HORIZONTAL BAR.
extern const char* const ReportSeparator;

// The home page address the report names in its line 13; a constant of its own, not the
// address the Home Page button opens.
extern const char* const ReportHomePageURL;

// The 14-line report of `rec` (UTF-8), every line ending in CR LF, the last one included.
// The row's texts are used exactly as stored; Company and Mark are not part of it.
std::string BuildClipboardReport(const TMyRec& rec);
