// The Qt main window over the real window logic, with a snapshot the test controls, on the
// offscreen platform.
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "list/Columns.h"
#include "list/MemoryListControl.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/MainWindowLook.h"
#include "ui/TestRecords.h"
#include "ui/UnitFormKestrel.h"
#include "ui/Worker.h"
#include "ui/qt/ConnectionLogWindow.h"
#include "ui/qt/ConnectionModel.h"
#include "ui/qt/ConnectionView.h"
#include "ui/qt/KestrelApplication.h"
#include "ui/qt/KestrelMainWindow.h"
#include "ui/qt/QtComponents.h"

using qtui::KestrelMainWindow;

namespace {

// The endpoints the next snapshot reports; a snapshot can be made to fail, or to wait at a
// gate until the test opens it. The snapshot runs on the window's worker thread.
struct FakeSystem {
    std::vector<File_Rec> tcp;
    std::vector<File_Rec> udp;
    std::string failure;
    std::shared_future<void> gate;
    int snapshots = 0;
    std::vector<os::Endpoint> closed;
    // Names the fake resolver knows; copied into the lookup, which runs on the worker.
    std::map<std::string, std::string> hostNames;

    TFormKestrelServices services(const QString& settingsFile) {
        TFormKestrelServices services;
        services.settingsFile = settingsFile.toStdString();
        services.exeDir = [] { return std::string("/opt/kestrel/"); };
        services.systemDirs = [] { return std::vector<std::string>{"/USR/SBIN"}; };
        services.enableDebugPrivilege = [] { return false; };
        services.canCloseConnection = [](const os::Endpoint&) { return true; };
        services.closeConnection = [this](const os::Endpoint& e) {
            closed.push_back(e);
            return os::CloseConnectionResult::Closed;
        };
        services.hostNameOfAddress = [names = hostNames](const std::string& address) {
            const auto found = names.find(address);
            return found != names.end() ? found->second : std::string();
        };
        services.takeSnapshot = [this](Snapshot& snapshot) {
            ++snapshots;
            if (gate.valid())
                gate.wait();
            if (!failure.empty())
                throw std::runtime_error(failure);
            snapshot.Tcp = tcp;
            snapshot.Udp = udp;
        };
        return services;
    }
};

// Until the refresh in flight has been merged (or has failed).
bool waitForRefresh(KestrelMainWindow& window) {
    return QTest::qWaitFor([&window] { return !window.form().refreshing(); }, 10000);
}

bool waitUntilNoJobRuns() {
    return QTest::qWaitFor([] { return ui::ThreadWorker::runningJobs() == 0; }, 10000);
}

std::vector<File_Rec> baseTcp() {
    return {
        tcpRecord(2, "0.0.0.0", "22", "0.0.0.0", "0", "101", "sshd", "/usr/sbin/sshd"),
        tcpRecord(5, "10.0.0.5", "51000", "93.184.216.34", "443", "202", "firefox",
                  "/usr/lib/firefox/firefox"),
        tcpRecord(5, "10.0.0.5", "51001", "93.184.216.34", "443", "202", "firefox",
                  "/usr/lib/firefox/firefox"),
        tcpRecord(2, "127.0.0.1", "631", "0.0.0.0", "0", "303", "cupsd", "/usr/sbin/cupsd"),
        tcpRecord(11, "10.0.0.5", "40000", "10.0.0.9", "80", "0", "", ""),
    };
}

std::vector<File_Rec> baseUdp() {
    return {
        udpRecord("0.0.0.0", "5353", "404", "avahi-daemon", "/usr/sbin/avahi-daemon"),
        udpRecord("127.0.0.1", "323", "505", "chronyd", "/usr/sbin/chronyd"),
    };
}

// Answers the next modal message box from inside its own loop, keeping what it showed.
struct BoxAnswer {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    int width = 0;
    bool onTop = false;
    bool seen = false;
};

void answerNextBox(BoxAnswer& seen, QMessageBox::StandardButton answer) {
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &seen, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (const QAbstractButton* button : box->buttons())
            seen.buttons << button->text();
        seen.buttons.sort();
        seen.width = box->width();
        seen.onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        seen.seen = true;
        if (QAbstractButton* button = box->button(answer))
            button->click();
        else
            box->reject();
        poll->stop();
        poll->deleteLater();
    });
    poll->start();
}

QString cellText(KestrelMainWindow& window, int row, int column) {
    return window.model()->index(row, column).data().toString();
}

int rowOfPort(KestrelMainWindow& window, const QString& port) {
    for (int row = 0; row < window.model()->rowCount(); ++row) {
        if (cellText(window, row, ColumnLocalPort) == port)
            return row;
    }
    return -1;
}

