#include "ui/win32/Win32ListView.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

#include <windowsx.h>

#include "ui/MainWindowLook.h"
#include "ui/win32/GdiScope.h"
#include "ui/win32/Win32ImageList.h"
#include "ui/win32/XpmPicture.h"

#include "ui/pictures/manage.xpm"

namespace win32ui {

namespace {

// How strongly the selection colour covers the row (of 255).
constexpr BYTE SelectionAlpha = 128;
// Space between a cell's edge and its text, and between the icon and the text, at 96 DPI.
constexpr int TextMargin = 4;
constexpr int IconMargin = 2;
constexpr UINT_PTR SubclassId = 1;
constexpr UINT_PTR TipId = 1;

// Posted to the list itself to bring it up to date with rows changed in the meantime.
UINT flushMessage() {
    static const UINT message = ::RegisterWindowMessageW(L"KestrelListViewFlush");
    return message;
}

std::wstring wideOf(std::string_view text) {
    if (text.empty())
        return {};
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    return wide;
}

COLORREF colourOf(Rgb rgb) {
    return RGB(rgb.r, rgb.g, rgb.b);
}

int formatOf(ColumnAlignment alignment) {
    switch (alignment) {
    case ColumnAlignment::Center:
        return LVCFMT_CENTER;
    case ColumnAlignment::Right:
        return LVCFMT_RIGHT;
    case ColumnAlignment::Left:
        break;
    }
    return LVCFMT_LEFT;
}

UINT drawTextAlignment(ColumnAlignment alignment) {
    switch (alignment) {
    case ColumnAlignment::Center:
        return DT_CENTER;
    case ColumnAlignment::Right:
        return DT_RIGHT;
    case ColumnAlignment::Left:
        break;
    }
    return DT_LEFT;
}

// A memory DC holding a 1 x 1 bitmap of one colour, for blending a rectangle of that colour.
class ColourDot {
public:
    ColourDot(HDC compatible, COLORREF colour)
        : m_dc(::CreateCompatibleDC(compatible)),
          m_bitmap(m_dc ? ::CreateCompatibleBitmap(compatible, 1, 1) : nullptr) {
        if (m_bitmap) {
            m_old = ::SelectObject(m_dc, m_bitmap);
            ::SetPixel(m_dc, 0, 0, colour);
        }
    }
    ~ColourDot() {
        if (m_old)
            ::SelectObject(m_dc, m_old);
        if (m_bitmap)
            ::DeleteObject(m_bitmap);
        if (m_dc)
            ::DeleteDC(m_dc);
    }
    ColourDot(const ColourDot&) = delete;
    ColourDot& operator=(const ColourDot&) = delete;
    HDC dc() const { return m_old ? m_dc : nullptr; }

private:
    HDC m_dc;
    HBITMAP m_bitmap;
    HGDIOBJ m_old = nullptr;
};

} // namespace

Win32ListView::Win32ListView(HWND parent, int controlId, MemoryListControl& list,
                             ui::ErrorReport& report)
    : m_list(list), m_report(report) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&classes);
    for (int column = 0; column < m_list.columnCount(); ++column)
        m_designWidth[static_cast<std::size_t>(column)] = m_list.column(column).width;

    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    m_hwnd = ::CreateWindowExW(
        0, WC_LISTVIEWW, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT | LVS_OWNERDATA |
            LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS,
        0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), instance,
        nullptr);
    if (!m_hwnd)
        return;
    m_header = ListView_GetHeader(m_hwnd);
    ::SetWindowSubclass(m_hwnd, &Win32ListView::listProc, SubclassId,
                        reinterpret_cast<DWORD_PTR>(this));
    if (m_header) {
        // The header is asked for its items' rectangles once per row in some operations (a
        // keyboard step in a list of 100,000 rows): a plain window-procedure subclass costs
        // nothing there, where the common controls' subclassing looks up a window property on
        // every message.
        ::SetWindowLongPtrW(m_header, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_headerDefault = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
            m_header, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32ListView::headerProc)));
        ::SetWindowLongPtrW(m_header, GWL_STYLE,
                            ::GetWindowLongPtrW(m_header, GWL_STYLE) | HDS_HOTTRACK);
    }
    // No LVS_EX_GRIDLINES: its colour cannot be chosen, so each cell draws its own grid lines,
    // and only rows have them.
    const DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
    ListView_SetExtendedListViewStyleEx(m_hwnd, extended, extended);
    // The selection is drawn as a blended rectangle; no dotted focus frame over it.
    ::SendMessageW(m_hwnd, WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);

    const Picture glyph = parseXpm(manage, std::size(manage));
    m_manageGlyph = createBitmap(glyph);
    m_manageSize = SIZE{glyph.width, glyph.height};

    // Our own tooltip: the ListView's label tips only cover its first column.
    m_tooltip =
        ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                          WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, m_hwnd, nullptr, instance, nullptr);
    if (m_tooltip) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_SUBCLASS | TTF_TRANSPARENT;
        tool.hwnd = m_hwnd;
        tool.uId = TipId;
        tool.lpszText = LPSTR_TEXTCALLBACKW;
        ::SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }

    createColumns();
    applyRowHeight();
    m_list.setObserver(this);
    syncItemCount(false, 0);
}

Win32ListView::~Win32ListView() {
    m_list.setObserver(nullptr);
    if (m_tooltip)
        ::DestroyWindow(m_tooltip);
    if (m_hwnd) {
        releaseHeader();
        ::RemoveWindowSubclass(m_hwnd, &Win32ListView::listProc, SubclassId);
        ::DestroyWindow(m_hwnd);
    }
    if (m_rowSpacer)
        ::ImageList_Destroy(m_rowSpacer);
    if (m_manageGlyph)
        ::DeleteObject(m_manageGlyph);
}

void Win32ListView::setBounds(int x, int y, int width, int height) {
    if (m_hwnd)
        ::MoveWindow(m_hwnd, x, y, width, height, TRUE);
}

void Win32ListView::setSmallIcons(std::function<const Win32ImageStore*()> smallIcons) {
    m_smallIcons = std::move(smallIcons);
    if (m_hwnd)
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
}

