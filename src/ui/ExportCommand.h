#pragma once
// "导出列表..." as both windows run it: the save dialog, the file's contents built once the
// dialog has closed (its modal loop may have let the list change: what is saved is what is
// shown then), the whole-file write and, when that fails, the message naming the file.
#include <functional>
#include <string>
#include <string_view>

#include "ui/CommandComponents.h"
#include "ui/Components.h"
#include "ui/ListExport.h"

namespace ui {

inline constexpr const char* TextExportDialogCaption = "导出列表";
inline constexpr const char* MsgCannotExport = "无法保存文件：%s";

// Writes a whole file, there complete or not at all (os::ReplaceWholeFile).
using WriteWholeFile = std::function<bool(const std::string& path, const std::string& contents)>;

// Asks `dialog` for a file, proposing `suggestedName`; writes `contents(exportFormatFor(name))`
// with `write` (none: the write fails). True when the file was written; false when the dialog
// was cancelled or, after `messages` showed MsgCannotExport, when the write failed.
bool SaveExport(SaveFileDialog& dialog, const std::string& suggestedName,
                const std::function<std::string(ExportFormat)>& contents,
                const WriteWholeFile& write, MessageBoxes& messages);

} // namespace ui
