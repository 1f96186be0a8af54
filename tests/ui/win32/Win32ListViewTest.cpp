// The connection list's ListView over the list control kept in memory, in a hidden window under
// Wine's null display driver. State is read back with the control's own messages.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "list/Columns.h"
#include "list/ConnectionList.h"
#include "list/ImageListEx.h"
#include "list/ListControl.h"
#include "list/MemoryListControl.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/Components.h"
#include "ui/MainWindowLook.h"
#include "ui/TestRecords.h"
#include "ui/win32/Win32ImageList.h"
#include "ui/win32/Win32ListView.h"
#include "win32/WinText.h"

using win32ui::Win32ListView;

namespace {

constexpr int ListId = 100;

class RecordingReport : public ui::ErrorReport {
public:
    void showError(const std::string& text) override { errors.push_back(text); }
    std::vector<std::string> errors;
};

struct PopupCall {
    RowHandle node = nullptr;
    int column = 0;
    ScreenPoint where;
};

// The window's list events: header clicks run the real sort rule; the rest are recorded.
class RecordingEvents : public ListControlEvents {
public:
    explicit RecordingEvents(ListControl& list) : m_list(list) {}
    void VTSHeaderClick(int column) override {
        headerClicks.push_back(column);
        ::VTSHeaderClick(m_list, column);
    }
    void VTSGetPopupMenu(RowHandle node, int column, ScreenPoint where) override {
        popups.push_back(PopupCall{node, column, where});
        selectedAtPopup = m_list.selectedRow();
        focusedAtPopup = m_list.focusedRow();
    }
    void VTSColumnClick(int column, ScreenPoint) override {
        columnClicks.push_back(column);
        focusedAtClick = m_list.focusedRow();
    }
    int VTSGetImageIndex(RowHandle node, int column) override {
        if (throwOnImage)
            throw std::runtime_error("no icon");
        return column == ColumnProcess && node && !node->Rec.ProcPath.empty() ? 0 : -1;
    }
    void VTSDblClick() override {
        ++doubleClicks;
        if (!throwOnDoubleClick.empty())
            throw std::runtime_error(throwOnDoubleClick);
    }

    std::vector<int> headerClicks;
    std::vector<PopupCall> popups;
    std::vector<int> columnClicks;
    int doubleClicks = 0;
    RowHandle selectedAtPopup = nullptr;
    RowHandle focusedAtPopup = nullptr;
    RowHandle focusedAtClick = nullptr;
    std::string throwOnDoubleClick;
    bool throwOnImage = false;

private:
    ListControl& m_list;
};

// The window procedure of the parent: every WM_NOTIFY goes to the list view, as the main
// window forwards it.
LRESULT CALLBACK parentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY) {
        auto* view = reinterpret_cast<Win32ListView*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        LRESULT result = 0;
        if (view && view->handleNotify(*reinterpret_cast<const NMHDR*>(lParam), result))
            return result;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

const wchar_t* parentClass() {
    static const ATOM atom = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = parentProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"KestrelListViewTestParent";
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        return ::RegisterClassW(&windowClass);
    }();
    return atom ? L"KestrelListViewTestParent" : nullptr;
}

struct Row {
    const char* protocol;
    const char* state;
    const char* localAddr;
    const char* localPort;
    const char* remoteAddr;
    const char* remotePort;
    const char* pid;
    const char* name;
    const char* path;
};

class ListViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(parentClass(), nullptr);
        m_parent =
            ::CreateWindowExW(0, parentClass(), L"Kestrel test", WS_OVERLAPPEDWINDOW, 0, 0, 900,
                              500, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(m_parent, nullptr);
        list.setEventHandler(&events);
        view = std::make_unique<Win32ListView>(m_parent, ListId, list, report);
        ::SetWindowLongPtrW(m_parent, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view.get()));
        ASSERT_NE(view->handle(), nullptr);
        view->setBounds(0, 0, 880, 400);
    }

    void TearDown() override {
        ::SetWindowLongPtrW(m_parent, GWLP_USERDATA, 0);
        view.reset();
        if (m_parent)
            ::DestroyWindow(m_parent);
    }

    RowHandle add(const Row& values) {
        RowHandle row = list.addRow();
        TMyRec& rec = row->Rec;
        rec.Protocol = values.protocol;
        rec.State = values.state;
        rec.LocalAddr = values.localAddr;
        rec.LocalPort = values.localPort;
        rec.RemoteAddr = values.remoteAddr;
        rec.RemotePort = values.remotePort;
        rec.PID = values.pid;
        rec.ProcName = values.name;
        rec.ProcPath = values.path;
        rec.FileDesc = std::string("desc of ") + values.name;
        rec.Company = "ACME";
        return row;
    }

    // Rows named by process only, in the order given.
    std::vector<RowHandle> addNamed(const std::vector<const char*>& names) {
        std::vector<RowHandle> rows;
        int port = 1000;
        for (const char* name : names) {
            const std::string portText = std::to_string(port++);
            rows.push_back(add(Row{"TCP", "已建立", "10.0.0.5", portText.c_str(), "10.0.0.9", "443",
                                   "42", name, "C:\\x.exe"}));
        }
        return rows;
    }

    HWND listHwnd() const { return view->handle(); }

    int itemCount() const {
        return static_cast<int>(::SendMessageW(listHwnd(), LVM_GETITEMCOUNT, 0, 0));
    }

    std::string itemText(int item, int viewColumn) const {
        wchar_t buffer[512] = {};
        LVITEMW request{};
        request.iSubItem = viewColumn;
        request.pszText = buffer;
        request.cchTextMax = 512;
        const auto length = ::SendMessageW(listHwnd(), LVM_GETITEMTEXTW, static_cast<WPARAM>(item),
                                           reinterpret_cast<LPARAM>(&request));
        return win32::Utf8FromWide(buffer, static_cast<std::size_t>(length));
    }

    int headerCount() const {
        return static_cast<int>(::SendMessageW(view->header(), HDM_GETITEMCOUNT, 0, 0));
    }

    std::string headerTitle(int viewColumn) const {
        wchar_t buffer[128] = {};
        HDITEMW item{};
        item.mask = HDI_TEXT;
        item.pszText = buffer;
        item.cchTextMax = 128;
        ::SendMessageW(view->header(), HDM_GETITEMW, static_cast<WPARAM>(viewColumn),
                       reinterpret_cast<LPARAM>(&item));
        return win32::Utf8FromWide(std::wstring(buffer));
    }

    int headerFormat(int viewColumn) const {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        ::SendMessageW(view->header(), HDM_GETITEMW, static_cast<WPARAM>(viewColumn),
                       reinterpret_cast<LPARAM>(&item));
        return item.fmt;
    }

    int columnWidth(int viewColumn) const {
        return static_cast<int>(
            ::SendMessageW(listHwnd(), LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(viewColumn), 0));
    }

    int nextItem(int flags) const {
        return static_cast<int>(::SendMessageW(listHwnd(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                               MAKELPARAM(flags, 0)));
    }

    int selectedCount() const {
        return static_cast<int>(::SendMessageW(listHwnd(), LVM_GETSELECTEDCOUNT, 0, 0));
    }

    RECT itemRect(int item, int viewColumn = 0) const {
        RECT rect{};
        rect.top = viewColumn;
        rect.left = LVIR_BOUNDS;
        ::SendMessageW(listHwnd(), viewColumn == 0 ? LVM_GETITEMRECT : LVM_GETSUBITEMRECT,
                       static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&rect));
        return rect;
    }

    POINT centreOf(int item, int viewColumn) const {
        const RECT rect = itemRect(item, viewColumn);
        return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }

    // The ListView's selection and focus are the list control's, by position.
    void expectViewMirrorsList() const {
        EXPECT_EQ(nextItem(LVNI_SELECTED), list.viewIndexOf(list.selectedRow()));
        EXPECT_EQ(nextItem(LVNI_FOCUSED), list.viewIndexOf(list.focusedRow()));
        EXPECT_LE(selectedCount(), 1);
    }

    void clickHeader(int pressColumn, int releaseColumn) const {
        RECT press{};
        RECT release{};
        ::SendMessageW(view->header(), HDM_GETITEMRECT, static_cast<WPARAM>(pressColumn),
                       reinterpret_cast<LPARAM>(&press));
        ::SendMessageW(view->header(), HDM_GETITEMRECT, static_cast<WPARAM>(releaseColumn),
                       reinterpret_cast<LPARAM>(&release));
        const int y = (press.top + press.bottom) / 2;
        ::SendMessageW(view->header(), WM_LBUTTONDOWN, MK_LBUTTON,
                       MAKELPARAM((press.left + press.right) / 2, y));
        ::SendMessageW(view->header(), WM_LBUTTONUP, 0,
                       MAKELPARAM((release.left + release.right) / 2, y));
    }

    MemoryListControl list;
    RecordingReport report;
    RecordingEvents events{list};
    std::unique_ptr<Win32ListView> view;

