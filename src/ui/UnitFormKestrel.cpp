#include "ui/UnitFormKestrel.h"

#include <array>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "list/Columns.h"
#include "list/RowRules.h"
#include "os/HostNames.h"
#include "os/Memory.h"
#include "os/SettingsPath.h"
#include "os/SystemDirs.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/IniFile.h"
#include "ui/MainWindowLook.h"
#include "ui/SystemProcessCheck.h"
#include "ui/UPub_Version.h"

#ifndef KESTREL_HOME_PAGE_URL
#error "KESTREL_HOME_PAGE_URL comes from the build (src/ui/ui.cmake)"
#endif
#ifndef KESTREL_UPDATE_URL
#error "KESTREL_UPDATE_URL comes from the build (src/ui/ui.cmake)"
#endif
#ifndef KESTREL_VERSION
#error "KESTREL_VERSION comes from the build (src/ui/ui.cmake)"
#endif

namespace {

constexpr const char* VersionText = KESTREL_VERSION;
constexpr const char* SettingsSection = MainWindowLook::SettingsSection;
constexpr int LargeIconSize = 32;

constexpr const char* TextMsgSystemProcess = "系统进程，不能结束。";
constexpr const char* TextMsgConfirmExit = "您确认要退出网络连接查看器?";
constexpr const char* TextMsgCannotEnd = "无法结束进程!";
constexpr const char* TextMsgConfirmEndSystem =
    "这是系统进程，结束该进程可能引起系统无法运行，仍要结束?";

// The columns that the option ShowInfo shows and hides together.
constexpr int FileDetailColumns[] = {ColumnPath, ColumnDescription, ColumnCompany};

ConnectionListHooks windowHooks(const TFormKestrelControls& c, std::function<bool()> showIPv6,
                                std::function<void()> afterNetCount) {
    ConnectionListHooks hooks;
    ui::CheckBox* showLocal = &c.CBShowLocal;
    ui::Label* netCount = &c.LabNetCount;
    ui::Label* appCount = &c.LabAppCount;
    hooks.showLocal = [showLocal] { return showLocal->checked(); };
    hooks.showIPv6 = std::move(showIPv6);
    hooks.setNetCount = [netCount, afterNetCount = std::move(afterNetCount)](std::size_t n) {
        netCount->setCaption(std::to_string(n));
        afterNetCount();
    };
    hooks.setAppCount = [appCount](std::size_t n) { appCount->setCaption(std::to_string(n)); };
    hooks.secondsNow = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    return hooks;
}

} // namespace

TFormKestrelServices systemFormServices() {
    TFormKestrelServices services;
    services.settingsFile = os::SettingsFilePath();
    services.exeDir = os::ExecutableDir;
    services.systemDirs = os::SystemDirectories;
    services.enableDebugPrivilege = EnableDebugPrivilege;
    services.takeSnapshot = TakeSnapshot;
    services.prepareDescriptions = PrepareDescriptions;
    services.endProcess = os::EndProcess;
    services.canCloseConnection = os::CanCloseConnection;
    services.closeConnection = os::CloseConnection;
    services.hostNameOfAddress = os::HostNameOfAddress;
    return services;
}

