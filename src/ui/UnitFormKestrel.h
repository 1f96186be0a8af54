#pragma once
// TFormKestrel: the main window's logic, free of any toolkit. The toolkit layer (or a test)
// makes the controls, hands them over in TFormKestrelControls, calls FormCreate once before the
// window is first shown and FormCloseQuery before every close; every user event it forwards
// goes through ui::dispatchEvent with Messages as the error report.
#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "list/ConnectionList.h"
#include "list/ImageListEx.h"
#include "list/ListControl.h"
#include "os/ConnectionControl.h"
#include "os/ProcessControl.h"
#include "os/SettingsPath.h"
#include "ui/CommandComponents.h"
#include "ui/Components.h"
#include "ui/HostNameResolver.h"
#include "ui/IniFile.h"
#include "ui/MainWindowLook.h"
#include "ui/ShellRequests.h"
#include "ui/Worker.h"

// The items of a menu, by their names in the window's description (MainWindowLook).
template <typename Item>
using MenuItems = std::array<ui::MenuItem*, static_cast<std::size_t>(Item::Count)>;

// The window's controls, owned by the toolkit layer; they must outlive the TFormKestrel. The
// toolkit makes them as MainWindowLook describes them and the logic gives them their captions.
struct TFormKestrelControls {
    ui::Window& Form;
    ListControl& VTS;
    ui::Label& LabAppCount;
    ui::Label& LabNetCount;
    // The end of the sentence after LabNetCount; it tells how many rows the filter shows.
    ui::Label& Label5;
    // The filter field in the top panel.
    ui::TextField& EFilter;
    ui::Button& BTNOptions;
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
    // Every item of the context menu PmTree and of the options menu PmOptions; none missing.
    MenuItems<ContextItem> PmTree;
    MenuItems<OptionItem> PmOptions;
    MenuItems<OptionCommand> PmOptionCommands;
    // Message boxes and the application's general error report.
    ui::MessageBoxes& Messages;
    // Takes the refreshes' snapshots, the ending of processes and the file manager's requests
    // off the window's thread.
    ui::Worker& Worker;
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
    // Takes a new snapshot into the value given (TakeSnapshot); may throw. A refresh runs it
    // on the worker, so it must touch nothing the window's thread uses.
    std::function<void(Snapshot&)> takeSnapshot;
    // Shown each snapshot on the window's thread (the connection log learns openings and
    // owners from it): the first fill's before the list is filled, a refresh's on the next
    // turn of the event loop after the list merged it; empty: nobody is told.
    std::function<void(const Snapshot&)> snapshotTaken;
    // A refresh's snapshot is ready and will be told by snapshotTaken on a later turn (called
    // before the list merges it); empty: nobody is told.
    std::function<void()> snapshotPending;
    // Opens the connection log's window "连接记录" (both menus' items); empty: the items are
    // disabled.
    std::function<void()> showConnectionLog;
    // Builds the description indexes (PrepareDescriptions); run beside the first fill.
    std::function<void()> prepareDescriptions;
    // The icon caches: a new empty image list of the toolkit (16 x 16 until told otherwise)
    // and the system's icons, which must outlive the window. Without both the window keeps no
    // icon caches and the list shows no icons.
    std::function<std::unique_ptr<ImageStore>()> makeImageStore;
    SystemImageList* systemImages = nullptr;
    // Ends process `pid` if it still has the recorded identity (os::EndProcess). Runs on the
    // worker.
    std::function<os::EndProcessResult(std::uint32_t pid, std::uint64_t startTime)> endProcess;
    // Writes a whole file so that it is there complete or not at all: false, with nothing
    // left behind, when that fails (os::ReplaceWholeFile).
    std::function<bool(const std::string& path, const std::string& contents)> writeWholeFile =
        os::ReplaceWholeFile;
    // Whether the system can close a connection like this one, and closing it
    // (os::CanCloseConnection, os::CloseConnection). Without them no connection is closed.
    std::function<bool(const os::Endpoint&)> canCloseConnection;
    // Runs on the worker.
    std::function<os::CloseConnectionResult(const os::Endpoint&)> closeConnection;
    // The name of a remote address, "" for none (os::HostNameOfAddress); runs on the worker,
    // at most HostNameResolver::MaxLookups at a time. Without it the "目标主机" column shows
    // the addresses.
    std::function<std::string(const std::string& address)> hostNameOfAddress;
};