private:
    HWND m_parent = nullptr;
};

const Row TcpRow{"TCP",   "已建立",        "192.168.1.5",
                 "51000", "93.184.216.34", "443",
                 "202",   "firefox.exe",   "C:\\Program Files\\Firefox\\firefox.exe"};
const Row UdpRow{"UDP",
                 "",
                 "0.0.0.0",
                 "5353",
                 "",
                 "",
                 "404",
                 "svchost.exe",
                 "C:\\Windows\\System32\\svchost.exe"};

TEST_F(ListViewTest, ShowsOnlyTheVisibleColumnsInTheirOrder) {
    add(TcpRow);
    // ListView column 0 is a zero-width stand-in; the list's visible columns follow.
    const std::vector<int> shown{ColumnProcess,   ColumnProtocol,   ColumnLocalAddr,
                                 ColumnLocalPort, ColumnRemoteAddr, ColumnRemotePort,
                                 ColumnState,     ColumnManage};
    ASSERT_EQ(headerCount(), 1 + static_cast<int>(shown.size()));
    EXPECT_EQ(columnWidth(0), 0);
    EXPECT_EQ(itemText(0, 0), "");
    const std::vector<std::string> texts{"firefox.exe",   "TCP", "192.168.1.5", "51000",
                                         "93.184.216.34", "443", "已建立",      ""};
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const int viewColumn = static_cast<int>(i) + 1;
        SCOPED_TRACE(viewColumn);
        EXPECT_EQ(view->listColumnAt(viewColumn), shown[i]);
        EXPECT_EQ(headerTitle(viewColumn), list.column(shown[i]).title);
        EXPECT_EQ(itemText(0, viewColumn), texts[i]);
        EXPECT_EQ(columnWidth(viewColumn), list.column(shown[i]).width);
    }
    for (int hidden :
         {ColumnPID, ColumnSecurity, ColumnPath, ColumnDescription, ColumnCompany, ColumnMark})
        EXPECT_EQ(view->viewColumnOf(hidden), -1) << hidden;
    EXPECT_EQ(headerFormat(view->viewColumnOf(ColumnManage)) & HDF_JUSTIFYMASK, HDF_CENTER);
}

TEST_F(ListViewTest, OddBytesAndLongTextsAreShownSafely) {
    RowHandle row = add(TcpRow);
    row->Rec.ProcName = "bad\xff\xfe.exe"; // not UTF-8
    const std::string longPath(5000, 'p');
    row->Rec.LocalAddr = longPath;
    EXPECT_EQ(itemText(0, view->viewColumnOf(ColumnProcess)), "bad\xEF\xBF\xBD\xEF\xBF\xBD.exe");
    EXPECT_EQ(itemText(0, view->viewColumnOf(ColumnLocalAddr)), std::string(511, 'p'));
    wchar_t small[8] = {};
    LVITEMW request{};
    request.iSubItem = view->viewColumnOf(ColumnLocalAddr);
    request.pszText = small;
    request.cchTextMax = 8;
    ::SendMessageW(listHwnd(), LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&request));
    EXPECT_EQ(std::wstring(small), L"ppppppp");
    EXPECT_EQ(view->clippedText(0, view->viewColumnOf(ColumnLocalAddr)), std::wstring(5000, L'p'));
}

TEST_F(ListViewTest, FileDetailColumnsComeAndGoInPlace) {
    add(UdpRow);
    for (int column : {ColumnPath, ColumnDescription, ColumnCompany})
        list.setColumnVisible(column, true);
    ASSERT_EQ(headerCount(), 12);
    EXPECT_EQ(view->listColumnAt(9), ColumnPath);
    EXPECT_EQ(view->listColumnAt(10), ColumnDescription);
    EXPECT_EQ(view->listColumnAt(11), ColumnCompany);
    EXPECT_EQ(headerTitle(9), "文件路径");
    EXPECT_EQ(itemText(0, 9), "C:\\Windows\\System32\\svchost.exe");
    EXPECT_EQ(itemText(0, 10), "desc of svchost.exe");
    EXPECT_EQ(itemText(0, 11), "ACME");
    EXPECT_EQ(columnWidth(9), 260);
    // A UDP row has no remote end and no state.
    EXPECT_EQ(itemText(0, view->viewColumnOf(ColumnRemoteAddr)), "");
    EXPECT_EQ(itemText(0, view->viewColumnOf(ColumnState)), "");

    for (int column : {ColumnPath, ColumnDescription, ColumnCompany})
        list.setColumnVisible(column, false);
    EXPECT_EQ(headerCount(), 9);
    EXPECT_EQ(view->viewColumnOf(ColumnPath), -1);
    EXPECT_EQ(itemText(0, 8), "");
    EXPECT_EQ(view->listColumnAt(8), ColumnManage);
}

