// The connection commands of the main window: the context menu and its items, the end-process
// button, the details dialog, the clipboard report and the three link buttons.
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "list/Columns.h"
#include "ui/ClipboardReport.h"
#include "ui/ExportCommand.h"
#include "ui/HelpFile.h"
#include "ui/ListExport.h"
#include "ui/SystemProcessCheck.h"
#include "ui/UnitFormKestrel.h"
#include "ui/UnitFormProcInfo.h"

namespace {

// A directory does not count.
bool isExistingFile(const std::string& path) {
    if (path.empty())
        return false;
    std::error_code error;
    const std::u8string name(path.begin(), path.end());
    return std::filesystem::is_regular_file(std::filesystem::path(name), error);
}

bool parsePid(const std::string& text, std::uint32_t& pid) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, pid);
    return error == std::errc() && stop == end && !text.empty();
}

} // namespace

void TFormKestrel::bindCommandHandlers() {
    m_c.BTNEndPro.setOnClick([this] { BTNEndProClick(); });
    m_c.BTNHelp.setOnClick([this] { BTNHelpClick(); });
    m_c.BTNHomePage.setOnClick([this] { BTNHomePageClick(); });
    m_c.BTNUpdate.setOnClick([this] { BTNUpdateClick(); });
    item(ContextItem::NProcInfo).setOnClick([this] { NProcInfoClick(); });
    item(ContextItem::NEndProc).setOnClick([this] { NEndProcClick(); });
    item(ContextItem::NCloseConnection).setOnClick([this] { NCloseConnectionClick(); });
    item(ContextItem::NCopy).setOnClick([this] { NCopyClick(); });
    item(ContextItem::NExport).setOnClick([this] { NExportClick(); });
    item(ContextItem::NLocate).setOnClick([this] { NLocateClick(); });
    item(ContextItem::NProperty).setOnClick([this] { NPropertyClick(); });
    const bool hasLog = static_cast<bool>(m_services.showConnectionLog);
    item(ContextItem::NViewLog).setOnClick([this] { NViewLogClick(); });
    item(ContextItem::NViewLog).setEnabled(hasLog);
    item(OptionCommand::NConnectionLog).setOnClick([this] { NViewLogClick(); });
    item(OptionCommand::NConnectionLog).setEnabled(hasLog);
}

void TFormKestrel::unbindCommandHandlers() {
    for (ui::Button* button : {&m_c.BTNEndPro, &m_c.BTNHelp, &m_c.BTNHomePage, &m_c.BTNUpdate})
        button->setOnClick({});
    for (ui::MenuItem* menuItem : m_c.PmTree)
        menuItem->setOnClick({});
}

void TFormKestrel::prepareMenu(const TMyRec& row) {
    const bool hasPath = !row.ProcPath.empty();
    for (const ContextItem rowItem : {ContextItem::NProcInfo, ContextItem::NEndProc,
                                      ContextItem::NLocate, ContextItem::NProperty})
        item(rowItem).setEnabled(hasPath);
    item(ContextItem::NCloseConnection).setEnabled(connectionClosable(row));
}

std::string CloseConnectionReason(os::CloseConnectionResult result) {
    switch (result) {
    case os::CloseConnectionResult::Closed:
        return {};
    case os::CloseConnectionResult::NotPermitted:
        return "没有权限断开这个连接。";
    case os::CloseConnectionResult::NotSupported:
        return "系统不支持断开连接。";
    case os::CloseConnectionResult::Gone:
        return "这个连接已经不存在。";
    case os::CloseConnectionResult::Failed:
        break;
    }
    return "系统拒绝了请求。";
}

bool TFormKestrel::connectionClosable(const TMyRec& row) const {
    // SYN sent (3) through last ACK (10): the states in which a connection exists.
    const bool connected = row.Protocol == "TCP" && row.Socket.protocol == os::Protocol::Tcp &&
                           row.Socket.state >= 3 && row.Socket.state <= 10;
    return connected && m_services.canCloseConnection && m_services.closeConnection &&
           m_services.canCloseConnection(row.Socket);
}