void Win32ListView::setDpi(int dpi) {
    m_dpi = dpi > 0 ? dpi : 96;
    if (!m_hwnd)
        return;
    applyColumnWidths();
    // A font change makes the ListView lay out its header again (and us the rows).
    ::SendMessageW(m_hwnd, WM_SETFONT, ::SendMessageW(m_hwnd, WM_GETFONT, 0, 0), TRUE);
}

int Win32ListView::scaled(int designPixels) const {
    return ::MulDiv(designPixels, m_dpi, 96);
}

RowHandle Win32ListView::rowAt(int item) const {
    if (item < 0)
        return nullptr;
    return m_list.viewRowAt(static_cast<std::size_t>(item));
}

int Win32ListView::itemOf(RowHandle row) const {
    return static_cast<int>(m_list.viewIndexOf(row));
}

int Win32ListView::listColumnAt(int viewColumn) const {
    if (viewColumn < 1 || viewColumn > static_cast<int>(m_shown.size()))
        return NoColumn;
    return m_shown[static_cast<std::size_t>(viewColumn - 1)];
}

int Win32ListView::viewColumnOf(int listColumn) const {
    const auto found = std::find(m_shown.begin(), m_shown.end(), listColumn);
    if (found == m_shown.end())
        return -1;
    return static_cast<int>(found - m_shown.begin()) + 1;
}

// --- Columns ---

void Win32ListView::createColumns() {
    // ListView's column 0 cannot be deleted, is always left-aligned and holds the item's own
    // image: a zero-width column that nobody can widen takes that place.
    LVCOLUMNW first{};
    first.mask = LVCF_WIDTH | LVCF_FMT;
    first.fmt = LVCFMT_LEFT;
    first.cx = 0;
    ::SendMessageW(m_hwnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&first));
    for (int column = 0; column < m_list.columnCount(); ++column) {
        if (m_list.column(column).visible)
            insertViewColumn(column);
    }
    syncSortIndicator();
}

int Win32ListView::limitWidth(int listColumn, int width) const {
    if (listColumn == NoColumn)
        return 0;
    return gestures::LimitWidth(m_list.column(listColumn), width,
                                [this](int pixels) { return scaled(pixels); });
}

void Win32ListView::insertViewColumn(int listColumn) {
    const ListColumn& header = m_list.column(listColumn);
    const auto position = std::lower_bound(m_shown.begin(), m_shown.end(), listColumn);
    const int viewColumn = static_cast<int>(position - m_shown.begin()) + 1;
    std::wstring title = wideOf(header.title);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH | LVCF_FMT | LVCF_TEXT;
    column.fmt = formatOf(header.alignment);
    column.cx = limitWidth(listColumn, scaled(m_designWidth[static_cast<std::size_t>(listColumn)]));
    column.pszText = title.data();
    m_settingWidth = true;
    const LRESULT inserted =
        ::SendMessageW(m_hwnd, LVM_INSERTCOLUMNW, static_cast<WPARAM>(viewColumn),
                       reinterpret_cast<LPARAM>(&column));
    m_settingWidth = false;
    if (inserted >= 0)
        m_shown.insert(position, listColumn);
}

void Win32ListView::applyColumn(int listColumn) {
    if (listColumn < 0 || listColumn >= m_list.columnCount() || !m_hwnd)
        return;
    const ListColumn& header = m_list.column(listColumn);
    const int viewColumn = viewColumnOf(listColumn);
    if (header.visible && viewColumn < 0) {
        insertViewColumn(listColumn);
    } else if (!header.visible && viewColumn > 0) {
        if (::SendMessageW(m_hwnd, LVM_DELETECOLUMN, static_cast<WPARAM>(viewColumn), 0))
            m_shown.erase(m_shown.begin() + (viewColumn - 1));
    } else if (viewColumn > 0) {
        std::wstring title = wideOf(header.title);
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_TEXT;
        column.fmt = formatOf(header.alignment);
        column.pszText = title.data();
        ::SendMessageW(m_hwnd, LVM_SETCOLUMNW, static_cast<WPARAM>(viewColumn),
                       reinterpret_cast<LPARAM>(&column));
        const int width = static_cast<int>(
            ::SendMessageW(m_hwnd, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(viewColumn), 0));
        if (limitWidth(listColumn, width) != width)
            setViewColumnWidth(viewColumn, limitWidth(listColumn, width));
    }
    syncSortIndicator();
    ::InvalidateRect(m_hwnd, nullptr, FALSE);
}

void Win32ListView::setViewColumnWidth(int viewColumn, int width) {
    const bool wasSetting = m_settingWidth;
    m_settingWidth = true;
    ::SendMessageW(m_hwnd, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(viewColumn),
                   MAKELPARAM(width, 0));
    m_settingWidth = wasSetting;
}

void Win32ListView::applyColumnWidths() {
    for (int viewColumn = 1; viewColumn <= static_cast<int>(m_shown.size()); ++viewColumn) {
        const int listColumn = listColumnAt(viewColumn);
        setViewColumnWidth(
            viewColumn,
            limitWidth(listColumn, scaled(m_designWidth[static_cast<std::size_t>(listColumn)])));
    }
}

void Win32ListView::syncSortIndicator() {
    if (!m_header)
        return;
    const int sortColumn = m_list.sortColumn();
    const int sortFlag =
        m_list.sortDirection() == SortDirection::Ascending ? HDF_SORTUP : HDF_SORTDOWN;
    const int items = static_cast<int>(::SendMessageW(m_header, HDM_GETITEMCOUNT, 0, 0));
    for (int viewColumn = 0; viewColumn < items; ++viewColumn) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        if (!::SendMessageW(m_header, HDM_GETITEMW, static_cast<WPARAM>(viewColumn),
                            reinterpret_cast<LPARAM>(&item)))
            continue;
        int format = item.fmt & ~(HDF_SORTUP | HDF_SORTDOWN);
        if (viewColumn > 0 && listColumnAt(viewColumn) == sortColumn)
            format |= sortFlag;
        if (format == item.fmt)
            continue;
        item.fmt = format;
        ::SendMessageW(m_header, HDM_SETITEMW, static_cast<WPARAM>(viewColumn),
                       reinterpret_cast<LPARAM>(&item));
    }
}

