// The main window's logic driven through fake components, an injected snapshot and a real
// settings file in a temporary folder.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "list/Columns.h"
#include "os/SettingsPath.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/FakeComponents.h"
#include "ui/MainWindowLook.h"
#include "ui/TempDir.h"
#include "ui/TestRecords.h"
#include "ui/UnitFormKestrel.h"

namespace {

const std::string StampedCaption = "Kestrel V3.0(网络连接查看器)";
const std::string LayoutCaption = "Kestrel V$V$(网络连接查看器)";
const std::string ConfirmExit = "您确认要退出网络连接查看器?";

enum Option { OptShowLocal, OptAutoRefresh, OptAlwaysTop, OptShowInfo };
const char* const OptionKeys[] = {"ShowLocal", "AutoRefresh", "AlwaysTop", "ShowInfo"};

class FormKestrelTest : public ::testing::Test {
protected:
    FormKestrelTest() {
        // A listener, a loopback connection (hidden while ShowLocal is off) and a UDP socket.
        nextTcp = {
            tcpRecord(2, "0.0.0.0", "22", "0.0.0.0", "0", "101", "sshd", "/usr/sbin/sshd"),
            tcpRecord(5, "127.0.0.1", "5000", "127.0.0.1", "6000", "202", "app", "/opt/app/app"),
        };
        nextUdp = {udpRecord("127.0.0.1", "53", "303", "dnsmasq", "/usr/sbin/dnsmasq")};
    }

    TFormKestrelServices services() {
        TFormKestrelServices s;
        s.settingsFile = settingsFile;
        s.settingsStorage.read = [this](const std::string& path, std::string& text) {
            log.push_back("read settings");
            return os::ReadWholeFile(path, text);
        };
        s.settingsStorage.replace = [this](const std::string& path, const std::string& text) {
            ++fileWrites;
            log.push_back("write settings");
            return !refuseWrites && os::ReplaceWholeFile(path, text);
        };
        s.exeDir = [] { return std::string("/opt/kestrel/bin/"); };
        s.systemDirs = [] { return std::vector<std::string>{"/usr/sbin", "/usr/lib/systemd"}; };
        s.enableDebugPrivilege = [this] {
            log.push_back("privilege");
            return false;
        };
        s.takeSnapshot = [this](Snapshot& snapshot) {
            ++snapshots;
            log.push_back("snapshot");
            if (duringSnapshot)
                duringSnapshot();
            if (snapshotFails)
                throw std::runtime_error("no endpoint table");
            snapshot.Tcp = nextTcp;
            snapshot.Udp = nextUdp;
            snapshot.Tcp6 = nextTcp6;
            snapshot.Udp6 = nextUdp6;
        };
        return s;
    }

    void construct() { form = std::make_unique<TFormKestrel>(w.controls(), services()); }
    void create() {
        construct();
        form->FormCreate();
    }

    // A user's click on a check box, as the toolkit forwards it; then the event loop runs
    // until the work it started is done.
    void userToggle(ui::CheckBox& box) {
        ui::dispatchEvent(w.Messages, [&box] { box.setChecked(!box.checked()); });
        w.Worker.runAll();
    }
    void userClick(ui::Button& button) {
        ui::dispatchEvent(w.Messages, [&button] { button.click(); });
        w.Worker.runAll();
    }

    ui::CheckBox& box(Option option) {
        switch (option) {
        case OptShowLocal:
            return w.CBShowLocal;
        case OptAutoRefresh:
            return w.CBAutoRefresh;
        case OptAlwaysTop:
            return w.CBAlwaysTop;
        case OptShowInfo:
            break;
        }
        return w.CBShowInfo;
    }

    bool detailColumnsVisible() const {
        return w.VTS.column(ColumnPath).visible && w.VTS.column(ColumnDescription).visible &&
               w.VTS.column(ColumnCompany).visible;
    }
    bool detailColumnsHidden() const {
        return !w.VTS.column(ColumnPath).visible && !w.VTS.column(ColumnDescription).visible &&
               !w.VTS.column(ColumnCompany).visible;
    }

    bool listShowsLoopback() const {
        for (RowHandle row = w.VTS.firstRow(); row != nullptr; row = w.VTS.nextRow(row)) {
            if (row->Rec.LocalAddr == "127.0.0.1" && row->Rec.RemoteAddr == "127.0.0.1")
                return true;
        }
        return false;
    }

