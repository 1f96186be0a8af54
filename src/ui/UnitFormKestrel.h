#pragma once
// TFormKestrel: the main window's logic, free of any toolkit. The toolkit layer (or a test)
// makes the controls, hands them over in TFormKestrelControls, calls FormCreate once before the
// window is first shown and FormCloseQuery before every close; every user event it forwards
// goes through ui::dispatchEvent with Messages as the error report.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "list/ConnectionList.h"
#include "list/ImageListEx.h"
#include "list/ListControl.h"
#include "os/ProcessControl.h"
#include "ui/CommandComponents.h"
#include "ui/Components.h"
#include "ui/IniFile.h"
#include "ui/ShellRequests.h"

// The window's controls, owned by the toolkit layer; they must outlive the TFormKestrel.
struct TFormKestrelControls {
    ui::Window& Form;
    ListControl& VTS;
    ui::Label& LabAppCount;
    ui::Label& LabNetCount;
    // The end of the sentence after LabNetCount; it tells how many rows the filter shows.
    ui::Label& Label5;
    // The filter field in the top panel.
    ui::TextField& EFilter;
    ui::Button& BTNHelp;
    ui::Button& BTNUpdate;
    ui::Button& BTNHomePage;
    ui::Button& BTNRefresh;
    ui::Button& BTNEndPro;
    ui::CheckBox& CBShowLocal;
    ui::CheckBox& CBAutoRefresh;
    ui::CheckBox& CBAlwaysTop;
    ui::CheckBox& CBShowInfo;
    ui::Timer& Timer1;
    // Items of the context menu PmTree.
    ui::MenuItem& NProcInfo;
    ui::MenuItem& NEndProc;
    ui::MenuItem& NCopy;
    ui::MenuItem& NLocate;
    ui::MenuItem& NProperty;
    // Message boxes and the application's general error report.
    ui::MessageBoxes& Messages;
};

// What the window asks of the system; tests replace any of it.
struct TFormKestrelServices {
    // Full name of the settings file Kestrel.ini, and how it is read and replaced.
    std::string settingsFile;
    ProfileStorage settingsStorage;
    // Folder of the program's executable, with a trailing separator.
    std::function<std::string()> exeDir;
    // The system program folders as the system names them.
    std::function<std::vector<std::string>()> systemDirs;
    std::function<bool()> enableDebugPrivilege;
    // The snapshot: takeSnapshot, tcpRecords and udpRecords (the window adds the rest).
    ConnectionListHooks snapshot;
    // Builds the description indexes (PrepareDescriptions); run beside the first fill.
    std::function<void()> prepareDescriptions;
    // The icon caches: a new empty image list of the toolkit (16 x 16 until told otherwise)
    // and the system's icons, which must outlive the window. Without both the window keeps no
    // icon caches and the list shows no icons.
    std::function<std::unique_ptr<ImageStore>()> makeImageStore;
    SystemImageList* systemImages = nullptr;
    // Ends process `pid` if it still has the recorded identity (os::EndProcess).
    std::function<os::EndProcessResult(std::uint32_t pid, std::uint64_t startTime)> endProcess;
};

// What the connection commands use besides the controls, owned by the toolkit layer and bound
// with TFormKestrel::SetCommandComponents. A command whose piece is missing does nothing.
struct TFormKestrelCommands {
    ui::PopupMenu* PmTree = nullptr;
    ShellRequests* Shell = nullptr;
    ClipboardText* Clipboard = nullptr;
    ui::ProcInfoDialogs* ProcInfoDialogs = nullptr;
};

// The real system: os::SettingsFilePath, os::ExecutableDir, os::SystemDirectories,
// EnableDebugPrivilege and GetTcpUdpTable over TcpRecords and UdpRecords.
TFormKestrelServices systemFormServices();

class TFormKestrel : public ListControlEvents {
public:
    // Sets the controls to their design state (captions, tags, check marks, timer) and binds
    // their events. Runs no handler and touches no file.
    TFormKestrel(const TFormKestrelControls& controls, TFormKestrelServices services);
    ~TFormKestrel() override;
    TFormKestrel(const TFormKestrel&) = delete;
    TFormKestrel& operator=(const TFormKestrel&) = delete;

    // The creation sequence: addresses, ExeDir, SystemDir, options, list, icon caches, texts,
    // debug privilege, first fill, version stamp. An error ends it early and goes to the
    // general error report (Creating then stays true, the caption unstamped). Never throws.
    void FormCreate();
    // Asks MsgConfirmExit; CanClose becomes true only on Yes.
    void FormCloseQuery(bool& CanClose);