TFormKestrel::TFormKestrel(const TFormKestrelControls& controls, TFormKestrelServices services)
    : m_c(controls), m_services(std::move(services)),
      m_connections(controls.VTS,
                    windowHooks(
                        controls, [this] { return showIPv6(); }, [this] { updateSentence(); })) {
    // The design state comes first, so that no click handler runs for it.
    m_c.Form.setCaption(MainWindowLook::Caption);
    m_c.LabAppCount.setCaption(MainWindowLook::Control(MainControl::LabAppCount).caption);
    m_c.LabNetCount.setCaption(MainWindowLook::Control(MainControl::LabNetCount).caption);
    m_c.Label5.setCaption(MainWindowLook::Control(MainControl::Label5).caption);
    m_c.EFilter.setOnChange({});
    m_c.EFilter.setText("");
    m_c.EFilter.setPlaceholder(MainWindowLook::Control(MainControl::EFilter).caption);
    for (const auto* row : {&MainWindowLook::TopRight(), &MainWindowLook::BottomRow()}) {
        for (const MainControlLook& look : *row) {
            if (ui::Button* button = buttonOf(look.control)) {
                button->setCaption(look.caption);
            } else if (ui::CheckBox* box = boxOf(look.control)) {
                box->setOnClick({});
                box->setTag(look.tag);
                box->setCaption(look.caption);
                box->setChecked(look.checked);
            }
        }
    }

    m_c.Timer1.setOnTimer({});
    m_c.Timer1.setEnabled(false);
    m_c.Timer1.setInterval(MainWindowLook::AutoRefreshInterval);

    for (const MenuLine<ContextItem>& line : MainWindowLook::ContextMenu()) {
        if (line.caption != nullptr)
            item(line.item).setCaption(line.caption);
    }
    // Until a menu is prepared for a row, there is no connection to close.
    item(ContextItem::NCloseConnection).setEnabled(false);
    for (const OptionLook& option : MainWindowLook::OptionsMenu()) {
        ui::MenuItem& menuItem = item(option.item);
        menuItem.setOnClick({});
        menuItem.setCaption(option.caption);
        menuItem.setCheckable(true);
        menuItem.setChecked(option.defaultChecked);
        m_options[index(option.item)] = option.defaultChecked;
        menuItem.setOnClick([this, which = option.item] { optionItemClick(which); });
    }
    for (const MenuLine<OptionCommand>& line : MainWindowLook::OptionsCommands()) {
        if (line.caption != nullptr)
            item(line.item).setCaption(line.caption);
    }

    m_c.BTNRefresh.setOnClick([this] { BTNRefreshClick(); });
    m_c.BTNOptions.setOnClick([this] { BTNOptionsClick(); });
    m_c.Timer1.setOnTimer([this] { Timer1Timer(); });
    m_c.CBShowLocal.setOnClick([this] { CBShowLocalClick(); });
    m_c.CBAutoRefresh.setOnClick([this] { CBAutoRefreshClick(); });
    m_c.CBAlwaysTop.setOnClick([this] { CBAlwaysTopClick(); });
    m_c.CBShowInfo.setOnClick([this] { CBShowInfoClick(); });
    m_c.EFilter.setOnChange([this] { EFilterChange(); });
    bindCommandHandlers();
    m_c.VTS.setEventHandler(this);
    HostNameResolver::Lookup lookup = m_services.hostNameOfAddress;
    m_hostNames = std::make_unique<HostNameResolver>(m_c.Worker, std::move(lookup),
                                                     [this] { hostNamesArrived(); });
}

TFormKestrel::~TFormKestrel() {
    // The controls may outlive the window by a moment; none may call into it any more.
    m_c.VTS.setEventHandler(nullptr);
    m_c.BTNRefresh.setOnClick({});
    m_c.BTNOptions.setOnClick({});
    m_c.Timer1.setOnTimer({});
    m_c.Timer1.setEnabled(false);
    m_c.CBShowLocal.setOnClick({});
    m_c.CBAutoRefresh.setOnClick({});
    m_c.CBAlwaysTop.setOnClick({});
    m_c.CBShowInfo.setOnClick({});
    for (ui::MenuItem* command : m_c.PmOptionCommands)
        command->setOnClick({});
    m_c.EFilter.setOnChange({});
    for (ui::MenuItem* option : m_c.PmOptions)
        option->setOnClick({});
    unbindCommandHandlers();
    // Names still being looked up find nobody to tell.
    m_hostNames.reset();
}

ui::Button* TFormKestrel::buttonOf(MainControl control) const {
    switch (control) {
    case MainControl::BTNOptions:
        return &m_c.BTNOptions;
    case MainControl::BTNHelp:
        return &m_c.BTNHelp;
    case MainControl::BTNUpdate:
        return &m_c.BTNUpdate;
    case MainControl::BTNHomePage:
        return &m_c.BTNHomePage;
    case MainControl::BTNRefresh:
        return &m_c.BTNRefresh;
    case MainControl::BTNEndPro:
        return &m_c.BTNEndPro;
    default:
        return nullptr;
    }
}