// What the connection commands use besides the controls, owned by the toolkit layer and bound
// with TFormKestrel::SetCommandComponents. A command whose piece is missing does nothing.
struct TFormKestrelCommands {
    ui::PopupMenu* PmTree = nullptr;
    ShellRequests* Shell = nullptr;
    ClipboardText* Clipboard = nullptr;
    ui::ProcInfoDialogs* ProcInfoDialogs = nullptr;
    // The options menu, opened by BTNOptions.
    ui::DropDownMenu* PmOptions = nullptr;
    // Asks for the file "导出列表..." writes.
    ui::SaveFileDialog* SaveDialog = nullptr;
};

// The close-connection item's question and its refusal; the refusal's second line names the
// reason.
inline constexpr const char* MsgConfirmCloseConnection = "确定要断开这个连接吗?";
inline constexpr const char* MsgCannotCloseConnection = "无法断开连接!";
// The reason line of a refusal; empty for Closed.
std::string CloseConnectionReason(os::CloseConnectionResult result);

// The real system: os::SettingsFilePath, os::ExecutableDir, os::SystemDirectories,
// EnableDebugPrivilege, TakeSnapshot, PrepareDescriptions and os::EndProcess.
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
    // BTNRefreshClick is the one way to a refresh: it disables BTNRefresh and Timer1 and
    // starts the snapshot on the worker; the merge, the sort and the counters follow on the
    // window's thread when it is ready, then button and timer come back (also after a failed
    // snapshot, whose error then reaches the general error report). While a refresh is in
    // flight it starts nothing.
    void BTNRefreshClick();
    bool refreshing() const { return m_refreshing; }
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
    // Opens the options menu under its button.
    void BTNOptionsClick();

    // The options of the options menu: each one's current value, and what the window does
    // when it changes (set by the feature the option belongs to; runs after the new value has
    // been stored, also while FormCreate applies a stored value: creating() is true then).
    bool option(OptionItem item) const { return m_options[index(item)]; }
    bool showIPv6() const { return option(OptionItem::ShowIPv6); }
    bool resolveNames() const { return option(OptionItem::ResolveNames); }
    bool showTraffic() const { return option(OptionItem::ShowTraffic); }
    void setOnOptionChanged(OptionItem item, std::function<void()> changed) {
        m_optionChanged[index(item)] = std::move(changed);
    }

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
    // "导出列表...": asks for a file name and saves the rows shown then, in display order, with
    // the visible columns (ListExport.h; tab-separated for a name ending in ".txt", else CSV).
    // Cancelled, nothing is written; a failed write leaves nothing behind and shows
    // MsgCannotExport with the file's name.
    void NExportClick();
    // "查看连接记录" and the options menu's "连接记录": the connection log's window.
    void NViewLogClick();
    // Closes the TCP connection of the row after a question (No the default) on the worker,
    // then refreshes; a refusal shows MsgCannotCloseConnection and the reason.
    void NCloseConnectionClick();
    // Whether the row is a connection this system can close: TCP in a connected state (SYN
    // sent to last ACK), and one canCloseConnection accepts.
    bool connectionClosable(const TMyRec& row) const;

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
    // The option ShowIPv6 as if its menu item were clicked: IPv6 endpoints as "TCPv6" and
    // "UDPv6" rows. A change is stored and starts a refresh at once through the Refresh
    // button's click, except while the window is being created (the first fill reads it);
    // setting the current value does nothing.
    void setShowIPv6(bool on);
    const std::string& msgSystemProcess() const { return MsgSystemProcess; }
    const std::string& textNotEnabled() const { return TextNotEnabled; }
    const std::string& msgConfirmExit() const { return MsgConfirmExit; }
    const std::string& msgCannotEnd() const { return MsgCannotEnd; }
    const std::string& textSystemNote() const { return TextSystemNote; }
    const std::string& textIdleNote() const { return TextIdleNote; }
    const std::string& msgConfirmEndSystem() const { return MsgConfirmEndSystem; }
    // "无法保存文件：%s": the message of a failed export, "%s" the file's name.
    static const char* const MsgCannotExport;
    const std::string& settingsFile() const { return m_services.settingsFile; }