void TFormKestrel::NCloseConnectionClick() {
    const RowHandle row = commandRow();
    if (row == nullptr || !connectionClosable(row->Rec))
        return;
    // The question's modal loop may let a refresh change or delete the row: what is closed is
    // the socket the row showed when the command ran. Its cookie keeps a newer connection on
    // the same ports from being hit; one that has gone meanwhile is reported as gone.
    const os::Endpoint socket = row->Rec.Socket;
    if (m_c.Messages.askYesNo(MsgConfirmCloseConnection, ui::ApplicationTitle,
                              ui::DefaultButton::No) != ui::Answer::Yes)
        return;
    // The request may wait on the privileged helper: the window goes on meanwhile.
    auto result = std::make_shared<os::CloseConnectionResult>(os::CloseConnectionResult::Failed);
    runAside([result, close = m_services.closeConnection, socket] { *result = close(socket); },
             [this, result](std::exception_ptr error) {
                 const os::CloseConnectionResult outcome =
                     error ? os::CloseConnectionResult::Failed : *result;
                 if (outcome != os::CloseConnectionResult::Closed) {
                     m_c.Messages.showMessage(std::string(MsgCannotCloseConnection) + "\n" +
                                              CloseConnectionReason(outcome));
                     return;
                 }
                 m_c.BTNRefresh.click();
             });
}

namespace {

// A row that survives refreshes keeps its endpoint and owner; a new row that happens to get
// the memory of a deleted one does not.
bool sameRow(const TMyRec& a, const TMyRec& b) {
    return a.Protocol == b.Protocol && a.LocalAddr == b.LocalAddr && a.LocalPort == b.LocalPort &&
           a.RemoteAddr == b.RemoteAddr && a.RemotePort == b.RemotePort && a.PID == b.PID &&
           a.ProcPath == b.ProcPath && a.ProcStartTime == b.ProcStartTime;
}

} // namespace

void TFormKestrel::showMenuFor(RowHandle row, ScreenPoint where) {
    prepareMenu(row->Rec);
    if (m_commands.PmTree == nullptr)
        return;
    // The menu's modal loop lets refreshes run, which may move the focus or delete the row;
    // what is chosen from the menu is meant for this row.
    const MenuRow previous = m_menuRow;
    m_menuRow = MenuRow{true, reinterpret_cast<std::uintptr_t>(row), row->Rec};
    try {
        m_commands.PmTree->popup(where);
    } catch (...) {
        m_menuRow = previous;
        throw;
    }
    m_menuRow = previous;
}

RowHandle TFormKestrel::commandRow() const {
    if (!m_menuRow.active)
        return m_c.VTS.focusedRow();
    // The menu's row may be gone or hidden by the filter: its handle is only compared until it
    // is found among the rows shown.
    for (RowHandle row = m_c.VTS.firstShownRow(); row != nullptr; row = m_c.VTS.nextShownRow(row)) {
        if (reinterpret_cast<std::uintptr_t>(row) == m_menuRow.address)
            return sameRow(row->Rec, m_menuRow.rec) ? row : nullptr;
    }
    return nullptr;
}

void TFormKestrel::VTSGetPopupMenu(RowHandle node, int /*column*/, ScreenPoint where) {
    if (node == nullptr)
        return;
    showMenuFor(node, where);
}

void TFormKestrel::VTSColumnClick(int column, ScreenPoint where) {
    if (column != ColumnManage)
        return;
    const RowHandle row = m_c.VTS.focusedRow();
    if (row == nullptr)
        return;
    showMenuFor(row, where);
}

void TFormKestrel::VTSDblClick() {
    item(ContextItem::NProcInfo).click();
}

void TFormKestrel::BTNEndProClick() {
    item(ContextItem::NEndProc).click();
}

void TFormKestrel::NEndProcClick() {
    const RowHandle row = commandRow();
    if (row == nullptr)
        return;
    // The question below runs a modal loop in which a refresh may delete this row, so all
    // that is needed is taken now. The recorded start time keeps the command from reaching
    // another program that got the same process ID meanwhile.
    const std::string path = row->Rec.ProcPath;
    const std::string pidText = row->Rec.PID;
    const std::uint64_t startTime = row->Rec.ProcStartTime;

    if (path.empty()) {
        m_c.Messages.showMessage(MsgSystemProcess);
        return;
    }
    if (IsUnderSystemDir(path, SystemDir) &&
        m_c.Messages.askYesNo(MsgConfirmEndSystem, ui::ApplicationTitle, ui::DefaultButton::No) !=
            ui::Answer::Yes)
        return;

    std::uint32_t pid = 0;
    if (!parsePid(pidText, pid) || !m_services.endProcess) {
        m_c.Messages.showMessage(MsgCannotEnd);
        return;
    }
    // Ending waits up to seconds for the process to go; the window goes on meanwhile.
    auto result = std::make_shared<os::EndProcessResult>(os::EndProcessResult::Failed);
    runAside(
        [result, end = m_services.endProcess, pid, startTime] { *result = end(pid, startTime); },
        [this, result](std::exception_ptr error) {
            if (error || *result != os::EndProcessResult::Ended) {
                m_c.Messages.showMessage(MsgCannotEnd);
                return;
            }
            m_c.BTNRefresh.click();
        });
}