void clickHeader(KestrelMainWindow& window, int column) {
    QHeaderView* header = window.view()->horizontalHeader();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

QString readFile(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace

class KestrelMainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void modelPassesTheModelTester();
    void firstFillShowsCountersAndStampedCaption();
    void refreshKeepsSelectedRowWithoutReset();
    void userClickSelectsAndFocusesTheRow();
    void headerClicksSortAsTheLogicSays();
    void headerReleaseOutsideClearsSortColumn();
    void detailColumnsFollowTheOption();
    void hiddenColumnsNeverShow();
    void failedRefreshIsReportedAndTheWindowGoesOn();
    void eventLoopRunsWhileASlowSnapshotIsTaken();
    void closingWhileASnapshotIsTakenWaitsForNothing();
    void closeAsksAndNoKeepsTheWindow();
    void alwaysTopKeepsPlaceAndSize();
    void selectionAndManageGlyphArePainted();
    void clippedCellsOnlyGetTooltips();
    void incrementalSearchJoinsQuickKeys();
    void bottomControlsAllVisibleAtDesignSize();
    void secondInstanceMessageIsPlain();
    void shortMessagesKeepTheirCaption();
    void arrowKeysMoveOneRowPerPress();
    void homeEndAndPagesKeepTheFocusedRowInView();
    void doubleClickBelowTheRowsOpensTheFocusedRowsDetails();
    void storedOptionsApplyBeforeFirstShow_data();
    void storedOptionsApplyBeforeFirstShow();
    void contextMenuCommandActsOnTheMenusRow_data();
    void contextMenuCommandActsOnTheMenusRow();
    void filterFieldShowsOnlyMatchingRows();
    void filterKeepsKeyboardAndRefreshOnTheShownRows();
    void exportFollowsCopyAndSavesThroughTheFileDialog_data();
    void exportFollowsCopyAndSavesThroughTheFileDialog();
    void optionsButtonSitsLeftOfHelpWithItsNeighboursLook();
    void optionsMenuHoldsTheCheckItemsAndStoresAChoice();
    void bothConnectionLogItemsOpenTheLogWindow();
    void markedRowsArePaintedUntilTheNextRefresh();
    void closeConnectionFollowsEndProcessAndAsks();
    void optionColumnsComeAndGoWithTheirOptions();

private:
    KestrelMainWindow& makeWindow();

    QTemporaryDir* m_dir = nullptr;
    FakeSystem* m_system = nullptr;
    KestrelMainWindow* m_window = nullptr;
};

void KestrelMainWindowTest::init() {
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_system = new FakeSystem;
    m_system->tcp = baseTcp();
    m_system->udp = baseUdp();
}

void KestrelMainWindowTest::cleanup() {
    delete m_window;
    m_window = nullptr;
    // A snapshot still running uses the fake system.
    QVERIFY(waitUntilNoJobRuns());
    delete m_system;
    m_system = nullptr;
    delete m_dir;
    m_dir = nullptr;
}

KestrelMainWindow& KestrelMainWindowTest::makeWindow() {
    m_window = new KestrelMainWindow(m_system->services(m_dir->filePath("Kestrel.ini")));
    m_window->create();
    m_window->show();
    return *m_window;
}

void KestrelMainWindowTest::modelPassesTheModelTester() {
    MemoryListControl list;
    qtui::ConnectionModel model(list);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    std::vector<RowHandle> rows;
    for (int i = 0; i < 6; ++i) {
        RowHandle row = list.addRow();
        row->Rec.Protocol = "TCP";
        row->Rec.ProcName = "p" + std::to_string(5 - i);
        row->Rec.LocalPort = std::to_string(1000 + i);
        rows.push_back(row);
    }
    QCOMPARE(model.rowCount(), 6);
    list.selectRow(rows[2]);
    list.setFocusedRow(rows[2]);

    list.beginUpdate();
    list.deleteRow(rows[0]);
    list.deleteRow(rows[3]);
    list.deleteRow(rows[4]);
    RowHandle added = list.addRow();
    added->Rec.ProcName = "a";
    RowHandle addedThenGone = list.addRow();
    list.deleteRow(addedThenGone);
    list.endUpdate();
    QCOMPARE(model.rowCount(), 4);

    list.sort(ColumnProcess, SortDirection::Ascending);
    QCOMPARE(model.index(0, ColumnProcess).data().toString(), QStringLiteral("a"));
    list.sort(ColumnProcess, SortDirection::Descending);
    list.repaint();

    // The filter resets the model; a refresh under it too; a sort keeps its rows.
    list.setFilterText("P"); // p4, p3 and p0; not "a"
    QCOMPARE(model.rowCount(), 3);
    list.sort(ColumnProcess, SortDirection::Ascending);
    QCOMPARE(model.index(0, ColumnProcess).data().toString(), QStringLiteral("p0"));
    list.beginUpdate();
    RowHandle another = list.addRow();
    another->Rec.ProcName = "p9";
    list.deleteRow(rows[1]);
    list.endUpdate();
    QCOMPARE(model.rowCount(), 3);
    list.deleteRow(another);
    QCOMPARE(model.rowCount(), 2);
    list.setFilterText("");
    QCOMPARE(model.rowCount(), 3);
    list.clear();
    QCOMPARE(model.rowCount(), 0);
}

void KestrelMainWindowTest::firstFillShowsCountersAndStampedCaption() {
    KestrelMainWindow& window = makeWindow();
    QCOMPARE(window.windowTitle(), QStringLiteral("Kestrel V3.0(网络连接查看器)"));
    // Programs with a known executable: sshd, firefox, cupsd, avahi-daemon, chronyd.
    QCOMPARE(window.appCountLabel()->text(), QStringLiteral("5"));
    QCOMPARE(window.netCountLabel()->text(), QStringLiteral("7"));
    QCOMPARE(window.countersText(),
             QStringLiteral("当前有5个程序已连接或尝试连接网络，共建立7个连接。"));
    QVERIFY(window.appCountLabel()->font().bold());
    QVERIFY(window.netCountLabel()->font().bold());
    QCOMPARE(window.appCountLabel()->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(window.netCountLabel()->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QCOMPARE(window.model()->rowCount(), 7);
    QVERIFY(window.stayOnTop());
    QVERIFY(!QFile::exists(m_dir->filePath("Kestrel.ini")));
}

void KestrelMainWindowTest::refreshKeepsSelectedRowWithoutReset() {
    KestrelMainWindow& window = makeWindow();
    const int chosen = rowOfPort(window, QStringLiteral("51001"));
    QVERIFY(chosen >= 0);
    const QRect cell = window.view()->visualRect(window.model()->index(chosen, ColumnLocalPort));
    QTest::mouseClick(window.view()->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(window.list().selectedRow()->Rec.LocalPort, std::string("51001"));

    QSignalSpy resets(window.model(), &QAbstractItemModel::modelReset);
    QSignalSpy removed(window.model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(window.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy layouts(window.model(), &QAbstractItemModel::layoutChanged);

    // sshd and the first firefox connection go, a new one comes (and must be sorted in); the
    // chosen one changes state.
    m_system->tcp.erase(m_system->tcp.begin(), m_system->tcp.begin() + 2);
    m_system->tcp.front().State = 8;
    m_system->tcp.push_back(
        tcpRecord(3, "10.0.0.5", "51002", "1.1.1.1", "853", "606", "dnsmasq", "/usr/sbin/dnsmasq"));
    QTest::mouseClick(window.refreshButton(), Qt::LeftButton);
    QVERIFY(waitForRefresh(window));

    QCOMPARE(resets.count(), 0);
    QVERIFY(removed.count() >= 1);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(layouts.count(), 1);
    QCOMPARE(window.model()->rowCount(), 6);
    QVERIFY(window.refreshButton()->isEnabled());

    const QModelIndexList selected = window.view()->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(cellText(window, selected.first().row(), ColumnLocalPort), QStringLiteral("51001"));
    QCOMPARE(cellText(window, selected.first().row(), ColumnState), QStringLiteral("等待关闭"));
    QCOMPARE(window.view()->currentIndex().row(), selected.first().row());
    QCOMPARE(window.list().focusedRow()->Rec.LocalPort, std::string("51001"));
    QCOMPARE(window.netCountLabel()->text(), QStringLiteral("6"));
}

void KestrelMainWindowTest::userClickSelectsAndFocusesTheRow() {
    KestrelMainWindow& window = makeWindow();
    const int row = rowOfPort(window, QStringLiteral("5353"));
    QVERIFY(row >= 0);
    const QRect cell = window.view()->visualRect(window.model()->index(row, ColumnState));
    QTest::mouseClick(window.view()->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(window.list().selectedCount(), std::size_t(1));
    QCOMPARE(window.list().selectedRow()->Rec.ProcName, std::string("avahi-daemon"));
    QCOMPARE(window.list().focusedRow(), window.list().selectedRow());

    // And the other way: the logic's choice shows in the view.
    RowHandle first = window.list().firstRow();
    window.list().selectRow(first);
    window.list().setFocusedRow(first);
    QCOMPARE(window.view()->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(window.view()->selectionModel()->selectedRows().first().row(), 0);
    QCOMPARE(window.view()->currentIndex().row(), 0);
}

void KestrelMainWindowTest::headerClicksSortAsTheLogicSays() {
    KestrelMainWindow& window = makeWindow();
    QHeaderView* header = window.view()->horizontalHeader();
    QCOMPARE(header->sortIndicatorSection(), int(ColumnProcess));

    // Another column: sorted by it, descending (every click reverses the direction).
    clickHeader(window, ColumnLocalPort);
    QCOMPARE(window.list().sortColumn(), int(ColumnLocalPort));
    QCOMPARE(window.list().sortDirection(), SortDirection::Descending);
    QCOMPARE(header->sortIndicatorSection(), int(ColumnLocalPort));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    const QStringList descending{"631", "5353", "51001", "51000", "40000", "323", "22"};
    for (int row = 0; row < descending.size(); ++row)
        QCOMPARE(cellText(window, row, ColumnLocalPort), descending[row]);

    clickHeader(window, ColumnLocalPort);
    QCOMPARE(window.list().sortDirection(), SortDirection::Ascending);
    QCOMPARE(cellText(window, 0, ColumnLocalPort), QStringLiteral("22"));
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);

    // The manage column changes nothing.
    clickHeader(window, ColumnManage);
    QCOMPARE(window.list().sortColumn(), int(ColumnLocalPort));
    QCOMPARE(window.list().sortDirection(), SortDirection::Ascending);
    QCOMPARE(header->sortIndicatorSection(), int(ColumnLocalPort));
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
}

void KestrelMainWindowTest::headerReleaseOutsideClearsSortColumn() {
    KestrelMainWindow& window = makeWindow();
    QHeaderView* header = window.view()->horizontalHeader();
    const int y = header->height() / 2;
    const int from = header->sectionViewportPosition(ColumnProtocol) + 10;
    const int to = header->sectionViewportPosition(ColumnLocalAddr) + 10;
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(from, y));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(to, y));
    QCOMPARE(window.list().sortColumn(), NoColumn);
    QCOMPARE(window.list().sortDirection(), SortDirection::Descending);
    QCOMPARE(header->sortIndicatorSection(), -1);
}

void KestrelMainWindowTest::detailColumnsFollowTheOption() {
    KestrelMainWindow& window = makeWindow();
    for (int column : {ColumnPath, ColumnDescription, ColumnCompany})
        QVERIFY(window.view()->isColumnHidden(column));

    QTest::mouseClick(window.showInfoBox(), Qt::LeftButton);
    QVERIFY(window.showInfoBox()->isChecked());
    for (int column : {ColumnPath, ColumnDescription, ColumnCompany}) {
        QVERIFY(!window.view()->isColumnHidden(column));
        QVERIFY(window.view()->columnWidth(column) > 0);
    }
    QCOMPARE(window.view()->columnWidth(ColumnPath), 260);
    const QString written = readFile(m_dir->filePath("Kestrel.ini"));
    QVERIFY2(written.contains(QStringLiteral("[Set]")), qPrintable(written));
    QVERIFY2(written.contains(QStringLiteral("ShowInfo=1")), qPrintable(written));

    QTest::mouseClick(window.showInfoBox(), Qt::LeftButton);
    for (int column : {ColumnPath, ColumnDescription, ColumnCompany})
        QVERIFY(window.view()->isColumnHidden(column));
    QVERIFY(readFile(m_dir->filePath("Kestrel.ini")).contains(QStringLiteral("ShowInfo=0")));
}

void KestrelMainWindowTest::hiddenColumnsNeverShow() {
    KestrelMainWindow& window = makeWindow();
    QTest::mouseClick(window.showInfoBox(), Qt::LeftButton);
    for (int column : {ColumnPID, ColumnSecurity, ColumnMark})
        QVERIFY(window.view()->isColumnHidden(column));
    QCOMPARE(window.view()->horizontalHeader()->contextMenuPolicy(), Qt::NoContextMenu);
    // The manage column has a fixed width.
    QCOMPARE(window.view()->horizontalHeader()->sectionResizeMode(ColumnManage),
             QHeaderView::Fixed);
    QCOMPARE(window.view()->columnWidth(ColumnManage), 40);
}

void KestrelMainWindowTest::failedRefreshIsReportedAndTheWindowGoesOn() {
    KestrelMainWindow& window = makeWindow();
    m_system->failure = "snapshot refused";
    BoxAnswer seen;
    answerNextBox(seen, QMessageBox::Ok);
    QTest::mouseClick(window.refreshButton(), Qt::LeftButton);
    QVERIFY(waitForRefresh(window));
    QTRY_VERIFY(seen.seen);
    QCOMPARE(seen.title, QStringLiteral("Kestrel"));
    QCOMPARE(seen.text, QStringLiteral("snapshot refused"));
    QCOMPARE(seen.icon, QMessageBox::Critical);
    QVERIFY(window.refreshButton()->isEnabled());
    QCOMPARE(window.model()->rowCount(), 7);

    m_system->failure.clear();
    m_system->tcp.pop_back();
    QTest::mouseClick(window.refreshButton(), Qt::LeftButton);
    QVERIFY(waitForRefresh(window));
    QCOMPARE(window.model()->rowCount(), 6);
}

void KestrelMainWindowTest::eventLoopRunsWhileASlowSnapshotIsTaken() {
    KestrelMainWindow& window = makeWindow();
    std::promise<void> open;
    m_system->gate = open.get_future().share();
    m_system->tcp.pop_back();
    QTest::mouseClick(window.refreshButton(), Qt::LeftButton);
    QVERIFY(window.form().refreshing());
    QVERIFY(!window.refreshButton()->isEnabled());

    // While the snapshot waits at the gate the loop goes on: timers fire, the window resizes
    // and repaints, the list scrolls.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(10);
    const QSize before = window.size();
    window.resize(before.width() + 40, before.height() + 30);
    window.view()->scrollToBottom();
    window.update();
    QTRY_VERIFY(ticks >= 10);
    QTRY_COMPARE(window.size(), QSize(before.width() + 40, before.height() + 30));
    QVERIFY(window.form().refreshing());
    QCOMPARE(window.model()->rowCount(), 7);
    QCOMPARE(m_system->snapshots, 2);

    open.set_value();
    QVERIFY(waitForRefresh(window));
    QCOMPARE(window.model()->rowCount(), 6);
    QVERIFY(window.refreshButton()->isEnabled());
    QVERIFY(waitUntilNoJobRuns());
}

void KestrelMainWindowTest::closingWhileASnapshotIsTakenWaitsForNothing() {
    KestrelMainWindow& window = makeWindow();
    std::promise<void> open;
    m_system->gate = open.get_future().share();
    QTest::mouseClick(window.refreshButton(), Qt::LeftButton);
    QVERIFY(window.form().refreshing());
    delete m_window;
    m_window = nullptr;
    QCOMPARE(ui::ThreadWorker::runningJobs(), 1);
    // The job ends alone; its merge has nowhere to go and is dropped.
    open.set_value();
    QVERIFY(waitUntilNoJobRuns());
    QTest::qWait(50);
}

void KestrelMainWindowTest::closeAsksAndNoKeepsTheWindow() {
    KestrelMainWindow& window = makeWindow();
    BoxAnswer declined;
    answerNextBox(declined, QMessageBox::No);
    QVERIFY(!window.close());
    QVERIFY(declined.seen);
    QCOMPARE(declined.text, QStringLiteral("您确认要退出网络连接查看器?"));
    QCOMPARE(declined.title, QStringLiteral("Kestrel"));
    QCOMPARE(declined.icon, QMessageBox::Question);
    // Qt's own texts are Chinese too, whatever the locale.
    QCOMPARE(declined.buttons, (QStringList{QStringLiteral("否(&N)"), QStringLiteral("是(&Y)")}));
    QVERIFY(window.isVisible());

    BoxAnswer confirmed;
    answerNextBox(confirmed, QMessageBox::Yes);
    QVERIFY(window.close());
    QVERIFY(confirmed.seen);
    QVERIFY(!window.isVisible());
}

void KestrelMainWindowTest::alwaysTopKeepsPlaceAndSize() {
    KestrelMainWindow& window = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect before = window.geometry();
    QTest::mouseClick(window.alwaysTopBox(), Qt::LeftButton);
    QVERIFY(!window.stayOnTop());
    QVERIFY(window.isVisible());
    QCOMPARE(window.geometry(), before);
    QVERIFY(readFile(m_dir->filePath("Kestrel.ini")).contains(QStringLiteral("AlwaysTop=0")));
    QTest::mouseClick(window.alwaysTopBox(), Qt::LeftButton);
    QVERIFY(window.stayOnTop());
    QCOMPARE(window.geometry(), before);
}

void KestrelMainWindowTest::selectionAndManageGlyphArePainted() {
    KestrelMainWindow& window = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Select the second row; the first stays unselected.
    RowHandle second = window.model()->rowAt(1);
    window.list().selectRow(second);
    window.list().setFocusedRow(second);
    window.view()->clearFocus();
    const QImage picture = window.view()->viewport()->grab().toImage();
    QHeaderView* header = window.view()->horizontalHeader();

    // The glyph's orange title bar sits 12 px right of and 3 px below the cell's corner,
    // drawn 1 px further in for its frame.
    const QRect manage = window.view()->visualRect(window.model()->index(0, ColumnManage));
    const QColor orange =
        picture.pixelColor(manage.left() + ManageGlyphLeft + 4, manage.top() + ManageGlyphTop + 2);
    QVERIFY2(orange.red() > 200 && orange.green() > 120 && orange.green() < 190 &&
                 orange.blue() < 80,
             qPrintable(orange.name()));

    // An empty part of the selected row: the selection colour blended over white.
    const QRect remote = window.view()->visualRect(window.model()->index(1, ColumnState));
    const QColor blended = picture.pixelColor(remote.right() - 3, remote.center().y());
    QVERIFY2(blended.green() > blended.red() && blended.green() > blended.blue() &&
                 blended.red() > 60 && blended.red() < 200,
             qPrintable(blended.name()));
    // The unselected row keeps a white background there.
    const QRect plain = window.view()->visualRect(window.model()->index(0, ColumnState));
    QCOMPARE(picture.pixelColor(plain.right() - 3, plain.center().y()), QColor(Qt::white));
    QCOMPARE(header->height(), ListHeaderHeight);
    QCOMPARE(window.view()->rowHeight(0), ListRowHeight);
}

void KestrelMainWindowTest::clippedCellsOnlyGetTooltips() {
    m_system->tcp.push_back(tcpRecord(5, "10.0.0.5", "52000", "10.0.0.9", "80", "707",
                                      "a-program-with-a-really-long-executable-name", "/opt/x"));
    KestrelMainWindow& window = makeWindow();
    auto* delegate = qobject_cast<qtui::ListDelegate*>(window.view()->itemDelegate());
    QVERIFY(delegate);
    QStyleOptionViewItem option;
    option.initFrom(window.view());
    option.font = window.view()->font();
    option.fontMetrics = QFontMetrics(option.font);
    const int longRow = rowOfPort(window, QStringLiteral("52000"));
    const int shortRow = rowOfPort(window, QStringLiteral("22"));
    option.rect = window.view()->visualRect(window.model()->index(longRow, ColumnProcess));
    QVERIFY(delegate->textClipped(option, window.model()->index(longRow, ColumnProcess)));
    option.rect = window.view()->visualRect(window.model()->index(shortRow, ColumnProcess));
    QVERIFY(!delegate->textClipped(option, window.model()->index(shortRow, ColumnProcess)));
}

void KestrelMainWindowTest::incrementalSearchJoinsQuickKeys() {
    KestrelMainWindow& window = makeWindow();
    window.view()->setFocus();
    const int first = rowOfPort(window, QStringLiteral("22"));
    window.list().setFocusedRow(window.model()->rowAt(first));
    // "ch" typed at once finds chronyd; "c" alone would find cupsd first in process order.
    window.view()->keyboardSearch(QStringLiteral("c"));
    window.view()->keyboardSearch(QStringLiteral("h"));
    QCOMPARE(window.list().focusedRow()->Rec.ProcName, std::string("chronyd"));
    QCOMPARE(window.list().selectedRow()->Rec.ProcName, std::string("chronyd"));

    // After a pause longer than the interval a key starts a new search text.
    QTest::qWait(qtui::ConnectionView::SearchIntervalMs + 100);
    window.view()->keyboardSearch(QStringLiteral("s"));
    QCOMPARE(window.list().focusedRow()->Rec.ProcName, std::string("sshd"));
}

void KestrelMainWindowTest::bottomControlsAllVisibleAtDesignSize() {
    KestrelMainWindow& window = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.centralWidget()->size(),
             QSize(KestrelMainWindow::ClientWidth, KestrelMainWindow::ClientHeight));
    const QList<QWidget*> inOrder{window.showLocalBox(),     window.autoRefreshBox(),
                                  window.alwaysTopBox(),     window.refreshButton(),
                                  window.endProcessButton(), window.showInfoBox()};
    int previousRight = 0;
    for (QWidget* control : inOrder) {
        const QRect place(control->mapTo(&window, QPoint(0, 0)), control->size());
        QVERIFY2(place.left() >= previousRight, qPrintable(control->objectName()));
        QVERIFY2(place.right() < KestrelMainWindow::ClientWidth, qPrintable(control->objectName()));
        QVERIFY(control->isVisible());
        // The whole caption fits.
        if (auto* box = qobject_cast<QAbstractButton*>(control))
            QVERIFY2(control->width() >= box->sizeHint().width(),
                     qPrintable(control->objectName()));
        previousRight = place.right();
    }
    QVERIFY(window.minimumSize().width() >= KestrelMainWindow::MinimumWidth);
    QVERIFY(window.minimumSize().height() >= KestrelMainWindow::MinimumHeight);
}

void KestrelMainWindowTest::secondInstanceMessageIsPlain() {
    BoxAnswer seen;
    answerNextBox(seen, QMessageBox::Ok);
    qtui::showAlreadyRunningMessage();
    QVERIFY(seen.seen);
    QCOMPARE(seen.title, QStringLiteral("Kestrel"));
    QCOMPARE(seen.text, QStringLiteral("The program already start"));
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QCOMPARE(seen.buttons, QStringList{QStringLiteral("确定")});
    // Above the first instance's window, which stays on top of the others.
    QVERIFY(seen.onTop);
    QVERIFY(seen.width >= qtui::MessageBoxMinimumWidth);
}

// A short text makes a narrow box, whose caption the window manager would cut.
void KestrelMainWindowTest::shortMessagesKeepTheirCaption() {
    KestrelMainWindow& window = makeWindow();
    qtui::QtMessageBoxes boxes(&window);
    BoxAnswer message;
    answerNextBox(message, QMessageBox::Ok);
    boxes.showMessage("无法结束进程!");
    QVERIFY(message.seen);
    QCOMPARE(message.buttons, QStringList{QStringLiteral("确定")});
    QVERIFY2(message.width >= qtui::MessageBoxMinimumWidth,
             qPrintable(QString::number(message.width)));
    // Boxes of the window are its own, above it through it.
    QVERIFY(!message.onTop);

    BoxAnswer question;
    answerNextBox(question, QMessageBox::No);
    QCOMPARE(boxes.askYesNo("结束?", "Kestrel", ui::DefaultButton::No), ui::Answer::No);
    QVERIFY(question.width >= qtui::MessageBoxMinimumWidth);

    BoxAnswer error;
    answerNextBox(error, QMessageBox::Ok);
    qtui::QtMessageBoxes(nullptr).showError("x");
    QVERIFY(error.width >= qtui::MessageBoxMinimumWidth);
    QVERIFY(error.onTop);
}

// Rows enough to scroll: listeners of one program on ports 2000, 2001, ...
std::vector<File_Rec> manyListeners(int count) {
    std::vector<File_Rec> rows;
    for (int i = 0; i < count; ++i) {
        const std::string port = std::to_string(2000 + i);
        rows.push_back(tcpRecord(2, "0.0.0.0", port.c_str(), "0.0.0.0", "0", "909", "listener",
                                 "/usr/bin/listener"));
    }
    return rows;
}

// The list control's selected and focused row and the view's current row, as model rows.
struct ListPlace {
    int selected;
    int focused;
    int current;
};

ListPlace placeOf(KestrelMainWindow& window) {
    return {window.model()->rowOf(window.list().selectedRow()),
            window.model()->rowOf(window.list().focusedRow()), window.view()->currentIndex().row()};
}

// Clicks the first row of the shown window, whose list then has the keyboard.
qtui::ConnectionView* clickFirstRow(KestrelMainWindow& window) {
    if (!QTest::qWaitForWindowExposed(&window))
        return nullptr;
    qtui::ConnectionView* view = window.view();
    view->setFocus();
    const QRect first = view->visualRect(window.model()->index(0, ColumnLocalPort));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, first.center());
    return view;
}

void KestrelMainWindowTest::arrowKeysMoveOneRowPerPress() {
    m_system->tcp = manyListeners(12);
    KestrelMainWindow& window = makeWindow();
    qtui::ConnectionView* view = clickFirstRow(window);
    QVERIFY(view);
    QCOMPARE(placeOf(window).focused, 0);
    const struct {
        Qt::Key key;
        int row;
    } steps[] = {{Qt::Key_Down, 1}, {Qt::Key_Down, 2}, {Qt::Key_Down, 3},
                 {Qt::Key_Down, 4}, {Qt::Key_Down, 5}, {Qt::Key_Down, 6},
                 {Qt::Key_Up, 5},   {Qt::Key_Up, 4},   {Qt::Key_Up, 3}};
    for (const auto& step : steps) {
        QTest::keyClick(view, step.key);
        const ListPlace place = placeOf(window);
        QCOMPARE(place.selected, step.row);
        QCOMPARE(place.focused, step.row);
        QCOMPARE(place.current, step.row);
    }
}

void KestrelMainWindowTest::homeEndAndPagesKeepTheFocusedRowInView() {
    m_system->tcp = manyListeners(80);
    KestrelMainWindow& window = makeWindow();
    qtui::ConnectionView* view = clickFirstRow(window);
    QVERIFY(view);
    const int last = window.model()->rowCount() - 1;
    const int column = view->currentIndex().column();

    const auto inView = [&] {
        const QRect cell = view->visualRect(window.model()->index(placeOf(window).focused, 0));
        return view->viewport()->rect().contains(QPoint(1, cell.center().y()));
    };
    struct Step {
        Qt::Key key;
        int expected; // -1: anywhere further down than before
    };
    int before = 0;
    for (const Step step :
         {Step{Qt::Key_End, last}, Step{Qt::Key_Home, 0}, Step{Qt::Key_PageDown, -1},
          Step{Qt::Key_PageDown, -1}, Step{Qt::Key_PageDown, -1}, Step{Qt::Key_End, last},
          Step{Qt::Key_PageUp, -2}, Step{Qt::Key_Home, 0}}) {
        QTest::keyClick(view, step.key);
        const ListPlace place = placeOf(window);
        if (step.expected >= 0)
            QCOMPARE(place.focused, step.expected);
        else if (step.expected == -1)
            QVERIFY2(place.focused > before, qPrintable(QString::number(place.focused)));
        else
            QVERIFY2(place.focused < before, qPrintable(QString::number(place.focused)));
        QCOMPARE(place.selected, place.focused);
        QCOMPARE(place.current, place.focused);
        QVERIFY2(inView(), qPrintable(QStringLiteral("row %1 out of view").arg(place.focused)));
        // Home and End change the row, not the column.
        QCOMPARE(view->currentIndex().column(), column);
        before = place.focused;
    }
}

void KestrelMainWindowTest::doubleClickBelowTheRowsOpensTheFocusedRowsDetails() {
    KestrelMainWindow& window = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    qtui::ConnectionView* view = window.view();
    const int chosen = rowOfPort(window, QStringLiteral("5353"));
    const QRect cell = view->visualRect(window.model()->index(chosen, ColumnLocalPort));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    const QRect last =
        view->visualRect(window.model()->index(window.model()->rowCount() - 1, ColumnLocalPort));
    const QPoint below(last.center().x(), last.bottom() + 40);
    QVERIFY(view->viewport()->rect().contains(below));
    QVERIFY(!view->indexAt(below).isValid());

    QString opened;
    QString name;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&poll, &opened, &name] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        opened = dialog->windowTitle();
        for (const QLabel* label : dialog->findChildren<QLabel*>())
            name += label->text() + QLatin1Char('|');
        dialog->reject();
        poll.stop();
    });
    poll.start();
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, below);
    QTRY_COMPARE(opened, QStringLiteral("进程详细信息"));
    QVERIFY2(name.contains(QStringLiteral("avahi-daemon")), qPrintable(name));
    QCOMPARE(window.list().focusedRow()->Rec.LocalPort, std::string("5353"));
}

