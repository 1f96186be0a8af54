#pragma once
// What the connection commands need of the toolkit besides the window's own controls: the
// context menu, the desktop shell, the clipboard and the process details dialog.
#include <memory>
#include <string>

#include "list/ListControl.h"
#include "ui/ShellRequests.h"
#include "ui/UnitFormProcInfo.h"

namespace ui {

// The context menu PmTree; its items are the window's MenuItems.
class PopupMenu {
public:
    virtual ~PopupMenu() = default;
    // Shows the menu at screen position `where`, modally: it returns once the menu has closed
    // and the chosen item has been clicked (MenuItem::click, so only while enabled). The click
    // must come before popup returns: the window logic tells by it that a command was chosen
    // from the menu, and for which row.
    virtual void popup(ScreenPoint where) = 0;
};

// The toolkit's dialog that asks for the name of a file to save.
class SaveFileDialog {
public:
    virtual ~SaveFileDialog() = default;
    // Asks modally (the toolkit's events keep running meanwhile) for a file name, captioned
    // `caption`, proposing `suggestedName`, offering CSV files (*.csv) and text files (*.txt),
    // and asking before an existing file is replaced. The full name (UTF-8) the user chose;
    // empty when the dialog was cancelled.
    virtual std::string askSaveFileName(const std::string& caption,
                                        const std::string& suggestedName) = 0;
};

// A menu that belongs to a button (PmOptions under BTNOptions).
class DropDownMenu {
public:
    virtual ~DropDownMenu() = default;
    // Shows the menu just below its button, modally: it returns once the menu has closed and
    // the chosen item has been clicked (MenuItem::click).
    virtual void dropDown() = 0;
};

// Makes one process details dialog per opening.
class ProcInfoDialogs {
public:
    virtual ~ProcInfoDialogs() = default;
    virtual std::unique_ptr<ProcInfoView> createProcInfoView() = 0;
};

} // namespace ui