void TFormKestrel::askFileManager(ShellRequests::FileManagerRequest request,
                                  const std::string& path) {
    std::function<bool()> job = m_commands.Shell->fileManagerJob(request, path);
    if (!job) {
        if (request == ShellRequests::FileManagerRequest::SelectItem)
            m_commands.Shell->selectInFileManager(path);
        else
            m_commands.Shell->showProperties(path);
        return;
    }
    auto taken = std::make_shared<bool>(false);
    runAside([job = std::move(job), taken] { *taken = job(); },
             [this, taken, request, path](std::exception_ptr error) {
                 if ((error || !*taken) && m_commands.Shell != nullptr)
                     m_commands.Shell->fileManagerRefused(request, path);
             });
}

void TFormKestrel::NLocateClick() {
    const RowHandle row = commandRow();
    if (row == nullptr || m_commands.Shell == nullptr)
        return;
    const std::string path = row->Rec.ProcPath;
    if (!isExistingFile(path))
        return;
    askFileManager(ShellRequests::FileManagerRequest::SelectItem, path);
}

void TFormKestrel::NPropertyClick() {
    const RowHandle row = commandRow();
    if (row == nullptr || m_commands.Shell == nullptr)
        return;
    askFileManager(ShellRequests::FileManagerRequest::ShowProperties, row->Rec.ProcPath);
}

void TFormKestrel::BTNHelpClick() {
    if (m_commands.Shell)
        m_commands.Shell->openDocument(HelpFilePath(ExeDir));
}

// An address that is not set opens the help file's section in its place.
void TFormKestrel::BTNHomePageClick() {
    if (!m_commands.Shell)
        return;
    if (HomePageURL.empty())
        m_commands.Shell->openHelpSection(HelpFilePath(ExeDir), HelpSectionAbout);
    else
        m_commands.Shell->openDocument(HomePageURL);
}

void TFormKestrel::BTNUpdateClick() {
    if (!m_commands.Shell)
        return;
    if (UpdateURL.empty())
        m_commands.Shell->openHelpSection(HelpFilePath(ExeDir), HelpSectionUpdates);
    else
        m_commands.Shell->openDocument(UpdateURL);
}

void TFormKestrel::NCopyClick() {
    const RowHandle row = commandRow();
    if (row == nullptr || m_commands.Clipboard == nullptr)
        return;
    m_commands.Clipboard->setText(BuildClipboardReport(row->Rec));
}

const char* const TFormKestrel::MsgCannotExport = ui::MsgCannotExport;

void TFormKestrel::NExportClick() {
    if (m_commands.SaveDialog == nullptr)
        return;
    ui::SaveExport(
        *m_commands.SaveDialog, "Kestrel.csv",
        [this](ExportFormat format) { return exportList(m_c.VTS, format); },
        m_services.writeWholeFile, m_c.Messages);
}

void TFormKestrel::NViewLogClick() {
    if (m_services.showConnectionLog)
        m_services.showConnectionLog();
}

void TFormKestrel::NProcInfoClick() {
    const RowHandle row = commandRow();
    if (row == nullptr || row->Rec.ProcPath.empty())
        return;
    if (m_commands.ProcInfoDialogs == nullptr || m_commands.Shell == nullptr)
        return;
    // A copy: the dialog's modal loop may let a refresh delete the row.
    const TMyRec rec = row->Rec;
    const int icon = LargeIcons ? LargeIcons->IndexOfFile(rec.ProcPath) : -1;
    const std::unique_ptr<ProcInfoView> view = m_commands.ProcInfoDialogs->createProcInfoView();
    if (!view)
        return;
    TFormProcInfo dialog(*view, *m_commands.Shell, [this](const std::string& path) {
        if (m_commands.Shell != nullptr)
            askFileManager(ShellRequests::FileManagerRequest::SelectItem, path);
    });
    dialog.Show(rec, icon);
}