TEST_F(ListViewTest, UserWidthSurvivesHidingAndLimitsHold) {
    list.setColumnVisible(ColumnPath, true);
    const int path = view->viewColumnOf(ColumnPath);
    ::SendMessageW(listHwnd(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(path), MAKELPARAM(300, 0));
    EXPECT_EQ(columnWidth(path), 300);
    list.setColumnVisible(ColumnPath, false);
    list.setColumnVisible(ColumnPath, true);
    EXPECT_EQ(columnWidth(view->viewColumnOf(ColumnPath)), 300);

    // The manage column has one width; the others stay between 10 and 10000; the stand-in
    // column stays closed.
    const int manage = view->viewColumnOf(ColumnManage);
    ::SendMessageW(listHwnd(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(manage), MAKELPARAM(100, 0));
    EXPECT_EQ(columnWidth(manage), 40);
    const int process = view->viewColumnOf(ColumnProcess);
    ::SendMessageW(listHwnd(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(process), MAKELPARAM(3, 0));
    EXPECT_EQ(columnWidth(process), 10);
    ::SendMessageW(listHwnd(), LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(50, 0));
    EXPECT_EQ(columnWidth(0), 0);
}

TEST_F(ListViewTest, DividerDoubleClickFitsTheColumnToItsTexts) {
    addNamed({"a", "a-rather-long-process-name-that-does-not-fit.exe", "b"});
    const int process = view->viewColumnOf(ColumnProcess);
    EXPECT_FALSE(view->clippedText(1, process).empty());
    NMHEADERW divider{};
    divider.hdr.hwndFrom = view->header();
    divider.hdr.code = HDN_DIVIDERDBLCLICKW;
    divider.iItem = process;
    // As the header sends it to the ListView.
    ::SendMessageW(listHwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&divider));
    EXPECT_GT(columnWidth(process), 120);
    EXPECT_TRUE(view->clippedText(1, process).empty());

    // The manage column keeps its one width.
    divider.iItem = view->viewColumnOf(ColumnManage);
    ::SendMessageW(listHwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&divider));
    EXPECT_EQ(columnWidth(divider.iItem), 40);
}

TEST_F(ListViewTest, HeaderTitleUnderTheMouseIsBlue) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    NMCUSTOMDRAW draw{};
    draw.hdr.hwndFrom = view->header();
    draw.hdr.code = NM_CUSTOMDRAW;
    draw.hdc = dc;
    draw.dwDrawStage = CDDS_PREPAINT;
    EXPECT_EQ(::SendMessageW(listHwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&draw)),
              CDRF_NOTIFYITEMDRAW);
    draw.dwDrawStage = CDDS_ITEMPREPAINT;
    draw.uItemState = CDIS_HOT;
    ::SendMessageW(listHwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&draw));
    EXPECT_EQ(::GetTextColor(dc), RGB(0, 0, 255));
    draw.uItemState = 0;
    ::SendMessageW(listHwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&draw));
    EXPECT_EQ(::GetTextColor(dc), RGB(0, 0, 0));
    ::DeleteDC(dc);
}

TEST_F(ListViewTest, ItemCountFollowsTheRows) {
    EXPECT_EQ(itemCount(), 0);
    const std::vector<RowHandle> rows = addNamed({"a", "b", "c", "d"});
    EXPECT_EQ(itemCount(), 4);
    list.deleteRow(rows[1]);
    EXPECT_EQ(itemCount(), 3);
    EXPECT_EQ(itemText(1, 1), "c");

    list.beginUpdate();
    list.deleteRow(rows[0]);
    list.deleteRow(rows[3]);
    addNamed({"e", "f", "g"});
    EXPECT_EQ(itemCount(), 3); // the view hears of the bracket at its end
    list.endUpdate();
    EXPECT_EQ(itemCount(), 4);
    const std::vector<std::string> names{"c", "e", "f", "g"};
    for (int item = 0; item < 4; ++item)
        EXPECT_EQ(itemText(item, 1), names[static_cast<std::size_t>(item)]);

    list.clear();
    EXPECT_EQ(itemCount(), 0);
    EXPECT_EQ(itemText(0, 1), ""); // a stale position reads as empty, never as freed memory
}