    // Event handlers, bound to their controls by the constructor. Errors reach the caller.
    void BTNRefreshClick();
    void Timer1Timer();
    void CBShowLocalClick();
    void CBAutoRefreshClick();
    void CBAlwaysTopClick();
    void CBShowInfoClick();
    // The filter: a new text in EFilter shows only the rows that contain it (the list
    // control's filter) and keeps the selection while its row is shown, else selects the
    // first row shown. Ctrl+F (FormKeyFind) puts the focus into the field, Escape in the field
    // (EFilterKeyEscape) empties it.
    void EFilterChange();
    void FormKeyFind();
    void EFilterKeyEscape();

    // The list's events.
    int VTSGetImageIndex(RowHandle node, int column) override;
    void VTSHeaderClick(int column) override;

    // The connection commands. A command chosen from the context menu acts on the row the
    // menu was opened for, and does nothing once a refresh has removed that row; otherwise
    // (the button, the double click, a click from code) it reads the focused row when it runs.
    // Either way a refresh while a menu or a message box was open is taken into account.
    void SetCommandComponents(const TFormKestrelCommands& commands) { m_commands = commands; }
    void VTSGetPopupMenu(RowHandle node, int column, ScreenPoint where) override;
    void VTSColumnClick(int column, ScreenPoint where) override;
    void VTSDblClick() override;
    void BTNEndProClick();
    void NEndProcClick();
    void NLocateClick();
    void NPropertyClick();
    void BTNHelpClick();
    void BTNHomePageClick();
    void BTNUpdateClick();
    void NCopyClick();
    void NProcInfoClick();

    // The icon caches: SmallIcons (16 x 16) serves the list's column 1, LargeIcons (32 x 32)
    // the process details. nullptr before FormCreate made them, or without icon services.
    TImageListEx* smallIcons() { return SmallIcons.get(); }
    TImageListEx* largeIcons() { return LargeIcons.get(); }

    // Fields other parts of the window read.
    bool creating() const { return Creating; }
    const std::string& exeDir() const { return ExeDir; }
    const std::vector<std::string>& systemDir() const { return SystemDir; }
    const std::string& homePageURL() const { return HomePageURL; }
    const std::string& updateURL() const { return UpdateURL; }
    bool showLocal() const { return ShowLocal; }
    bool autoRefresh() const { return AutoRefresh; }
    bool alwaysTop() const { return AlwaysTop; }
    bool showInfo() const { return ShowInfo; }
    const std::string& msgSystemProcess() const { return MsgSystemProcess; }
    const std::string& textNotEnabled() const { return TextNotEnabled; }
    const std::string& msgConfirmExit() const { return MsgConfirmExit; }
    const std::string& msgCannotEnd() const { return MsgCannotEnd; }
    const std::string& textSystemNote() const { return TextSystemNote; }
    const std::string& textIdleNote() const { return TextIdleNote; }
    const std::string& msgConfirmEndSystem() const { return MsgConfirmEndSystem; }
    const std::string& settingsFile() const { return m_services.settingsFile; }

private:
    void LoadSettings();
    void SaveSetting(int tag);
    void storeOption(int tag);
    void restoreAfterRefresh();
    // Label5: "个连接。" while the filter is empty, else with how many rows it shows.
    void updateSentence();
    // As a refresh does: with nothing selected, the first row shown becomes selected and
    // focused.
    void selectFirstShownIfNone();
    void FillList();
    void RefreshList();
    void releaseSnapshot();
    void bindCommandHandlers();
    void unbindCommandHandlers();
    // Sets the four row-dependent menu items enabled exactly when the row has a path.
    void prepareMenu(const TMyRec& row);
    // Prepares PmTree for `row` and shows it; the item chosen acts on that row.
    void showMenuFor(RowHandle row, ScreenPoint where);
    // The row a connection command acts on (see above); nullptr when there is none.
    RowHandle commandRow() const;

    // While the context menu is open: the row it was opened for, by its address (compared,
    // never read, until it is found in the list again) and a copy of its record.
    struct MenuRow {
        bool active = false;
        std::uintptr_t address = 0;
        TMyRec rec;
    };

    TFormKestrelControls m_c;
    TFormKestrelCommands m_commands;
    TFormKestrelServices m_services;
    ConnectionList m_connections;
    MenuRow m_menuRow;
    bool m_loadingSettings = false;

    bool Creating = false;
    std::string ExeDir;
    bool ShowLocal = true;
    bool AutoRefresh = false;
    bool AlwaysTop = true;
    bool ShowInfo = false;
    std::unique_ptr<TImageListEx> SmallIcons;
    std::unique_ptr<TImageListEx> LargeIcons;
    std::string MsgSystemProcess;
    std::string TextNotEnabled;
    std::string MsgConfirmExit;
    std::string MsgCannotEnd;
    std::string TextSystemNote;
    std::string TextIdleNote;
    std::string MsgConfirmEndSystem;
    std::string HomePageURL;
    // The system program folders, ASCII letters upper-cased, no trailing separator (on
    // Windows the one system directory).
    std::vector<std::string> SystemDir;
    std::string UpdateURL;
};