    TempDir dir;
    std::string settingsFile = dir.file("config/kestrel/Kestrel.ini");
    FakeKestrelWindow w;
    std::vector<File_Rec> nextTcp;
    std::vector<File_Rec> nextUdp;
    std::vector<File_Rec> tcp6;
    std::vector<File_Rec> udp6;
    std::vector<File_Rec> nextTcp6;
    std::vector<File_Rec> nextUdp6;
    int snapshots = 0;
    int fileWrites = 0;
    bool snapshotFails = false;
    bool refuseWrites = false;
    std::function<void()> duringSnapshot;
    std::vector<std::string> log;
    std::unique_ptr<TFormKestrel> form;
};

TEST_F(FormKestrelTest, ConstructionSetsTheDesignStateAndRunsNoHandler) {
    construct();
    EXPECT_EQ(w.Form.caption(), LayoutCaption);
    EXPECT_EQ(w.LabAppCount.caption(), "0");
    EXPECT_EQ(w.LabNetCount.caption(), "0");

    struct BoxCase {
        Option option;
        int tag;
        const char* caption;
        bool checked;
    };
    const BoxCase boxes[] = {
        {OptShowLocal, 1, "显示本地连接", true},
        {OptAutoRefresh, 2, "自动刷新", false},
        {OptAlwaysTop, 3, "始终保持在其他窗口前端", true},
        {OptShowInfo, 4, "显示文件详细信息", false},
    };
    for (const BoxCase& c : boxes) {
        EXPECT_EQ(box(c.option).tag(), c.tag);
        EXPECT_EQ(box(c.option).caption(), c.caption);
        EXPECT_EQ(box(c.option).checked(), c.checked) << c.caption;
    }

    const std::pair<ui::Button*, const char*> buttons[] = {
        {&w.BTNHelp, "帮助"},    {&w.BTNUpdate, "更新"},     {&w.BTNHomePage, "主页"},
        {&w.BTNRefresh, "刷新"}, {&w.BTNEndPro, "结束进程"},
    };
    for (const auto& [button, caption] : buttons) {
        EXPECT_EQ(button->caption(), caption);
        EXPECT_TRUE(button->enabled());
    }
    const std::pair<ui::MenuItem*, const char*> items[] = {
        {&w.NProcInfo, "进程信息"}, {&w.NEndProc, "结束进程(&E)"}, {&w.NCopy, "拷贝到剪贴板"},
        {&w.NLocate, "定位文件"},   {&w.NProperty, "属性(&R)"},
    };
    for (const auto& [item, caption] : items) {
        EXPECT_EQ(item->caption(), caption);
        EXPECT_TRUE(item->enabled());
    }

    EXPECT_FALSE(w.Timer1.enabled());
    EXPECT_EQ(w.Timer1.interval(), 10000);
    EXPECT_EQ(w.VTS.eventHandler(), form.get());
    EXPECT_EQ(snapshots, 0);
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(w.Form.stayOnTopCalls.empty());
}

TEST_F(FormKestrelTest, CreationReadsOptionsBeforeTheOnlyFillAndStampsTheCaption) {
    writeTextFile(settingsFile, "[Set]\nShowLocal=0\n");
    bool creatingDuringFill = false;
    duringSnapshot = [&] { creatingDuringFill = form->creating(); };
    create();

    // One snapshot, the first fill: no refresh ran before it, although ShowLocal changed.
    EXPECT_EQ(snapshots, 1);
    const auto firstSnapshot = std::find(log.begin(), log.end(), "snapshot");
    const auto privilege = std::find(log.begin(), log.end(), "privilege");
    const auto lastRead = std::find(log.rbegin(), log.rend(), "read settings");
    ASSERT_NE(lastRead, log.rend());
    EXPECT_LE(lastRead.base(), privilege); // base() is one past the last read
    EXPECT_LT(privilege, firstSnapshot);

    EXPECT_TRUE(creatingDuringFill);
    EXPECT_FALSE(form->creating());
    EXPECT_FALSE(w.CBShowLocal.checked());
    EXPECT_FALSE(form->showLocal());
    // The first fill already leaves the loopback connection out; its program still counts.
    EXPECT_FALSE(listShowsLoopback());
    EXPECT_EQ(w.VTS.rowCount(), 2u);
    EXPECT_EQ(w.LabNetCount.caption(), "2");
    EXPECT_EQ(w.LabAppCount.caption(), "3");
    EXPECT_EQ(w.Form.caption(), StampedCaption);
    // "0" is stored already: nothing to write back.
    EXPECT_EQ(fileWrites, 0);
    EXPECT_EQ(readTextFile(settingsFile), "[Set]\nShowLocal=0\n");
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(FormKestrelTest, CreationSetsFieldsAndTexts) {
    create();
    EXPECT_EQ(form->homePageURL(), KESTREL_HOME_PAGE_URL);
    EXPECT_EQ(form->updateURL(), KESTREL_UPDATE_URL);
    EXPECT_EQ(form->exeDir(), "/opt/kestrel/bin/");
    EXPECT_EQ(form->systemDir(), (std::vector<std::string>{"/USR/SBIN", "/USR/LIB/SYSTEMD"}));
    EXPECT_EQ(form->msgSystemProcess(), "系统进程，不能结束。");
    EXPECT_EQ(form->textNotEnabled(), "未启用");
    EXPECT_EQ(form->msgConfirmExit(), ConfirmExit);
    EXPECT_EQ(form->msgCannotEnd(), "无法结束进程!");
    EXPECT_EQ(form->textSystemNote(), "系统核心内存管理进程，拥有最高优先权，没有它系统无法启动。");
    EXPECT_EQ(form->textIdleNote(),
              "系统核心虚拟进程，用来表示系统的空闲状态，这个数值越大CPU的空闲率就越高，"
              "反之就是CPU的占用率越高。");
    EXPECT_EQ(form->msgConfirmEndSystem(),
              "这是系统进程，结束该进程可能引起系统无法运行，仍要结束?");
    EXPECT_EQ(form->settingsFile(), settingsFile);
    // The counters show the first fill; the first row is selected and focused.
    EXPECT_EQ(w.LabNetCount.caption(), "3");
    EXPECT_EQ(w.LabAppCount.caption(), "3");
    EXPECT_NE(w.VTS.selectedRow(), nullptr);
    EXPECT_EQ(w.VTS.focusedRow(), w.VTS.selectedRow());
}

TEST_F(FormKestrelTest, NoSettingsFileKeepsDesignStatesAndCreatesNoFile) {
    create();
    EXPECT_TRUE(w.CBShowLocal.checked());
    EXPECT_FALSE(w.CBAutoRefresh.checked());
    EXPECT_TRUE(w.CBAlwaysTop.checked());
    EXPECT_FALSE(w.CBShowInfo.checked());
    EXPECT_TRUE(form->showLocal());
    EXPECT_FALSE(form->autoRefresh());
    EXPECT_TRUE(form->alwaysTop());
    EXPECT_FALSE(form->showInfo());
    EXPECT_FALSE(w.Timer1.enabled());
    EXPECT_TRUE(w.Form.stayOnTopCalls.empty());
    EXPECT_TRUE(detailColumnsHidden());
    EXPECT_TRUE(listShowsLoopback());
    EXPECT_EQ(fileWrites, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("config")));
}

TEST_F(FormKestrelTest, StoredOptionsAreAppliedAndWrittenBackInPlainForm) {
    struct Case {
        const char* stored;
        bool showLocal, autoRefresh, alwaysTop, showInfo;
        const char* fileAfter;
    };
    const Case cases[] = {
        {"[Set]\nAutoRefresh=5\n", true, true, true, false, "[Set]\nAutoRefresh=1\n"},
        {"[Set]\nShowInfo=0x10\n", true, false, true, true, "[Set]\nShowInfo=1\n"},
        {"[Set]\nShowLocal=abc\n", true, false, true, false, "[Set]\nShowLocal=abc\n"},
        {"[Set]\nAlwaysTop=0\n", true, false, false, false, "[Set]\nAlwaysTop=0\n"},
        {"[Set]\nAutoRefresh=1\n", true, true, true, false, "[Set]\nAutoRefresh=1\n"},
        {"# kept\n[set]\nautorefresh=0\nSHOWINFO=$1\n[Other]\nShowLocal=0\n", true, false, true,
         true, "# kept\n[set]\nautorefresh=0\nSHOWINFO=1\n[Other]\nShowLocal=0\n"},
        {"[Set]\r\nShowLocal=-1\r\nAlwaysTop=+0\r\n", true, false, false, false,
         "[Set]\r\nShowLocal=-1\r\nAlwaysTop=0\r\n"},
        {"[Set]\nShowLocal=\nAutoRefresh=1.5\nShowInfo=\"1\"\n", true, false, true, true,
         "[Set]\nShowLocal=\nAutoRefresh=1.5\nShowInfo=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        // A fresh window per case: the check boxes keep their state between forms otherwise.
        FakeKestrelWindow window;
        TFormKestrel caseForm(window.controls(), services());
        writeTextFile(settingsFile, c.stored);
        snapshots = 0;
        caseForm.FormCreate();

        EXPECT_EQ(window.CBShowLocal.checked(), c.showLocal);
        EXPECT_EQ(window.CBAutoRefresh.checked(), c.autoRefresh);
        EXPECT_EQ(window.CBAlwaysTop.checked(), c.alwaysTop);
        EXPECT_EQ(window.CBShowInfo.checked(), c.showInfo);
        EXPECT_EQ(caseForm.autoRefresh(), c.autoRefresh);
        EXPECT_EQ(window.Timer1.enabled(), c.autoRefresh);
        EXPECT_EQ(window.Form.topmost, c.alwaysTop);
        EXPECT_EQ(window.Form.stayOnTopCalls.size(), c.alwaysTop ? 0u : 1u);
        EXPECT_EQ(window.VTS.column(ColumnPath).visible, c.showInfo);
        EXPECT_EQ(window.VTS.column(ColumnCompany).visible, c.showInfo);
        EXPECT_EQ(snapshots, 1);
        EXPECT_EQ(readTextFile(settingsFile), c.fileAfter);
        EXPECT_TRUE(window.Messages.errors.empty());
    }
}

TEST_F(FormKestrelTest, AlwaysTopStoredOffLeavesTheTopmostBandDuringCreation) {
    writeTextFile(settingsFile, "[Set]\nAlwaysTop=0\n");
    std::size_t callsBeforeFill = 0;
    duringSnapshot = [&] { callsBeforeFill = w.Form.stayOnTopCalls.size(); };
    create();
    EXPECT_EQ(callsBeforeFill, 1u);
    EXPECT_EQ(w.Form.stayOnTopCalls, std::vector<bool>{false});
}

TEST_F(FormKestrelTest, TickingShowInfoWithoutFileWritesOnlyThatEntry) {
    create();
    userToggle(w.CBShowInfo);
    EXPECT_EQ(readTextFile(settingsFile), "[Set]\nShowInfo=1\n");
    EXPECT_TRUE(detailColumnsVisible());
    EXPECT_TRUE(form->showInfo());
    userToggle(w.CBShowInfo);
    EXPECT_EQ(readTextFile(settingsFile), "[Set]\nShowInfo=0\n");
    EXPECT_TRUE(detailColumnsHidden());
    EXPECT_EQ(snapshots, 1);
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(FormKestrelTest, EachOptionChangeWritesOneEntryAndOnlyShowLocalRefreshes) {
    const std::string before =
        "; my notes\n[Other]\nKey=Value\n\n[Set]\nShowLocal=1\r\nExtra = x\n";
    struct Case {
        Option option;
        int refreshes;
        const char* fileAfter;
    };
    const Case cases[] = {
        {OptShowLocal, 1, "; my notes\n[Other]\nKey=Value\n\n[Set]\nShowLocal=0\r\nExtra = x\n"},
        {OptAutoRefresh, 0,
         "; my notes\n[Other]\nKey=Value\n\n[Set]\nShowLocal=1\r\nExtra = x\nAutoRefresh=1\n"},
        {OptAlwaysTop, 0,
         "; my notes\n[Other]\nKey=Value\n\n[Set]\nShowLocal=1\r\nExtra = x\nAlwaysTop=0\n"},
        {OptShowInfo, 0,
         "; my notes\n[Other]\nKey=Value\n\n[Set]\nShowLocal=1\r\nExtra = x\nShowInfo=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(OptionKeys[c.option]);
        FakeKestrelWindow window;
        TFormKestrel caseForm(window.controls(), services());
        writeTextFile(settingsFile, before);
        caseForm.FormCreate();
        snapshots = 0;
        ui::CheckBox* boxes[] = {&window.CBShowLocal, &window.CBAutoRefresh, &window.CBAlwaysTop,
                                 &window.CBShowInfo};
        ui::CheckBox& changed = *boxes[c.option];
        ui::dispatchEvent(window.Messages, [&] { changed.setChecked(!changed.checked()); });
        window.Worker.runAll();

        EXPECT_EQ(snapshots, c.refreshes);
        EXPECT_EQ(readTextFile(settingsFile), c.fileAfter);
        EXPECT_TRUE(window.Messages.errors.empty());
        switch (c.option) {
        case OptShowLocal: {
            bool loopbackShown = false;
            for (RowHandle row = window.VTS.firstRow(); row; row = window.VTS.nextRow(row))
                loopbackShown |= row->Rec.RemoteAddr == "127.0.0.1";
            EXPECT_FALSE(loopbackShown);
            break;
        }
        case OptAutoRefresh:
            EXPECT_TRUE(window.Timer1.enabled());
            break;
        case OptAlwaysTop:
            EXPECT_EQ(window.Form.stayOnTopCalls, std::vector<bool>{false});
            break;
        case OptShowInfo:
            EXPECT_TRUE(window.VTS.column(ColumnDescription).visible);
            break;
        }
    }
}

TEST_F(FormKestrelTest, RefusedWriteIsReportedAndSkipsTheEffect) {
    writeTextFile(dir.file("plainfile"), "x");
    settingsFile = dir.file("plainfile/kestrel/Kestrel.ini");
    for (const Option option : {OptShowLocal, OptAutoRefresh, OptAlwaysTop, OptShowInfo}) {
        SCOPED_TRACE(OptionKeys[option]);
        FakeKestrelWindow window;
        TFormKestrel caseForm(window.controls(), services());
        caseForm.FormCreate();
        EXPECT_TRUE(window.Messages.errors.empty());
        snapshots = 0;
        ui::CheckBox* boxes[] = {&window.CBShowLocal, &window.CBAutoRefresh, &window.CBAlwaysTop,
                                 &window.CBShowInfo};
        ui::CheckBox& changed = *boxes[option];
        const bool newState = !changed.checked();
        ui::dispatchEvent(window.Messages, [&] { changed.setChecked(newState); });
        window.Worker.runAll();

        EXPECT_EQ(window.Messages.errors,
                  std::vector<std::string>{"Unable to write to " + settingsFile});
        // The box and the field keep the new value; the effect does not happen.
        EXPECT_EQ(changed.checked(), newState);
        const bool fields[] = {caseForm.showLocal(), caseForm.autoRefresh(), caseForm.alwaysTop(),
                               caseForm.showInfo()};
        EXPECT_EQ(fields[option], newState);
        EXPECT_EQ(snapshots, 0);
        EXPECT_FALSE(window.Timer1.enabled());
        EXPECT_TRUE(window.Form.stayOnTopCalls.empty());
        EXPECT_FALSE(window.VTS.column(ColumnPath).visible);
    }
    EXPECT_EQ(readTextFile(dir.file("plainfile")), "x");
}

TEST_F(FormKestrelTest, ReadOnlySettingsStillTakeEffectAtStart) {
    writeTextFile(settingsFile, "[Set]\nShowLocal=0x0\nAutoRefresh=5\nAlwaysTop=$0\nShowInfo=7\n");
    refuseWrites = true;
    create();
    EXPECT_FALSE(w.CBShowLocal.checked());
    EXPECT_TRUE(w.Timer1.enabled());
    EXPECT_EQ(w.Form.stayOnTopCalls, std::vector<bool>{false});
    EXPECT_TRUE(detailColumnsVisible());
    EXPECT_FALSE(listShowsLoopback());
    EXPECT_GT(fileWrites, 0);
    EXPECT_TRUE(w.Messages.errors.empty());
    EXPECT_EQ(w.Form.caption(), StampedCaption);
    EXPECT_EQ(readTextFile(settingsFile),
              "[Set]\nShowLocal=0x0\nAutoRefresh=5\nAlwaysTop=$0\nShowInfo=7\n");
}

TEST_F(FormKestrelTest, RefreshDisablesButtonAndTimerAndRestoresThemAlsoOnError) {
    struct Case {
        bool autoRefresh;
        bool fails;
    };
    for (const Case c :
         {Case{false, false}, Case{false, true}, Case{true, false}, Case{true, true}}) {
        SCOPED_TRACE(testing::Message() << "auto " << c.autoRefresh << " fails " << c.fails);
        FakeKestrelWindow window;
        TFormKestrel caseForm(window.controls(), services());
        snapshotFails = false;
        caseForm.FormCreate();
        if (c.autoRefresh)
            ui::dispatchEvent(window.Messages, [&] { window.CBAutoRefresh.setChecked(true); });
        ASSERT_EQ(window.Timer1.enabled(), c.autoRefresh);

        bool buttonDuring = true;
        bool timerDuring = true;
        duringSnapshot = [&] {
            buttonDuring = window.BTNRefresh.enabled();
            timerDuring = window.Timer1.enabled();
        };
        bool buttonWhenReported = false;
        bool timerWhenReported = false;
        window.Messages.whileOpen = [&] {
            buttonWhenReported = window.BTNRefresh.enabled();
            timerWhenReported = window.Timer1.enabled();
        };
        snapshotFails = c.fails;
        const int startsBefore = window.Timer1.starts;
        const int snapshotsBefore = snapshots;
        ui::dispatchEvent(window.Messages, [&] { window.BTNRefresh.click(); });
        window.Worker.runAll();

        EXPECT_EQ(snapshots, snapshotsBefore + 1);
        EXPECT_FALSE(buttonDuring);
        EXPECT_FALSE(timerDuring);
        EXPECT_TRUE(window.BTNRefresh.enabled());
        EXPECT_EQ(window.Timer1.enabled(), c.autoRefresh);
        // With auto refresh the next tick is a full interval after this refresh ended.
        EXPECT_EQ(window.Timer1.starts, startsBefore + (c.autoRefresh ? 1 : 0));
        if (c.fails) {
            EXPECT_EQ(window.Messages.errors, std::vector<std::string>{"no endpoint table"});
            EXPECT_TRUE(buttonWhenReported);
            EXPECT_EQ(timerWhenReported, c.autoRefresh);
        } else {
            EXPECT_TRUE(window.Messages.errors.empty());
        }
        duringSnapshot = nullptr;
    }
}

TEST_F(FormKestrelTest, TimerTickRefreshesThroughTheButtonOnlyWhileEnabled) {
    create();
    w.BTNRefresh.setEnabled(false);
    w.Timer1.tick();
    EXPECT_EQ(snapshots, 1);

    userToggle(w.CBAutoRefresh);
    ASSERT_TRUE(w.Timer1.enabled());
    nextUdp.push_back(udpRecord("0.0.0.0", "5353", "404", "avahi", "/usr/sbin/avahi-daemon"));
    ui::dispatchEvent(w.Messages, [this] { w.Timer1.tick(); });
    w.Worker.runAll();
    EXPECT_EQ(snapshots, 2);
    EXPECT_EQ(w.LabNetCount.caption(), "4");
    EXPECT_TRUE(w.BTNRefresh.enabled());
    EXPECT_TRUE(w.Timer1.enabled());

    userToggle(w.CBAutoRefresh);
    EXPECT_FALSE(w.Timer1.enabled());
    w.Timer1.tick();
    EXPECT_EQ(snapshots, 2);
    userClick(w.BTNRefresh);
    EXPECT_EQ(snapshots, 3);
    // With auto refresh off a manual refresh leaves the timer off.
    EXPECT_FALSE(w.Timer1.enabled());
}

TEST_F(FormKestrelTest, CloseAsksAndOnlyYesCloses) {
    create();
    for (const ui::Answer answer : {ui::Answer::No, ui::Answer::Yes}) {
        w.Messages.answers.push_back(answer);
        bool canClose = answer == ui::Answer::No;
        form->FormCloseQuery(canClose);
        EXPECT_EQ(canClose, answer == ui::Answer::Yes);
    }
    ASSERT_EQ(w.Messages.questions.size(), 2u);
    for (const auto& question : w.Messages.questions) {
        EXPECT_EQ(question.text, ConfirmExit);
        EXPECT_EQ(question.caption, "Kestrel");
        EXPECT_EQ(question.defaultButton, ui::DefaultButton::Yes);
    }
}

TEST_F(FormKestrelTest, RefreshRunsWhileTheCloseQuestionIsOpen) {
    create();
    userToggle(w.CBAutoRefresh);
    w.Messages.whileOpen = [this] {
        w.Timer1.tick();
        w.Worker.runAll();
    };
    bool canClose = true;
    form->FormCloseQuery(canClose);
    EXPECT_FALSE(canClose);
    EXPECT_EQ(snapshots, 2);
    EXPECT_TRUE(w.Timer1.enabled());
}

TEST_F(FormKestrelTest, ErrorDuringCreationIsReportedAndStopsTheSequence) {
    writeTextFile(settingsFile, "[Set]\nAutoRefresh=1\n");
    snapshotFails = true;
    create();
    EXPECT_EQ(w.Messages.errors, std::vector<std::string>{"no endpoint table"});
    EXPECT_TRUE(form->creating());
    EXPECT_EQ(w.Form.caption(), LayoutCaption);
    // The steps before the failing one have run.
    EXPECT_TRUE(w.Timer1.enabled());
    EXPECT_EQ(form->msgConfirmExit(), ConfirmExit);
}

TEST_F(FormKestrelTest, ShowLocalChangedAfterAFailedCreationDoesNotRefresh) {
    snapshotFails = true;
    create();
    snapshotFails = false;
    userToggle(w.CBShowLocal);
    EXPECT_EQ(snapshots, 1);
    userClick(w.BTNRefresh);
    EXPECT_EQ(snapshots, 2);
    EXPECT_FALSE(listShowsLoopback());
}

TEST_F(FormKestrelTest, IconCachesAreMadeBeforeTheFirstFillAndServeColumnOne) {
    FakeSystemImageList system;
    std::vector<FakeImageStore*> stores;
    TFormKestrelServices s = services();
    s.makeImageStore = [&stores] {
        auto store = std::make_unique<FakeImageStore>();
        stores.push_back(store.get());
        return store;
    };
    s.systemImages = &system;
    form = std::make_unique<TFormKestrel>(w.controls(), std::move(s));
    EXPECT_EQ(form->smallIcons(), nullptr);
    bool cachesDuringFill = false;
    duringSnapshot = [&] { cachesDuringFill = form->smallIcons() && form->largeIcons(); };
    form->FormCreate();

    EXPECT_TRUE(cachesDuringFill);
    ASSERT_EQ(stores.size(), 2u);
    EXPECT_EQ(form->largeIcons()->Width(), 32);
    EXPECT_EQ(form->largeIcons()->Height(), 32);
    EXPECT_EQ(form->smallIcons()->Width(), 16);
    EXPECT_EQ(form->smallIcons()->Height(), 16);

    RowHandle row = w.VTS.firstRow();
    ASSERT_NE(row, nullptr);
    ListControlEvents& events = *form;
    EXPECT_EQ(events.VTSGetImageIndex(row, ColumnProcess), 0);
    EXPECT_EQ(events.VTSGetImageIndex(row, ColumnProcess), 0);
    for (const int column : {0, 3, 10, 9, 14, -1})
        EXPECT_EQ(events.VTSGetImageIndex(row, column), -1) << column;
    // Copies go to the small cache only, from the system's small list.
    EXPECT_EQ(system.copiedSmall, std::vector<bool>{true});
    row->Rec.ProcPath.clear();
    EXPECT_EQ(events.VTSGetImageIndex(row, ColumnProcess), -1);
}

TEST_F(FormKestrelTest, WithoutIconServicesTheListShowsNoIcons) {
    create();
    EXPECT_EQ(form->smallIcons(), nullptr);
    EXPECT_EQ(form->largeIcons(), nullptr);
    ListControlEvents& events = *form;
    EXPECT_EQ(events.VTSGetImageIndex(w.VTS.firstRow(), ColumnProcess), -1);
}

TEST_F(FormKestrelTest, DestroyedFormLeavesNoHandlerBehind) {
    create();
    form.reset();
    userClick(w.BTNRefresh);
    userToggle(w.CBShowLocal);
    w.Timer1.tick();
    EXPECT_EQ(snapshots, 1);
    EXPECT_EQ(w.VTS.eventHandler(), nullptr);
}

// The filter over the window's list: a few thousand rows, refreshed with the filter active.
class FormFilterTest : public FormKestrelTest {
protected:
    FormFilterTest() {
        nextTcp.clear();
        nextUdp.clear();
        for (int i = 0; i < 2000; ++i) {
            const std::string name = i % 20 == 0 ? "FireFox" : "prog" + std::to_string(i % 50);
            const std::string port = std::to_string(10000 + i);
            nextTcp.push_back(tcpRecord(5, "10.0.0.1", port, "10.0.0.2", "443",
                                        std::to_string(100 + i % 50), name, "/usr/bin/" + name));
        }
        nextUdp.push_back(udpRecord("0.0.0.0", "5353", "7", "系统服务", "/usr/sbin/sysd"));
    }

    void userTypes(const std::string& text) {
        ui::dispatchEvent(w.Messages, [&] { w.EFilter.setText(text); });
    }
    std::size_t shownWith(const std::string& name) const {
        std::size_t n = 0;
        for (RowHandle row = w.VTS.firstShownRow(); row; row = w.VTS.nextShownRow(row))
            n += row->Rec.ProcName == name ? 1 : 0;
        return n;
    }
};

TEST_F(FormFilterTest, DesignStateIsAnEmptyFieldWithItsPlaceholderAndTheDescribedSentence) {
    create();
    EXPECT_EQ(w.EFilter.text(), "");
    EXPECT_EQ(w.EFilter.placeholder(), "筛选");
    EXPECT_EQ(w.Label5.caption(), "个连接。");
    EXPECT_EQ(w.LabNetCount.caption(), "2001");
    EXPECT_EQ(w.VTS.shownRowCount(), 2001u);
}

TEST_F(FormFilterTest, TypingShowsMatchingRowsAndTheSentenceSaysHowMany) {
    create();
    const int writes = fileWrites;
    userTypes("firefox");
    EXPECT_EQ(w.VTS.shownRowCount(), 100u);
    EXPECT_EQ(shownWith("FireFox"), 100u) << "ASCII letters folded";
    EXPECT_EQ(w.Label5.caption(), "个连接，显示 100 项。");
    EXPECT_EQ(w.LabNetCount.caption(), "2001") << "the counters keep counting every row";
    EXPECT_EQ(w.LabAppCount.caption(), "52");
    ASSERT_NE(w.VTS.selectedRow(), nullptr) << "the hidden selection moved to the first shown";
    EXPECT_EQ(w.VTS.selectedRow(), w.VTS.firstShownRow());
    EXPECT_EQ(w.VTS.focusedRow(), w.VTS.selectedRow());

    userTypes("系统");
    EXPECT_EQ(w.VTS.shownRowCount(), 1u);
    EXPECT_EQ(w.Label5.caption(), "个连接，显示 1 项。");
    userTypes("no such text");
    EXPECT_EQ(w.VTS.shownRowCount(), 0u);
    EXPECT_EQ(w.VTS.selectedRow(), nullptr);
    EXPECT_EQ(w.Label5.caption(), "个连接，显示 0 项。");
    EXPECT_EQ(fileWrites, writes) << "the filter is not saved";
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(FormFilterTest, RefreshWithTheFilterKeepsTheSelectionAndShowsNewMatches) {
    create();
    userTypes("FIREFOX");
    RowHandle chosen = nullptr;
    int seen = 0;
    for (RowHandle row = w.VTS.firstShownRow(); row; row = w.VTS.nextShownRow(row))
        if (++seen == 7)
            chosen = row;
    ASSERT_NE(chosen, nullptr);
    w.VTS.selectRow(chosen);
    w.VTS.setFocusedRow(chosen);

    nextTcp.push_back(tcpRecord(2, "0.0.0.0", "8080", "0.0.0.0", "0", "999", "firefox-bin",
                                "/usr/lib/firefox/firefox-bin"));
    nextTcp.push_back(tcpRecord(2, "0.0.0.0", "8081", "0.0.0.0", "0", "998", "other", "/o"));
    userClick(w.BTNRefresh);
    EXPECT_EQ(w.LabNetCount.caption(), "2003");
    EXPECT_EQ(w.VTS.shownRowCount(), 101u);
    EXPECT_EQ(w.Label5.caption(), "个连接，显示 101 项。");
    EXPECT_EQ(shownWith("firefox-bin"), 1u);
    EXPECT_EQ(w.VTS.selectedRow(), chosen);
    EXPECT_EQ(w.VTS.focusedRow(), chosen);
    for (RowHandle row = w.VTS.firstShownRow(); row; row = w.VTS.nextShownRow(row))
        if (row->Rec.ProcName == "firefox-bin") {
            EXPECT_EQ(row->Rec.Mark, "add");
        }

    // Cleared: every row and the described sentence are back.
    userTypes("");
    EXPECT_EQ(w.VTS.shownRowCount(), 2003u);
    EXPECT_EQ(w.Label5.caption(), "个连接。");
    EXPECT_EQ(w.VTS.selectedRow(), chosen);
}

TEST_F(FormFilterTest, EscapeClearsAndCtrlFFocusesTheField) {
    create();
    ui::dispatchEvent(w.Messages, [&] { form->FormKeyFind(); });
    EXPECT_EQ(w.EFilter.focusRequests, 1);
    userTypes("prog7");
    EXPECT_EQ(w.VTS.shownRowCount(), 40u); // prog7 and prog70..79 do not exist: 7 of 50
    ui::dispatchEvent(w.Messages, [&] { form->EFilterKeyEscape(); });
    EXPECT_EQ(w.EFilter.text(), "");
    EXPECT_EQ(w.VTS.filterText(), "");
    EXPECT_EQ(w.VTS.shownRowCount(), 2001u);
    EXPECT_EQ(w.Label5.caption(), "个连接。");
}

TEST_F(FormFilterTest, FileDetailColumnsTakePartWhileShown) {
    create();
    userTypes("/usr/sbin");
    EXPECT_EQ(w.VTS.shownRowCount(), 0u) << "the path column is hidden";
    userToggle(w.CBShowInfo);
    EXPECT_EQ(w.VTS.shownRowCount(), 1u);
    EXPECT_EQ(w.Label5.caption(), "个连接，显示 1 项。");
    EXPECT_NE(w.VTS.selectedRow(), nullptr);
    userToggle(w.CBShowInfo);
    EXPECT_EQ(w.VTS.shownRowCount(), 0u);
    EXPECT_EQ(w.Label5.caption(), "个连接，显示 0 项。");
}

TEST_F(FormKestrelTest, WhileASnapshotIsInFlightNoSecondRefreshStarts) {
    writeTextFile(settingsFile, "[Set]\nAutoRefresh=1\n");
    create();
    ASSERT_TRUE(listShowsLoopback());
    ui::dispatchEvent(w.Messages, [this] { w.BTNRefresh.click(); });
    ASSERT_EQ(w.Worker.pending(), 1u);
    EXPECT_TRUE(form->refreshing());
    EXPECT_FALSE(w.BTNRefresh.enabled());
    EXPECT_FALSE(w.Timer1.enabled());

    // Every way to a refresh, the timer's too (its handler, as if a tick had been queued).
    const std::pair<const char*, std::function<void()>> attempts[] = {
        {"tick", [this] { form->Timer1Timer(); }},
        {"button", [this] { w.BTNRefresh.click(); }},
        {"ShowLocal", [this] { w.CBShowLocal.setChecked(!w.CBShowLocal.checked()); }},
        {"entry", [this] { form->BTNRefreshClick(); }},
    };
    for (const auto& [name, attempt] : attempts) {
        SCOPED_TRACE(name);
        ui::dispatchEvent(w.Messages, attempt);
        EXPECT_EQ(w.Worker.started, 1);
        EXPECT_FALSE(w.BTNRefresh.enabled());
        EXPECT_FALSE(w.Timer1.enabled());
    }
    EXPECT_EQ(snapshots, 1);
    EXPECT_FALSE(w.CBShowLocal.checked());

    // The one in flight merges with the options as they are when it is ready.
    nextUdp.push_back(udpRecord("0.0.0.0", "5353", "404", "avahi", "/usr/sbin/avahi-daemon"));
    const int startsBefore = w.Timer1.starts;
    ASSERT_TRUE(w.Worker.complete());
    EXPECT_EQ(snapshots, 2);
    EXPECT_EQ(w.Worker.pending(), 0u);
    EXPECT_FALSE(form->refreshing());
    EXPECT_FALSE(listShowsLoopback());
    EXPECT_EQ(w.LabNetCount.caption(), "3");
    EXPECT_TRUE(w.BTNRefresh.enabled());
    EXPECT_TRUE(w.Timer1.enabled());
    EXPECT_EQ(w.Timer1.starts, startsBefore + 1);
    EXPECT_TRUE(w.Messages.errors.empty());

    // And the next refresh starts again.
    userClick(w.BTNRefresh);
    EXPECT_EQ(w.Worker.started, 2);
    EXPECT_EQ(snapshots, 3);
}

TEST_F(FormKestrelTest, FailedSnapshotRestoresButtonAndTimerAndIsReportedOnce) {
    writeTextFile(settingsFile, "[Set]\nAutoRefresh=1\n");
    create();
    const std::size_t rowsBefore = w.VTS.rowCount();
    struct Case {
        const char* name;
        bool inTheJob; // the snapshot throws, or the worker reports an error of its own
    };
    for (const Case c : {Case{"snapshot throws", true}, Case{"worker fails", false}}) {
        SCOPED_TRACE(c.name);
        w.Messages.errors.clear();
        bool buttonWhenReported = false;
        bool timerWhenReported = false;
        w.Messages.whileOpen = [&] {
            buttonWhenReported = w.BTNRefresh.enabled();
            timerWhenReported = w.Timer1.enabled();
        };
        ui::dispatchEvent(w.Messages, [this] { w.BTNRefresh.click(); });
        ASSERT_EQ(w.Worker.pending(), 1u);
        snapshotFails = c.inTheJob;
        if (c.inTheJob)
            w.Worker.complete();
        else
            w.Worker.fail(std::make_exception_ptr(std::runtime_error("no endpoint table")));
        snapshotFails = false;
        EXPECT_EQ(w.Messages.errors, std::vector<std::string>{"no endpoint table"});
        EXPECT_TRUE(buttonWhenReported);
        EXPECT_TRUE(timerWhenReported);
        EXPECT_TRUE(w.BTNRefresh.enabled());
        EXPECT_TRUE(w.Timer1.enabled());
        EXPECT_FALSE(form->refreshing());
        EXPECT_EQ(w.VTS.rowCount(), rowsBefore);
        EXPECT_EQ(w.Worker.pending(), 0u);
        w.Messages.whileOpen = nullptr;
    }
    // The entry is not stuck after a failure.
    w.Messages.errors.clear();
    userClick(w.BTNRefresh);
    EXPECT_EQ(w.Worker.started, 3);
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(FormKestrelTest, ClosingWhileASnapshotIsInFlightDropsItsMerge) {
    create();
    const std::string countBefore = w.LabNetCount.caption();
    nextUdp.push_back(udpRecord("0.0.0.0", "5353", "404", "avahi", "/usr/sbin/avahi-daemon"));
    ui::dispatchEvent(w.Messages, [this] { w.BTNRefresh.click(); });
    ASSERT_EQ(w.Worker.pending(), 1u);
    form.reset();
    // The job still runs to its end, on what it owns; nothing reaches the window any more.
    ASSERT_TRUE(w.Worker.complete());
    EXPECT_EQ(snapshots, 2);
    EXPECT_EQ(w.LabNetCount.caption(), countBefore);
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(FormKestrelTest, ShowIPv6IsOffByDefaultAndEachChangeRefreshesThroughTheButton) {
    nextTcp6 = {tcpRecord(2, "::", "22", "::", "0", "101", "sshd", "/usr/sbin/sshd")};
    nextUdp6 = {udpRecord("fe80::1%2", "546", "404", "dhcp6", "/usr/sbin/dhcp6")};
    const std::string stored = "[Set]\nShowLocal=1\nAutoRefresh=0\n";
    writeTextFile(settingsFile, stored);
    create();
    EXPECT_FALSE(form->showIPv6());
    EXPECT_EQ(w.VTS.rowCount(), 3u) << "a stored file shows what it always showed";
    EXPECT_EQ(w.LabNetCount.caption(), "3");
    EXPECT_EQ(w.LabAppCount.caption(), "3");

    struct Step {
        bool on;
        int refreshes;
        std::size_t rows;
        const char* apps;
    };
    const Step steps[] = {
        {true, 1, 5, "4"},
        {true, 0, 5, "4"}, // the same value again does nothing
        {false, 1, 3, "3"},
        {false, 0, 3, "3"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.on);
        snapshots = 0;
        const int buttonChanges = w.BTNRefresh.enabledChanges;
        ui::dispatchEvent(w.Messages, [&] { form->setShowIPv6(step.on); });
        w.Worker.runAll();
        EXPECT_EQ(form->showIPv6(), step.on);
        EXPECT_EQ(snapshots, step.refreshes);
        EXPECT_EQ(w.BTNRefresh.enabledChanges - buttonChanges, 2 * step.refreshes)
            << "the refresh runs through the Refresh button's click";
        EXPECT_EQ(w.VTS.rowCount(), step.rows);
        EXPECT_EQ(w.LabNetCount.caption(), std::to_string(step.rows));
        EXPECT_EQ(w.LabAppCount.caption(), step.apps);
    }
    EXPECT_TRUE(w.Messages.errors.empty());
}

// The options menu: a drop-down that counts its openings and may click an item meanwhile.
class FakeDropDown : public ui::DropDownMenu {
public:
    int openings = 0;
    std::function<void()> whileOpen;
    void dropDown() override {
        ++openings;
        if (whileOpen)
            whileOpen();
    }
};

const OptionItem AllOptions[] = {OptionItem::ShowIPv6, OptionItem::ResolveNames,
                                 OptionItem::ShowTraffic};

ui::MenuItem& optionItem(FakeKestrelWindow& window, OptionItem item) {
    switch (item) {
    case OptionItem::ShowIPv6:
        return window.ShowIPv6;
    case OptionItem::ResolveNames:
        return window.ResolveNames;
    default:
        return window.ShowTraffic;
    }
}

TEST_F(FormKestrelTest, OptionsButtonAndItemsStartAsDescribedAndRunNoHandler) {
    construct();
    EXPECT_EQ(w.BTNOptions.caption(), "选项");
    EXPECT_TRUE(w.BTNOptions.enabled());
    const std::pair<OptionItem, const char*> items[] = {
        {OptionItem::ShowIPv6, "显示IPv6连接"},
        {OptionItem::ResolveNames, "解析主机名"},
        {OptionItem::ShowTraffic, "显示流量"},
    };
    for (const auto& [which, caption] : items) {
        SCOPED_TRACE(caption);
        const ui::MenuItem& item = optionItem(w, which);
        EXPECT_EQ(item.caption(), caption);
        EXPECT_TRUE(item.checkable());
        EXPECT_FALSE(item.checked());
        EXPECT_TRUE(item.enabled());
        EXPECT_FALSE(form->option(which));
    }
    EXPECT_FALSE(form->showIPv6() || form->resolveNames() || form->showTraffic());
    EXPECT_TRUE(log.empty());
}

TEST_F(FormKestrelTest, OptionsButtonOpensItsMenuAndAChosenItemIsStoredAtOnce) {
    FakeDropDown dropDown;
    create();
    form->SetCommandComponents(TFormKestrelCommands{.PmOptions = &dropDown});
    int changes = 0;
    bool valueSeen = false;
    form->setOnOptionChanged(OptionItem::ResolveNames, [&] {
        ++changes;
        valueSeen = form->resolveNames();
    });
    dropDown.whileOpen = [this] { w.ResolveNames.click(); };
    userClick(w.BTNOptions);
    EXPECT_EQ(dropDown.openings, 1);
    EXPECT_TRUE(w.ResolveNames.checked());
    EXPECT_TRUE(form->resolveNames());
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(valueSeen); // the hook runs with the new value in place
    EXPECT_EQ(readTextFile(settingsFile), "[Options]\nResolveNames=1\n");

    dropDown.whileOpen = {};
    userClick(w.BTNOptions); // closed without a choice
    EXPECT_EQ(changes, 1);
    ui::dispatchEvent(w.Messages, [this] { w.ResolveNames.click(); });
    EXPECT_FALSE(form->resolveNames());
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(readTextFile(settingsFile), "[Options]\nResolveNames=0\n");
    // No option of the menu refreshes the list by itself.
    EXPECT_EQ(snapshots, 1);
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(FormKestrelTest, StoredOptionsMenuValuesAreReadLikeTheFourOptions) {
    struct Case {
        const char* stored; // the section Options, or a file without it
        bool on;
        const char* storedAfter; // the section as it reads after the start
    };
    const Case cases[] = {
        {"", false, ""},
        {"[Options]\nKEY=0\n", false, "[Options]\nKEY=0\n"},
        {"[Options]\nKEY=1\n", true, "[Options]\nKEY=1\n"},
        {"[Options]\nKEY=5\n", true, "[Options]\nKEY=1\n"},
        {"[Options]\nKEY=abc\n", false, "[Options]\nKEY=abc\n"},
        {"[Options]\nKEY=\n", false, "[Options]\nKEY=\n"},
        {"[oPTIONS]\nkey=$1\n", true, "[oPTIONS]\nkey=1\n"},
        {"[Other]\nKEY=1\n", false, "[Other]\nKEY=1\n"},
    };
    const std::string set = "[Set]\nShowLocal=1\nAutoRefresh=0\nAlwaysTop=1\nShowInfo=0\n";
    for (const OptionItem which : AllOptions) {
        const std::string key = MainWindowLook::Option(which).key;
        for (const Case& c : cases) {
            auto withKey = [&key](std::string text) {
                for (std::string::size_type at; (at = text.find("KEY")) != std::string::npos;)
                    text.replace(at, 3, key);
                for (std::string::size_type at; (at = text.find("key")) != std::string::npos;)
                    text.replace(at, 3,
                                 key == "ShowIPv6"       ? "showipv6"
                                 : key == "ResolveNames" ? "RESOLVEnames"
                                                         : "showtraffic");
                return text;
            };
            const std::string stored = set + withKey(c.stored);
            SCOPED_TRACE(stored);
            FakeKestrelWindow window;
            TFormKestrel caseForm(window.controls(), services());
            writeTextFile(settingsFile, stored);
            caseForm.FormCreate();
            for (const OptionItem other : AllOptions) {
                const bool expected = other == which && c.on;
                EXPECT_EQ(caseForm.option(other), expected);
                EXPECT_EQ(optionItem(window, other).checked(), expected);
            }
            EXPECT_EQ(readTextFile(settingsFile), set + withKey(c.storedAfter));
            EXPECT_TRUE(window.Messages.errors.empty());
        }
    }
}

TEST_F(FormKestrelTest, EachOptionsMenuChangeWritesOnlyItsKeyAndLeavesTheSetSectionAlone) {
    const std::string set = "; mine\r\n[Set]\r\nShowLocal=0\r\nAutoRefresh = 7\r\n"
                            "AlwaysTop=abc\r\nShowInfo=$0\r\n";
    for (const OptionItem which : AllOptions) {
        const std::string key = MainWindowLook::Option(which).key;
        SCOPED_TRACE(key);
        FakeKestrelWindow window;
        TFormKestrel caseForm(window.controls(), services());
        writeTextFile(settingsFile, set);
        refuseWrites = true; // the start writes AutoRefresh back: keep the file as it is
        caseForm.FormCreate();
        refuseWrites = false;
        ui::MenuItem& item = optionItem(window, which);
        ui::dispatchEvent(window.Messages, [&item] { item.click(); });
        // The new section at the end, in the file's own line breaks.
        EXPECT_EQ(readTextFile(settingsFile), set + "[Options]\r\n" + key + "=1\r\n");
        ui::dispatchEvent(window.Messages, [&item] { item.click(); });
        EXPECT_EQ(readTextFile(settingsFile), set + "[Options]\r\n" + key + "=0\r\n");
        EXPECT_TRUE(window.Messages.errors.empty());
        // The four options kept what they read.
        EXPECT_FALSE(caseForm.showLocal());
        EXPECT_TRUE(caseForm.autoRefresh());
        EXPECT_TRUE(caseForm.alwaysTop());
        EXPECT_FALSE(caseForm.showInfo());
    }
}

TEST_F(FormKestrelTest, RefusedOptionsMenuWriteIsReportedAndSkipsTheHook) {
    writeTextFile(dir.file("plainfile"), "x");
    settingsFile = dir.file("plainfile/kestrel/Kestrel.ini");
    for (const OptionItem which : AllOptions) {
        SCOPED_TRACE(MainWindowLook::Option(which).key);
        FakeKestrelWindow window;
        TFormKestrel caseForm(window.controls(), services());
        caseForm.FormCreate();
        int hooks = 0;
        caseForm.setOnOptionChanged(which, [&hooks] { ++hooks; });
        ui::MenuItem& item = optionItem(window, which);
        ui::dispatchEvent(window.Messages, [&item] { item.click(); });
        EXPECT_EQ(window.Messages.errors,
                  std::vector<std::string>{"Unable to write to " + settingsFile});
        // As for the check boxes: the item and the value keep the change, its effect waits.
        EXPECT_TRUE(item.checked());
        EXPECT_TRUE(caseForm.option(which));
        EXPECT_EQ(hooks, 0);
    }
    EXPECT_EQ(readTextFile(dir.file("plainfile")), "x");
}

TEST_F(FormKestrelTest, StoredOptionsMenuValueRunsItsHookWhileCreating) {
    writeTextFile(settingsFile, "[Options]\nShowTraffic=1\n");
    construct();
    bool creatingThen = false;
    int hooks = 0;
    form->setOnOptionChanged(OptionItem::ShowTraffic, [&] {
        ++hooks;
        creatingThen = form->creating();
    });
    form->FormCreate();
    EXPECT_EQ(hooks, 1);
    EXPECT_TRUE(creatingThen);
    EXPECT_TRUE(form->showTraffic());
    EXPECT_EQ(fileWrites, 0); // "1" is stored already
}

TEST_F(FormKestrelTest, RowsARefreshAddedOrChangedAreColouredUntilTheNextRefresh) {
    create();
    const ListColumn& plain = w.VTS.column(ColumnProtocol);
    auto colourOf = [this, &plain](const std::string& port) -> std::optional<LookRgb> {
        for (RowHandle row = w.VTS.firstRow(); row; row = w.VTS.nextRow(row)) {
            if (row->Rec.LocalPort == port)
                return MainWindowLook::CellBackground(row->Rec, plain);
        }
        ADD_FAILURE() << "no row of port " << port;
        return std::nullopt;
    };
    // The first fill marks no row: nothing is coloured.
    for (RowHandle row = w.VTS.firstRow(); row; row = w.VTS.nextRow(row))
        EXPECT_EQ(MainWindowLook::CellBackground(row->Rec, plain), std::nullopt);

    nextTcp[1].State = 8; // the loopback connection changes its state
    nextTcp.push_back(
        tcpRecord(5, "10.0.0.5", "51000", "10.0.0.9", "443", "404", "curl", "/usr/bin/curl"));
    userClick(w.BTNRefresh);
    EXPECT_EQ(colourOf("51000"), MainWindowLook::AddedRowColour);
    EXPECT_EQ(colourOf("5000"), MainWindowLook::ChangedRowColour);
    EXPECT_EQ(colourOf("22"), std::nullopt);

    userClick(w.BTNRefresh); // nothing changed: the marks go, and their colours with them
    EXPECT_EQ(colourOf("51000"), std::nullopt);
    EXPECT_EQ(colourOf("5000"), std::nullopt);
}

TEST_F(FormKestrelTest, BothConnectionLogItemsOpenTheLogWindowAndNeedOne) {
    struct Case {
        bool withLog;
    };
    for (const Case c : {Case{true}, Case{false}}) {
        SCOPED_TRACE(c.withLog);
        int shown = 0;
        TFormKestrelServices s = services();
        if (c.withLog)
            s.showConnectionLog = [&shown] { ++shown; };
        form = std::make_unique<TFormKestrel>(w.controls(), std::move(s));
        form->FormCreate();
        EXPECT_EQ(w.NViewLog.caption(), "查看连接记录");
        EXPECT_EQ(w.NConnectionLog.caption(), "连接记录");
        EXPECT_FALSE(w.NConnectionLog.checkable()) << "a command, not an option";
        EXPECT_EQ(w.NViewLog.enabled(), c.withLog);
        EXPECT_EQ(w.NConnectionLog.enabled(), c.withLog);
        const int writesBefore = fileWrites;
        ui::dispatchEvent(w.Messages, [this] { w.NViewLog.click(); });
        ui::dispatchEvent(w.Messages, [this] { w.NConnectionLog.click(); });
        EXPECT_EQ(shown, c.withLog ? 2 : 0);
        EXPECT_EQ(fileWrites, writesBefore) << "opening the log stores nothing";
        form.reset();
    }
}

} // namespace
