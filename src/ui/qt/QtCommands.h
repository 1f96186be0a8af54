#pragma once
// The pieces the connection commands need in Qt, made once by the main window and bound to
// its TFormKestrel with SetCommandComponents(commands()).
#include <functional>
#include <memory>

#include <QMenu>
#include <QPointer>
#include <QWidget>

#include "list/ImageListEx.h"
#include "ui/CommandComponents.h"
#include "ui/UnitFormKestrel.h"
#include "ui/qt/QtShell.h"

namespace qtui {

class QtPopupMenu : public ui::PopupMenu {
public:
    explicit QtPopupMenu(QMenu* menu) : m_menu(menu) {}
    void popup(ScreenPoint where) override;

private:
    QPointer<QMenu> m_menu;
};

class QtProcInfoDialogs : public ui::ProcInfoDialogs {
public:
    // `largeIcons` gives the window's 32-pixel icon cache (nullptr while there is none).
    QtProcInfoDialogs(QWidget* owner, std::function<TImageListEx*()> largeIcons);
    std::unique_ptr<ProcInfoView> createProcInfoView() override;

private:
    QPointer<QWidget> m_owner;
    std::function<TImageListEx*()> m_largeIcons;
};

// QFileDialog::getSaveFileName, starting in the home folder.
class QtSaveFileDialog : public ui::SaveFileDialog {
public:
    explicit QtSaveFileDialog(QWidget* owner) : m_owner(owner) {}
    std::string askSaveFileName(const std::string& caption,
                                const std::string& suggestedName) override;

private:
    QPointer<QWidget> m_owner;
};

class QtCommandComponents {
public:
    QtCommandComponents(QWidget* owner, QMenu* pmTree, std::function<TImageListEx*()> largeIcons);
    TFormKestrelCommands commands();

private:
    QtPopupMenu m_menu;
    QtShell m_shell;
    QtClipboardText m_clipboard;
    QtProcInfoDialogs m_dialogs;
    QtSaveFileDialog m_saveDialog;
};

} // namespace qtui