ui::CheckBox* TFormKestrel::boxOf(MainControl control) const {
    switch (control) {
    case MainControl::CBShowLocal:
        return &m_c.CBShowLocal;
    case MainControl::CBAutoRefresh:
        return &m_c.CBAutoRefresh;
    case MainControl::CBAlwaysTop:
        return &m_c.CBAlwaysTop;
    case MainControl::CBShowInfo:
        return &m_c.CBShowInfo;
    default:
        return nullptr;
    }
}

void TFormKestrel::FormCreate() {
    ui::dispatchEvent(m_c.Messages, [this] {
        HomePageURL = KESTREL_HOME_PAGE_URL;
        UpdateURL = KESTREL_UPDATE_URL;
        Creating = true;
        ExeDir = m_services.exeDir ? m_services.exeDir() : std::string();

        SystemDir.clear();
        if (m_services.systemDirs) {
            for (const std::string& dir : m_services.systemDirs())
                SystemDir.push_back(UpperCaseAscii(dir));
        }

        LoadSettings();

        m_c.VTS.clear();

        if (m_services.makeImageStore && m_services.systemImages) {
            LargeIcons = std::make_unique<TImageListEx>(m_services.makeImageStore(),
                                                        *m_services.systemImages);
            LargeIcons->SetHeight(LargeIconSize);
            LargeIcons->SetWidth(LargeIconSize);
            // The list draws column 1's icons from SmallIcons through VTSGetImageIndex.
            SmallIcons = std::make_unique<TImageListEx>(m_services.makeImageStore(),
                                                        *m_services.systemImages);
        }

        MsgSystemProcess = TextMsgSystemProcess;
        TextNotEnabled = ::TextNotEnabled;
        MsgConfirmExit = TextMsgConfirmExit;
        MsgCannotEnd = TextMsgCannotEnd;
        TextSystemNote = ::TextSystemNote;
        TextIdleNote = ::TextIdleNote;
        MsgConfirmEndSystem = TextMsgConfirmEndSystem;

        if (m_services.enableDebugPrivilege)
            m_services.enableDebugPrivilege();

        {
            // The description indexes are built while the first snapshot reads the tables.
            const std::jthread prepare = PrepareDescriptionsAside(m_services.prepareDescriptions);
            FillList();
        }
        Creating = false;
        m_c.Form.setCaption(StampVersion(m_c.Form.caption(), VersionText));
    });
}

void TFormKestrel::FormCloseQuery(bool& CanClose) {
    // The question has a text even when the creation sequence stopped before the texts.
    const std::string& text =
        MsgConfirmExit.empty() ? std::string(TextMsgConfirmExit) : MsgConfirmExit;
    CanClose = m_c.Messages.askYesNo(text, ui::ApplicationTitle, ui::DefaultButton::Yes) ==
               ui::Answer::Yes;
}

void TFormKestrel::BTNRefreshClick() {
    // One refresh at a time: the one in flight merges what is current when it is ready.
    if (m_refreshing)
        return;
    m_c.BTNRefresh.setEnabled(false);
    if (m_c.CBAutoRefresh.checked())
        m_c.Timer1.setEnabled(false);
    // The job owns its snapshot and its copy of the function: the window may go before it ends.
    // It also indexes the records, which at 100,000 endpoints is a good part of the merge.
    auto snapshot = std::make_shared<Snapshot>();
    auto prepared = std::make_shared<std::unique_ptr<PreparedSnapshot>>();
    auto take = m_services.takeSnapshot;
    m_refreshing = true;
    try {
        runAside(
            [snapshot, prepared, take] {
                if (take)
                    take(*snapshot);
                *prepared = std::make_unique<PreparedSnapshot>(snapshot->Tcp, snapshot->Udp,
                                                               snapshot->Tcp6, snapshot->Udp6);
            },
            [this, snapshot, prepared](std::exception_ptr error) {
                RefreshList(*snapshot, *prepared, error);
            });
    } catch (...) {
        m_refreshing = false;
        restoreAfterRefresh();
        throw;
    }
}

