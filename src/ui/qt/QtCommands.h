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

class QtImageStore;

class QtPopupMenu : public ui::PopupMenu {
public:
    explicit QtPopupMenu(QMenu* menu) : m_menu(menu) {}
    void popup(ScreenPoint where) override;

private:
    QPointer<QMenu> m_menu;
};

// A menu shown under its button.
class QtDropDownMenu : public ui::DropDownMenu {
public:
    QtDropDownMenu(QMenu* menu, QWidget* button) : m_menu(menu), m_button(button) {}
    void dropDown() override;

private:
    QPointer<QMenu> m_menu;
    QPointer<QWidget> m_button;
};

class QtProcInfoDialogs : public ui::ProcInfoDialogs {
public:
    // `largeIcons` gives the pictures of the window's 32-pixel icon cache (nullptr while there
    // is none).
    QtProcInfoDialogs(QWidget* owner, std::function<const QtImageStore*()> largeIcons);
    std::unique_ptr<ProcInfoView> createProcInfoView() override;

private:
    QPointer<QWidget> m_owner;
    std::function<const QtImageStore*()> m_largeIcons;
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
    QtCommandComponents(QWidget* owner, QMenu* pmTree, QMenu* pmOptions, QWidget* optionsButton,
                        std::function<const QtImageStore*()> largeIcons);
    TFormKestrelCommands commands();

private:
    QtPopupMenu m_menu;
    QtDropDownMenu m_options;
    QtShell m_shell;
    QtClipboardText m_clipboard;
    QtProcInfoDialogs m_dialogs;
    QtSaveFileDialog m_saveDialog;
};

} // namespace qtui
