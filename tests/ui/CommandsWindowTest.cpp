// The connection commands of the main window, driven through fake components: the context
// menu's enabled states, the clicks from code, ending a process, locate, properties, the
// report, the details dialog and the link buttons.
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "list/Columns.h"
#include "os/ProcessControl.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/ClipboardReport.h"
#include "ui/CommandComponents.h"
#include "ui/FakeComponents.h"
#include "ui/HelpFile.h"
#include "ui/TempDir.h"
#include "ui/TestRecords.h"
#include "ui/UnitFormKestrel.h"

namespace {

const std::string MsgSystemProcess = "系统进程，不能结束。";
const std::string MsgConfirmEndSystem = "这是系统进程，结束该进程可能引起系统无法运行，仍要结束?";
const std::string MsgCannotEnd = "无法结束进程!";

class FakePopupMenu : public ui::PopupMenu {
public:
    void popup(ScreenPoint where) override {
        shownAt.push_back(where);
        if (choose)
            choose();
    }
    std::vector<ScreenPoint> shownAt;
    // Runs while the menu is open: the user's choice.
    std::function<void()> choose;
};

class FakeShell : public ShellRequests {
public:
    void openDocument(const std::string& target) override { opened.push_back(target); }
    void openHelpSection(const std::string& helpFile, const std::string& section) override {
        opened.push_back(helpFile + "#" + section);
    }
    void selectInFileManager(const std::string& path) override { selected.push_back(path); }
    void showProperties(const std::string& path) override { properties.push_back(path); }
    std::vector<std::string> opened, selected, properties;
};

class FakeClipboard : public ClipboardText {
public:
    void setText(const std::string& text) override {
        ++writes;
        content = text;
    }
    std::string content = "previous";
    int writes = 0;
};

class FakeProcInfoView : public ProcInfoView {
public:
    explicit FakeProcInfoView(std::vector<std::vector<std::string>>& shown) : m_shown(shown) {}
    void setText(ProcInfoControl, const std::string& text) override { m_texts.push_back(text); }
    void drawLargeIcon(int) override {}
    void showModal() override { m_shown.push_back(m_texts); }
    void closeDialog() override {}

private:
    std::vector<std::vector<std::string>>& m_shown;
    std::vector<std::string> m_texts;
};

class FakeProcInfoDialogs : public ui::ProcInfoDialogs {
public:
    std::unique_ptr<ProcInfoView> createProcInfoView() override {
        return std::make_unique<FakeProcInfoView>(shown);
    }
    // The captions of each dialog shown, in the order they were set.
    std::vector<std::vector<std::string>> shown;
};

File_Rec record(int state, const char* localPort, const char* pid, const char* name,
                const char* path, std::uint64_t startTime) {
    File_Rec r = state == 0
                     ? udpRecord("10.0.0.5", localPort, pid, name, path)
                     : tcpRecord(state, "10.0.0.5", localPort, "10.0.0.9", "443", pid, name, path);
    r.FileDesc = std::string(name) + " description";
    r.Company = "Example";
    r.ProcStartTime = startTime;
    // The socket a snapshot would tell: ports as numbers, a cookie of its own.
    r.Socket.protocol = state == 0 ? os::Protocol::Udp : os::Protocol::Tcp;
    r.Socket.state = static_cast<std::uint32_t>(state);
    r.Socket.localAddr = {10, 0, 0, 5};
    r.Socket.localPort = static_cast<std::uint16_t>(std::stoi(localPort));
    if (state != 0) {
        r.Socket.remoteAddr = {10, 0, 0, 9};
        r.Socket.remotePort = 443;
    }
    r.Socket.cookie = 0x10000 + r.Socket.localPort;
    return r;
}

struct EndCall {
    std::uint32_t pid;
    std::uint64_t startTime;
};

class CommandsTest : public ::testing::Test {
protected:
    CommandsTest() {
        nextTcp = {
            record(5, "40001", "1200", "browser", "/opt/browser/browser", 777001),
            record(2, "22", "101", "sshd", "/usr/sbin/sshd", 5000),
            record(5, "40002", "0", "System", "", 0),
            record(2, "8080", "1300", "server", "/usr/SBIN2/server", 888),
        };
        nextUdp = {
            record(0, "5353", "611", "resolver", "/usr/lib/systemd/systemd-resolved", 61100)};

        TFormKestrelServices s;
        s.settingsFile = settings.file("Kestrel.ini");
        s.exeDir = [this] { return exeDir; };
        s.systemDirs = [] {
            return std::vector<std::string>{"/usr/sbin", "/sbin", "/usr/lib/systemd",
                                            "/lib/systemd"};
        };
        s.enableDebugPrivilege = [] { return false; };
        s.takeSnapshot = [this](Snapshot& snapshot) {
            ++snapshots;
            snapshot.Tcp = nextTcp;
            snapshot.Udp = nextUdp;
        };
        s.endProcess = [this](std::uint32_t pid, std::uint64_t startTime) {
            endCalls.push_back({pid, startTime});
            if (endThrows)
                throw std::runtime_error("no such process");
            return endResult;
        };
        s.canCloseConnection = [this](const os::Endpoint& e) { return canClose(e); };
        s.closeConnection = [this](const os::Endpoint& e) {
            closeCalls.push_back(e);
            return closeResult;
        };
        form = std::make_unique<TFormKestrel>(w.controls(), std::move(s));
        form->SetCommandComponents({&menu, &shell, &clipboard, &dialogs});
        form->FormCreate();
        w.Messages.errors.clear();
    }

