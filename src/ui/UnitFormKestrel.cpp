#include "ui/UnitFormKestrel.h"

#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "list/Columns.h"
#include "list/RowRules.h"
#include "os/Memory.h"
#include "os/SettingsPath.h"
#include "os/SystemDirs.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/IniFile.h"
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

constexpr const char* FormCaption = "Kestrel V$V$(网络连接查看器)";
constexpr const char* VersionText = KESTREL_VERSION;
constexpr const char* SettingsSection = "Set";
constexpr int AutoRefreshInterval = 10000;
constexpr int LargeIconSize = 32;

constexpr const char* TextMsgSystemProcess = "系统进程，不能结束。";
constexpr const char* TextMsgConfirmExit = "您确认要退出网络连接查看器?";
constexpr const char* TextMsgCannotEnd = "无法结束进程!";
constexpr const char* TextMsgConfirmEndSystem =
    "这是系统进程，结束该进程可能引起系统无法运行，仍要结束?";

constexpr const char* TextSentenceEnd = "个连接。";
constexpr const char* TextFilterPlaceholder = "筛选";

// The columns that the option ShowInfo shows and hides together.
constexpr int FileDetailColumns[] = {ColumnPath, ColumnDescription, ColumnCompany};

ConnectionListHooks windowHooks(const TFormKestrelControls& c, ConnectionListHooks hooks,
                                std::function<void()> afterNetCount) {
    ui::CheckBox* showLocal = &c.CBShowLocal;
    ui::Label* netCount = &c.LabNetCount;
    ui::Label* appCount = &c.LabAppCount;
    hooks.showLocal = [showLocal] { return showLocal->checked(); };
    hooks.setNetCount = [netCount, afterNetCount](std::size_t n) {
        netCount->setCaption(std::to_string(n));
        afterNetCount();
    };
    hooks.setAppCount = [appCount](std::size_t n) { appCount->setCaption(std::to_string(n)); };
    return hooks;
}

} // namespace

TFormKestrelServices systemFormServices() {
    TFormKestrelServices services;
    services.settingsFile = os::SettingsFilePath();
    services.exeDir = os::ExecutableDir;
    services.systemDirs = os::SystemDirectories;
    services.enableDebugPrivilege = EnableDebugPrivilege;
    services.snapshot = systemSnapshotHooks();
    services.prepareDescriptions = PrepareDescriptions;
    services.endProcess = os::EndProcess;
    return services;
}

TFormKestrel::TFormKestrel(const TFormKestrelControls& controls, TFormKestrelServices services)
    : m_c(controls), m_services(std::move(services)),
      m_connections(controls.VTS,
                    windowHooks(controls, m_services.snapshot, [this] { updateSentence(); })) {
    // The design state comes first, so that no click handler runs for it.
    m_c.Form.setCaption(FormCaption);
    m_c.LabAppCount.setCaption("0");
    m_c.LabNetCount.setCaption("0");
    m_c.Label5.setCaption(TextSentenceEnd);
    m_c.EFilter.setOnChange({});
    m_c.EFilter.setText("");
    m_c.EFilter.setPlaceholder(TextFilterPlaceholder);

    m_c.BTNHelp.setCaption("帮助");
    m_c.BTNUpdate.setCaption("更新");
    m_c.BTNHomePage.setCaption("主页");
    m_c.BTNRefresh.setCaption("刷新");
    m_c.BTNEndPro.setCaption("结束进程");

    struct BoxDesign {
        ui::CheckBox& box;
        int tag;
        const char* caption;
        bool checked;
    };
    const BoxDesign boxes[] = {
        {m_c.CBShowLocal, 1, "显示本地连接", true},
        {m_c.CBAutoRefresh, 2, "自动刷新", false},
        {m_c.CBAlwaysTop, 3, "始终保持在其他窗口前端", true},
        {m_c.CBShowInfo, 4, "显示文件详细信息", false},
    };
    for (const BoxDesign& design : boxes) {
        design.box.setOnClick({});
        design.box.setTag(design.tag);
        design.box.setCaption(design.caption);
        design.box.setChecked(design.checked);
    }

    m_c.Timer1.setOnTimer({});
    m_c.Timer1.setEnabled(false);
    m_c.Timer1.setInterval(AutoRefreshInterval);

    m_c.NProcInfo.setCaption("进程信息");
    m_c.NEndProc.setCaption("结束进程(&E)");
    m_c.NCopy.setCaption("拷贝到剪贴板");
    m_c.NLocate.setCaption("定位文件");
    m_c.NProperty.setCaption("属性(&R)");

    m_c.BTNRefresh.setOnClick([this] { BTNRefreshClick(); });
    m_c.Timer1.setOnTimer([this] { Timer1Timer(); });
    m_c.CBShowLocal.setOnClick([this] { CBShowLocalClick(); });
    m_c.CBAutoRefresh.setOnClick([this] { CBAutoRefreshClick(); });
    m_c.CBAlwaysTop.setOnClick([this] { CBAlwaysTopClick(); });
    m_c.CBShowInfo.setOnClick([this] { CBShowInfoClick(); });
    m_c.EFilter.setOnChange([this] { EFilterChange(); });
    bindCommandHandlers();
    m_c.VTS.setEventHandler(this);
}

