#include "ui/ExportCommand.h"

namespace ui {

bool SaveExport(SaveFileDialog& dialog, const std::string& suggestedName,
                const std::function<std::string(ExportFormat)>& contents,
                const WriteWholeFile& write, MessageBoxes& messages) {
    const std::string fileName = dialog.askSaveFileName(TextExportDialogCaption, suggestedName);
    if (fileName.empty())
        return false;
    const std::string text = contents ? contents(exportFormatFor(fileName)) : std::string();
    if (write && write(fileName, text))
        return true;
    const std::string_view message = MsgCannotExport;
    const std::size_t at = message.find("%s");
    std::string shown(message.substr(0, at));
    shown += fileName;
    shown += message.substr(at + 2);
    messages.showMessage(shown);
    return false;
}

} // namespace ui
