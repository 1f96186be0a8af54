#include "ui/win32/Win32ProcInfoDialog.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "ui/Components.h"
#include "ui/win32/Win32Components.h"
#include "ui/win32/Win32ImageList.h"
#include "win32/WinText.h"

namespace win32ui {

namespace {

constexpr UINT_PTR ButtonSubclassId = 1;

COLORREF colour(ProcInfoRgb rgb) {
    return RGB(rgb.red, rgb.green, rgb.blue);
}

bool isLabel(ProcInfoControl control) {
    switch (control) {
    case ProcInfoControl::LabExe:
    case ProcInfoControl::LabExeDes:
    case ProcInfoControl::LabPID:
    case ProcInfoControl::Labcomp:
    case ProcInfoControl::Label5:
    case ProcInfoControl::LabLocate:
        return true;
    default:
        return false;
    }
}

// What an error escaping a handler shows: the dialog procedure is called by the system, so
// nothing may pass through it.
void reportError(HWND owner, const char* what) {
    const std::wstring text = win32::WideFromUtf8(what);
    const std::wstring caption = win32::WideFromUtf8(ui::ApplicationTitle);
    ::MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

// The dialog's frame; its size and controls are made at WM_INITDIALOG in pixels.
std::vector<DWORD> dialogTemplate() {
    std::vector<DWORD> storage(16, 0); // DWORD aligned, as the system requires
    auto* header = reinterpret_cast<DLGTEMPLATE*>(storage.data());
    header->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    header->cdit = 0;
    // The menu, class and title words after the header stay 0: none, standard, empty.
    return storage;
}

} // namespace

Win32ProcInfoDialog::Win32ProcInfoDialog(HWND owner, IconList largeIcons, int dpi)
    : m_owner(owner), m_largeIcons(std::move(largeIcons)), m_fixedDpi(dpi) {
    m_texts[ProcInfoControl::Label5] = win32::WideFromUtf8(ProcInfoLook::PathLabel);
    m_texts[ProcInfoControl::LabLocate] = win32::WideFromUtf8(ProcInfoLook::LocateCaption);
    m_texts[ProcInfoControl::BTNOK] = win32::WideFromUtf8(ProcInfoLook::OkCaption);
}

Win32ProcInfoDialog::~Win32ProcInfoDialog() {
    if (m_dialog != nullptr)
        ::DestroyWindow(m_dialog);
    releaseGdiObjects();
}

int Win32ProcInfoDialog::controlId(ProcInfoControl control) {
    if (control == ProcInfoControl::BTNOK)
        return IDOK;
    return 1000 + static_cast<int>(control);
}

void Win32ProcInfoDialog::setText(ProcInfoControl control, const std::string& text) {
    m_texts[control] = win32::WideFromUtf8(text);
    const HWND window = this->control(control);
    if (window == nullptr || control == ProcInfoControl::Panel1)
        return;
    ::SetWindowTextW(window, m_texts[control].c_str());
    sizeLabelToText(control);
}

std::string Win32ProcInfoDialog::text(ProcInfoControl control) const {
    const auto found = m_texts.find(control);
    return found == m_texts.end() ? std::string() : win32::Utf8FromWide(found->second);
}

void Win32ProcInfoDialog::drawLargeIcon(int index) {
    m_iconIndex = index;
    if (const HWND image = control(ProcInfoControl::Image1))
        ::InvalidateRect(image, nullptr, TRUE);
}

HWND Win32ProcInfoDialog::control(ProcInfoControl control) const {
    if (m_dialog == nullptr)
        return nullptr;
    const auto found = m_controls.find(control);
    return found == m_controls.end() ? nullptr : found->second;
}

void Win32ProcInfoDialog::showModal() {
    if (m_dialog != nullptr)
        return;
    const std::vector<DWORD> frame = dialogTemplate();
    ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr),
                              reinterpret_cast<const DLGTEMPLATE*>(frame.data()), m_owner,
                              &Win32ProcInfoDialog::dialogProc, reinterpret_cast<LPARAM>(this));
    m_dialog = nullptr;
    m_controls.clear();
    m_buttonHot = false;
    m_closeRequested = false;
    releaseGdiObjects();
}

void Win32ProcInfoDialog::closeDialog() {
    if (m_dialog != nullptr)
        ::EndDialog(m_dialog, IDOK);
    else
        m_closeRequested = true;
}

int Win32ProcInfoDialog::scale(int designPixels) const {
    return ::MulDiv(designPixels, m_dpi, 96);
}