void TFormKestrel::RefreshList(Snapshot& snapshot, std::unique_ptr<PreparedSnapshot>& prepared,
                               std::exception_ptr error) {
    m_refreshing = false;
    try {
        if (error)
            std::rethrow_exception(error);
        if (m_services.snapshotTaken && m_services.snapshotPending)
            m_services.snapshotPending();
        if (prepared)
            m_connections.RefreshList(*prepared);
        else
            m_connections.RefreshList(snapshot.Tcp, snapshot.Udp, snapshot.Tcp6, snapshot.Udp6);
        prepared.reset(); // it refers to the records, which move on below
        showHostNames();
    } catch (...) {
        prepared.reset();
        releaseSnapshot(snapshot);
        restoreAfterRefresh();
        throw;
    }
    auto merged = std::make_shared<Snapshot>(std::move(snapshot));
    if (!m_services.snapshotTaken) {
        freeAside(std::move(merged));
        restoreAfterRefresh();
        return;
    }
    restoreAfterRefresh();
    // The connection log compares the snapshot with the last one, which at 100,000 endpoints
    // takes a good part of a merge: on a turn of its own, so that the window answers between
    // the two. Ends announced meanwhile learn their owners from it all the same.
    try {
        runAside([] {},
                 [this, merged](std::exception_ptr) mutable {
                     m_services.snapshotTaken(*merged);
                     freeAside(std::move(merged));
                 });
    } catch (...) {
        m_services.snapshotTaken(*merged);
        freeAside(std::move(merged));
    }
}

void TFormKestrel::freeAside(std::shared_ptr<Snapshot> snapshot) {
    // Freeing 100,000 records and trimming the heap would hold up the window: the worker
    // does it.
    try {
        m_c.Worker.startDetached([dead = std::move(snapshot)]() mutable {
            dead.reset();
            os::ReleaseFreeMemory();
        });
    } catch (...) {
        // No thread to be had: the records went with the job, here.
        os::ReleaseFreeMemory();
    }
}

void TFormKestrel::runAside(ui::Worker::Job job,
                            std::function<void(std::exception_ptr)> completion) {
    m_c.Worker.start(std::move(job),
                     [alive = std::weak_ptr<char>(m_alive),
                      completion = std::move(completion)](std::exception_ptr error) {
                         if (!alive.expired())
                             completion(error);
                     });
}

void TFormKestrel::restoreAfterRefresh() {
    m_c.BTNRefresh.setEnabled(true);
    if (m_c.CBAutoRefresh.checked())
        m_c.Timer1.setEnabled(true);
}

void TFormKestrel::Timer1Timer() {
    m_c.BTNRefresh.click();
}

void TFormKestrel::CBShowLocalClick() {
    ShowLocal = m_c.CBShowLocal.checked();
    storeOption(m_c.CBShowLocal.tag());
    if (!Creating)
        m_c.BTNRefresh.click();
}

void TFormKestrel::setShowIPv6(bool on) {
    if (on == showIPv6())
        return;
    item(OptionItem::ShowIPv6).setChecked(on);
    optionItemClick(OptionItem::ShowIPv6);
}

void TFormKestrel::CBAutoRefreshClick() {
    AutoRefresh = m_c.CBAutoRefresh.checked();
    storeOption(m_c.CBAutoRefresh.tag());
    m_c.Timer1.setEnabled(m_c.CBAutoRefresh.checked());
}

void TFormKestrel::CBAlwaysTopClick() {
    AlwaysTop = m_c.CBAlwaysTop.checked();
    storeOption(m_c.CBAlwaysTop.tag());
    m_c.Form.setStayOnTop(m_c.CBAlwaysTop.checked());
}

void TFormKestrel::BTNOptionsClick() {
    if (m_commands.PmOptions != nullptr)
        m_commands.PmOptions->dropDown();
}