    RowHandle rowOf(const std::string& name) const {
        for (RowHandle row = w.VTS.firstRow(); row != nullptr; row = w.VTS.nextRow(row)) {
            if (row->Rec.ProcName == name)
                return row;
        }
        return nullptr;
    }
    void focus(const std::string& name) {
        const RowHandle row = rowOf(name);
        ASSERT_NE(row, nullptr) << name;
        w.VTS.selectRow(row);
        w.VTS.setFocusedRow(row);
    }
    // The user's events, each through the event loop's boundary; then the loop runs until the
    // work they started is done.
    void rightClick(RowHandle row, ScreenPoint where = {300, 200}) {
        if (row != nullptr) {
            w.VTS.selectRow(row);
            w.VTS.setFocusedRow(row);
        }
        ui::dispatchEvent(w.Messages, [&] { form->VTSGetPopupMenu(row, 1, where); });
        w.Worker.runAll();
    }
    void event(const std::function<void()>& handler) {
        ui::dispatchEvent(w.Messages, handler);
        w.Worker.runAll();
    }

    std::vector<bool> rowItemsEnabled() const {
        return {w.NProcInfo.enabled(), w.NEndProc.enabled(), w.NLocate.enabled(),
                w.NProperty.enabled()};
    }

    TempDir settings;
    std::string exeDir = "/opt/kestrel/bin/";
    FakeKestrelWindow w;
    FakePopupMenu menu;
    FakeShell shell;
    FakeClipboard clipboard;
    FakeProcInfoDialogs dialogs;
    std::vector<File_Rec> nextTcp, nextUdp;
    int snapshots = 0;
    std::vector<EndCall> endCalls;
    os::EndProcessResult endResult = os::EndProcessResult::Ended;
    bool endThrows = false;
    FakeMenuItem& closeItem = w.NCloseConnection;
    std::function<bool(const os::Endpoint&)> canClose = [](const os::Endpoint&) { return true; };
    std::vector<os::Endpoint> closeCalls;
    os::CloseConnectionResult closeResult = os::CloseConnectionResult::Closed;
    std::unique_ptr<TFormKestrel> form;
};

const std::vector<bool> AllEnabled{true, true, true, true};
const std::vector<bool> AllDisabled{false, false, false, false};

TEST_F(CommandsTest, RightClickBelowTheRowsOpensNoMenu) {
    rightClick(nullptr);
    EXPECT_TRUE(menu.shownAt.empty());
    EXPECT_EQ(rowItemsEnabled(), AllEnabled);
}

TEST_F(CommandsTest, RightClickPreparesTheMenuForTheClickedRow) {
    rightClick(rowOf("System"), {12, 34});
    ASSERT_EQ(menu.shownAt.size(), 1u);
    EXPECT_EQ(menu.shownAt[0].x, 12);
    EXPECT_EQ(menu.shownAt[0].y, 34);
    EXPECT_EQ(rowItemsEnabled(), AllDisabled);
    EXPECT_TRUE(w.NCopy.enabled());

    rightClick(rowOf("browser"));
    EXPECT_EQ(rowItemsEnabled(), AllEnabled);
    EXPECT_TRUE(w.NCopy.enabled());
}

TEST_F(CommandsTest, OnlyTheManageColumnOpensTheMenuOnALeftClick) {
    focus("System");
    for (int column = -1; column <= 13; ++column) {
        if (column != ColumnManage)
            event([&] { form->VTSColumnClick(column, {5, 6}); });
    }
    EXPECT_TRUE(menu.shownAt.empty());
    EXPECT_EQ(rowItemsEnabled(), AllEnabled);

    event([&] { form->VTSColumnClick(ColumnManage, {5, 6}); });
    ASSERT_EQ(menu.shownAt.size(), 1u);
    EXPECT_EQ(menu.shownAt[0].x, 5);
    EXPECT_EQ(rowItemsEnabled(), AllDisabled);

    w.VTS.setFocusedRow(nullptr);
    event([&] { form->VTSColumnClick(ColumnManage, {5, 6}); });
    EXPECT_EQ(menu.shownAt.size(), 1u);
}

TEST_F(CommandsTest, MenuStateKeptUntilTheNextPreparation) {
    rightClick(rowOf("System"));
    focus("browser");
    event([&] { form->VTSDblClick(); });
    event([&] { w.BTNEndPro.click(); });
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(endCalls.empty());
    EXPECT_TRUE(w.Messages.messages.empty());

    rightClick(rowOf("browser"));
    event([&] { form->VTSDblClick(); });
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(CommandsTest, PreparedForARowWithPathTheButtonReachesARowWithout) {
    rightClick(rowOf("browser"));
    focus("System");
    event([&] { w.BTNEndPro.click(); });
    EXPECT_EQ(w.Messages.messages, std::vector<std::string>{MsgSystemProcess});
    EXPECT_TRUE(endCalls.empty());
}

TEST_F(CommandsTest, BeforeAnyMenuDoubleClickAndButtonAct) {
    focus("browser");
    event([&] { form->VTSDblClick(); });
    ASSERT_EQ(dialogs.shown.size(), 1u);
    event([&] { w.BTNEndPro.click(); });
    ASSERT_EQ(endCalls.size(), 1u);
}

TEST_F(CommandsTest, EndingAProcessOutsideTheSystemFoldersAsksNothingAndRefreshes) {
    focus("browser");
    const int before = snapshots;
    event([&] { w.NEndProc.click(); });
    ASSERT_EQ(endCalls.size(), 1u);
    EXPECT_EQ(endCalls[0].pid, 1200u);
    EXPECT_EQ(endCalls[0].startTime, 777001u);
    EXPECT_TRUE(w.Messages.questions.empty());
    EXPECT_TRUE(w.Messages.messages.empty());
    EXPECT_EQ(snapshots, before + 1);
}

TEST_F(CommandsTest, SystemFolderProgramsAskFirstWithNoAsDefault) {
    struct Case {
        const char* name;
        ui::Answer answer;
        bool ended;
    };
    const Case cases[] = {
        {"sshd", ui::Answer::No, false},
        {"sshd", ui::Answer::Yes, true},
        {"server", ui::Answer::No, false},   // /usr/SBIN2: prefix-named folder, other case
        {"resolver", ui::Answer::Yes, true}, // /usr/lib/systemd
    };
    for (const Case& c : cases) {
        endCalls.clear();
        w.Messages.questions.clear();
        w.Messages.answers = {c.answer};
        focus(c.name);
        event([&] { w.NEndProc.click(); });
        ASSERT_EQ(w.Messages.questions.size(), 1u) << c.name;
        EXPECT_EQ(w.Messages.questions[0].text, MsgConfirmEndSystem);
        EXPECT_EQ(w.Messages.questions[0].caption, "Kestrel");
        EXPECT_EQ(w.Messages.questions[0].defaultButton, ui::DefaultButton::No);
        EXPECT_EQ(endCalls.size(), c.ended ? 1u : 0u) << c.name;
    }
}

TEST_F(CommandsTest, RefusedEndShowsCannotEndAndDoesNotRefresh) {
    for (const auto refusal : {os::EndProcessResult::IdentityMismatch, os::EndProcessResult::Gone,
                               os::EndProcessResult::NotPermitted, os::EndProcessResult::Failed}) {
        endResult = refusal;
        w.Messages.messages.clear();
        focus("browser");
        const int before = snapshots;
        event([&] { w.NEndProc.click(); });
        EXPECT_EQ(w.Messages.messages, std::vector<std::string>{MsgCannotEnd});
        EXPECT_EQ(snapshots, before);
    }
}

TEST_F(CommandsTest, UnreadableProcessIdCannotBeEnded) {
    for (const char* pid : {"", "12x", "-5", "99999999999"}) {
        w.Messages.messages.clear();
        endCalls.clear();
        focus("browser");
        rowOf("browser")->Rec.PID = pid;
        event([&] { w.NEndProc.click(); });
        EXPECT_TRUE(endCalls.empty()) << pid;
        EXPECT_EQ(w.Messages.messages, std::vector<std::string>{MsgCannotEnd}) << pid;
    }
}

TEST_F(CommandsTest, RowRemovedWhileTheQuestionIsOpenIsNotRead) {
    focus("sshd");
    // While the question is open, an automatic refresh finds sshd gone and deletes its row.
    w.Messages.whileOpen = [this] {
        nextTcp.erase(nextTcp.begin() + 1);
        w.BTNRefresh.click();
        w.Worker.runAll();
    };
    w.Messages.answers = {ui::Answer::Yes};
    event([&] { w.NEndProc.click(); });
    EXPECT_EQ(rowOf("sshd"), nullptr);
    ASSERT_EQ(endCalls.size(), 1u);
    EXPECT_EQ(endCalls[0].pid, 101u);
    EXPECT_EQ(endCalls[0].startTime, 5000u);
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(CommandsTest, NoFocusedRowMeansNoCommand) {
    w.VTS.setFocusedRow(nullptr);
    event([&] { w.NEndProc.click(); });
    event([&] { w.NCopy.click(); });
    event([&] { w.NLocate.click(); });
    event([&] { w.NProperty.click(); });
    event([&] { w.NProcInfo.click(); });
    EXPECT_TRUE(endCalls.empty());
    EXPECT_TRUE(w.Messages.messages.empty());
    EXPECT_EQ(clipboard.writes, 0);
    EXPECT_EQ(clipboard.content, "previous");
    EXPECT_TRUE(shell.selected.empty());
    EXPECT_TRUE(shell.properties.empty());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(CommandsTest, CopyPutsTheFocusedRowsReportOnTheClipboard) {
    focus("resolver");
    menu.choose = [this] { w.NCopy.click(); };
    rightClick(rowOf("resolver"));
    EXPECT_EQ(clipboard.content, BuildClipboardReport(rowOf("resolver")->Rec));
    EXPECT_NE(clipboard.content.find("网络协议:UDP\r\n"), std::string::npos);

    // Copy stays enabled for a row without path.
    rightClick(rowOf("System"));
    EXPECT_NE(clipboard.content.find("PID:0\r\n"), std::string::npos);
}

TEST_F(CommandsTest, LocateOnlyAnExistingFile) {
    TempDir files;
    const std::string program = files.file("my app/program");
    writeTextFile(program, "#!/bin/sh\n");
    struct Case {
        std::string path;
        bool located;
    };
    const Case cases[] = {
        {program, true},
        {files.file("my app"), false}, // a directory
        {files.file("gone"), false},
        {"", false},
    };
    for (const Case& c : cases) {
        shell.selected.clear();
        focus("browser");
        rowOf("browser")->Rec.ProcPath = c.path;
        event([&] { form->NLocateClick(); });
        EXPECT_EQ(shell.selected.size(), c.located ? 1u : 0u) << c.path;
        if (c.located) {
            EXPECT_EQ(shell.selected[0], c.path);
        }
    }
}

TEST_F(CommandsTest, PropertiesGoToTheShellEvenForAVanishedFile) {
    focus("server");
    event([&] { w.NProperty.click(); });
    EXPECT_EQ(shell.properties, std::vector<std::string>{"/usr/SBIN2/server"});
}

TEST_F(CommandsTest, LinkButtonsOpenTheirAddresses) {
    event([&] { w.BTNHomePage.click(); });
    event([&] { w.BTNUpdate.click(); });
    event([&] { w.BTNHelp.click(); });
    ASSERT_EQ(shell.opened.size(), 3u);
    // An address the build did not set opens the help file's section instead.
    const std::string help = HelpFilePath("/opt/kestrel/bin/");
    const std::string home = form->homePageURL();
    const std::string update = form->updateURL();
    EXPECT_EQ(shell.opened[0], home.empty() ? help + "#" + HelpSectionAbout : home);
    EXPECT_EQ(shell.opened[1], update.empty() ? help + "#" + HelpSectionUpdates : update);
    EXPECT_EQ(shell.opened[2], help);
    EXPECT_FALSE(shell.opened[0].empty());
    EXPECT_NE(shell.opened[0], shell.opened[1]);
}

// The sections the buttons open exist in the help file.
TEST(HelpFile, HoldsTheSectionsTheLinkButtonsOpen) {
    std::ifstream file(std::string(KESTREL_TEST_DATA) + "/../../docs/help/KestrelHelp.html");
    ASSERT_TRUE(file.is_open());
    const std::string page((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    for (const char* section : {HelpSectionAbout, HelpSectionUpdates})
        EXPECT_NE(page.find(std::string("<h2 id=\"") + section + "\">"), std::string::npos)
            << section;
}

TEST_F(CommandsTest, DetailsDialogShowsACopyOfTheRow) {
    focus("browser");
    event([&] { w.NProcInfo.click(); });
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const std::vector<std::string> expected{"browser", "browser description  ", "PID:1200",
                                            "Example ", "/opt/browser/browser"};
    EXPECT_EQ(dialogs.shown[0], expected);
}

TEST_F(CommandsTest, DetailsDialogNeverOpensForARowWithoutPath) {
    focus("System");
    event([&] { form->NProcInfoClick(); });
    event([&] { form->VTSDblClick(); });
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(w.Messages.messages.empty());
}

TEST_F(CommandsTest, ChoosingAnItemAfterARefreshRemovedItsRowDoesNothing) {
    // The menu opens for browser; while it is open a refresh removes browser's row and
    // focuses another one; the command chosen then must not reach that other row.
    menu.choose = [this] {
        nextTcp.erase(nextTcp.begin());
        w.BTNRefresh.click();
        w.Worker.runAll();
        w.NEndProc.click();
    };
    rightClick(rowOf("browser"));
    EXPECT_EQ(rowOf("browser"), nullptr);
    EXPECT_NE(w.VTS.focusedRow(), nullptr);
    EXPECT_TRUE(w.Messages.errors.empty());
    EXPECT_TRUE(endCalls.empty());
    EXPECT_TRUE(w.Messages.questions.empty());
    EXPECT_TRUE(w.Messages.messages.empty());
}

// Each command of the context menu, and what it did.
struct MenuCommand {
    const char* name;
    ui::MenuItem& (*item)(FakeKestrelWindow&);
};

const MenuCommand MenuCommands[] = {
    {"NProcInfo", [](FakeKestrelWindow& w) -> ui::MenuItem& { return w.NProcInfo; }},
    {"NEndProc", [](FakeKestrelWindow& w) -> ui::MenuItem& { return w.NEndProc; }},
    {"NCopy", [](FakeKestrelWindow& w) -> ui::MenuItem& { return w.NCopy; }},
    {"NLocate", [](FakeKestrelWindow& w) -> ui::MenuItem& { return w.NLocate; }},
    {"NProperty", [](FakeKestrelWindow& w) -> ui::MenuItem& { return w.NProperty; }},
};

TEST_F(CommandsTest, MenuCommandsActOnTheRowTheMenuWasOpenedFor) {
    TempDir files;
    const std::string program = files.file("browser");
    writeTextFile(program, "#!/bin/sh\n");
    rowOf("browser")->Rec.ProcPath = program;

    for (const MenuCommand& command : MenuCommands) {
        SCOPED_TRACE(command.name);
        endCalls.clear();
        dialogs.shown.clear();
        shell.selected.clear();
        shell.properties.clear();
        clipboard.content.clear();
        w.Messages.messages.clear();
        // While the menu for browser is open, the focus goes to the row of System.
        menu.choose = [&] {
            focus("System");
            command.item(w).click();
        };
        rightClick(rowOf("browser"));
        ASSERT_EQ(w.VTS.focusedRow(), rowOf("System"));
        const std::string name = command.name;
        EXPECT_EQ(dialogs.shown.size(), name == "NProcInfo" ? 1u : 0u);
        if (!dialogs.shown.empty()) {
            EXPECT_EQ(dialogs.shown[0].front(), "browser");
        }
        EXPECT_EQ(endCalls.size(), name == "NEndProc" ? 1u : 0u);
        if (!endCalls.empty()) {
            EXPECT_EQ(endCalls[0].pid, 1200u);
        }
        EXPECT_EQ(clipboard.content,
                  name == "NCopy" ? BuildClipboardReport(rowOf("browser")->Rec) : "");
        EXPECT_EQ(shell.selected, name == "NLocate" ? std::vector<std::string>{program}
                                                    : std::vector<std::string>{});
        EXPECT_EQ(shell.properties, name == "NProperty" ? std::vector<std::string>{program}
                                                        : std::vector<std::string>{});
        EXPECT_TRUE(w.Messages.messages.empty());
        EXPECT_TRUE(w.Messages.errors.empty());
    }
}

TEST_F(CommandsTest, MenuCommandsDoNothingOnceARefreshRemovedTheirRow) {
    TempDir files;
    // sshd's program exists, outside the system folders: nothing would stop a command on it.
    writeTextFile(files.file("sshd"), "#!/bin/sh\n");
    rowOf("sshd")->Rec.ProcPath = files.file("sshd");
    for (const MenuCommand& command : MenuCommands) {
        SCOPED_TRACE(command.name);
        nextTcp.insert(nextTcp.begin(),
                       record(5, "40009", "1900", "vanishing", "/opt/vanishing", 1900));
        event([&] { w.BTNRefresh.click(); });
        ASSERT_NE(rowOf("vanishing"), nullptr);
        endCalls.clear();
        clipboard.writes = 0;
        // While the menu is open, the program exits and a refresh removes its row; the focus
        // goes to another row, one with a path.
        menu.choose = [&] {
            nextTcp.erase(nextTcp.begin());
            w.BTNRefresh.click();
            w.Worker.runAll();
            ASSERT_EQ(rowOf("vanishing"), nullptr);
            ASSERT_NE(w.VTS.focusedRow(), nullptr);
            focus("sshd");
            command.item(w).click();
        };
        rightClick(rowOf("vanishing"));
        EXPECT_TRUE(endCalls.empty());
        EXPECT_TRUE(dialogs.shown.empty());
        EXPECT_EQ(clipboard.writes, 0);
        EXPECT_TRUE(shell.selected.empty());
        EXPECT_TRUE(shell.properties.empty());
        EXPECT_TRUE(w.Messages.questions.empty());
        EXPECT_TRUE(w.Messages.messages.empty());
        EXPECT_TRUE(w.Messages.errors.empty());
    }
}

TEST_F(CommandsTest, AfterTheMenuClosedButtonAndDoubleClickReadTheFocusedRowAgain) {
    menu.choose = [this] { w.NCopy.click(); };
    rightClick(rowOf("browser"));
    focus("server");
    w.Messages.answers = {ui::Answer::Yes};
    event([&] { w.BTNEndPro.click(); });
    ASSERT_EQ(endCalls.size(), 1u);
    EXPECT_EQ(endCalls[0].pid, 1300u);
    focus("resolver");
    event([&] { form->VTSDblClick(); });
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].front(), "resolver");
    // A command clicked from code outside any menu reads the focused row too.
    event([&] { w.NCopy.click(); });
    EXPECT_EQ(clipboard.content, BuildClipboardReport(rowOf("resolver")->Rec));
}

TEST_F(CommandsTest, TheManageColumnsMenuActsOnItsRow) {
    focus("browser");
    menu.choose = [this] {
        focus("System");
        w.NCopy.click();
    };
    event([&] { form->VTSColumnClick(ColumnManage, {5, 6}); });
    EXPECT_NE(clipboard.content.find("PID:1200\r\n"), std::string::npos);
}

TEST_F(CommandsTest, ACommandDuringARefreshActsOnTheFocusedRowAsItIsThen) {
    focus("sshd");
    // The snapshot in flight no longer has sshd; until it is merged, sshd's row is shown.
    nextTcp.erase(nextTcp.begin() + 1);
    ui::dispatchEvent(w.Messages, [this] { w.BTNRefresh.click(); });
    ASSERT_TRUE(form->refreshing());
    ASSERT_NE(rowOf("sshd"), nullptr);
    ui::dispatchEvent(w.Messages, [this] { w.NCopy.click(); });
    EXPECT_EQ(clipboard.content, BuildClipboardReport(rowOf("sshd")->Rec));
    focus("server");
    ui::dispatchEvent(w.Messages, [this] { form->VTSDblClick(); });
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].front(), "server");

    w.Worker.runAll();
    EXPECT_EQ(rowOf("sshd"), nullptr);
    EXPECT_EQ(w.VTS.focusedRow(), rowOf("server"));
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(CommandsTest, EndingAProcessRunsOnTheWorkerThenRefreshes) {
    struct Case {
        const char* name;
        os::EndProcessResult result;
        bool throws;
        bool refreshed;
    };
    const Case cases[] = {
        {"ended", os::EndProcessResult::Ended, false, true},
        {"refused", os::EndProcessResult::Failed, false, false},
        {"error", os::EndProcessResult::Ended, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        endCalls.clear();
        w.Messages.messages.clear();
        endResult = c.result;
        endThrows = c.throws;
        focus("browser");
        const int snapshotsBefore = snapshots;
        ui::dispatchEvent(w.Messages, [this] { w.BTNEndPro.click(); });
        // Nothing waits on the window's thread: the end is the worker's.
        EXPECT_TRUE(endCalls.empty());
        ASSERT_EQ(w.Worker.pending(), 1u);
        EXPECT_TRUE(w.BTNRefresh.enabled());
        ASSERT_TRUE(w.Worker.complete());
        ASSERT_EQ(endCalls.size(), 1u);
        EXPECT_EQ(endCalls[0].pid, 1200u);
        EXPECT_EQ(w.Worker.pending(), c.refreshed ? 1u : 0u);
        EXPECT_EQ(w.Messages.messages, c.refreshed ? std::vector<std::string>{}
                                                   : std::vector<std::string>{MsgCannotEnd});
        w.Worker.runAll();
        EXPECT_EQ(snapshots, snapshotsBefore + (c.refreshed ? 1 : 0));
        EXPECT_TRUE(w.Messages.errors.empty());
    }
    endThrows = false;
}

TEST_F(CommandsTest, TheRefreshAfterAnEndStartsNothingWhileARefreshIsInFlight) {
    focus("browser");
    ui::dispatchEvent(w.Messages, [this] { w.BTNEndPro.click(); });
    ui::dispatchEvent(w.Messages, [this] { w.BTNRefresh.click(); });
    ASSERT_EQ(w.Worker.pending(), 2u);
    ASSERT_TRUE(w.Worker.complete()); // the end: its refresh finds one in flight
    EXPECT_EQ(w.Worker.pending(), 1u);
    EXPECT_EQ(w.Worker.started, 2);
    w.Worker.runAll();
    EXPECT_TRUE(w.BTNRefresh.enabled());
    EXPECT_TRUE(w.Messages.messages.empty());
}

// A shell whose file manager is asked on the worker.
class SlowShell : public FakeShell {
public:
    std::function<bool()> fileManagerJob(FileManagerRequest request,
                                         const std::string& path) override {
        return [this, request, path] {
            asked.emplace_back(request, path);
            return taken;
        };
    }
    void fileManagerRefused(FileManagerRequest request, const std::string& path) override {
        refused.emplace_back(request, path);
    }
    bool taken = true;
    std::vector<std::pair<FileManagerRequest, std::string>> asked, refused;
};

TEST_F(CommandsTest, TheFileManagerIsAskedOnTheWorkerAndItsRefusalHandledHere) {
    TempDir files;
    writeTextFile(files.file("tool"), "#!/bin/sh\n");
    rowOf("server")->Rec.ProcPath = files.file("tool");
    SlowShell slow;
    form->SetCommandComponents({&menu, &slow, &clipboard, &dialogs});
    using Request = ShellRequests::FileManagerRequest;
    struct Case {
        const char* name;
        ui::MenuItem& item;
        Request request;
        bool taken;
    };
    const Case cases[] = {
        {"locate taken", w.NLocate, Request::SelectItem, true},
        {"locate refused", w.NLocate, Request::SelectItem, false},
        {"properties taken", w.NProperty, Request::ShowProperties, true},
        {"properties refused", w.NProperty, Request::ShowProperties, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        slow.asked.clear();
        slow.refused.clear();
        slow.taken = c.taken;
        focus("server");
        ui::dispatchEvent(w.Messages, [&c] { c.item.click(); });
        EXPECT_TRUE(slow.asked.empty());
        ASSERT_EQ(w.Worker.pending(), 1u);
        w.Worker.runAll();
        const std::vector<std::pair<Request, std::string>> expected{
            {c.request, files.file("tool")}};
        EXPECT_EQ(slow.asked, expected);
        const std::vector<std::pair<Request, std::string>> none;
        EXPECT_EQ(slow.refused, c.taken ? none : expected);
        EXPECT_TRUE(slow.selected.empty());
        EXPECT_TRUE(slow.properties.empty());
    }
}

} // namespace

TEST_F(CommandsTest, CloseConnectionIsEnabledForConnectedTcpRowsOnly) {
    EXPECT_EQ(closeItem.caption(), "断开连接");
    EXPECT_FALSE(closeItem.enabled()) << "no row prepared yet";
    // MIB_TCP_STATE numbers: 3 SYN sent ... 10 last ACK are connections.
    for (int state = 1; state <= 12; ++state) {
        nextTcp[0] = record(state, "40001", "1200", "browser", "/opt/browser/browser", 777001);
        event([&] { w.BTNRefresh.click(); });
        rightClick(rowOf("browser"));
        EXPECT_EQ(closeItem.enabled(), state >= 3 && state <= 10) << state;
    }
    rightClick(rowOf("resolver"));
    EXPECT_FALSE(closeItem.enabled()) << "UDP";
    rightClick(rowOf("System"));
    EXPECT_TRUE(closeItem.enabled()) << "a connection without a path is still a connection";
    // A connection the system cannot close (an IPv6 row on Windows).
    canClose = [](const os::Endpoint& e) { return e.localPort != 40002; };
    rightClick(rowOf("System"));
    EXPECT_FALSE(closeItem.enabled());
    event([&] { closeItem.click(); });
    EXPECT_TRUE(closeCalls.empty());
    EXPECT_TRUE(w.Messages.questions.empty());
}

TEST_F(CommandsTest, CloseConnectionAsksWithNoAsDefaultThenClosesAndRefreshes) {
    for (const ui::Answer answer : {ui::Answer::No, ui::Answer::Yes}) {
        closeCalls.clear();
        w.Messages.questions.clear();
        w.Messages.answers = {answer};
        const int before = snapshots;
        menu.choose = [this] { closeItem.click(); };
        rightClick(rowOf("browser"));
        ASSERT_EQ(w.Messages.questions.size(), 1u);
        EXPECT_EQ(w.Messages.questions[0].text, "确定要断开这个连接吗?");
        EXPECT_EQ(w.Messages.questions[0].caption, "Kestrel");
        EXPECT_EQ(w.Messages.questions[0].defaultButton, ui::DefaultButton::No);
        if (answer == ui::Answer::No) {
            EXPECT_TRUE(closeCalls.empty());
            EXPECT_EQ(snapshots, before);
            continue;
        }
        ASSERT_EQ(closeCalls.size(), 1u);
        EXPECT_EQ(closeCalls[0], nextTcp[0].Socket) << "exactly the row's socket";
        EXPECT_EQ(snapshots, before + 1) << "refreshed";
        EXPECT_TRUE(w.Messages.messages.empty());
    }
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(CommandsTest, RefusedCloseNamesTheReasonAndDoesNotRefresh) {
    const struct Case {
        os::CloseConnectionResult result;
        const char* reason;
    } cases[] = {
        {os::CloseConnectionResult::NotPermitted, "没有权限断开这个连接。"},
        {os::CloseConnectionResult::NotSupported, "系统不支持断开连接。"},
        {os::CloseConnectionResult::Gone, "这个连接已经不存在。"},
        {os::CloseConnectionResult::Failed, "系统拒绝了请求。"},
    };
    for (const Case& c : cases) {
        closeResult = c.result;
        w.Messages.messages.clear();
        w.Messages.answers = {ui::Answer::Yes};
        focus("browser");
        const int before = snapshots;
        event([&] {
            form->VTSGetPopupMenu(rowOf("browser"), 1, {1, 1});
            closeItem.click();
        });
        EXPECT_EQ(w.Messages.messages,
                  std::vector<std::string>{std::string("无法断开连接!\n") + c.reason});
        EXPECT_EQ(snapshots, before);
    }
}

TEST_F(CommandsTest, CloseReadsTheRowWhenTheCommandRuns) {
    // The item was prepared for browser; the focus moved to sshd's row meanwhile, and a click
    // from code acts on the focused row as it is then.
    rightClick(rowOf("browser"));
    nextTcp[1] = record(5, "22", "101", "sshd", "/usr/sbin/sshd", 5000);
    event([&] { w.BTNRefresh.click(); });
    focus("sshd");
    w.Messages.answers = {ui::Answer::Yes};
    event([&] { closeItem.click(); });
    ASSERT_EQ(closeCalls.size(), 1u);
    EXPECT_EQ(closeCalls[0].localPort, 22);
    EXPECT_EQ(closeCalls[0].state, 5u);

    // While the question is open a refresh finds a newer connection on the same ports (another
    // cookie): what is closed is the socket the row showed when the command ran, which the
    // system then reports as gone.
    closeCalls.clear();
    const std::uint64_t asked = rowOf("browser")->Rec.Socket.cookie;
    w.Messages.whileOpen = [this] {
        nextTcp[0].Socket.cookie = 0x99999;
        w.BTNRefresh.click();
    };
    w.Messages.answers = {ui::Answer::Yes};
    closeResult = os::CloseConnectionResult::Gone;
    focus("browser");
    event([&] { closeItem.click(); });
    ASSERT_EQ(closeCalls.size(), 1u);
    EXPECT_EQ(closeCalls[0].cookie, asked);
    EXPECT_EQ(rowOf("browser")->Rec.Socket.cookie, 0x99999u) << "the row follows the snapshot";
    EXPECT_EQ(w.Messages.messages.size(), 1u);

    // A refresh during the question that removes the row: nothing of the row is read later.
    closeCalls.clear();
    w.Messages.messages.clear();
    w.Messages.whileOpen = [this] {
        nextTcp.erase(nextTcp.begin());
        w.BTNRefresh.click();
    };
    w.Messages.answers = {ui::Answer::Yes};
    focus("browser");
    event([&] { closeItem.click(); });
    EXPECT_EQ(rowOf("browser"), nullptr);
    ASSERT_EQ(closeCalls.size(), 1u);
    EXPECT_EQ(closeCalls[0].cookie, 0x99999u);
    EXPECT_TRUE(w.Messages.errors.empty());
}