// --- Row height ---

int Win32ListView::measuredRowHeight() {
    // An empty list has no item to measure: show it one for a moment, unpainted.
    const bool empty = ::SendMessageW(m_hwnd, LVM_GETITEMCOUNT, 0, 0) == 0;
    ++m_syncing;
    if (empty)
        ::SendMessageW(m_hwnd, LVM_SETITEMCOUNT, 1, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    const bool measured =
        ::SendMessageW(m_hwnd, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&bounds)) != FALSE;
    if (empty)
        ::SendMessageW(m_hwnd, LVM_SETITEMCOUNT, 0, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    --m_syncing;
    return measured ? static_cast<int>(bounds.bottom - bounds.top) : 0;
}

void Win32ListView::applyRowHeight() {
    // A report view's rows are as high as the taller of its font and its small images, plus a
    // padding of the control's own: an invisible image list of the right height sets the rows,
    // measured once and corrected by what the control added.
    const int target = scaled(ListRowHeight);
    int spacerHeight = target;
    for (int attempt = 0; attempt < 3 && spacerHeight > 0; ++attempt) {
        HIMAGELIST spacer = ::ImageList_Create(1, spacerHeight, ILC_COLOR32, 1, 0);
        if (!spacer)
            return;
        ::SendMessageW(m_hwnd, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(spacer));
        if (m_rowSpacer)
            ::ImageList_Destroy(m_rowSpacer);
        m_rowSpacer = spacer;
        const int measured = measuredRowHeight();
        if (measured <= 0 || measured == target)
            return;
        const int corrected = spacerHeight + (target - measured);
        if (corrected == spacerHeight)
            return;
        spacerHeight = corrected;
    }
}

// --- The list's changes ---

void Win32ListView::rowsAboutToBeRemoved(std::size_t first, std::size_t) {
    ++m_structure;
    m_changeFirst = first;
}

void Win32ListView::rowsRemoved() {
    --m_structure;
    countChanged(m_changeFirst);
}

void Win32ListView::rowsAboutToBeInserted(std::size_t first, std::size_t) {
    ++m_structure;
    m_changeFirst = first;
}

void Win32ListView::rowsInserted() {
    --m_structure;
    countChanged(m_changeFirst);
}

// A refresh reports every run of removed rows on its own, and each new item count costs the
// ListView time in proportion to the rows: the count, the repaint and the selection are brought
// over once, when the ListView next handles a message (at the latest the one posted here).
void Win32ListView::countChanged(std::size_t first) {
    if (!m_hwnd)
        return;
    m_pendingFirst = m_countPending ? std::min(m_pendingFirst, first) : first;
    m_countPending = true;
    if (!m_flushPosted && flushMessage() != 0)
        m_flushPosted = ::PostMessageW(m_hwnd, flushMessage(), 0, 0) != FALSE;
}

void Win32ListView::flushPending() {
    if (!m_countPending)
        return;
    m_countPending = false;
    syncItemCount(true, m_pendingFirst);
    syncFromList();
}

void Win32ListView::layoutAboutToBeChanged() {
    ++m_structure;
}

void Win32ListView::layoutChanged() {
    --m_structure;
    if (m_hwnd)
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
    syncFromList();
}

void Win32ListView::viewAboutToBeReset() {
    ++m_structure;
}

// The filter changed which rows are shown: every item may now be another row.
void Win32ListView::viewReset() {
    --m_structure;
    syncItemCount(false, 0);
    if (m_hwnd)
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
    syncFromList();
}

void Win32ListView::allRowsChanged() {
    if (m_hwnd)
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
}

void Win32ListView::selectionChanged() {
    syncFromList();
}

void Win32ListView::focusedRowChanged() {
    syncFromList();
}

void Win32ListView::columnChanged(int index) {
    applyColumn(index);
}

void Win32ListView::sortIndicatorChanged() {
    syncSortIndicator();
}

void Win32ListView::focusRequested() {
    if (m_hwnd)
        ::SetFocus(m_hwnd);
}

// Tells the ListView the new number of rows, keeping its scroll position, and repaints the rows
// from `first` on (every row after a removed or inserted one has moved).
void Win32ListView::syncItemCount(bool invalidateFrom, std::size_t first) {
    if (!m_hwnd)
        return;
    const std::size_t count = m_list.viewRowCount();
    ++m_syncing;
    ::SendMessageW(m_hwnd, LVM_SETITEMCOUNT, static_cast<WPARAM>(count),
                   LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    --m_syncing;
    if (!invalidateFrom)
        return;
    RECT client{};
    ::GetClientRect(m_hwnd, &client);
    const auto top = static_cast<std::size_t>(
        std::max<LRESULT>(0, ::SendMessageW(m_hwnd, LVM_GETTOPINDEX, 0, 0)));
    if (first > top && count > 0) {
        RECT row{};
        row.left = LVIR_BOUNDS;
        const std::size_t shown = std::min(first, count - 1);
        if (::SendMessageW(m_hwnd, LVM_GETITEMRECT, static_cast<WPARAM>(shown),
                           reinterpret_cast<LPARAM>(&row))) {
            client.top = std::max(client.top, first < count ? row.top : row.bottom);
        }
    }
    if (client.top < client.bottom)
        ::InvalidateRect(m_hwnd, &client, FALSE);
}

// Puts the list control's selection and focused row onto the ListView's items by position.
// Asks only about the wanted items and the selected count: a search for the selected or
// focused item walks every item in some implementations.
void Win32ListView::syncFromList() {
    if (!m_hwnd || m_syncing > 0 || m_structure > 0 || m_countPending)
        return;
    ++m_syncing;
    const int wanted = itemOf(m_list.selectedRow());
    const auto selected = ::SendMessageW(m_hwnd, LVM_GETSELECTEDCOUNT, 0, 0);
    const bool selectionRight =
        wanted < 0 ? selected == 0
                   : selected == 1 && ::SendMessageW(m_hwnd, LVM_GETITEMSTATE,
                                                     static_cast<WPARAM>(wanted), LVIS_SELECTED);
    if (!selectionRight) {
        // Clearing "all items", or selecting one while another is selected, makes some
        // implementations visit every item: the selected ones are looked up and cleared one by
        // one first, then the wanted one is selected.
        LVITEMW state{};
        state.stateMask = LVIS_SELECTED;
        state.state = 0;
        for (int guard = 0; guard < 4 && ::SendMessageW(m_hwnd, LVM_GETSELECTEDCOUNT, 0, 0) > 0;
             ++guard) {
            const int stray = static_cast<int>(::SendMessageW(
                m_hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
            if (stray < 0)
                break;
            ::SendMessageW(m_hwnd, LVM_SETITEMSTATE, static_cast<WPARAM>(stray),
                           reinterpret_cast<LPARAM>(&state));
        }
        if (wanted >= 0) {
            state.state = LVIS_SELECTED;
            ::SendMessageW(m_hwnd, LVM_SETITEMSTATE, static_cast<WPARAM>(wanted),
                           reinterpret_cast<LPARAM>(&state));
        }
    }
    const int wantedFocus = itemOf(m_list.focusedRow());
    LVITEMW focus{};
    focus.stateMask = LVIS_FOCUSED;
    if (wantedFocus >= 0) {
        if (!::SendMessageW(m_hwnd, LVM_GETITEMSTATE, static_cast<WPARAM>(wantedFocus),
                            LVIS_FOCUSED)) {
            focus.state = LVIS_FOCUSED;
            ::SendMessageW(m_hwnd, LVM_SETITEMSTATE, static_cast<WPARAM>(wantedFocus),
                           reinterpret_cast<LPARAM>(&focus));
            ::SendMessageW(m_hwnd, LVM_SETSELECTIONMARK, 0, wantedFocus);
        }
    } else {
        const int haveFocus = static_cast<int>(::SendMessageW(
            m_hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_FOCUSED, 0)));
        if (haveFocus >= 0) {
            focus.state = 0;
            ::SendMessageW(m_hwnd, LVM_SETITEMSTATE, static_cast<WPARAM>(haveFocus),
                           reinterpret_cast<LPARAM>(&focus));
        }
    }
    --m_syncing;
}

// The user changed the ListView's selection or focus: the list control takes it.
void Win32ListView::takeViewState() {
    if (m_syncing > 0 || m_structure > 0)
        return;
    const RowHandle selected = rowAt(static_cast<int>(::SendMessageW(
        m_hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0))));
    const RowHandle focused = rowAt(static_cast<int>(::SendMessageW(
        m_hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_FOCUSED, 0))));
    // The ListView is in the middle of its own change: nothing is written back to it now.
    ++m_syncing;
    ui::dispatchEvent(m_report, [this, selected, focused] {
        m_list.selectRow(selected);
        m_list.setFocusedRow(focused);
    });
    --m_syncing;
}

// --- Notifications ---

bool Win32ListView::handleNotify(const NMHDR& header, LRESULT& result) {
    if (!m_hwnd || header.hwndFrom != m_hwnd)
        return false;
    switch (header.code) {
    case LVN_GETDISPINFOW:
        getDispInfo(*reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header)));
        result = 0;
        return true;
    case LVN_ODFINDITEMW:
        result = findItem(*reinterpret_cast<const NMLVFINDITEMW*>(&header));
        return true;
    case LVN_ITEMCHANGED: {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if (change.uChanged & LVIF_STATE)
            takeViewState();
        result = 0;
        return true;
    }
    case LVN_ODSTATECHANGED:
        takeViewState();
        result = 0;
        return true;
    case NM_CUSTOMDRAW:
        result = customDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(&header)));
        return true;
    case NM_CLICK:
        leftClick(reinterpret_cast<const NMITEMACTIVATE&>(header));
        result = 0;
        return true;
    case NM_DBLCLK:
        doubleClick(reinterpret_cast<const NMITEMACTIVATE&>(header));
        result = 0;
        return true;
    case NM_RCLICK:
        // The right click is handled where the button goes down and up; no WM_CONTEXTMENU.
        result = 1;
        return true;
    default:
        return false;
    }
}