void Win32ProcInfoDialog::createFonts() {
    LOGFONTW look;
    std::memset(&look, 0, sizeof look);
    look.lfHeight = -scale(ProcInfoLook::FontPixelHeight);
    look.lfWeight = FW_NORMAL;
    // Not ANSI_CHARSET: the texts are Chinese as often as not, and the default character set
    // lets the system link a CJK face to the Latin one.
    look.lfCharSet = DEFAULT_CHARSET;
    look.lfQuality = DEFAULT_QUALITY;
    const std::wstring face = win32::WideFromUtf8(ProcInfoLook::FontFamily);
    face.copy(look.lfFaceName, LF_FACESIZE - 1);
    m_font = ::CreateFontIndirectW(&look);
    look.lfWeight = FW_BOLD;
    m_boldFont = ::CreateFontIndirectW(&look);
    look.lfWeight = FW_NORMAL;
    look.lfUnderline = TRUE;
    m_linkFont = ::CreateFontIndirectW(&look);

    m_panelBrush = ::CreateSolidBrush(colour(ProcInfoLook::PanelColour));
    m_lineBrush = ::CreateSolidBrush(colour(ProcInfoLook::LineColour));
    m_pathBrush = ::CreateSolidBrush(colour(ProcInfoLook::PathColour));
}

void Win32ProcInfoDialog::releaseGdiObjects() {
    for (HFONT* font : {&m_font, &m_boldFont, &m_linkFont}) {
        if (*font != nullptr)
            ::DeleteObject(*font);
        *font = nullptr;
    }
    for (HBRUSH* brush : {&m_panelBrush, &m_lineBrush, &m_pathBrush}) {
        if (*brush != nullptr)
            ::DeleteObject(*brush);
        *brush = nullptr;
    }
}

