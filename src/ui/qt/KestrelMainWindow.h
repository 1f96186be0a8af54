#pragma once
// The main window FormKestrel in Qt Widgets, built from its description (ui/MainWindowLook.h):
// the top panel, the list VTS, the bottom panel, the menus PmTree and PmOptions and Timer1. The
// window only mirrors state and forwards the user's events; TFormKestrel decides.
#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include <QIcon>
#include <QMainWindow>
#include <QString>

#include "list/MemoryListControl.h"
#include "os/SocketEnds.h"
#include "ui/Components.h"
#include "ui/ConnectionLogView.h"
#include "ui/MainWindowLook.h"
#include "ui/UnitFormKestrel.h"
#include "ui/qt/QtCommands.h"
#include "ui/qt/QtComponents.h"
#include "ui/qt/QtWorker.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace qtui {

class ConnectionLogWindow;
class ConnectionModel;
class ConnectionView;
class QtSystemImageList;
class QtImageStore;

// The application icon in all its sizes.
QIcon applicationIcon();

class KestrelMainWindow : public QMainWindow, public ui::Window {
    Q_OBJECT
public:
    // Lays out the window as MainWindowLook describes it and binds the window logic to it;
    // runs nothing. Without icon services of its own the icon theme serves the icon caches.
    explicit KestrelMainWindow(TFormKestrelServices services, QWidget* parent = nullptr);
    ~KestrelMainWindow() override;

    // The creation sequence (FormCreate); call once, before the window is first shown.
    void create();

    TFormKestrel& form() { return *m_form; }
    MemoryListControl& list() { return m_list; }
    ConnectionModel* model() const { return m_model; }
    ConnectionView* view() const { return m_view; }
    QtMessageBoxes& messages() { return m_messages; }
    QMenu* popupMenu() const { return m_popup; }
    QMenu* optionsMenu() const { return m_optionsMenu; }
    // A control of the window by its name in the description.
    QWidget* control(MainControl control) const { return m_widgets[index(control)]; }
    QLabel* appCountLabel() const;
    QLabel* netCountLabel() const;
    QLineEdit* filterField() const;
    // The counters sentence as it reads on screen.
    QString countersText() const;
    QCheckBox* showLocalBox() const;
    QCheckBox* autoRefreshBox() const;
    QCheckBox* alwaysTopBox() const;
    QCheckBox* showInfoBox() const;
    QPushButton* optionsButton() const { return button(MainControl::BTNOptions); }
    QPushButton* helpButton() const { return button(MainControl::BTNHelp); }
    QPushButton* refreshButton() const { return button(MainControl::BTNRefresh); }
    QPushButton* endProcessButton() const { return button(MainControl::BTNEndPro); }
    QtTimer& timer() { return *m_timer; }

    // The connection log, fed for the window's life by its snapshots and by the system's
    // announced ends (read a few times a second), and its window "连接记录".
    const ConnectionLogView& connectionLog() const { return *m_log; }
    void showConnectionLog();
    ConnectionLogWindow* connectionLogWindow() const { return m_logWindow; }
    // Reads the announced ends now, as the log's timer does.
    void pollConnectionLog();

    // ui::Window
    std::string caption() const override;
    void setCaption(const std::string& caption) override;
    bool stayOnTop() const override;
    void setStayOnTop(bool stayOnTop) override;
    int left() const override;
    int top() const override;
    int width() const override;
    int height() const override;

    // Design sizes.
    static constexpr int ClientWidth = MainWindowLook::ClientWidth;
    static constexpr int ClientHeight = MainWindowLook::ClientHeight;
    static constexpr int MinimumWidth = MainWindowLook::MinimumWidth;
    static constexpr int MinimumHeight = MainWindowLook::MinimumHeight;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static std::size_t index(MainControl control) { return static_cast<std::size_t>(control); }
    QPushButton* button(MainControl control) const;
    // The store behind `icons` when this window made it; nullptr otherwise.
    const QtImageStore* storeOf(const TImageListEx* icons) const;
    void makeControls(QWidget* central);
    void makeMenus();
    // Places every control where MainWindowLook::Layout says.
    void layoutControls();

    QtMessageBoxes m_messages;
    // With the columns of the options, hidden until an option shows them.
    MemoryListControl m_list{ListHeaderColumns::WithOptional};
    ConnectionModel* m_model = nullptr;
    ConnectionView* m_view = nullptr;
    QMenu* m_popup = nullptr;
    QMenu* m_optionsMenu = nullptr;
    QWidget* m_central = nullptr;
    std::array<QWidget*, static_cast<std::size_t>(MainControl::Count)> m_widgets{};
    bool m_placed = false;

    std::array<std::unique_ptr<QtLabel>, static_cast<std::size_t>(MainControl::Count)> m_labels;
    std::array<std::unique_ptr<QtButton>, static_cast<std::size_t>(MainControl::Count)> m_buttons;
    std::array<std::unique_ptr<QtCheckBox>, static_cast<std::size_t>(MainControl::Count)> m_boxes;
    std::unique_ptr<QtTextField> m_filter;
    std::unique_ptr<QtTimer> m_timer;
    std::array<std::unique_ptr<QtMenuItem>, static_cast<std::size_t>(ContextItem::Count)>
        m_contextItems;
    std::array<std::unique_ptr<QtMenuItem>, static_cast<std::size_t>(OptionItem::Count)>
        m_optionItems;
    std::array<std::unique_ptr<QtMenuItem>, static_cast<std::size_t>(OptionCommand::Count)>
        m_optionCommands;
    // The image stores this window made for the icon caches (which own them).
    std::vector<QtImageStore*> m_ownStores;
    // The icon theme as the system's image lists, behind both icon caches.
    std::unique_ptr<QtSystemImageList> m_systemImages;
    // The context menu, shell, clipboard and details dialogs of the connection commands.
    std::unique_ptr<QtCommandComponents> m_commandParts;
    // Snapshots, ending processes and the file manager's requests off the GUI thread.
    std::unique_ptr<QtWorker> m_worker;
    // The listener's thread and the log outlive the logic, which tells the log its snapshots.
    std::unique_ptr<os::SocketEndListener> m_listener;
    std::unique_ptr<ConnectionLogView> m_log;
    ConnectionLogWindow* m_logWindow = nullptr;
    // Last: it refers to everything above.
    std::unique_ptr<TFormKestrel> m_form;
};

} // namespace qtui