void KestrelMainWindowTest::storedOptionsApplyBeforeFirstShow_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("onTop");
    QTest::addColumn<bool>("detailColumns");
    QTest::addColumn<bool>("timerRuns");
    QTest::addColumn<int>("rows");

    QTest::newRow("defaults") << QByteArray() << true << false << false << 8;
    QTest::newRow("not on top") << QByteArray("[Set]\nAlwaysTop=0\n") << false << false << false
                                << 8;
    QTest::newRow("details in hex")
        << QByteArray("[set]\nshowinfo=0x10\n") << true << true << false << 8;
    QTest::newRow("auto refresh 5")
        << QByteArray("[Set]\nAutoRefresh=5\n") << true << false << true << 8;
    // The first fill already leaves out the connection from 127.0.0.1 to 127.0.0.1.
    QTest::newRow("no local") << QByteArray("[Set]\nShowLocal=0\n") << true << false << false << 7;
}

void KestrelMainWindowTest::storedOptionsApplyBeforeFirstShow() {
    QFETCH(QByteArray, settings);
    QFETCH(bool, onTop);
    QFETCH(bool, detailColumns);
    QFETCH(bool, timerRuns);
    QFETCH(int, rows);
    m_system->tcp.push_back(
        tcpRecord(5, "127.0.0.1", "45000", "127.0.0.1", "631", "808", "lpstat", "/usr/bin/lpstat"));
    if (!settings.isEmpty()) {
        QFile file(m_dir->filePath("Kestrel.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(settings);
    }
    m_window = new KestrelMainWindow(m_system->services(m_dir->filePath("Kestrel.ini")));
    m_window->create();
    // Nothing of the start-up shows the window early.
    QVERIFY(!m_window->isVisible());
    QCOMPARE(m_window->stayOnTop(), onTop);
    QCOMPARE(m_window->alwaysTopBox()->isChecked(), onTop);
    QCOMPARE(!m_window->view()->isColumnHidden(ColumnPath), detailColumns);
    QCOMPARE(m_window->timer().qtTimer()->isActive(), timerRuns);
    QCOMPARE(m_window->model()->rowCount(), rows);
    QCOMPARE(m_system->snapshots, 1);
    m_window->show();
    QCOMPARE(m_window->stayOnTop(), onTop);
}

void KestrelMainWindowTest::contextMenuCommandActsOnTheMenusRow_data() {
    QTest::addColumn<bool>("rowRemoved");
    QTest::newRow("focus moved meanwhile") << false;
    QTest::newRow("row removed meanwhile") << true;
}

void KestrelMainWindowTest::contextMenuCommandActsOnTheMenusRow() {
    QFETCH(bool, rowRemoved);
    KestrelMainWindow& window = makeWindow();
    QApplication::clipboard()->setText(QStringLiteral("before"));
    const int firefox = rowOfPort(window, QStringLiteral("51000"));
    QVERIFY(firefox >= 0);
    const QRect cell = window.view()->visualRect(window.model()->index(firefox, ColumnProcess));

    // While the menu is open the focus goes elsewhere, or a refresh removes the row; then
    // "拷贝到剪贴板" is chosen.
    QMenu* menu = window.popupMenu();
    bool chosen = false;
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
        if (!menu->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        if (rowRemoved) {
            m_system->tcp.erase(m_system->tcp.begin() + 1);
            window.refreshButton()->click();
            QVERIFY(waitForRefresh(window));
        } else {
            const RowHandle sshd = window.model()->rowAt(rowOfPort(window, QStringLiteral("22")));
            window.list().selectRow(sshd);
            window.list().setFocusedRow(sshd);
        }
        for (QAction* action : menu->actions()) {
            if (action->text() == QStringLiteral("拷贝到剪贴板"))
                action->trigger();
        }
        chosen = true;
        menu->close();
    });
    poll->start();
    QContextMenuEvent event(QContextMenuEvent::Mouse, cell.center(),
                            window.view()->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(window.view()->viewport(), &event);

    QVERIFY(chosen);
    QVERIFY(window.list().focusedRow() != nullptr);
    const QString copied = QApplication::clipboard()->text();
    if (rowRemoved) {
        QCOMPARE(rowOfPort(window, QStringLiteral("51000")), -1);
        QCOMPARE(copied, QStringLiteral("before"));
    } else {
        QVERIFY(window.list().focusedRow()->Rec.LocalPort == "22");
        QVERIFY2(copied.contains(QStringLiteral("本地端口:51000")), qPrintable(copied));
    }
}

void KestrelMainWindowTest::filterFieldShowsOnlyMatchingRows() {
    KestrelMainWindow& window = makeWindow();
    QAbstractItemModelTester tester(window.model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QLineEdit* field = window.filterField();
    QVERIFY(field);
    QCOMPARE(field->placeholderText(), QStringLiteral("筛选"));
    QVERIFY(field->text().isEmpty());
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // The field sits between the sentence and the buttons.
    const QLabel* end = window.findChild<QLabel*>(QStringLiteral("Label5"));
    const QPushButton* help = window.findChild<QPushButton*>(QStringLiteral("BTNHelp"));
    QVERIFY(end && help);
    QVERIFY(field->geometry().left() >= end->geometry().right());
    QVERIFY(field->geometry().right() < help->geometry().left());

    window.view()->setFocus();
    QTest::keyClick(window.view(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(field->hasFocus());
    QTest::keyClicks(field, QStringLiteral("FIRE"));
    QCOMPARE(window.model()->rowCount(), 2);
    QCOMPARE(cellText(window, 0, ColumnProcess), QStringLiteral("firefox"));
    QCOMPARE(window.countersText(),
             QStringLiteral("当前有5个程序已连接或尝试连接网络，共建立7个连接，显示 2 项。"));
    QVERIFY2(!QFile::exists(m_dir->filePath("Kestrel.ini")), "the filter is not saved");

    QTest::keyClick(field, Qt::Key_Escape);
    QVERIFY(field->text().isEmpty());
    QCOMPARE(window.model()->rowCount(), 7);
    QCOMPARE(window.countersText(),
             QStringLiteral("当前有5个程序已连接或尝试连接网络，共建立7个连接。"));
}

void KestrelMainWindowTest::filterKeepsKeyboardAndRefreshOnTheShownRows() {
    m_system->tcp = manyListeners(30);
    m_system->tcp.push_back(
        tcpRecord(2, "0.0.0.0", "9001", "0.0.0.0", "0", "77", "special", "/usr/bin/special"));
    m_system->tcp.push_back(
        tcpRecord(2, "0.0.0.0", "9002", "0.0.0.0", "0", "78", "Specialist", "/usr/bin/sp"));
    KestrelMainWindow& window = makeWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QLineEdit* field = window.filterField();
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("special"));
    QCOMPARE(window.model()->rowCount(), 2);
    ListPlace place = placeOf(window);
    QCOMPARE(place.selected, 0); // the hidden selection moved to the first row shown
    QCOMPARE(place.current, 0);

    // Keys move among the shown rows only.
    window.view()->setFocus();
    QTest::keyClick(window.view(), Qt::Key_Down);
    QCOMPARE(window.list().selectedRow()->Rec.ProcName, std::string("Specialist"));
    QTest::keyClick(window.view(), Qt::Key_Down);
    QCOMPARE(window.list().selectedRow()->Rec.ProcName, std::string("Specialist"));
    QTest::keyClick(window.view(), Qt::Key_End);
    QCOMPARE(placeOf(window).selected, 1);

    // A refresh: the selected row stays, a new matching row appears, the others stay hidden.
    m_system->tcp.push_back(
        tcpRecord(2, "0.0.0.0", "9003", "0.0.0.0", "0", "79", "specials", "/usr/bin/s3"));
    m_system->tcp.push_back(
        tcpRecord(2, "0.0.0.0", "9004", "0.0.0.0", "0", "80", "plain", "/usr/bin/plain"));
    QTest::mouseClick(window.refreshButton(), Qt::LeftButton);
    QVERIFY(waitForRefresh(window));
    QCOMPARE(window.model()->rowCount(), 3);
    QCOMPARE(window.list().selectedRow()->Rec.ProcName, std::string("Specialist"));
    const QModelIndexList selected = window.view()->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(cellText(window, selected.first().row(), ColumnProcess), QStringLiteral("Specialist"));
    QCOMPARE(window.netCountLabel()->text(), QStringLiteral("36"));
    QVERIFY(window.countersText().endsWith(QStringLiteral("共建立36个连接，显示 3 项。")));
}

void KestrelMainWindowTest::exportFollowsCopyAndSavesThroughTheFileDialog_data() {
    QTest::addColumn<bool>("accept");
    QTest::newRow("saved") << true;
    QTest::newRow("cancelled") << false;
}

void KestrelMainWindowTest::exportFollowsCopyAndSavesThroughTheFileDialog() {
    QFETCH(bool, accept);
    KestrelMainWindow& window = makeWindow();
    QStringList items;
    QAction* exportAction = nullptr;
    for (QAction* action : window.popupMenu()->actions()) {
        if (action->isSeparator())
            continue;
        items << action->text();
        if (action->text() == QStringLiteral("导出列表..."))
            exportAction = action;
    }
    QCOMPARE(items, (QStringList{QStringLiteral("进程信息"), QStringLiteral("结束进程(&E)"),
                                 QStringLiteral("断开连接"), QStringLiteral("拷贝到剪贴板"),
                                 QStringLiteral("导出列表..."), QStringLiteral("定位文件"),
                                 QStringLiteral("属性(&R)"), QStringLiteral("查看连接记录")}));
    QVERIFY(exportAction != nullptr);

    // The toolkit's save dialog opens; the user types a name and saves, or cancels.
    const QString target = m_dir->filePath(QStringLiteral("导出 列表.csv"));
    bool answered = false;
    QString caption;
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        poll->stop();
        poll->deleteLater();
        caption = dialog->windowTitle();
        answered = true;
        if (accept) {
            // Typed into the name field, as a user does: selectFile may be overtaken by the
            // name the dialog was opened with while it still reads its folder.
            auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (nameField != nullptr)
                nameField->setText(target);
            else
                dialog->selectFile(target);
            static_cast<QDialog*>(dialog)->accept();
        } else {
            dialog->reject();
        }
    });
    poll->start();
    exportAction->trigger();

    QVERIFY(answered);
    QCOMPARE(caption, QStringLiteral("导出列表"));
    QCOMPARE(QFile::exists(target), accept);
    if (accept) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        QVERIFY2(saved.startsWith("\xEF\xBB\xBF\xE8\xBF\x9B\xE7\xA8\x8B,"), saved.constData());
        QCOMPARE(saved.count("\r\n"), static_cast<qsizetype>(window.list().rowCount() + 1));
    }
}

void KestrelMainWindowTest::optionsButtonSitsLeftOfHelpWithItsNeighboursLook() {
    KestrelMainWindow& window = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPushButton* options = window.optionsButton();
    QPushButton* help = window.helpButton();
    auto* update = qobject_cast<QPushButton*>(window.control(MainControl::BTNUpdate));
    QVERIFY(options && help && update);
    QCOMPARE(options->text(), QStringLiteral("选项"));
    QCOMPARE(options->objectName(), QStringLiteral("BTNOptions"));
    QVERIFY(options->isVisible());
    // Side by side at the top panel's right: 选项, 帮助, 更新, 主页.
    QCOMPARE(options->parentWidget(), help->parentWidget());
    QCOMPARE(options->geometry().right() + 1, help->geometry().left());
    QCOMPARE(help->geometry().right() + 1, update->geometry().left());
    QCOMPARE(options->width(), 74);
    QCOMPARE(options->y(), help->y());
    QCOMPARE(options->height(), help->height());
    QVERIFY(options->geometry().left() > window.netCountLabel()->geometry().right());
    // The same look as its neighbours: face, font, picture size, no default-button frame.
    QCOMPARE(options->font(), help->font());
    QCOMPARE(options->iconSize(), help->iconSize());
    QVERIFY(!options->icon().isNull());
    QCOMPARE(options->autoDefault(), help->autoDefault());
    QCOMPARE(options->grab().toImage().pixelColor(options->width() / 2, 3),
             help->grab().toImage().pixelColor(help->width() / 2, 3));
}

void KestrelMainWindowTest::optionsMenuHoldsTheCheckItemsAndStoresAChoice() {
    {
        QFile file(m_dir->filePath("Kestrel.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Set]\nShowInfo=0\n[options]\nshowipv6=7\n");
    }
    KestrelMainWindow& window = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QMenu* menu = window.optionsMenu();
    QStringList texts;
    QList<bool> marks;
    const QList<QAction*> actions = menu->actions();
    // The check items, then a separator and the command "连接记录".
    QCOMPARE(actions.size(), 5);
    for (const QAction* action : actions.mid(0, 3)) {
        texts << action->text();
        QVERIFY(action->isCheckable());
        marks << action->isChecked();
    }
    QCOMPARE(texts, (QStringList{QStringLiteral("显示IPv6连接"), QStringLiteral("解析主机名"),
                                 QStringLiteral("显示流量")}));
    QCOMPARE(marks, (QList<bool>{true, false, false}));
    QVERIFY(actions.at(3)->isSeparator());
    QCOMPARE(actions.at(4)->text(), QStringLiteral("连接记录"));
    QVERIFY(!actions.at(4)->isCheckable());
    QVERIFY(actions.at(4)->isEnabled());
    QVERIFY(window.form().showIPv6());

    // A click on the button drops the menu down below it; the second item is chosen.
    QPoint shownAt;
    bool shown = false;
    QTimer::singleShot(0, menu, [&] {
        shown = menu->isVisible();
        shownAt = menu->pos();
        menu->actions().at(1)->trigger();
        menu->hide();
    });
    QTest::mouseClick(window.optionsButton(), Qt::LeftButton);
    QVERIFY(shown);
    const QPoint below =
        window.optionsButton()->mapToGlobal(QPoint(0, window.optionsButton()->height()));
    QCOMPARE(shownAt.x(), below.x());
    QVERIFY(shownAt.y() >= below.y() - 1);
    QVERIFY(window.form().resolveNames());
    QVERIFY(menu->actions().at(1)->isChecked());
    QFile file(m_dir->filePath("Kestrel.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Read as 7, written back as 1 at the start; the section Set stays as it was.
    QCOMPARE(file.readAll(),
             QByteArray("[Set]\nShowInfo=0\n[options]\nshowipv6=1\nResolveNames=1\n"));
}

void KestrelMainWindowTest::bothConnectionLogItemsOpenTheLogWindow() {
    KestrelMainWindow& window = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.connectionLogWindow() == nullptr);
    QAction* fromOptions = window.optionsMenu()->actions().last();
    QAction* fromContext = window.popupMenu()->actions().last();
    QCOMPARE(fromContext->text(), QStringLiteral("查看连接记录"));
    QVERIFY(fromContext->isEnabled());
    for (QAction* action : {fromOptions, fromContext}) {
        action->trigger();
        qtui::ConnectionLogWindow* log = window.connectionLogWindow();
        QVERIFY(log != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(log));
        QCOMPARE(log->windowTitle(), QStringLiteral("连接记录"));
        log->close();
        QVERIFY(!log->isVisible());
    }
}

void KestrelMainWindowTest::markedRowsArePaintedUntilTheNextRefresh() {
    KestrelMainWindow& window = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.view()->clearFocus();
    auto pixelOf = [&window](const QString& port) {
        const int row = rowOfPort(window, port);
        const QRect cell = window.view()->visualRect(window.model()->index(row, ColumnState));
        return window.view()->viewport()->grab().toImage().pixelColor(cell.right() - 3,
                                                                      cell.center().y());
    };
    auto rgb = [](const LookRgb& colour) { return QColor(colour.red, colour.green, colour.blue); };
    // The first fill: no row is coloured.
    for (int row = 0; row < window.model()->rowCount(); ++row)
        QVERIFY(!window.model()->index(row, ColumnState).data(Qt::BackgroundRole).isValid());

    m_system->tcp[1].State = 8; // firefox's first connection changes its state
    m_system->tcp.push_back(
        tcpRecord(3, "10.0.0.5", "51002", "1.1.1.1", "853", "606", "dnsmasq", "/usr/sbin/dnsmasq"));
    QTest::mouseClick(window.refreshButton(), Qt::LeftButton);
    QVERIFY(waitForRefresh(window));
    window.list().selectRow(nullptr);
    QCOMPARE(pixelOf(QStringLiteral("51002")), rgb(MainWindowLook::AddedRowColour));
    QCOMPARE(pixelOf(QStringLiteral("51000")), rgb(MainWindowLook::ChangedRowColour));
    QCOMPARE(pixelOf(QStringLiteral("51001")), QColor(Qt::white));

    // The selection is drawn over the mark's colour.
    const RowHandle added = window.model()->rowAt(rowOfPort(window, QStringLiteral("51002")));
    window.list().selectRow(added);
    const QColor selected = pixelOf(QStringLiteral("51002"));
    QVERIFY2(selected != rgb(MainWindowLook::AddedRowColour), qPrintable(selected.name()));
    QVERIFY2(selected.green() > selected.red() && selected.green() > selected.blue(),
             qPrintable(selected.name()));
    window.list().selectRow(nullptr);

    QTest::mouseClick(window.refreshButton(), Qt::LeftButton); // nothing changed
    QVERIFY(waitForRefresh(window));
    QCOMPARE(pixelOf(QStringLiteral("51002")), QColor(Qt::white));
    QCOMPARE(pixelOf(QStringLiteral("51000")), QColor(Qt::white));
}

void KestrelMainWindowTest::closeConnectionFollowsEndProcessAndAsks() {
    m_system->tcp[1].Socket.cookie = 4242;
    KestrelMainWindow& window = makeWindow();
    const int firefox = rowOfPort(window, QStringLiteral("51000"));
    QVERIFY(firefox >= 0);
    const QRect cell = window.view()->visualRect(window.model()->index(firefox, ColumnProcess));
    QMenu* menu = window.popupMenu();
    QStringList captions;
    bool enabled = false;
    BoxAnswer seen;
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
        if (!menu->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        QAction* close = nullptr;
        for (QAction* action : menu->actions()) {
            captions << action->text();
            if (action->text() == QStringLiteral("断开连接"))
                close = action;
        }
        if (close) {
            enabled = close->isEnabled();
            answerNextBox(seen, QMessageBox::Yes);
            close->trigger();
        }
        menu->close();
    });
    poll->start();
    const int before = m_system->snapshots;
    // The close runs on the worker; the refresh it asks for then waits here, so that the test
    // sees it start.
    std::promise<void> open;
    m_system->gate = open.get_future().share();
    QContextMenuEvent event(QContextMenuEvent::Mouse, cell.center(),
                            window.view()->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(window.view()->viewport(), &event);

    const int endAt = static_cast<int>(captions.indexOf(QStringLiteral("结束进程(&E)")));
    QVERIFY2(endAt >= 0 && endAt + 1 < captions.size(), qPrintable(captions.join('|')));
    QCOMPARE(captions[endAt + 1], QStringLiteral("断开连接"));
    QVERIFY(enabled);
    QVERIFY(seen.seen);
    QCOMPARE(seen.text, QStringLiteral("确定要断开这个连接吗?"));
    QVERIFY(QTest::qWaitFor([&window] { return window.form().refreshing(); }, 10000));
    open.set_value();
    QVERIFY(waitForRefresh(window));
    QCOMPARE(m_system->closed.size(), std::size_t{1});
    QCOMPARE(m_system->closed[0].cookie, std::uint64_t{4242});
    QCOMPARE(m_system->snapshots, before + 1);
}

void KestrelMainWindowTest::optionColumnsComeAndGoWithTheirOptions() {
    m_system->hostNames = {{"93.184.216.34", "example.org"}};
    const std::uint64_t sent[] = {900, 3565158, 1229};
    for (std::size_t i = 0; i < 3; ++i) {
        m_system->tcp[i].Socket.hasByteCounters = true;
        m_system->tcp[i].Socket.bytesAcked = sent[i];
    }
    KestrelMainWindow& window = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QHeaderView* header = window.view()->horizontalHeader();
    auto shownColumns = [&window] {
        QList<int> shown;
        for (int column = 0; column < window.model()->columnCount(); ++column) {
            if (!window.view()->isColumnHidden(column))
                shown << column;
        }
        return shown;
    };
    const QList<int> described{ColumnProcess,    ColumnProtocol,   ColumnLocalAddr, ColumnLocalPort,
                               ColumnRemoteAddr, ColumnRemotePort, ColumnState,     ColumnManage};
    QCOMPARE(shownColumns(), described);

    QMenu* menu = window.optionsMenu();
    menu->actions().at(1)->trigger(); // 解析主机名
    QCOMPARE(shownColumns(), described + QList<int>{ColumnRemoteHost});
    QCOMPARE(window.model()->headerData(ColumnRemoteHost, Qt::Horizontal).toString(),
             QStringLiteral("目标主机"));
    QVERIFY(window.view()->columnWidth(ColumnRemoteHost) > 0);
    const int firefox = rowOfPort(window, QStringLiteral("51000"));
    const int sshd = rowOfPort(window, QStringLiteral("22"));
    const int idle = rowOfPort(window, QStringLiteral("40000"));
    // The name arrives from the worker; until then the address stands in its place.
    QTRY_COMPARE(cellText(window, firefox, ColumnRemoteHost), QStringLiteral("example.org"));
    QTRY_COMPARE(cellText(window, idle, ColumnRemoteHost), QString());
    QCOMPARE(cellText(window, sshd, ColumnRemoteHost), QString()); // a listener names no host

    menu->actions().at(2)->trigger(); // 显示流量
    const QList<int> traffic{ColumnSent, ColumnReceived, ColumnSendRate, ColumnReceiveRate};
    QCOMPARE(shownColumns(), described + QList<int>{ColumnRemoteHost} + traffic);
    QStringList titles;
    for (const int column : traffic)
        titles << window.model()->headerData(column, Qt::Horizontal).toString();
    QCOMPARE(titles, (QStringList{QStringLiteral("已发送"), QStringLiteral("已接收"),
                                  QStringLiteral("发送速率"), QStringLiteral("接收速率")}));
    // Sorted by value: the click sorts descending, a second one ascending.
    clickHeader(window, ColumnSent);
    clickHeader(window, ColumnSent);
    QCOMPARE(header->sortIndicatorSection(), int(ColumnSent));
    QStringList order;
    for (int row = 0; row < window.model()->rowCount(); ++row) {
        const QString text = cellText(window, row, ColumnSent);
        if (!text.isEmpty())
            order << text;
    }
    QCOMPARE(order, (QStringList{QStringLiteral("900 B"), QStringLiteral("1.2 KB"),
                                 QStringLiteral("3.4 MB")}));
    QCOMPARE(window.model()->index(0, ColumnSent).data(Qt::TextAlignmentRole).value<int>() &
                 Qt::AlignHorizontal_Mask,
             int(Qt::AlignRight));

    menu->actions().at(1)->trigger();
    QCOMPARE(shownColumns(), described + traffic);
    menu->actions().at(2)->trigger();
    QCOMPARE(shownColumns(), described);
    QCOMPARE(readFile(m_dir->filePath("Kestrel.ini")),
             QStringLiteral("[Options]\nResolveNames=0\nShowTraffic=0\n"));
}

// The program's own application object, with the translations it installs.
int main(int argc, char** argv) {
    qtui::KestrelApplication application(argc, argv);
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    KestrelMainWindowTest test;

    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_KestrelMainWindow.moc"
