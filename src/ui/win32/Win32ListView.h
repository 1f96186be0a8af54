#pragma once
// The list VTS on screen in Win32: a virtual (owner-data) report-mode ListView over the list
// control kept in memory. It mirrors the list's rows, selection, focused row, columns and sort
// arrow, draws every cell itself (column backgrounds, the process icon, the manage glyph, the
// blended selection), and forwards the user's clicks to the window's list events.
#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>

#include "list/Columns.h"
#include "list/Gestures.h"
#include "list/ImageListEx.h"
#include "list/MemoryListControl.h"
#include "ui/Components.h"

namespace win32ui {

class Win32ImageStore;

class Win32ListView : private ListViewObserver {
public:
    // A virtual report-mode ListView child of `parent` over `list` (observer of it); events go
    // to list.eventHandler() through ui::dispatchEvent(report, ...). `list` and `report` must
    // outlive the view.
    Win32ListView(HWND parent, int controlId, MemoryListControl& list, ui::ErrorReport& report);
    ~Win32ListView() override;
    Win32ListView(const Win32ListView&) = delete;
    Win32ListView& operator=(const Win32ListView&) = delete;

    // nullptr only when the system refused to make the control.
    HWND handle() const { return m_hwnd; }
    HWND header() const { return m_header; }
    void setBounds(int x, int y, int width, int height); // physical pixels

    // Column 1's pictures: the window's 16 x 16 cache (may give nullptr for a while). Its
    // images come from a Win32ImageStore; any other store shows no icons.
    void setSmallIcons(std::function<const Win32ImageStore*()> smallIcons);

    // 96 = 100 %: scales the row height (22 at 96), the header height, the column widths and
    // the manage glyph. Call it again after the parent gives the list a new font.
    void setDpi(int dpi);
    int dpi() const { return m_dpi; }

    // The parent forwards every WM_NOTIFY whose hwndFrom is the list or its header. True when
    // the notification was handled; `result` is then the message's answer.
    bool handleNotify(const NMHDR& header, LRESULT& result);

    // The list column shown by ListView column `viewColumn`, NoColumn for the leading
    // zero-width column (ListView's column 0, which keeps the item's own fixed behaviour) and
    // for numbers out of range. And the reverse: -1 for a column not shown.
    int listColumnAt(int viewColumn) const;
    int viewColumnOf(int listColumn) const;

    // The full text of the cell if it does not fit its cell, else empty: what its tooltip shows.
    std::wstring clippedText(int item, int viewColumn) const;

    // Fits a shown column to its title and the texts of the rows around the visible ones (a
    // double click on its header divider does this), within its limits.
    void fitColumn(int viewColumn);

    // Characters typed less than this apart extend one search text.
    static constexpr DWORD SearchIntervalMs = DWORD(gestures::TypeAheadClock::IntervalMs);
    // Incremental search: `typed` extends the search text when it comes less than
    // SearchIntervalMs after the last character (`when` in milliseconds, as GetMessageTime
    // gives it), else starts a new one; the first row from the focused one on (wrapping) whose
    // text in the search column begins with it, ignoring case, is selected and focused. The
    // search column is the column last clicked, else column 1. False when no row matches.
    bool typeAhead(const std::wstring& typed, DWORD when);

private:
    static LRESULT CALLBACK listProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);
    static LRESULT CALLBACK headerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void releaseHeader();
    void reportEscaped(std::exception_ptr error);
    LRESULT onListMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    LRESULT onHeaderMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    bool onHeaderNotify(const NMHEADERW& notify, LRESULT& result);

    // ListViewObserver
    void rowsAboutToBeRemoved(std::size_t first, std::size_t last) override;
    void rowsRemoved() override;
    void rowsAboutToBeInserted(std::size_t first, std::size_t last) override;
    void rowsInserted() override;
    void layoutAboutToBeChanged() override;
    void layoutChanged() override;
    void allRowsChanged() override;
    void viewAboutToBeReset() override;
    void viewReset() override;
    void selectionChanged() override;
    void focusedRowChanged() override;
    void columnChanged(int index) override;
    void sortIndicatorChanged() override;
    void focusRequested() override;

    void createColumns();
    void applyColumn(int listColumn);
    void insertViewColumn(int listColumn);
    void syncSortIndicator();
    void syncItemCount(bool invalidateFrom, std::size_t first);
    void countChanged(std::size_t first);
    void flushPending();
    void syncFromList();
    void takeViewState();
    void applyRowHeight();
    void applyHeaderHeight();
    void applyColumnWidths();
    int measuredRowHeight();
    int scaled(int designPixels) const;
    int limitWidth(int listColumn, int width) const;
    void setViewColumnWidth(int viewColumn, int width);

    LRESULT customDraw(NMLVCUSTOMDRAW& draw);
    void drawCell(HDC dc, int item, int viewColumn, RowHandle row);
    void drawSelection(HDC dc, int item);
    void getDispInfo(NMLVDISPINFOW& info);
    int findItem(const NMLVFINDITEMW& find);
    int searchColumn() const;
    bool cellTextStartsWith(RowHandle row, int listColumn, const std::wstring& prefix) const;
    void headerClicked(int column);
    void rightClick(POINT client, bool fromKeyboard);
    void leftClick(const NMITEMACTIVATE& click);
    void doubleClick(const NMITEMACTIVATE& click);
    void updateTooltip(POINT client);
    int iconRoom(RowHandle row, int listColumn) const;
    LRESULT headerCustomDraw(NMCUSTOMDRAW& draw);
    ListControlEvents* events() const { return m_list.eventHandler(); }
    RowHandle rowAt(int item) const;
    int itemOf(RowHandle row) const;

    MemoryListControl& m_list;
    ui::ErrorReport& m_report;
    HWND m_hwnd = nullptr;
    HWND m_header = nullptr;
    WNDPROC m_headerDefault = nullptr; // the header's own window procedure
    HWND m_tooltip = nullptr;
    int m_dpi = 96;
    // List columns in ListView order, after the leading zero-width column.
    std::vector<int> m_shown;
    // Each column's width at 96 DPI: the layout's, then what the user made of it.
    std::array<int, AllColumnCount> m_designWidth{};
    std::function<const Win32ImageStore*()> m_smallIcons;
    HIMAGELIST m_rowSpacer = nullptr; // sets the row height; holds no visible picture
    HBITMAP m_manageGlyph = nullptr;
    SIZE m_manageSize{};
    int m_syncing = 0;   // our own changes of the ListView's state are not the user's
    int m_structure = 0; // rows being removed, inserted or moved
    std::size_t m_changeFirst = 0;
    // Rows were removed or inserted and the ListView has not heard yet: it hears once, before
    // the next message it handles, however many groups of rows a refresh changed.
    bool m_countPending = false;
    bool m_flushPosted = false;
    std::size_t m_pendingFirst = 0;
    bool m_settingWidth = false;
    gestures::HeaderPress m_headerPress; // on header items, not list columns
    gestures::TypeAhead<std::wstring> m_search;
    DWORD m_lastKeyTime = 0;
    std::int64_t m_searchTime = 0; // message times, unwrapped
    bool m_searchStarted = false;
    int m_tipItem = -1;
    int m_tipColumn = -1;
    std::wstring m_tipText;
};

} // namespace win32ui