TFormKestrel::~TFormKestrel() {
    // The controls may outlive the window by a moment; none may call into it any more.
    m_c.VTS.setEventHandler(nullptr);
    m_c.BTNRefresh.setOnClick({});
    m_c.Timer1.setOnTimer({});
    m_c.Timer1.setEnabled(false);
    m_c.CBShowLocal.setOnClick({});
    m_c.CBAutoRefresh.setOnClick({});
    m_c.CBAlwaysTop.setOnClick({});
    m_c.CBShowInfo.setOnClick({});
    m_c.EFilter.setOnChange({});
    unbindCommandHandlers();
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
    m_c.BTNRefresh.setEnabled(false);
    if (m_c.CBAutoRefresh.checked())
        m_c.Timer1.setEnabled(false);
    try {
        RefreshList();
    } catch (...) {
        restoreAfterRefresh();
        throw;
    }
    restoreAfterRefresh();
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
        m_c.Label5.setCaption(TextSentenceEnd);
        return;
    }
    m_c.Label5.setCaption("个连接，显示 " + std::to_string(m_c.VTS.shownRowCount()) + " 项。");
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
    {
        const IniFile ini(m_services.settingsFile, m_services.settingsStorage);
        ShowLocal = ini.ReadBool(SettingsSection, "ShowLocal", true);
        AutoRefresh = ini.ReadBool(SettingsSection, "AutoRefresh", false);
        AlwaysTop = ini.ReadBool(SettingsSection, "AlwaysTop", true);
        ShowInfo = ini.ReadBool(SettingsSection, "ShowInfo", false);
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
    if (!m_loadingSettings) {
        SaveSetting(tag);
        return;
    }
    // At start a stored option is only written back in its plain "1"/"0" form. When the file
    // cannot be written (a read-only file or folder), the option it holds still takes effect.
    try {
        SaveSetting(tag);
    } catch (const std::exception&) {
    }
}

void TFormKestrel::FillList() {
    m_connections.FillList();
    releaseSnapshot();
}

void TFormKestrel::RefreshList() {
    m_connections.RefreshList();
    releaseSnapshot();
}

// The rows hold their own copies of what they show, so the snapshot's records are dead once
// merged; at 100,000 endpoints they weigh as much as the rows, and the heap would keep them.
void TFormKestrel::releaseSnapshot() {
    for (std::vector<File_Rec>* records :
         {m_services.snapshot.tcpRecords, m_services.snapshot.udpRecords}) {
        if (records != nullptr)
            std::vector<File_Rec>().swap(*records);
    }
    os::ReleaseFreeMemory();
}