void TFormKestrel::optionItemClick(OptionItem which) {
    const std::size_t i = index(which);
    m_options[i] = item(which).checked();
    const OptionLook& look = MainWindowLook::Option(which);
    storeValue(MainWindowLook::OptionsSection, look.key, m_options[i]);
    applyOptionColumns(which);
    if (which == OptionItem::ResolveNames)
        showHostNames();
    // The IPv6 rows come and go with the next merge; the first fill reads the option itself.
    if (which == OptionItem::ShowIPv6 && !Creating)
        m_c.BTNRefresh.click();
    if (m_optionChanged[i])
        m_optionChanged[i]();
}

void TFormKestrel::applyOptionColumns(OptionItem which) {
    for (const int column : MainWindowLook::OptionColumns(which))
        m_c.VTS.setColumnVisible(column, option(which));
}

namespace {

// A listener's or an unbound socket's "remote address" names no host.
bool namesAHost(const std::string& address) {
    return !address.empty() && address != "0.0.0.0" && address != "::" && address != "[::]";
}

} // namespace

void TFormKestrel::hostNamesArrived() {
    constexpr auto PassInterval = std::chrono::milliseconds(250);
    if (m_hostNames && m_hostNames->running() > 0 &&
        std::chrono::steady_clock::now() - m_lastHostPass < PassInterval)
        return;
    showHostNames();
}

void TFormKestrel::showHostNames() {
    // With the option off since the start, the rows hold no text to clear: no walk.
    if (!resolveNames() && !m_hostTextsSet)
        return;
    m_lastHostPass = std::chrono::steady_clock::now();
    m_hostTextsSet = false;
    bool changed = false;
    for (RowHandle row = m_c.VTS.firstRow(); row != nullptr; row = m_c.VTS.nextRow(row)) {
        TMyRec& rec = row->Rec;
        if (!resolveNames() || !m_hostNames || !namesAHost(rec.RemoteAddr)) {
            if (!rec.RemoteHost.empty()) {
                rec.RemoteHost.clear();
                changed = true;
            }
            continue;
        }
        const std::string* name = m_hostNames->name(rec.RemoteAddr);
        const std::string& text = name != nullptr ? *name : rec.RemoteAddr;
        m_hostTextsSet = m_hostTextsSet || !text.empty();
        if (rec.RemoteHost != text) {
            rec.RemoteHost = text;
            changed = true;
        }
    }
    if (!changed)
        return;
    if (m_c.VTS.sortColumn() == ColumnRemoteHost)
        m_c.VTS.sort(m_c.VTS.sortColumn(), m_c.VTS.sortDirection());
    m_c.VTS.repaint();
}

void TFormKestrel::CBShowInfoClick() {
    ShowInfo = m_c.CBShowInfo.checked();
    storeOption(m_c.CBShowInfo.tag());
    for (const int column : FileDetailColumns)
        m_c.VTS.setColumnVisible(column, m_c.CBShowInfo.checked());
    // The columns' texts take part in the filter.
    if (!m_c.VTS.filterText().empty()) {
        selectFirstShownIfNone();
        updateSentence();
    }
}

void TFormKestrel::EFilterChange() {
    m_c.VTS.setFilterText(m_c.EFilter.text());
    selectFirstShownIfNone();
    updateSentence();
}

void TFormKestrel::FormKeyFind() {
    m_c.EFilter.setFocus();
}

void TFormKestrel::EFilterKeyEscape() {
    m_c.EFilter.setText("");
}

void TFormKestrel::selectFirstShownIfNone() {
    if (m_c.VTS.selectedCount() != 0)
        return;
    if (RowHandle first = m_c.VTS.firstShownRow()) {
        m_c.VTS.selectRow(first);
        m_c.VTS.setFocusedRow(first);
    }
}

void TFormKestrel::updateSentence() {
    if (m_c.VTS.filterText().empty()) {
        m_c.Label5.setCaption(MainWindowLook::Control(MainControl::Label5).caption);
        return;
    }
    m_c.Label5.setCaption(MainWindowLook::FilteredSentenceEnd(m_c.VTS.shownRowCount()));
}

