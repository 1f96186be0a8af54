#pragma once
// The main window FormKestrel in Qt Widgets: the top panel with the counters sentence and the
// Help, Update and Home Page buttons, the list VTS, the bottom panel with the four option check
// boxes and the Refresh and End Process buttons, the context menu PmTree and Timer1. The
// window only mirrors state and forwards the user's events; TFormKestrel decides.
#include <memory>

#include <QIcon>
#include <QMainWindow>
#include <QString>

#include "list/MemoryListControl.h"
#include "ui/Components.h"
#include "ui/UnitFormKestrel.h"
#include "ui/qt/QtCommands.h"
#include "ui/qt/QtComponents.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace qtui {

class ConnectionModel;
class ConnectionView;
class QtSystemImageList;

// The application icon in all its sizes.
QIcon applicationIcon();

class KestrelMainWindow : public QMainWindow, public ui::Window {
    Q_OBJECT
public:
    // Lays out the window at its design state and binds the window logic to it; runs nothing.
    // Without icon services of its own the icon theme serves the icon caches.
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
    QLabel* appCountLabel() const { return m_labAppCount; }
    QLabel* netCountLabel() const { return m_labNetCount; }
    QLineEdit* filterField() const { return m_eFilter; }
    // The counters sentence as it reads on screen.
    QString countersText() const;
    QCheckBox* showLocalBox() const { return m_cbShowLocal; }
    QCheckBox* autoRefreshBox() const { return m_cbAutoRefresh; }
    QCheckBox* alwaysTopBox() const { return m_cbAlwaysTop; }
    QCheckBox* showInfoBox() const { return m_cbShowInfo; }
    QPushButton* refreshButton() const { return m_btnRefresh; }
    QPushButton* endProcessButton() const { return m_btnEndPro; }
    QtTimer& timer() { return *m_timer; }

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
    static constexpr int ClientWidth = 746;
    static constexpr int ClientHeight = 433;
    static constexpr int MinimumWidth = 672;
    static constexpr int MinimumHeight = 200;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QFrame* makeTopPanel();
    QFrame* makeBottomPanel();

    QtMessageBoxes m_messages;
    MemoryListControl m_list;
    ConnectionModel* m_model = nullptr;
    ConnectionView* m_view = nullptr;
    QMenu* m_popup = nullptr;
    QLabel* m_labAppCount = nullptr;
    QLabel* m_labNetCount = nullptr;
    QLabel* m_label5 = nullptr;
    QLineEdit* m_eFilter = nullptr;
    QPushButton* m_btnHelp = nullptr;
    QPushButton* m_btnUpdate = nullptr;
    QPushButton* m_btnHomePage = nullptr;
    QPushButton* m_btnRefresh = nullptr;
    QPushButton* m_btnEndPro = nullptr;
    QCheckBox* m_cbShowLocal = nullptr;
    QCheckBox* m_cbAutoRefresh = nullptr;
    QCheckBox* m_cbAlwaysTop = nullptr;
    QCheckBox* m_cbShowInfo = nullptr;
    bool m_placed = false;

    std::unique_ptr<QtLabel> m_appCount;
    std::unique_ptr<QtLabel> m_netCount;
    std::unique_ptr<QtLabel> m_sentenceEnd;
    std::unique_ptr<QtTextField> m_filter;
    std::unique_ptr<QtButton> m_help;
    std::unique_ptr<QtButton> m_update;
    std::unique_ptr<QtButton> m_homePage;
    std::unique_ptr<QtButton> m_refresh;
    std::unique_ptr<QtButton> m_endPro;
    std::unique_ptr<QtCheckBox> m_showLocal;
    std::unique_ptr<QtCheckBox> m_autoRefresh;
    std::unique_ptr<QtCheckBox> m_alwaysTop;
    std::unique_ptr<QtCheckBox> m_showInfo;
    std::unique_ptr<QtTimer> m_timer;
    std::unique_ptr<QtMenuItem> m_procInfo;
    std::unique_ptr<QtMenuItem> m_endProc;
    std::unique_ptr<QtMenuItem> m_copy;
    std::unique_ptr<QtMenuItem> m_locate;
    std::unique_ptr<QtMenuItem> m_property;
    // The icon theme as the system's image lists, behind both icon caches.
    std::unique_ptr<QtSystemImageList> m_systemImages;
    // The context menu, shell, clipboard and details dialogs of the connection commands.
    std::unique_ptr<QtCommandComponents> m_commandParts;
    // Last: it refers to everything above.
    std::unique_ptr<TFormKestrel> m_form;
};

} // namespace qtui