private:
    static std::size_t index(OptionItem item) { return static_cast<std::size_t>(item); }
    ui::MenuItem& item(ContextItem item) const {
        return *m_c.PmTree[static_cast<std::size_t>(item)];
    }
    ui::MenuItem& item(OptionItem item) const { return *m_c.PmOptions[index(item)]; }
    ui::MenuItem& item(OptionCommand item) const {
        return *m_c.PmOptionCommands[static_cast<std::size_t>(item)];
    }
    void optionItemClick(OptionItem item);
    // Shows or hides the columns of an option by its value.
    void applyOptionColumns(OptionItem item);
    // While ResolveNames is on, gives every row its remote host's text (the address until its
    // name is known, nothing for an address without one) and asks for the names not yet
    // known; re-sorts when the list is sorted by that column. While it is off, clears them.
    void showHostNames();
    // Answers came in: every row is walked at most a few times a second while lookups go on,
    // and once more when the last one has answered.
    void hostNamesArrived();
    void LoadSettings();
    void SaveSetting(int tag);
    void storeOption(int tag);
    void storeValue(const char* section, const char* key, bool value);
    void storeWith(const std::function<void()>& write);
    ui::Button* buttonOf(MainControl control) const;
    ui::CheckBox* boxOf(MainControl control) const;
    void restoreAfterRefresh();
    // Label5: "个连接。" while the filter is empty, else with how many rows it shows.
    void updateSentence();
    // As a refresh does: with nothing selected, the first row shown becomes selected and
    // focused.
    void selectFirstShownIfNone();
    void FillList();
    // The worker's snapshot is ready (or failed with `error`): merge it and restore.
    // `prepared` is the records' index when the worker made it.
    void RefreshList(Snapshot& snapshot, std::unique_ptr<PreparedSnapshot>& prepared,
                     std::exception_ptr error);
    void releaseSnapshot(Snapshot& snapshot);
    // Frees a merged snapshot on the worker (here when no thread is to be had).
    void freeAside(std::shared_ptr<Snapshot> snapshot);
    // Starts `job` on the worker; `completion` runs only while this window still exists.
    void runAside(ui::Worker::Job job, std::function<void(std::exception_ptr)> completion);
    // Asks the file manager on the worker when the shell allows it, else here.
    void askFileManager(ShellRequests::FileManagerRequest request, const std::string& path);
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
    std::unique_ptr<HostNameResolver> m_hostNames;
    bool m_hostTextsSet = false; // some row holds a "目标主机" text
    std::chrono::steady_clock::time_point m_lastHostPass;
    bool m_loadingSettings = false;
    bool m_refreshing = false;
    // Completions hold it weakly: those that arrive after the window has gone do nothing.
    std::shared_ptr<char> m_alive = std::make_shared<char>();

    bool Creating = false;
    std::string ExeDir;
    bool ShowLocal = true;
    bool AutoRefresh = false;
    bool AlwaysTop = true;
    bool ShowInfo = false;
    std::array<bool, static_cast<std::size_t>(OptionItem::Count)> m_options{};
    std::array<std::function<void()>, static_cast<std::size_t>(OptionItem::Count)> m_optionChanged;
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