int TFormKestrel::VTSGetImageIndex(RowHandle node, int column) {
    if (column != ColumnProcess || node == nullptr || !SmallIcons)
        return -1;
    return SmallIcons->IndexOfFile(node->Rec.ProcPath);
}

void TFormKestrel::VTSHeaderClick(int column) {
    ::VTSHeaderClick(m_c.VTS, column);
}

void TFormKestrel::LoadSettings() {
    std::array<bool, static_cast<std::size_t>(OptionItem::Count)> stored{};
    {
        const IniFile ini(m_services.settingsFile, m_services.settingsStorage);
        ShowLocal = ini.ReadBool(SettingsSection, "ShowLocal", true);
        AutoRefresh = ini.ReadBool(SettingsSection, "AutoRefresh", false);
        AlwaysTop = ini.ReadBool(SettingsSection, "AlwaysTop", true);
        ShowInfo = ini.ReadBool(SettingsSection, "ShowInfo", false);
        for (const OptionLook& option : MainWindowLook::OptionsMenu())
            stored[index(option.item)] =
                ini.ReadBool(MainWindowLook::OptionsSection, option.key, option.defaultChecked);
    }
    m_loadingSettings = true;
    try {
        if (!ShowLocal)
            m_c.CBShowLocal.setChecked(false);
        if (AutoRefresh)
            m_c.CBAutoRefresh.setChecked(true);
        if (!AlwaysTop)
            m_c.CBAlwaysTop.setChecked(false);
        if (ShowInfo)
            m_c.CBShowInfo.setChecked(true);
        for (const OptionLook& option : MainWindowLook::OptionsMenu())
            item(option.item).setChecked(stored[index(option.item)]);
    } catch (...) {
        // Applying the stored options is best effort: the window opens regardless.
    }
    m_loadingSettings = false;
}

void TFormKestrel::SaveSetting(int tag) {
    IniFile ini(m_services.settingsFile, m_services.settingsStorage);
    switch (tag) {
    case 1:
        ini.WriteBool(SettingsSection, "ShowLocal", ShowLocal);
        break;
    case 2:
        ini.WriteBool(SettingsSection, "AutoRefresh", AutoRefresh);
        break;
    case 3:
        ini.WriteBool(SettingsSection, "AlwaysTop", AlwaysTop);
        break;
    case 4:
        ini.WriteBool(SettingsSection, "ShowInfo", ShowInfo);
        break;
    default:
        break;
    }
}

void TFormKestrel::storeOption(int tag) {
    storeWith([this, tag] { SaveSetting(tag); });
}

void TFormKestrel::storeValue(const char* section, const char* key, bool value) {
    storeWith([this, section, key, value] {
        IniFile(m_services.settingsFile, m_services.settingsStorage).WriteBool(section, key, value);
    });
}

void TFormKestrel::storeWith(const std::function<void()>& write) {
    if (!m_loadingSettings) {
        write();
        return;
    }
    // At start a stored option is only written back in its plain "1"/"0" form. When the file
    // cannot be written (a read-only file or folder), the option it holds still takes effect.
    try {
        write();
    } catch (const std::exception&) {
    }
}

void TFormKestrel::FillList() {
    Snapshot snapshot;
    if (m_services.takeSnapshot)
        m_services.takeSnapshot(snapshot);
    if (m_services.snapshotTaken)
        m_services.snapshotTaken(snapshot);
    m_connections.FillList(snapshot.Tcp, snapshot.Udp, snapshot.Tcp6, snapshot.Udp6);
    releaseSnapshot(snapshot);
    showHostNames();
}

// The rows hold their own copies of what they show, so the snapshot's records are dead once
// merged; at 100,000 endpoints they weigh as much as the rows, and the heap would keep them.
void TFormKestrel::releaseSnapshot(Snapshot& snapshot) {
    for (std::vector<File_Rec>* records :
         {&snapshot.Tcp, &snapshot.Udp, &snapshot.Tcp6, &snapshot.Udp6})
        std::vector<File_Rec>().swap(*records);
    os::ReleaseFreeMemory();
}