void Win32ProcInfoDialog::createControls() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    const HFONT fallback = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    for (const ProcInfoPlacement& place : ProcInfoLook::Placements()) {
        if (place.control == ProcInfoControl::Panel1) {
            // The panel is the dialog's own client area, painted in the panel colour.
            m_controls[place.control] = m_dialog;
            continue;
        }
        const wchar_t* windowClass = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE;
        HFONT font = m_font;
        switch (place.control) {
        case ProcInfoControl::Image1:
            style |= SS_OWNERDRAW;
            break;
        case ProcInfoControl::Shape1:
        case ProcInfoControl::Shape2:
            style |= SS_LEFT;
            break;
        case ProcInfoControl::EPath:
            windowClass = L"EDIT";
            style |= ES_READONLY | ES_AUTOHSCROLL | ES_LEFT | WS_TABSTOP;
            break;
        case ProcInfoControl::BTNOK:
            windowClass = L"BUTTON";
            style |= BS_OWNERDRAW | WS_TABSTOP;
            break;
        case ProcInfoControl::LabLocate:
            style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY;
            font = m_linkFont;
            break;
        case ProcInfoControl::LabExe:
            style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
            font = m_boldFont;
            break;
        case ProcInfoControl::LabExeDes:
            // Disabled: the description is drawn greyed.
            style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX | WS_DISABLED;
            break;
        default:
            style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
            break;
        }
        const auto text = m_texts.find(place.control);
        const wchar_t* caption = text == m_texts.end() ? L"" : text->second.c_str();
        const int height = place.height > 0 ? std::max(1, scale(place.height)) : 1;
        const int width = place.width > 0 ? std::max(1, scale(place.width)) : 1;
        const HWND window = ::CreateWindowExW(
            0, windowClass, caption, style, scale(place.left), scale(place.top), width, height,
            m_dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(place.control))),
            instance, nullptr);
        if (window == nullptr)
            continue;
        m_controls[place.control] = window;
        ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font ? font : fallback), FALSE);
        if (place.width == 0)
            sizeLabelToText(place.control);
    }

    if (const HWND path = control(ProcInfoControl::EPath))
        ::SendMessageW(path, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
                       MAKELPARAM(scale(2), scale(2)));
    if (const HWND ok = control(ProcInfoControl::BTNOK)) {
        ::SetWindowSubclass(ok, &Win32ProcInfoDialog::buttonProc, ButtonSubclassId,
                            reinterpret_cast<DWORD_PTR>(this));
        // First in the tab order, before the path.
        ::SetWindowPos(ok, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void Win32ProcInfoDialog::sizeLabelToText(ProcInfoControl control) {
    const HWND label = this->control(control);
    if (label == nullptr || !isLabel(control))
        return;
    const auto fixed = std::find_if(
        ProcInfoLook::Placements().begin(), ProcInfoLook::Placements().end(),
        [control](const ProcInfoPlacement& place) { return place.control == control; });
    if (fixed != ProcInfoLook::Placements().end() && fixed->width > 0)
        return;
    const HDC dc = ::GetDC(label);
    if (dc == nullptr)
        return;
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = font ? ::SelectObject(dc, font) : nullptr;
    const std::wstring& text = m_texts[control];
    RECT bounds{0, 0, 0, 0};
    TEXTMETRICW metrics;
    const int lineHeight = ::GetTextMetricsW(dc, &metrics) ? metrics.tmHeight : scale(14);
    if (!text.empty())
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
                    DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    if (previous != nullptr)
        ::SelectObject(dc, previous);
    ::ReleaseDC(label, dc);
    const int width = std::max<int>(1, bounds.right - bounds.left);
    const int height = std::max<int>(lineHeight, bounds.bottom - bounds.top);
    ::SetWindowPos(label, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32ProcInfoDialog::drawImage(const DRAWITEMSTRUCT& item) const {
    ::FillRect(item.hDC, &item.rcItem, m_panelBrush);
    const HIMAGELIST icons = m_largeIcons ? m_largeIcons() : nullptr;
    if (m_iconIndex < 0 || icons == nullptr || m_iconIndex >= ::ImageList_GetImageCount(icons))
        return;
    int width = 0;
    int height = 0;
    if (!::ImageList_GetIconSize(icons, &width, &height))
        return;
    win32ui::drawImage(icons, m_iconIndex, item.hDC,
                       item.rcItem.left + scale(ProcInfoLook::IconLeft),
                       item.rcItem.top + scale(ProcInfoLook::IconTop), scale(width), scale(height));
}

void Win32ProcInfoDialog::drawButton(const DRAWITEMSTRUCT& item) const {
    using namespace ProcInfoLook;
    const HDC dc = item.hDC;
    RECT face = item.rcItem;
    const HBRUSH faceBrush = ::CreateSolidBrush(colour(m_buttonHot ? ButtonHotTrack : ButtonFace));
    const HBRUSH edgeBrush = ::CreateSolidBrush(colour(ButtonHighlight));
    if (faceBrush != nullptr)
        ::FillRect(dc, &face, faceBrush);
    if (edgeBrush != nullptr) {
        const int edge =
            (item.itemState & ODS_FOCUS) ? std::max(2, scale(2)) : std::max(1, scale(1));
        for (int i = 0; i < edge; ++i) {
            ::FrameRect(dc, &face, edgeBrush);
            ::InflateRect(&face, -1, -1);
        }
    }
    const auto found = m_texts.find(ProcInfoControl::BTNOK);
    if (found != m_texts.end()) {
        RECT textBox = item.rcItem;
        if (item.itemState & ODS_SELECTED)
            ::OffsetRect(&textBox, 1, 1);
        const HGDIOBJ previous = m_font ? ::SelectObject(dc, m_font) : nullptr;
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(
            dc, ::GetSysColor((item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
        ::DrawTextW(dc, found->second.c_str(), static_cast<int>(found->second.size()), &textBox,
                    DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        if (previous != nullptr)
            ::SelectObject(dc, previous);
    }
    if (faceBrush != nullptr)
        ::DeleteObject(faceBrush);
    if (edgeBrush != nullptr)
        ::DeleteObject(edgeBrush);
}

LRESULT CALLBACK Win32ProcInfoDialog::buttonProc(HWND button, UINT message, WPARAM wParam,
                                                 LPARAM lParam, UINT_PTR subclassId,
                                                 DWORD_PTR data) {
    auto* self = reinterpret_cast<Win32ProcInfoDialog*>(data);
    switch (message) {
    case WM_MOUSEMOVE:
        if (!self->m_buttonHot) {
            self->m_buttonHot = true;
            TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, button, 0};
            ::TrackMouseEvent(&track);
            ::InvalidateRect(button, nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        self->m_buttonHot = false;
        ::InvalidateRect(button, nullptr, FALSE);
        break;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(button, &Win32ProcInfoDialog::buttonProc, subclassId);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(button, message, wParam, lParam);
}

INT_PTR CALLBACK Win32ProcInfoDialog::dialogProc(HWND dialog, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
    Win32ProcInfoDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Win32ProcInfoDialog*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        self->m_dialog = dialog;
    } else {
        self = reinterpret_cast<Win32ProcInfoDialog*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    }
    if (self == nullptr)
        return FALSE;
    try {
        return self->handleMessage(message, wParam, lParam);
    } catch (const std::exception& error) {
        reportError(dialog, error.what());
    } catch (...) {
        reportError(dialog, "Unknown error");
    }
    return TRUE;
}

INT_PTR Win32ProcInfoDialog::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const int dpi =
            m_fixedDpi > 0 ? m_fixedDpi : windowDpi(m_owner != nullptr ? m_owner : m_dialog);
        m_dpi = dpi > 0 ? dpi : 96;
        createFonts();
        ::SetWindowTextW(m_dialog, win32::WideFromUtf8(ProcInfoLook::Caption).c_str());

        // Client size from the layout; the frame adds what the system's border takes.
        RECT outer;
        RECT inner;
        ::GetWindowRect(m_dialog, &outer);
        ::GetClientRect(m_dialog, &inner);
        const int width = scale(ProcInfoLook::ClientWidth) + (outer.right - outer.left) -
                          (inner.right - inner.left);
        const int height = scale(ProcInfoLook::ClientHeight) + (outer.bottom - outer.top) -
                           (inner.bottom - inner.top);
        RECT centreOn;
        if (m_owner == nullptr || !::GetWindowRect(m_owner, &centreOn))
            ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &centreOn, 0);
        int left = (centreOn.left + centreOn.right - width) / 2;
        int top = (centreOn.top + centreOn.bottom - height) / 2;
        MONITORINFO monitor;
        monitor.cbSize = sizeof monitor;
        if (::GetMonitorInfoW(::MonitorFromRect(&centreOn, MONITOR_DEFAULTTONEAREST), &monitor)) {
            const RECT& work = monitor.rcWork;
            left = std::max<int>(work.left, std::min<int>(left, work.right - width));
            top = std::max<int>(work.top, std::min<int>(top, work.bottom - height));
        }
        ::SetWindowPos(m_dialog, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

        createControls();
        ::SendMessageW(m_dialog, DM_SETDEFID, IDOK, 0);
        if (m_closeRequested)
            ::EndDialog(m_dialog, IDOK);
        if (const HWND ok = control(ProcInfoControl::BTNOK))
            ::SetFocus(ok);
        return FALSE; // the focus is set
    }
    case WM_CTLCOLORDLG:
        return reinterpret_cast<INT_PTR>(m_panelBrush);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT: {
        const auto dc = reinterpret_cast<HDC>(wParam);
        const auto window = reinterpret_cast<HWND>(lParam);
        if (window == control(ProcInfoControl::EPath)) {
            ::SetBkColor(dc, colour(ProcInfoLook::PathColour));
            ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<INT_PTR>(m_pathBrush);
        }
        if (window == control(ProcInfoControl::Shape1) ||
            window == control(ProcInfoControl::Shape2))
            return reinterpret_cast<INT_PTR>(m_lineBrush);
        if (window == control(ProcInfoControl::LabLocate))
            ::SetTextColor(dc, colour(ProcInfoLook::LinkColour));
        ::SetBkMode(dc, TRANSPARENT);
        ::SetBkColor(dc, colour(ProcInfoLook::PanelColour));
        return reinterpret_cast<INT_PTR>(m_panelBrush);
    }
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) == control(ProcInfoControl::LabLocate)) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            ::SetWindowLongPtrW(m_dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->hwndItem == control(ProcInfoControl::Image1))
            drawImage(*item);
        else if (item->hwndItem == control(ProcInfoControl::BTNOK))
            drawButton(*item);
        else
            return FALSE;
        return TRUE;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (id == IDOK && (code == BN_CLICKED || lParam == 0)) {
            if (onOkClick)
                onOkClick();
            else
                closeDialog();
            return TRUE;
        }
        if (id == IDCANCEL) {
            closeDialog();
            return TRUE;
        }
        if (id == controlId(ProcInfoControl::LabLocate) && code == STN_CLICKED) {
            if (onLocateClick)
                onLocateClick();
            return TRUE;
        }
        return FALSE;
    }
    default:
        return FALSE;
    }
}

Win32ProcInfoDialogs::Win32ProcInfoDialogs(HWND owner, Win32ProcInfoDialog::IconList largeIcons)
    : m_owner(owner), m_largeIcons(std::move(largeIcons)) {}

std::unique_ptr<ProcInfoView> Win32ProcInfoDialogs::createProcInfoView() {
    return std::make_unique<Win32ProcInfoDialog>(m_owner, m_largeIcons);
}

} // namespace win32ui