// Counts the item-count messages the ListView receives.
LRESULT CALLBACK countingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR counter) {
    if (message == LVM_SETITEMCOUNT)
        ++*reinterpret_cast<int*>(counter);
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

TEST_F(ListViewTest, ARefreshOfManyScatteredRowsSetsTheCountOnce) {
    std::vector<RowHandle> rows;
    for (int i = 0; i < 400; ++i)
        rows.push_back(list.addRow());
    list.selectRow(rows[399]);
    ASSERT_EQ(itemCount(), 400);
    int counts = 0;
    ASSERT_TRUE(
        ::SetWindowSubclass(listHwnd(), countingProc, 77, reinterpret_cast<DWORD_PTR>(&counts)));
    list.beginUpdate();
    for (int i = 0; i < 400; i += 2) // 200 separate runs of removed rows
        list.deleteRow(rows[static_cast<std::size_t>(i)]);
    list.addRow();
    list.endUpdate();
    EXPECT_EQ(itemCount(), 201);
    EXPECT_EQ(nextItem(LVNI_SELECTED), 199);
    EXPECT_EQ(counts, 1);
    ::RemoveWindowSubclass(listHwnd(), countingProc, 77);
}

TEST_F(ListViewTest, SelectedRowStaysSelectedThroughRemovalsInsertionsAndSorts) {
    const std::vector<RowHandle> rows = addNamed({"a", "b", "c", "d", "e"});
    list.selectRow(rows[3]);
    list.setFocusedRow(rows[3]);
    EXPECT_EQ(nextItem(LVNI_SELECTED), 3);
    EXPECT_EQ(nextItem(LVNI_FOCUSED), 3);

    list.beginUpdate();
    list.deleteRow(rows[0]);
    list.deleteRow(rows[2]);
    addNamed({"aa"});
    list.endUpdate();
    EXPECT_EQ(nextItem(LVNI_SELECTED), 1);
    expectViewMirrorsList();

    list.sort(ColumnProcess, SortDirection::Descending);
    EXPECT_EQ(itemText(0, 1), "e");
    EXPECT_EQ(list.viewIndexOf(rows[3]), 1);
    EXPECT_EQ(nextItem(LVNI_SELECTED), 1);
    expectViewMirrorsList();

    list.sort(ColumnProcess, SortDirection::Ascending);
    EXPECT_EQ(itemText(0, 1), "aa");
    EXPECT_EQ(itemText(nextItem(LVNI_SELECTED), 1), "d");
    expectViewMirrorsList();

    list.deleteRow(rows[3]);
    EXPECT_EQ(nextItem(LVNI_SELECTED), -1);
    EXPECT_EQ(nextItem(LVNI_FOCUSED), -1);
}

TEST_F(ListViewTest, ScrollPositionSurvivesARefresh) {
    std::vector<RowHandle> rows;
    for (int i = 0; i < 120; ++i)
        rows.push_back(list.addRow());
    // The focused row is far above: the view must not jump back to it.
    list.selectRow(rows[0]);
    list.setFocusedRow(rows[0]);
    ::SendMessageW(listHwnd(), LVM_ENSUREVISIBLE, 80, FALSE);
    const auto top = ::SendMessageW(listHwnd(), LVM_GETTOPINDEX, 0, 0);
    ASSERT_GT(top, 40);
    list.beginUpdate();
    for (int i = 100; i < 110; ++i)
        list.deleteRow(rows[static_cast<std::size_t>(i)]);
    list.addRow();
    list.addRow();
    list.endUpdate();
    EXPECT_EQ(itemCount(), 112);
    EXPECT_EQ(::SendMessageW(listHwnd(), LVM_GETTOPINDEX, 0, 0), top);
    list.repaint();
    EXPECT_EQ(::SendMessageW(listHwnd(), LVM_GETTOPINDEX, 0, 0), top);
}

TEST_F(ListViewTest, ARefreshThatShrinksTheListBelowTheViewShowsItsRows) {
    std::vector<RowHandle> rows;
    for (int i = 0; i < 120; ++i)
        rows.push_back(list.addRow());
    ::SendMessageW(listHwnd(), LVM_ENSUREVISIBLE, 119, FALSE);
    ASSERT_GT(::SendMessageW(listHwnd(), LVM_GETTOPINDEX, 0, 0), 40);
    list.beginUpdate();
    for (int i = 5; i < 120; ++i)
        list.deleteRow(rows[static_cast<std::size_t>(i)]);
    list.endUpdate();
    EXPECT_EQ(itemCount(), 5);
    EXPECT_EQ(::SendMessageW(listHwnd(), LVM_GETTOPINDEX, 0, 0), 0);
    // The first row sits right under the header.
    RECT header{};
    ::GetWindowRect(view->header(), &header);
    EXPECT_EQ(itemRect(0).top, header.bottom - header.top);
}

TEST_F(ListViewTest, UsersSelectionAndFocusReachTheList) {
    const std::vector<RowHandle> rows = addNamed({"a", "b", "c"});
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(listHwnd(), LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&state));
    EXPECT_EQ(list.selectedRow(), rows[2]);
    EXPECT_EQ(list.focusedRow(), rows[2]);

    ::SendMessageW(listHwnd(), LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
    EXPECT_EQ(list.selectedRow(), rows[0]);
    EXPECT_EQ(list.focusedRow(), rows[0]);
    EXPECT_EQ(selectedCount(), 1);

    state.state = 0;
    state.stateMask = LVIS_SELECTED;
    ::SendMessageW(listHwnd(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                   reinterpret_cast<LPARAM>(&state));
    EXPECT_EQ(list.selectedRow(), nullptr);
    EXPECT_EQ(list.focusedRow(), rows[0]);

    // The keyboard moves the focus and the selection with it.
    ::SendMessageW(listHwnd(), WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(list.focusedRow(), rows[1]);
    EXPECT_EQ(list.selectedRow(), rows[1]);
    EXPECT_TRUE(report.errors.empty());
}

TEST_F(ListViewTest, HeaderClicksSortAndMoveTheArrow) {
    addNamed({"b", "a", "c"});
    list.sort(ColumnProcess, SortDirection::Ascending);
    const int process = view->viewColumnOf(ColumnProcess);
    const int protocol = view->viewColumnOf(ColumnProtocol);
    EXPECT_TRUE(headerFormat(process) & HDF_SORTUP);

    clickHeader(process, process);
    ASSERT_EQ(events.headerClicks, std::vector<int>{ColumnProcess});
    EXPECT_EQ(list.sortDirection(), SortDirection::Descending);
    EXPECT_TRUE(headerFormat(process) & HDF_SORTDOWN);
    EXPECT_FALSE(headerFormat(process) & HDF_SORTUP);
    EXPECT_EQ(itemText(0, process), "c");

    clickHeader(protocol, protocol);
    EXPECT_EQ(list.sortColumn(), ColumnProtocol);
    EXPECT_EQ(list.sortDirection(), SortDirection::Ascending);
    EXPECT_FALSE(headerFormat(process) & (HDF_SORTUP | HDF_SORTDOWN));
    EXPECT_TRUE(headerFormat(protocol) & HDF_SORTUP);

    // Pressed on one column and released on another: a click on no column, and no arrow.
    clickHeader(process, protocol);
    EXPECT_EQ(events.headerClicks.back(), NoColumn);
    EXPECT_EQ(list.sortColumn(), NoColumn);
    for (int viewColumn = 0; viewColumn < headerCount(); ++viewColumn)
        EXPECT_FALSE(headerFormat(viewColumn) & (HDF_SORTUP | HDF_SORTDOWN)) << viewColumn;

    // The manage column takes part in nothing.
    const std::size_t clicks = events.headerClicks.size();
    clickHeader(view->viewColumnOf(ColumnManage), view->viewColumnOf(ColumnManage));
    EXPECT_EQ(events.headerClicks.size(), clicks + 1);
    EXPECT_EQ(list.sortColumn(), NoColumn);
    EXPECT_TRUE(report.errors.empty());
}

TEST_F(ListViewTest, RowsAre22PixelsAndTheHeader20At96Dpi) {
    addNamed({"a", "b"});
    RECT first = itemRect(0);
    RECT second = itemRect(1);
    EXPECT_EQ(first.bottom - first.top, ListRowHeight);
    EXPECT_EQ(second.top - first.top, ListRowHeight);
    RECT header{};
    ::GetWindowRect(view->header(), &header);
    EXPECT_EQ(header.bottom - header.top, ListHeaderHeight);
    EXPECT_GE(first.top, ListHeaderHeight); // grid lines add a little room under the header

    // An empty list has the same row height when rows arrive.
    list.clear();
    view->setDpi(96);
    addNamed({"c"});
    first = itemRect(0);
    EXPECT_EQ(first.bottom - first.top, ListRowHeight);
}

TEST_F(ListViewTest, DpiScalesRowsHeaderAndColumns) {
    addNamed({"a"});
    list.setColumnVisible(ColumnPath, true);
    const int path = view->viewColumnOf(ColumnPath);
    ::SendMessageW(listHwnd(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(path), MAKELPARAM(200, 0));

    view->setDpi(144);
    const RECT row = itemRect(0);
    EXPECT_EQ(row.bottom - row.top, 33);
    RECT header{};
    ::GetWindowRect(view->header(), &header);
    EXPECT_EQ(header.bottom - header.top, 30);
    EXPECT_EQ(columnWidth(view->viewColumnOf(ColumnProcess)), 180);
    EXPECT_EQ(columnWidth(view->viewColumnOf(ColumnManage)), 60);
    EXPECT_EQ(columnWidth(path), 300); // the user's width scales too

    view->setDpi(96);
    EXPECT_EQ(columnWidth(view->viewColumnOf(ColumnProcess)), 120);
    EXPECT_EQ(columnWidth(path), 200);
    const RECT back = itemRect(0);
    EXPECT_EQ(back.bottom - back.top, ListRowHeight);
}

TEST_F(ListViewTest, RightClickSelectsTheRowUnderTheMouseThenAsksForTheMenu) {
    const std::vector<RowHandle> rows = addNamed({"a", "b", "c"});
    list.selectRow(rows[0]);
    list.setFocusedRow(rows[0]);
    const int protocol = view->viewColumnOf(ColumnProtocol);
    const POINT at = centreOf(2, protocol);
    ::SendMessageW(listHwnd(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
    ::SendMessageW(listHwnd(), WM_RBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    ASSERT_EQ(events.popups.size(), 1u);
    EXPECT_EQ(events.popups[0].node, rows[2]);
    EXPECT_EQ(events.popups[0].column, ColumnProtocol);
    EXPECT_EQ(events.selectedAtPopup, rows[2]);
    EXPECT_EQ(events.focusedAtPopup, rows[2]);
    POINT screen = at;
    ::ClientToScreen(listHwnd(), &screen);
    EXPECT_EQ(events.popups[0].where.x, screen.x);
    EXPECT_EQ(events.popups[0].where.y, screen.y);
    expectViewMirrorsList();

    // Below the last row: no row, and the selection stays.
    const RECT last = itemRect(2);
    ::SendMessageW(listHwnd(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, last.bottom + 30));
    ::SendMessageW(listHwnd(), WM_RBUTTONUP, 0, MAKELPARAM(at.x, last.bottom + 30));
    ASSERT_EQ(events.popups.size(), 2u);
    EXPECT_EQ(events.popups[1].node, nullptr);
    EXPECT_EQ(events.popups[1].column, NoColumn);
    EXPECT_EQ(list.selectedRow(), rows[2]);

    // From the keyboard: the focused row, at its cell.
    ::SendMessageW(listHwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(listHwnd()), -1);
    ASSERT_EQ(events.popups.size(), 3u);
    EXPECT_EQ(events.popups[2].node, rows[2]);
}

TEST_F(ListViewTest, RightClickOnTheHeaderOpensNoRowsMenu) {
    std::vector<const char*> names(100, "p");
    const std::vector<RowHandle> rows = addNamed(names);
    list.selectRow(rows[0]);
    list.setFocusedRow(rows[0]);
    ::SendMessageW(listHwnd(), LVM_ENSUREVISIBLE, 60, FALSE);
    ASSERT_GT(::SendMessageW(listHwnd(), LVM_GETTOPINDEX, 0, 0), 0);
    RECT title{};
    ::SendMessageW(view->header(), HDM_GETITEMRECT,
                   static_cast<WPARAM>(view->viewColumnOf(ColumnProtocol)),
                   reinterpret_cast<LPARAM>(&title));
    const POINT at{(title.left + title.right) / 2, (title.top + title.bottom) / 2};
    ::SendMessageW(view->header(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
    ::SendMessageW(view->header(), WM_RBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    POINT screen = at;
    ::ClientToScreen(view->header(), &screen);
    ::SendMessageW(view->header(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(view->header()),
                   MAKELPARAM(screen.x, screen.y));
    for (const PopupCall& call : events.popups)
        ADD_FAILURE() << "menu for row " << list.viewIndexOf(call.node);
    EXPECT_EQ(list.selectedRow(), rows[0]);
    EXPECT_EQ(list.focusedRow(), rows[0]);
}

TEST_F(ListViewTest, ClicksAndDoubleClicksReachTheWindow) {
    const std::vector<RowHandle> rows = addNamed({"a", "b", "c"});
    const int port = view->viewColumnOf(ColumnLocalPort);
    const POINT at = centreOf(1, port);
    NMITEMACTIVATE click{};
    click.hdr.hwndFrom = listHwnd();
    click.hdr.idFrom = ListId;
    click.hdr.code = NM_CLICK;
    click.iItem = 1;
    click.iSubItem = port;
    click.ptAction = at;
    // As the ListView sends it to its parent.
    ::SendMessageW(::GetParent(listHwnd()), WM_NOTIFY, ListId, reinterpret_cast<LPARAM>(&click));
    ASSERT_EQ(events.columnClicks, std::vector<int>{ColumnLocalPort});
    EXPECT_EQ(events.focusedAtClick, rows[1]);
    expectViewMirrorsList();

    click.hdr.code = NM_DBLCLK;
    ::SendMessageW(::GetParent(listHwnd()), WM_NOTIFY, ListId, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(events.doubleClicks, 1);

    // A double click below the last row is one too, and leaves the focused row alone.
    const RECT last = itemRect(2);
    click.iItem = -1;
    click.ptAction = POINT{at.x, last.bottom + 40};
    ::SendMessageW(::GetParent(listHwnd()), WM_NOTIFY, ListId, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(events.doubleClicks, 2);
    EXPECT_EQ(list.focusedRow(), rows[1]);
}

TEST_F(ListViewTest, RealDoubleClickOnARowAndBelowTheRowsIsOne) {
    addNamed({"a", "b"});
    const POINT at = centreOf(1, view->viewColumnOf(ColumnProtocol));
    ::SendMessageW(listHwnd(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    EXPECT_EQ(events.doubleClicks, 1);
    const RECT last = itemRect(1);
    ::SendMessageW(listHwnd(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(at.x, last.bottom + 30));
    EXPECT_EQ(events.doubleClicks, 2);
}

TEST_F(ListViewTest, AnErrorInAHandlerGoesToTheReportAndTheListGoesOn) {
    addNamed({"a"});
    events.throwOnDoubleClick = "双击失败";
    NMITEMACTIVATE click{};
    click.hdr.hwndFrom = listHwnd();
    click.hdr.idFrom = ListId;
    click.hdr.code = NM_DBLCLK;
    click.iItem = 0;
    click.ptAction = centreOf(0, 1);
    ::SendMessageW(::GetParent(listHwnd()), WM_NOTIFY, ListId, reinterpret_cast<LPARAM>(&click));
    ASSERT_EQ(report.errors, std::vector<std::string>{"双击失败"});
    events.throwOnDoubleClick.clear();
    ::SendMessageW(::GetParent(listHwnd()), WM_NOTIFY, ListId, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(events.doubleClicks, 2);
    EXPECT_EQ(report.errors.size(), 1u);
}

// The text the list's tooltip shows now, as the tooltip asks the list for it.
std::wstring tooltipText(HWND list) {
    struct Search {
        HWND owner;
        HWND tooltip;
    } search{list, nullptr};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            // The list's own tip: its tool is the list, drawn where the cell is.
            auto* wanted = reinterpret_cast<Search*>(data);
            wchar_t name[64] = {};
            ::GetClassNameW(window, name, 64);
            if (std::wstring(name) != TOOLTIPS_CLASSW)
                return TRUE;
            TTTOOLINFOW tool{};
            tool.cbSize = sizeof tool;
            tool.hwnd = wanted->owner;
            tool.uId = 1;
            if (::SendMessageW(window, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)) &&
                (tool.uFlags & TTF_TRANSPARENT)) {
                wanted->tooltip = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (!search.tooltip)
        return L"<no tooltip>";
    wchar_t buffer[512] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = list;
    tool.uId = 1;
    tool.lpszText = buffer;
    ::SendMessageW(search.tooltip, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
    return buffer;
}

TEST_F(ListViewTest, AnErrorInTheListsOwnMessagesGoesToTheReport) {
    add(TcpRow);
    const int process = view->viewColumnOf(ColumnProcess);
    ::SendMessageW(listHwnd(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(process), MAKELPARAM(30, 0));
    view->setSmallIcons(
        []() -> const win32ui::Win32ImageStore* { throw std::runtime_error("图标缓存失败"); });
    // The mouse over a clipped cell measures its text and icon for the tooltip.
    const POINT over = centreOf(0, process);
    ::SendMessageW(listHwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(over.x, over.y));
    EXPECT_EQ(report.errors, std::vector<std::string>{"图标缓存失败"});
    view->setSmallIcons({});
    ::SendMessageW(listHwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(over.x, over.y + 1));
    EXPECT_EQ(tooltipText(listHwnd()), L"firefox.exe");
    EXPECT_EQ(report.errors.size(), 1u);
}

TEST_F(ListViewTest, FocusRequestGivesTheListTheKeyboard) {
    ::ShowWindow(::GetParent(listHwnd()), SW_SHOW);
    ::SetFocus(nullptr);
    list.setFocus();
    EXPECT_EQ(::GetFocus(), listHwnd());
}

TEST_F(ListViewTest, TypeAheadFindsRowsByTheirProcessName) {
    const std::vector<RowHandle> rows = addNamed({"alpha", "chrome", "Chronyd", "svchost"});
    const DWORD t = 100000;
    EXPECT_TRUE(view->typeAhead(L"c", t));
    EXPECT_EQ(list.selectedRow(), rows[1]);
    EXPECT_EQ(list.focusedRow(), rows[1]);
    // Typed soon after: one search text "chron", matched ignoring case.
    EXPECT_TRUE(view->typeAhead(L"h", t + 50));
    EXPECT_TRUE(view->typeAhead(L"r", t + 100));
    EXPECT_TRUE(view->typeAhead(L"o", t + 150));
    EXPECT_TRUE(view->typeAhead(L"n", t + 199));
    EXPECT_EQ(list.selectedRow(), rows[2]);
    expectViewMirrorsList();
    // After a pause a new search begins.
    EXPECT_TRUE(view->typeAhead(L"s", t + 1000));
    EXPECT_EQ(list.selectedRow(), rows[3]);
    EXPECT_FALSE(view->typeAhead(L"x", t + 2000));
    EXPECT_EQ(list.selectedRow(), rows[3]);
    // Through the keyboard, from the focused row on, wrapping.
    ::SendMessageW(listHwnd(), WM_CHAR, L'a', 0);
    EXPECT_EQ(list.selectedRow(), rows[0]);
}

TEST_F(ListViewTest, TypeAheadUsesTheLastClickedColumn) {
    const std::vector<RowHandle> rows = addNamed({"a", "b", "c"});
    rows[2]->Rec.LocalAddr = "127.0.0.1";
    NMITEMACTIVATE click{};
    click.hdr.hwndFrom = listHwnd();
    click.hdr.code = NM_CLICK;
    click.iItem = 0;
    click.ptAction = centreOf(0, view->viewColumnOf(ColumnLocalAddr));
    LRESULT result = 0;
    ASSERT_TRUE(view->handleNotify(click.hdr, result));
    EXPECT_TRUE(view->typeAhead(L"127", 5000));
    EXPECT_EQ(list.selectedRow(), rows[2]);
}

TEST_F(ListViewTest, FindItemAnswersTheListViewsOwnSearch) {
    addNamed({"alpha", "beta", "bravo"});
    LVFINDINFOW find{};
    find.flags = LVFI_PARTIAL | LVFI_WRAP | LVFI_STRING;
    find.psz = L"BR";
    EXPECT_EQ(::SendMessageW(listHwnd(), LVM_FINDITEMW, static_cast<WPARAM>(-1),
                             reinterpret_cast<LPARAM>(&find)),
              2);
    find.flags = LVFI_STRING;
    find.psz = L"beta";
    EXPECT_EQ(::SendMessageW(listHwnd(), LVM_FINDITEMW, static_cast<WPARAM>(-1),
                             reinterpret_cast<LPARAM>(&find)),
              1);
    find.psz = L"bet";
    EXPECT_EQ(::SendMessageW(listHwnd(), LVM_FINDITEMW, static_cast<WPARAM>(-1),
                             reinterpret_cast<LPARAM>(&find)),
              -1);
}

TEST_F(ListViewTest, OnlyClippedCellsHaveATooltip) {
    add(TcpRow);
    const int process = view->viewColumnOf(ColumnProcess);
    const int protocol = view->viewColumnOf(ColumnProtocol);
    EXPECT_EQ(view->clippedText(0, process), L"");
    EXPECT_EQ(view->clippedText(0, protocol), L"");
    ::SendMessageW(listHwnd(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(process), MAKELPARAM(30, 0));
    EXPECT_EQ(view->clippedText(0, process), L"firefox.exe");
    EXPECT_EQ(view->clippedText(0, view->viewColumnOf(ColumnManage)), L""); // no text at all
    EXPECT_EQ(view->clippedText(5, process), L"");                          // no such row
}

TEST_F(ListViewTest, TooltipShowsTheCellUnderTheMouseAfterARefresh) {
    const std::vector<RowHandle> rows = addNamed({"first-process.exe", "second-process.exe"});
    const int process = view->viewColumnOf(ColumnProcess);
    ::SendMessageW(listHwnd(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(process), MAKELPARAM(30, 0));
    const POINT over = centreOf(0, process);
    ::SendMessageW(listHwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(over.x, over.y));
    EXPECT_EQ(tooltipText(listHwnd()), L"first-process.exe");

    // A refresh moves the second row up under the resting mouse.
    list.deleteRow(rows[0]);
    EXPECT_EQ(tooltipText(listHwnd()), L"second-process.exe");
    ::SendMessageW(listHwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(over.x + 1, over.y));
    EXPECT_EQ(tooltipText(listHwnd()), L"second-process.exe");

    // A text that fits now has no tip; a row that is gone has none either.
    list.viewRowAt(0)->Rec.ProcName = "s";
    list.repaint();
    EXPECT_EQ(tooltipText(listHwnd()), L"");
    list.clear();
    EXPECT_EQ(tooltipText(listHwnd()), L"");
}

// --- Painting: the control paints into a bitmap of ours ---

class Canvas {
public:
    Canvas(int width, int height) : m_width(width) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        m_dc = ::CreateCompatibleDC(nullptr);
        m_bitmap = ::CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0);
        m_old = ::SelectObject(m_dc, m_bitmap);
    }
    ~Canvas() {
        ::SelectObject(m_dc, m_old);
        ::DeleteObject(m_bitmap);
        ::DeleteDC(m_dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC dc() const { return m_dc; }
    bool ready() const { return m_bits != nullptr; }
    // 0xRRGGBB
    std::uint32_t pixel(int x, int y) const {
        ::GdiFlush();
        return static_cast<const std::uint32_t*>(m_bits)[y * m_width + x] & 0xFFFFFF;
    }

private:
    int m_width;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    void* m_bits = nullptr;
};

int channel(std::uint32_t pixel, int shift) {
    return static_cast<int>((pixel >> shift) & 0xFF);
}

TEST_F(ListViewTest, PaintsTheSelectionBlendedTheGlyphAndTheColumnBackground) {
    addNamed({"a", "b", "c"});
    list.setColumnVisible(ColumnPID, true); // to see its own background
    list.selectRow(list.viewRowAt(1));
    Canvas canvas(880, 400);
    ASSERT_TRUE(canvas.ready());
    ::SendMessageW(listHwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()),
                   PRF_CLIENT | PRF_ERASEBKGND);

    const RECT pid = itemRect(0, view->viewColumnOf(ColumnPID));
    EXPECT_EQ(canvas.pixel(pid.left + 2, pid.top + 2), 0xFFFFECu); // RGB(255, 255, 236)

    const RECT plain = itemRect(0, view->viewColumnOf(ColumnProtocol));
    EXPECT_EQ(canvas.pixel(plain.left + 2, plain.top + 2), 0xFFFFFFu);
    // Grid lines in the active caption's colour on each cell's right and bottom edge.
    const COLORREF caption = ::GetSysColor(COLOR_ACTIVECAPTION);
    const std::uint32_t grid = (std::uint32_t{GetRValue(caption)} << 16) |
                               (std::uint32_t{GetGValue(caption)} << 8) | GetBValue(caption);
    EXPECT_EQ(canvas.pixel(plain.right - 1, plain.top + 5), grid);
    EXPECT_EQ(canvas.pixel(plain.left + 5, plain.bottom - 1), grid);

    // Half the selection colour over white, across the row.
    const RECT selected = itemRect(1, view->viewColumnOf(ColumnProtocol));
    const std::uint32_t blended = canvas.pixel(selected.left + 2, selected.top + 2);
    EXPECT_NEAR(channel(blended, 16), 127, 3);
    EXPECT_NEAR(channel(blended, 8), 191, 3);
    EXPECT_NEAR(channel(blended, 0), 159, 3);

    // The manage glyph: a picture with colours at left + 12, top + 3 of every row's cell, and
    // nothing of it left of there.
    const RECT manage = itemRect(2, view->viewColumnOf(ColumnManage));
    int coloured = 0;
    for (int y = 0; y < 18; ++y) {
        for (int x = 0; x < 19; ++x) {
            if (canvas.pixel(manage.left + 12 + x, manage.top + 3 + y) != 0xFFFFFFu)
                ++coloured;
        }
    }
    EXPECT_GT(coloured, 40);
    for (int y = manage.top; y < manage.bottom - 1; ++y)
        EXPECT_EQ(canvas.pixel(manage.left + 6, y), 0xFFFFFFu) << y;
    EXPECT_TRUE(report.errors.empty());
}

TEST_F(ListViewTest, MarkedRowsAreColouredUnderTheSelection) {
    const std::vector<RowHandle> rows = addNamed({"a", "b", "c", "d"});
    list.setColumnVisible(ColumnPID, true); // the mark's colour covers its own background too
    rows[0]->Rec.Mark = "add";
    rows[1]->Rec.Mark = "md";
    rows[3]->Rec.Mark = "add";
    list.selectRow(rows[3]);
    list.repaint();
    Canvas canvas(880, 400);
    ASSERT_TRUE(canvas.ready());
    ::SendMessageW(listHwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()),
                   PRF_CLIENT | PRF_ERASEBKGND);
    auto rgb = [](const LookRgb& c) {
        return (std::uint32_t{c.red} << 16) | (std::uint32_t{c.green} << 8) | c.blue;
    };
    auto at = [&](int item, int column) {
        const RECT cell = itemRect(item, view->viewColumnOf(column));
        return canvas.pixel(cell.left + 2, cell.top + 2);
    };
    for (const int column : {ColumnPID, ColumnProtocol, ColumnState}) {
        SCOPED_TRACE(column);
        EXPECT_EQ(at(0, column), rgb(MainWindowLook::AddedRowColour));
        EXPECT_EQ(at(1, column), rgb(MainWindowLook::ChangedRowColour));
    }
    EXPECT_EQ(at(2, ColumnProtocol), 0xFFFFFFu);
    EXPECT_EQ(at(2, ColumnPID), 0xFFFFECu);
    // Half the selection colour (0, 128, 64) over the light green.
    const std::uint32_t blended = at(3, ColumnProtocol);
    EXPECT_NEAR(channel(blended, 16), 0xCC / 2, 3);
    EXPECT_NEAR(channel(blended, 8), (255 + 128) / 2, 3);
    EXPECT_NEAR(channel(blended, 0), (0xCC + 64) / 2, 3);
    EXPECT_TRUE(report.errors.empty());
}

// A system that has no icons: the cache here only holds what the test puts into it.
class NoSystemIcons : public SystemImageList {
public:
    int iconIndexOfPath(const std::string&) override { return -1; }
    int copyIcon(int, bool, ImageStore&) override { return -1; }
};

// A 16 x 16 icon of one opaque colour (0xRRGGBB); the caller destroys it.
HICON solidIcon(std::uint32_t rgb) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = -16;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP colour = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!colour || !bits)
        return nullptr;
    auto* pixels = static_cast<std::uint32_t*>(bits);
    for (int i = 0; i < 16 * 16; ++i)
        pixels[i] = 0xFF000000u | rgb;
    const std::vector<BYTE> maskBits(16 * 2, 0);
    HBITMAP mask = ::CreateBitmap(16, 16, 1, 1, maskBits.data());
    ICONINFO parts{};
    parts.fIcon = TRUE;
    parts.hbmColor = colour;
    parts.hbmMask = mask;
    HICON icon = ::CreateIconIndirect(&parts);
    ::DeleteObject(colour);
    ::DeleteObject(mask);
    return icon;
}

TEST_F(ListViewTest, PaintsTheProcessIconBeforeItsName) {
    NoSystemIcons system;
    auto ownStore = std::make_unique<win32ui::Win32ImageStore>(16, 16);
    win32ui::Win32ImageStore* store = ownStore.get();
    TImageListEx smallIcons(std::move(ownStore), system);
    HICON red = solidIcon(0xFF0000);
    ASSERT_NE(red, nullptr);
    ASSERT_EQ(store->addIcon(red), 0);
    ::DestroyIcon(red);
    view->setSmallIcons([store] { return store; });
    add(TcpRow);
    Row noPath = UdpRow;
    noPath.path = "";
    add(noPath);
    list.sort(NoColumn, SortDirection::Ascending);

    Canvas canvas(880, 400);
    ASSERT_TRUE(canvas.ready());
    ::SendMessageW(listHwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()),
                   PRF_CLIENT | PRF_ERASEBKGND);
    const int process = view->viewColumnOf(ColumnProcess);
    const RECT withIcon = itemRect(0, process);
    const int middle = (withIcon.top + withIcon.bottom) / 2;
    EXPECT_EQ(canvas.pixel(withIcon.left + 10, middle), 0xFF0000u);
    const RECT without = itemRect(1, process);
    // A row without a path has no icon.
    for (int x = without.left + 2; x < without.left + 18; ++x)
        EXPECT_NE(canvas.pixel(x, (without.top + without.bottom) / 2), 0xFF0000u) << x;

    // An icon lookup that fails leaves the icon out; painting goes on and reports nothing.
    events.throwOnImage = true;
    Canvas again(880, 400);
    ::SendMessageW(listHwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(again.dc()),
                   PRF_CLIENT | PRF_ERASEBKGND);
    EXPECT_NE(again.pixel(withIcon.left + 10, middle), 0xFF0000u);
    EXPECT_TRUE(report.errors.empty());
}

TEST_F(ListViewTest, TheProcessIconGrowsWithTheDpi) {
    NoSystemIcons system;
    auto ownStore = std::make_unique<win32ui::Win32ImageStore>(16, 16);
    win32ui::Win32ImageStore* store = ownStore.get();
    TImageListEx smallIcons(std::move(ownStore), system);
    HICON red = solidIcon(0xFF0000);
    ASSERT_NE(red, nullptr);
    ASSERT_EQ(store->addIcon(red), 0);
    ::DestroyIcon(red);
    view->setSmallIcons([store] { return store; });
    add(TcpRow);
    view->setDpi(144);

    Canvas canvas(880, 400);
    ASSERT_TRUE(canvas.ready());
    ::SendMessageW(listHwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()),
                   PRF_CLIENT | PRF_ERASEBKGND);
    const RECT cell = itemRect(0, view->viewColumnOf(ColumnProcess));
    const int middle = (cell.top + cell.bottom) / 2;
    // 24 x 24 from 3 pixels in, centred in the 33-pixel row.
    for (const int x : {3, 14, 26})
        EXPECT_EQ(canvas.pixel(cell.left + x, middle), 0xFF0000u) << x;
    for (const int y : {-11, 11})
        EXPECT_EQ(canvas.pixel(cell.left + 14, middle + y), 0xFF0000u) << y;
    EXPECT_NE(canvas.pixel(cell.left + 28, middle), 0xFF0000u);
    view->setDpi(96);
}

// --- The real fill and refresh over a snapshot the test controls ---

File_Rec endpoint(int state, const char* localPort, const char* pid, const char* name) {
    return tcpRecord(state, "10.0.0.5", localPort, "10.0.0.9", "443", pid, name,
                     std::string("C:\\Programs\\") + name);
}

TEST_F(ListViewTest, RefreshKeepsTheSelectedConnectionSelected) {
    std::vector<File_Rec> next{
        endpoint(5, "1001", "11", "alpha.exe"), endpoint(5, "1002", "12", "beta.exe"),
        endpoint(5, "1003", "13", "gamma.exe"), endpoint(2, "1004", "14", "delta.exe")};
    std::vector<File_Rec> tcp;
    std::vector<File_Rec> udp;
    std::size_t netCount = 0;
    ConnectionListHooks hooks;
    hooks.takeSnapshot = [&] {
        tcp = next;
        udp.clear();
    };
    hooks.tcpRecords = &tcp;
    hooks.udpRecords = &udp;
    hooks.setNetCount = [&](std::size_t count) { netCount = count; };
    ConnectionList connections(list, hooks);

    connections.FillList();
    ASSERT_EQ(itemCount(), 4);
    EXPECT_EQ(netCount, 4u);
    EXPECT_EQ(itemText(0, 1), "alpha.exe"); // sorted by process, ascending
    expectViewMirrorsList();

    // The user picks gamma.exe.
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(listHwnd(), LVM_SETITEMSTATE, 3, reinterpret_cast<LPARAM>(&state));
    ASSERT_EQ(list.selectedRow()->Rec.ProcName, "gamma.exe");

    // Rows before it vanish, one that sorts first arrives, its own state changes.
    next = {endpoint(8, "1003", "13", "gamma.exe"), endpoint(2, "1004", "14", "delta.exe"),
            endpoint(5, "1005", "15", "aardvark.exe")};
    connections.RefreshList();
    ASSERT_EQ(itemCount(), 3);
    EXPECT_EQ(itemText(0, 1), "aardvark.exe");
    const int selected = nextItem(LVNI_SELECTED);
    ASSERT_GE(selected, 0);
    EXPECT_EQ(itemText(selected, 1), "gamma.exe");
    EXPECT_EQ(itemText(selected, view->viewColumnOf(ColumnState)), "等待关闭");
    expectViewMirrorsList();
    EXPECT_EQ(selectedCount(), 1);
    EXPECT_EQ(list.viewRowAt(0)->Rec.Mark, "add");
}

} // namespace