void Win32ListView::getDispInfo(NMLVDISPINFOW& info) {
    if (!(info.item.mask & LVIF_TEXT) || !info.item.pszText || info.item.cchTextMax <= 0)
        return;
    const RowHandle row = rowAt(info.item.iItem);
    const int column = listColumnAt(info.item.iSubItem);
    const std::wstring text =
        row && column != NoColumn ? wideOf(VTSGetText(row->Rec, column)) : std::wstring();
    const std::size_t room = static_cast<std::size_t>(info.item.cchTextMax) - 1;
    const std::size_t length = std::min(text.size(), room);
    std::copy_n(text.data(), length, info.item.pszText);
    info.item.pszText[length] = L'\0';
}

int Win32ListView::searchColumn() const {
    return m_search.searchColumn([this](int column) { return viewColumnOf(column) > 0; });
}

bool Win32ListView::cellTextStartsWith(RowHandle row, int listColumn,
                                       const std::wstring& prefix) const {
    if (!row)
        return false;
    const std::wstring text = wideOf(VTSGetText(row->Rec, listColumn));
    if (text.size() < prefix.size())
        return false;
    if (prefix.empty())
        return true;
    return ::CompareStringOrdinal(text.data(), static_cast<int>(prefix.size()), prefix.data(),
                                  static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

int Win32ListView::findItem(const NMLVFINDITEMW& find) {
    const LVFINDINFOW& info = find.lvfi;
    if (!(info.flags & (LVFI_STRING | LVFI_PARTIAL)) || !info.psz)
        return -1;
    const int count = static_cast<int>(m_list.viewRowCount());
    if (count == 0)
        return -1;
    const std::wstring wanted(info.psz);
    const int column = searchColumn();
    const bool partial = (info.flags & LVFI_PARTIAL) != 0;
    const bool wrap = (info.flags & LVFI_WRAP) != 0;
    const int start = std::clamp(find.iStart, 0, count);
    const int steps = wrap ? count : count - start;
    for (int step = 0; step < steps; ++step) {
        const int item = (start + step) % count;
        const RowHandle row = rowAt(item);
        if (!cellTextStartsWith(row, column, wanted))
            continue;
        if (partial || wideOf(VTSGetText(row->Rec, column)).size() == wanted.size())
            return item;
    }
    return -1;
}

bool Win32ListView::typeAhead(const std::wstring& typed, DWORD when) {
    if (typed.empty())
        return false;
    // GetMessageTime wraps round after 49.7 days; the difference of two such times does not.
    if (m_searchStarted)
        m_searchTime += static_cast<DWORD>(when - m_lastKeyTime);
    m_searchStarted = true;
    m_lastKeyTime = when;
    const std::wstring& text = m_search.type(typed, m_searchTime);

    const int column = searchColumn();
    const int item = gestures::FindFrom(
        std::max(0, itemOf(m_list.focusedRow())), static_cast<int>(m_list.viewRowCount()),
        [&](int candidate) { return cellTextStartsWith(rowAt(candidate), column, text); });
    if (item < 0)
        return false;
    const RowHandle row = rowAt(item);
    ui::dispatchEvent(m_report, [this, row] {
        m_list.selectRow(row);
        m_list.setFocusedRow(row);
    });
    if (m_hwnd)
        ::SendMessageW(m_hwnd, LVM_ENSUREVISIBLE, static_cast<WPARAM>(item), FALSE);
    return true;
}

void Win32ListView::headerClicked(int column) {
    ui::dispatchEvent(m_report, [this, column] {
        if (ListControlEvents* handler = events())
            handler->VTSHeaderClick(column);
    });
    syncSortIndicator();
}

void Win32ListView::rightClick(POINT client, bool fromKeyboard) {
    RowHandle row = nullptr;
    int column = NoColumn;
    POINT where = client;
    if (fromKeyboard) {
        row = m_list.focusedRow();
        const int item = itemOf(row);
        if (item >= 0) {
            column = searchColumn();
            RECT cell{};
            cell.top = viewColumnOf(column);
            cell.left = LVIR_BOUNDS;
            if (::SendMessageW(m_hwnd, LVM_GETSUBITEMRECT, static_cast<WPARAM>(item),
                               reinterpret_cast<LPARAM>(&cell)))
                where = POINT{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
        } else {
            row = nullptr;
            RECT area{};
            ::GetClientRect(m_hwnd, &area);
            where = POINT{(area.left + area.right) / 2, (area.top + area.bottom) / 2};
        }
    } else {
        LVHITTESTINFO hit{};
        hit.pt = client;
        const int item = static_cast<int>(
            ::SendMessageW(m_hwnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        if (item >= 0 && (hit.flags & LVHT_ONITEM)) {
            row = rowAt(item);
            column = row ? listColumnAt(hit.iSubItem) : NoColumn;
        }
    }
    ::ClientToScreen(m_hwnd, &where);
    ui::dispatchEvent(m_report, [this, row, column, where] {
        gestures::SelectForMenu(m_list, row);
        if (ListControlEvents* handler = events())
            handler->VTSGetPopupMenu(row, column, ScreenPoint{where.x, where.y});
    });
}

void Win32ListView::leftClick(const NMITEMACTIVATE& click) {
    LVHITTESTINFO hit{};
    hit.pt = click.ptAction;
    const int item = static_cast<int>(
        ::SendMessageW(m_hwnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    const RowHandle row = rowAt(item >= 0 ? item : click.iItem);
    if (!row)
        return;
    const int column = listColumnAt(item >= 0 ? hit.iSubItem : click.iSubItem);
    m_search.cellClicked(column);
    POINT where = click.ptAction;
    ::ClientToScreen(m_hwnd, &where);
    ui::dispatchEvent(m_report, [this, row, column, where] {
        m_list.selectRow(row);
        m_list.setFocusedRow(row);
        if (ListControlEvents* handler = events())
            handler->VTSColumnClick(column, ScreenPoint{where.x, where.y});
    });
}

// A double click anywhere in the list counts, below the last row too: the window acts on the
// focused row.
void Win32ListView::doubleClick(const NMITEMACTIVATE&) {
    ui::dispatchEvent(m_report, [this] {
        if (ListControlEvents* handler = events())
            handler->VTSDblClick();
    });
}

// --- Painting ---

namespace {

struct CellIcon {
    HIMAGELIST list = nullptr;
    int index = -1;
    int width = 0;
    int height = 0;
};

} // namespace

LRESULT Win32ListView::customDraw(NMLVCUSTOMDRAW& draw) {
    const int item = static_cast<int>(draw.nmcd.dwItemSpec);
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        // The control's own highlight and focus frame stay off: the selection is blended over
        // the row afterwards, the same with and without the keyboard focus.
        draw.nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
        return CDRF_NOTIFYSUBITEMDRAW | CDRF_NOTIFYPOSTPAINT;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
        if (draw.iSubItem > 0)
            drawCell(draw.nmcd.hdc, item, draw.iSubItem, rowAt(item));
        return CDRF_SKIPDEFAULT;
    case CDDS_ITEMPOSTPAINT: {
        const RowHandle row = rowAt(item);
        if (row && row == m_list.selectedRow())
            drawSelection(draw.nmcd.hdc, item);
        return CDRF_DODEFAULT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

void Win32ListView::drawCell(HDC dc, int item, int viewColumn, RowHandle row) {
    const int column = listColumnAt(viewColumn);
    if (!row || column == NoColumn)
        return;
    RECT cell{};
    cell.top = viewColumn;
    cell.left = LVIR_BOUNDS;
    if (!::SendMessageW(m_hwnd, LVM_GETSUBITEMRECT, static_cast<WPARAM>(item),
                        reinterpret_cast<LPARAM>(&cell)))
        return;
    const ListColumn& header = m_list.column(column);
    // The grid lines, in the active caption's colour, take the cell's right and bottom pixels.
    RECT fill = cell;
    fill.right = std::max(fill.left, fill.right - 1);
    fill.bottom = std::max(fill.top, fill.bottom - 1);
    const std::optional<LookRgb> colour = MainWindowLook::CellBackground(row->Rec, header);
    const COLORREF background =
        colour ? RGB(colour->red, colour->green, colour->blue) : RGB(255, 255, 255);
    const int savedDc = ::SaveDC(dc);
    ::SetBkColor(dc, background);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &fill, nullptr, 0, nullptr);
    ::IntersectClipRect(dc, fill.left, fill.top, fill.right, fill.bottom);

    RECT text = fill;
    text.left += scaled(TextMargin);
    text.right -= scaled(TextMargin);
    if (column == ColumnProcess) {
        CellIcon icon;
        const Win32ImageStore* store = m_smallIcons ? m_smallIcons() : nullptr;
        if (store && store->handle()) {
            // Painting must go on whatever the icon lookup does.
            try {
                if (ListControlEvents* handler = events())
                    icon.index = handler->VTSGetImageIndex(row, column);
            } catch (...) {
                icon.index = -1;
            }
            if (icon.index >= 0 && icon.index < store->count()) {
                icon.list = store->handle();
                icon.width = store->width();
                icon.height = store->height();
            }
        }
        if (icon.list) {
            const int width = scaled(icon.width);
            const int height = scaled(icon.height);
            const int x = fill.left + scaled(IconMargin);
            const int y = fill.top + (fill.bottom - fill.top - height) / 2;
            drawImage(icon.list, icon.index, dc, x, y, width, height);
            text.left = x + width + scaled(TextMargin);
        }
    }
    const std::wstring content = wideOf(VTSGetText(row->Rec, column));
    if (!content.empty() && text.left < text.right) {
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::DrawTextW(dc, content.c_str(), static_cast<int>(content.size()), &text,
                    DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS |
                        drawTextAlignment(header.alignment));
    }
    if (column == ColumnManage && m_manageGlyph) {
        // Drawn at the same place in every row, whatever the column's alignment.
        const HDC glyphDc = ::CreateCompatibleDC(dc);
        if (glyphDc) {
            const HGDIOBJ old = ::SelectObject(glyphDc, m_manageGlyph);
            const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            ::GdiAlphaBlend(dc, cell.left + scaled(ManageGlyphLeft),
                            cell.top + scaled(ManageGlyphTop), scaled(m_manageSize.cx),
                            scaled(m_manageSize.cy), glyphDc, 0, 0, m_manageSize.cx,
                            m_manageSize.cy, blend);
            ::SelectObject(glyphDc, old);
            ::DeleteDC(glyphDc);
        }
    }
    ::RestoreDC(dc, savedDc);
    const int gridDc = ::SaveDC(dc);
    ::SetBkColor(dc, ::GetSysColor(COLOR_ACTIVECAPTION));
    const RECT right{fill.right, cell.top, cell.right, cell.bottom};
    const RECT bottom{cell.left, fill.bottom, cell.right, cell.bottom};
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &right, nullptr, 0, nullptr);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &bottom, nullptr, 0, nullptr);
    ::RestoreDC(dc, gridDc);
}

// The header's title under the mouse turns blue.
LRESULT Win32ListView::headerCustomDraw(NMCUSTOMDRAW& draw) {
    switch (draw.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        ::SetTextColor(draw.hdc, (draw.uItemState & CDIS_HOT) ? RGB(0, 0, 255) : RGB(0, 0, 0));
        return CDRF_NEWFONT;
    default:
        return CDRF_DODEFAULT;
    }
}

void Win32ListView::drawSelection(HDC dc, int item) {
    RECT row{};
    row.left = LVIR_BOUNDS;
    if (!::SendMessageW(m_hwnd, LVM_GETITEMRECT, static_cast<WPARAM>(item),
                        reinterpret_cast<LPARAM>(&row)))
        return;
    const ColourDot dot(dc, colourOf(SelectionColour));
    if (!dot.dc())
        return;
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, SelectionAlpha, 0};
    ::GdiAlphaBlend(dc, row.left, row.top, row.right - row.left, row.bottom - row.top, dot.dc(), 0,
                    0, 1, 1, blend);
}

// Room the process icon takes before the text of `row` in `listColumn`; 0 without an icon.
int Win32ListView::iconRoom(RowHandle row, int listColumn) const {
    if (listColumn != ColumnProcess || !row || !m_smallIcons)
        return 0;
    const Win32ImageStore* icons = m_smallIcons();
    if (!icons || icons->count() == 0)
        return 0;
    int index = -1;
    try {
        if (ListControlEvents* handler = events())
            index = handler->VTSGetImageIndex(row, listColumn);
    } catch (...) {
        index = -1;
    }
    return index >= 0 && index < icons->count() ? scaled(IconMargin) + scaled(icons->width()) : 0;
}

void Win32ListView::fitColumn(int viewColumn) {
    const int column = listColumnAt(viewColumn);
    if (column == NoColumn || !m_hwnd)
        return;
    const HDC dc = ::GetDC(m_hwnd);
    if (!dc)
        return;
    int widest = 0;
    {
        const Selection font(dc,
                             reinterpret_cast<HGDIOBJ>(::SendMessageW(m_hwnd, WM_GETFONT, 0, 0)));
        const auto measure = [dc](const std::wstring& text) {
            SIZE size{};
            if (text.empty() ||
                !::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size))
                return 0;
            return static_cast<int>(size.cx);
        };
        // As many rows as a few screens hold, from a little above the first visible row: a
        // list of 100,000 rows is not measured whole on a double click.
        constexpr std::size_t MeasuredRows = 1000;
        const std::size_t count = m_list.viewRowCount();
        const auto top = static_cast<std::size_t>(
            std::max<LRESULT>(0, ::SendMessageW(m_hwnd, LVM_GETTOPINDEX, 0, 0)));
        const std::size_t first = top > MeasuredRows / 2 ? top - MeasuredRows / 2 : 0;
        for (std::size_t item = first; item < count && item < first + MeasuredRows; ++item) {
            const RowHandle row = m_list.viewRowAt(item);
            if (!row)
                continue;
            widest = std::max(widest, measure(wideOf(VTSGetText(row->Rec, column))) +
                                          iconRoom(row, column));
        }
        widest = std::max(widest, measure(wideOf(m_list.column(column).title)) + scaled(12));
    }
    ::ReleaseDC(m_hwnd, dc);
    setViewColumnWidth(viewColumn, limitWidth(column, widest + 2 * scaled(TextMargin) + 1));
    m_designWidth[static_cast<std::size_t>(column)] =
        ::MulDiv(static_cast<int>(::SendMessageW(m_hwnd, LVM_GETCOLUMNWIDTH,
                                                 static_cast<WPARAM>(viewColumn), 0)),
                 96, m_dpi);
}

std::wstring Win32ListView::clippedText(int item, int viewColumn) const {
    const RowHandle row = rowAt(item);
    const int column = listColumnAt(viewColumn);
    if (!row || column == NoColumn || !m_hwnd)
        return {};
    std::wstring content = wideOf(VTSGetText(row->Rec, column));
    if (content.empty())
        return {};
    RECT cell{};
    cell.top = viewColumn;
    cell.left = LVIR_BOUNDS;
    if (!::SendMessageW(m_hwnd, LVM_GETSUBITEMRECT, static_cast<WPARAM>(item),
                        reinterpret_cast<LPARAM>(&cell)))
        return {};
    const int room = static_cast<int>(cell.right - cell.left) - 1 - 2 * scaled(TextMargin) -
                     iconRoom(row, column);
    const HDC dc = ::GetDC(m_hwnd);
    if (!dc)
        return {};
    SIZE size{};
    bool measured = false;
    {
        const Selection font(dc,
                             reinterpret_cast<HGDIOBJ>(::SendMessageW(m_hwnd, WM_GETFONT, 0, 0)));
        measured = ::GetTextExtentPoint32W(dc, content.c_str(), static_cast<int>(content.size()),
                                           &size) != FALSE;
    }
    ::ReleaseDC(m_hwnd, dc);
    if (!measured || size.cx <= room)
        return {};
    return content;
}

void Win32ListView::updateTooltip(POINT client) {
    if (!m_tooltip)
        return;
    LVHITTESTINFO hit{};
    hit.pt = client;
    int item = static_cast<int>(
        ::SendMessageW(m_hwnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    int viewColumn = hit.iSubItem;
    if (item < 0 || !(hit.flags & LVHT_ONITEM) || viewColumn < 1)
        item = viewColumn = -1;
    if (item == m_tipItem && viewColumn == m_tipColumn)
        return;
    m_tipItem = item;
    m_tipColumn = viewColumn;
    m_tipText = item >= 0 ? clippedText(item, viewColumn) : std::wstring();
    ::SendMessageW(m_tooltip, TTM_POP, 0, 0);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = m_hwnd;
    tool.uId = TipId;
    if (item >= 0) {
        tool.rect.top = viewColumn;
        tool.rect.left = LVIR_BOUNDS;
        if (!::SendMessageW(m_hwnd, LVM_GETSUBITEMRECT, static_cast<WPARAM>(item),
                            reinterpret_cast<LPARAM>(&tool.rect)))
            tool.rect = RECT{};
    }
    ::SendMessageW(m_tooltip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
}

// --- Window procedures ---

LRESULT CALLBACK Win32ListView::listProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR self) {
    auto* view = reinterpret_cast<Win32ListView*>(self);
    bool handled = false;
    LRESULT result = 0;
    try {
        result = view->onListMessage(hwnd, message, wParam, lParam, handled);
    } catch (...) {
        view->reportEscaped(std::current_exception());
        handled = false;
    }
    if (handled)
        return result;
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

// No exception may cross the system's frames: one escaping a message of the list or its header
// goes to the error report, and the message gets the control's own answer.
void Win32ListView::reportEscaped(std::exception_ptr error) {
    ui::dispatchEvent(m_report, [&error] { std::rethrow_exception(error); });
}

LRESULT CALLBACK Win32ListView::headerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* view = reinterpret_cast<Win32ListView*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!view || !view->m_headerDefault)
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        const WNDPROC original = view->m_headerDefault;
        view->releaseHeader();
        return ::CallWindowProcW(original, hwnd, message, wParam, lParam);
    }
    bool handled = false;
    LRESULT result = 0;
    try {
        result = view->onHeaderMessage(hwnd, message, wParam, lParam, handled);
    } catch (...) {
        view->reportEscaped(std::current_exception());
        handled = false;
    }
    if (handled)
        return result;
    if (!view->m_headerDefault)
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    return ::CallWindowProcW(view->m_headerDefault, hwnd, message, wParam, lParam);
}

// Gives the header its own window procedure back.
void Win32ListView::releaseHeader() {
    if (m_header && m_headerDefault) {
        ::SetWindowLongPtrW(m_header, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_headerDefault));
        ::SetWindowLongPtrW(m_header, GWLP_USERDATA, 0);
    }
    m_headerDefault = nullptr;
    m_header = nullptr;
}

LRESULT Win32ListView::onListMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     bool& handled) {
    if (message == flushMessage() && message != 0) {
        m_flushPosted = false;
        flushPending();
        handled = true;
        return 0;
    }
    if (m_countPending && message != WM_NCDESTROY && message != WM_DESTROY)
        flushPending();
    switch (message) {
    case WM_NOTIFY: {
        const auto* notify = reinterpret_cast<const NMHDR*>(lParam);
        if (!notify)
            break;
        if (notify->hwndFrom == m_tooltip && m_tooltip && notify->code == TTN_GETDISPINFOW) {
            auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
            // A refresh may have put another row under the resting mouse since it came there.
            m_tipText = m_tipItem >= 0 ? clippedText(m_tipItem, m_tipColumn) : std::wstring();
            info->lpszText = m_tipText.data();
            info->hinst = nullptr;
            handled = true;
            return 0;
        }
        if (notify->hwndFrom == m_header && m_header && notify->code == NM_CUSTOMDRAW) {
            handled = true;
            return headerCustomDraw(*reinterpret_cast<NMCUSTOMDRAW*>(lParam));
        }
        if (notify->hwndFrom == m_header && m_header) {
            LRESULT result = 0;
            if (onHeaderNotify(*reinterpret_cast<const NMHEADERW*>(lParam), result)) {
                handled = true;
                return result;
            }
        }
        break;
    }
    case WM_RBUTTONDOWN: {
        // The row under the mouse is selected when the menu is asked for, by the list control;
        // the ListView's own right-button handling (and its drag loop) stays out.
        ::SetFocus(hwnd);
        handled = true;
        return 0;
    }
    case WM_RBUTTONUP:
        rightClick(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, false);
        handled = true;
        return 0;
    case WM_CONTEXTMENU: {
        if (lParam == -1) {
            rightClick(POINT{}, true);
        } else {
            POINT where{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            // The header passes its own right clicks up here: the column titles are not a
            // row, and the row scrolled under them must not get the menu.
            RECT titles{};
            if (m_header && (::GetWindowLongPtrW(m_header, GWL_STYLE) & WS_VISIBLE) &&
                ::GetWindowRect(m_header, &titles) && ::PtInRect(&titles, where)) {
                handled = true;
                return 0;
            }
            ::ScreenToClient(hwnd, &where);
            rightClick(where, false);
        }
        handled = true;
        return 0;
    }
    case WM_CHAR:
        if (wParam >= 0x20 && wParam != 0x7F) {
            typeAhead(std::wstring(1, static_cast<wchar_t>(wParam)),
                      static_cast<DWORD>(::GetMessageTime()));
            handled = true;
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
        updateTooltip(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        break;
    case WM_SETFONT: {
        const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
        applyRowHeight();
        m_tipItem = m_tipColumn = -1;
        handled = true;
        return result;
    }
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(hwnd, &Win32ListView::listProc, SubclassId);
        releaseHeader();
        m_hwnd = nullptr;
        m_tooltip = nullptr; // owned by the list: destroyed with it
        break;
    default:
        break;
    }
    return 0;
}

bool Win32ListView::onHeaderNotify(const NMHEADERW& notify, LRESULT& result) {
    const int viewColumn = notify.iItem;
    const int listColumn = listColumnAt(viewColumn);
    const bool fixed = listColumn == NoColumn || gestures::FixedWidth(m_list.column(listColumn));
    switch (notify.hdr.code) {
    case HDN_BEGINTRACKW:
    case HDN_BEGINTRACKA:
        if (!fixed)
            return false;
        result = TRUE;
        return true;
    case HDN_DIVIDERDBLCLICKW:
    case HDN_DIVIDERDBLCLICKA:
        // The ListView's own fitting knows nothing of the icon and the margins drawn here.
        if (!fixed)
            fitColumn(viewColumn);
        result = 0;
        return true;
    case HDN_ITEMCHANGINGW:
    case HDN_ITEMCHANGINGA: {
        // HDITEMA and HDITEMW begin alike: mask, then cxy.
        const HDITEMW* item = notify.pitem;
        if (!item || !(item->mask & HDI_WIDTH))
            return false;
        const int wanted = item->cxy;
        const int limited = limitWidth(listColumn, wanted);
        if (limited == wanted)
            return false;
        // Out of bounds: refuse, and stop the column at its limit instead.
        if (!m_settingWidth) {
            const int now = static_cast<int>(
                ::SendMessageW(m_hwnd, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(viewColumn), 0));
            if (now != limited && viewColumn > 0)
                setViewColumnWidth(viewColumn, limited);
        }
        result = TRUE;
        return true;
    }
    case HDN_ITEMCHANGEDW:
    case HDN_ITEMCHANGEDA: {
        const HDITEMW* item = notify.pitem;
        if (item && (item->mask & HDI_WIDTH) && listColumn != NoColumn && !m_settingWidth) {
            m_designWidth[static_cast<std::size_t>(listColumn)] = ::MulDiv(item->cxy, 96, m_dpi);
            m_tipItem = m_tipColumn = -1;
        }
        return false;
    }
    default:
        return false;
    }
}

LRESULT Win32ListView::onHeaderMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       bool& handled) {
    switch (message) {
    case HDM_LAYOUT: {
        const LRESULT result = ::CallWindowProcW(m_headerDefault, hwnd, message, wParam, lParam);
        auto* layout = reinterpret_cast<HDLAYOUT*>(lParam);
        if (result && layout && layout->prc && layout->pwpos) {
            const int height = scaled(ListHeaderHeight);
            layout->pwpos->cy = height;
            layout->prc->top = layout->pwpos->y + height;
        }
        handled = true;
        return result;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        HDHITTESTINFO hit{};
        hit.pt = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        const int item =
            static_cast<int>(::SendMessageW(hwnd, HDM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        // A press on a divider starts a resize, not a click.
        const bool onLabel = item > 0 && (hit.flags & HHT_ONHEADER) &&
                             !(hit.flags & (HHT_ONDIVIDER | HHT_ONDIVOPEN));
        if (onLabel)
            m_headerPress.press(item);
        else
            m_headerPress.cancel();
        break;
    }
    case WM_LBUTTONUP: {
        // Taken before the header's own handling, whose release of the capture cancels it.
        gestures::HeaderPress press = std::exchange(m_headerPress, {});
        const LRESULT result = ::CallWindowProcW(m_headerDefault, hwnd, message, wParam, lParam);
        handled = true;
        if (press.pressed()) {
            HDHITTESTINFO hit{};
            hit.pt = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            const int released = static_cast<int>(
                ::SendMessageW(hwnd, HDM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
            const int under = released > 0 && (hit.flags & HHT_ONHEADER) ? released : NoColumn;
            if (const std::optional<int> item = press.release(under))
                headerClicked(*item == NoColumn ? NoColumn : listColumnAt(*item));
        }
        return result;
    }
    case WM_CAPTURECHANGED:
    case WM_CANCELMODE:
        if (message == WM_CANCELMODE || reinterpret_cast<HWND>(lParam) != hwnd)
            m_headerPress.cancel();
        break;
    default:
        break;
    }
    return 0;
}

} // namespace win32ui
