#include "ui/win32/Win32Components.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include <commctrl.h>

#include "ui/MainWindowLook.h"
#include "ui/win32/GdiScope.h"
#include "win32/WinText.h"

namespace win32ui {

namespace {

constexpr const wchar_t* ComponentProperty = L"Kestrel.Component";
constexpr UINT_PTR ButtonSubclassId = 1;
constexpr UINT_PTR TextFieldSubclassId = 2;

constexpr COLORREF colorRef(const LookRgb& rgb) {
    return RGB(rgb.red, rgb.green, rgb.blue);
}

// The main window's bitmap buttons, as its description colours them.
constexpr COLORREF ButtonFace = colorRef(MainWindowLook::ButtonFace);
constexpr COLORREF ButtonHot = colorRef(MainWindowLook::ButtonHotTrack);
constexpr COLORREF ButtonPressed = colorRef(MainWindowLook::ButtonPressed);
constexpr COLORREF ButtonBorder = colorRef(MainWindowLook::ButtonBorder);
constexpr COLORREF ButtonDisabledText = colorRef(MainWindowLook::ButtonDisabledText);
constexpr COLORREF ButtonText = colorRef(MainWindowLook::ButtonText);
constexpr COLORREF ButtonPressedText = colorRef(MainWindowLook::ButtonPressedText);
constexpr int PictureSize = 16;
constexpr int PictureGap = 4;
// The check mark and the space between it and the caption, at 96 DPI.
constexpr int CheckBoxGlyph = 13;
constexpr int CheckBoxGap = 9;

int CALLBACK faceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

int CALLBACK collectChineseFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM faces) {
    // Faces whose name starts with '@' are the vertical-writing variants.
    if (font->lfFaceName[0] != L'@')
        reinterpret_cast<std::vector<std::wstring>*>(faces)->push_back(font->lfFaceName);
    return 1;
}

bool faceInstalled(HDC dc, const wchar_t* face, BYTE charSet) {
    LOGFONTW wanted{};
    wanted.lfCharSet = charSet;
    ::lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    ::EnumFontFamiliesExW(dc, &wanted, faceFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

std::wstring chooseInterfaceFace() {
    HDC dc = ::GetDC(nullptr);
    if (!dc)
        return L"Arial";
    // The faces Chinese Windows uses for its interface first, then those a Linux desktop
    // offers under Wine, then any face that covers the GB2312 characters.
    static constexpr std::array preferred = {
        L"Microsoft YaHei UI",  L"Microsoft YaHei",   L"SimSun",           L"NSimSun",
        L"WenQuanYi Micro Hei", L"WenQuanYi Zen Hei", L"Noto Sans CJK SC", L"Source Han Sans SC",
        L"Droid Sans Fallback",
    };
    std::wstring face;
    for (const wchar_t* candidate : preferred) {
        if (faceInstalled(dc, candidate, GB2312_CHARSET)) {
            face = candidate;
            break;
        }
    }
    if (face.empty()) {
        std::vector<std::wstring> faces;
        LOGFONTW any{};
        any.lfCharSet = GB2312_CHARSET;
        ::EnumFontFamiliesExW(dc, &any, collectChineseFace, reinterpret_cast<LPARAM>(&faces), 0);
        if (!faces.empty())
            face = faces.front();
    }
    ::ReleaseDC(nullptr, dc);
    return face.empty() ? std::wstring(L"Arial") : face;
}

Win32Control* componentOf(HWND control) {
    if (!control)
        return nullptr;
    return static_cast<Win32Control*>(::GetPropW(control, ComponentProperty));
}

// The greyed picture of a disabled button: the grey level of each pixel at half its opacity.
Picture greyed(const Picture& picture) {
    Picture grey = picture;
    for (std::uint32_t& pixel : grey.pixels) {
        const std::uint32_t alpha = pixel >> 24;
        const std::uint32_t red = (pixel >> 16) & 0xFF;
        const std::uint32_t green = (pixel >> 8) & 0xFF;
        const std::uint32_t blue = pixel & 0xFF;
        // Premultiplied channels give a premultiplied grey level.
        const std::uint32_t level = (red * 30 + green * 59 + blue * 11) / 100 / 2;
        pixel = ((alpha / 2) << 24) | (level << 16) | (level << 8) | level;
    }
    return grey;
}

HBRUSH solidBrush(HBRUSH& brush, COLORREF colour) {
    if (brush)
        ::DeleteObject(brush);
    brush = ::CreateSolidBrush(colour);
    return brush;
}

bool answerColours(HBRUSH brush, COLORREF text, COLORREF background, WPARAM wParam,
                   LRESULT& result) {
    if (!brush)
        return false;
    HDC dc = reinterpret_cast<HDC>(wParam);
    ::SetTextColor(dc, text);
    ::SetBkColor(dc, background);
    result = reinterpret_cast<LRESULT>(brush);
    return true;
}

// A function of user32 that older systems lack, or nullptr.
template <typename Function> Function user32Function(const char* name) {
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (!user32)
        return nullptr;
    // GetProcAddress gives a generic function pointer; the caller names the real type.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user32, name)));
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

} // namespace

int scaled(int designPixels, int dpi) {
    return ::MulDiv(designPixels, dpi, 96);
}

int windowDpi(HWND window) {
    static const auto getDpiForWindow = user32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    if (getDpiForWindow) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi > 0)
            return static_cast<int>(dpi);
    }
    int dpi = 96;
    if (HDC dc = ::GetDC(nullptr)) {
        const int screenDpi = ::GetDeviceCaps(dc, LOGPIXELSY);
        if (screenDpi > 0)
            dpi = screenDpi;
        ::ReleaseDC(nullptr, dc);
    }
    return dpi;
}

int systemMetricForDpi(int index, int dpi) {
    static const auto getSystemMetricsForDpi =
        user32Function<GetSystemMetricsForDpiFunction>("GetSystemMetricsForDpi");
    return getSystemMetricsForDpi ? getSystemMetricsForDpi(index, static_cast<UINT>(dpi))
                                  : ::GetSystemMetrics(index);
}

bool adjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi) {
    static const auto adjustWindowRectExForDpi =
        user32Function<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
    if (adjustWindowRectExForDpi)
        return adjustWindowRectExForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi)) != 0;
    return ::AdjustWindowRectEx(&rect, style, FALSE, exStyle) != 0;
}

const std::wstring& interfaceFontFace() {
    static const std::wstring face = chooseInterfaceFace();
    return face;
}

HFONT createInterfaceFont(int pixelHeight, bool bold) {
    HFONT font =
        ::CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                      DEFAULT_PITCH | FF_SWISS, interfaceFontFace().c_str());
    if (!font)
        font = ::CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
    return font;
}

SIZE measureText(const std::string& text, HFONT font) {
    SIZE size{0, 0};
    HDC dc = ::GetDC(nullptr);
    if (!dc)
        return size;
    {
        const Selection selected(dc, font ? font : ::GetStockObject(DEFAULT_GUI_FONT));
        const std::wstring wide = win32::WideFromUtf8(text);
        if (!wide.empty()) {
            if (!::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size))
                size = SIZE{0, 0};
        } else {
            TEXTMETRICW metrics{};
            if (::GetTextMetricsW(dc, &metrics))
                size.cy = metrics.tmHeight;
        }
    }
    ::ReleaseDC(nullptr, dc);
    return size;
}

bool reflectControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    HWND control = nullptr;
    switch (message) {
    case WM_COMMAND:
        control = reinterpret_cast<HWND>(lParam);
        break;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item && item->CtlType == ODT_BUTTON)
            control = item->hwndItem;
        break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        control = reinterpret_cast<HWND>(lParam);
        break;
    default:
        return false;
    }
    Win32Control* component = componentOf(control);
    return component && component->reflected(message, wParam, lParam, result);
}

// --- Win32Control ---

Win32Control::Win32Control(HWND parent, int controlId, const wchar_t* className, DWORD style) {
    m_handle = ::CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
                                 ::GetModuleHandleW(nullptr), nullptr);
    if (!m_handle)
        throw std::runtime_error("Cannot create a window control (error " +
                                 std::to_string(::GetLastError()) + ")");
    ::SetPropW(m_handle, ComponentProperty, this);
}

Win32Control::~Win32Control() {
    // The parent may have destroyed the control already.
    if (::IsWindow(m_handle) && componentOf(m_handle) == this) {
        ::RemovePropW(m_handle, ComponentProperty);
        ::DestroyWindow(m_handle);
    }
}

void Win32Control::setBounds(int x, int y, int width, int height) {
    ::SetWindowPos(m_handle, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Control::setVisible(bool visible) {
    ::ShowWindow(m_handle, visible ? SW_SHOWNA : SW_HIDE);
}

void Win32Control::setFont(HFONT font) {
    ::SendMessageW(m_handle, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

HFONT Win32Control::font() const {
    return reinterpret_cast<HFONT>(::SendMessageW(m_handle, WM_GETFONT, 0, 0));
}

// --- Win32Button ---

Win32Button::Win32Button(HWND parent, int controlId, const Picture& picture,
                         ui::ErrorReport& report)
    : Win32Control(parent, controlId, L"BUTTON", BS_OWNERDRAW | WS_TABSTOP), m_report(report) {
    if (picture.width > 0 && picture.height > 0) {
        m_picture = createBitmap(picture);
        m_disabledPicture = createBitmap(greyed(picture));
        m_pictureWidth = picture.width;
        m_pictureHeight = picture.height;
    }
    ::SetWindowSubclass(handle(), subclassProc, ButtonSubclassId,
                        reinterpret_cast<DWORD_PTR>(this));
}

Win32Button::~Win32Button() {
    if (::IsWindow(handle()))
        ::RemoveWindowSubclass(handle(), subclassProc, ButtonSubclassId);
    if (m_picture)
        ::DeleteObject(m_picture);
    if (m_disabledPicture)
        ::DeleteObject(m_disabledPicture);
}

void Win32Button::setDpi(int dpi) {
    m_dpi = dpi > 0 ? dpi : 96;
    ::InvalidateRect(handle(), nullptr, TRUE);
}

void Win32Button::enabledChanged() {
    ::EnableWindow(handle(), enabled() ? TRUE : FALSE);
    if (!enabled())
        setHot(false);
}

void Win32Button::captionChanged() {
    ::SetWindowTextW(handle(), win32::WideFromUtf8(caption()).c_str());
    ::InvalidateRect(handle(), nullptr, TRUE);
}

void Win32Button::setHot(bool hot) {
    if (hot == m_hot)
        return;
    m_hot = hot;
    ::InvalidateRect(handle(), nullptr, TRUE);
}

bool Win32Button::reflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_COMMAND) {
        // An owner-drawn button reports the second click of a double click as a double click.
        const WORD code = HIWORD(wParam);
        if (code != BN_CLICKED && code != BN_DOUBLECLICKED)
            return false;
        ui::dispatchEvent(m_report, [this] { click(); });
        result = 0;
        return true;
    }
    if (message == WM_DRAWITEM) {
        draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        result = TRUE;
        return true;
    }
    return false;
}

LRESULT CALLBACK Win32Button::subclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR, DWORD_PTR data) {
    auto* button = reinterpret_cast<Win32Button*>(data);
    switch (message) {
    case WM_MOUSEMOVE:
        if (!button->m_hot && button->enabled()) {
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof(track);
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = window;
            if (::TrackMouseEvent(&track))
                button->setHot(true);
        }
        break;
    case WM_MOUSELEAVE:
        button->setHot(false);
        break;
    case WM_ERASEBKGND:
        // The drawing covers the whole button.
        return 1;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(window, subclassProc, ButtonSubclassId);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

void Win32Button::draw(const DRAWITEMSTRUCT& item) const {
    HDC dc = item.hDC;
    RECT bounds = item.rcItem;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0 && !disabled;
    const bool focused = (item.itemState & ODS_FOCUS) != 0;

    const COLORREF face = pressed ? ButtonPressed : (m_hot && !disabled ? ButtonHot : ButtonFace);
    {
        const GdiObject faceBrush(::CreateSolidBrush(face));
        ::FillRect(dc, &bounds, static_cast<HBRUSH>(faceBrush.get()));
        const GdiObject borderBrush(
            ::CreateSolidBrush(focused && !disabled ? ButtonPressed : ButtonBorder));
        ::FrameRect(dc, &bounds, static_cast<HBRUSH>(borderBrush.get()));
    }

    const std::wstring text = win32::WideFromUtf8(caption());
    HFONT buttonFont = reinterpret_cast<HFONT>(::SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
    const Selection selectedFont(dc, buttonFont);
    SIZE textSize{0, 0};
    if (!text.empty() &&
        !::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &textSize))
        textSize = SIZE{0, 0};

    HBITMAP picture = disabled ? m_disabledPicture : m_picture;
    const int pictureSide = picture ? scaled(PictureSize, m_dpi) : 0;
    const int gap = picture && !text.empty() ? scaled(PictureGap, m_dpi) : 0;
    const int contentWidth = pictureSide + gap + textSize.cx;
    const int width = bounds.right - bounds.left;
    const int height = bounds.bottom - bounds.top;
    int x = bounds.left + (width - contentWidth) / 2;
    if (x < bounds.left + 2)
        x = bounds.left + 2;

    if (picture) {
        HDC memory = ::CreateCompatibleDC(dc);
        if (memory) {
            {
                const Selection selectedPicture(memory, picture);
                const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
                ::AlphaBlend(dc, x, bounds.top + (height - pictureSide) / 2, pictureSide,
                             pictureSide, memory, 0, 0, m_pictureWidth, m_pictureHeight, blend);
            }
            ::DeleteDC(memory);
        }
        x += pictureSide + gap;
    }
    if (!text.empty()) {
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc,
                       disabled ? ButtonDisabledText : (pressed ? ButtonPressedText : ButtonText));
        RECT textBounds{x, bounds.top, bounds.right - 2, bounds.bottom};
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textBounds,
                    DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    if (focused && !disabled && (item.itemState & ODS_NOFOCUSRECT) == 0) {
        RECT focus = bounds;
        ::InflateRect(&focus, -3, -3);
        ::DrawFocusRect(dc, &focus);
    }
}

// --- Win32CheckBox ---

Win32CheckBox::Win32CheckBox(HWND parent, int controlId, ui::ErrorReport& report)
    : Win32Control(parent, controlId, L"BUTTON", BS_CHECKBOX | WS_TABSTOP), m_report(report) {}

Win32CheckBox::~Win32CheckBox() {
    if (m_background)
        ::DeleteObject(m_background);
}

void Win32CheckBox::setColours(COLORREF text, COLORREF background) {
    m_text = text;
    m_backgroundColour = background;
    solidBrush(m_background, background);
    ::InvalidateRect(handle(), nullptr, TRUE);
}

int Win32CheckBox::idealWidth(int dpi) const {
    return measureText(caption(), font()).cx + scaled(CheckBoxGlyph + CheckBoxGap, dpi);
}

bool Win32CheckBox::reflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    if (message == WM_COMMAND) {
        if (HIWORD(wParam) != BN_CLICKED)
            return false;
        // The box does not toggle itself: the logic's state is the one the box shows.
        ui::dispatchEvent(m_report, [this] { setChecked(!checked()); });
        result = 0;
        return true;
    }
    if (message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN)
        return answerColours(m_background, m_text, m_backgroundColour, wParam, result);
    return false;
}

void Win32CheckBox::checkedChanged() {
    ::SendMessageW(handle(), BM_SETCHECK, checked() ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32CheckBox::captionChanged() {
    ::SetWindowTextW(handle(), win32::WideFromUtf8(caption()).c_str());
}

// --- Win32TextField ---

Win32TextField::Win32TextField(HWND parent, int controlId, ui::ErrorReport& report)
    : Win32Control(parent, controlId, L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP),
      m_report(report) {
    ::SetWindowSubclass(handle(), subclassProc, TextFieldSubclassId,
                        reinterpret_cast<DWORD_PTR>(this));
}

Win32TextField::~Win32TextField() {
    if (::IsWindow(handle()))
        ::RemoveWindowSubclass(handle(), subclassProc, TextFieldSubclassId);
}

std::string Win32TextField::shownText() const {
    const int length = ::GetWindowTextLengthW(handle());
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(handle(), text.data(), length + 1);
    return win32::Utf8FromWide(text.data(), static_cast<std::size_t>(std::max(copied, 0)));
}

bool Win32TextField::reflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    if (message != WM_COMMAND || HIWORD(wParam) != EN_CHANGE)
        return false;
    // The field's own mirroring of a text the logic set changes nothing (setText of an equal
    // text does nothing).
    ui::dispatchEvent(m_report, [this] { setText(shownText()); });
    result = 0;
    return true;
}

void Win32TextField::textChanged() {
    if (shownText() == text())
        return;
    ::SetWindowTextW(handle(), win32::WideFromUtf8(text()).c_str());
    // The caret goes to the end, as after typing.
    const int length = ::GetWindowTextLengthW(handle());
    ::SendMessageW(handle(), EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
}

void Win32TextField::placeholderChanged() {
    // Shown even while the field has the focus, so that Ctrl+F does not hide it.
    const std::wstring cue = win32::WideFromUtf8(placeholder());
    ::SendMessageW(handle(), EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(cue.c_str()));
}

void Win32TextField::focusRequested() {
    ::SetFocus(handle());
    ::SendMessageW(handle(), EM_SETSEL, 0, -1);
}

LRESULT CALLBACK Win32TextField::subclassProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* field = reinterpret_cast<Win32TextField*>(data);
    switch (message) {
    case WM_GETDLGCODE: {
        // The dialog manager would turn Escape into the window's cancel; the field keeps it.
        const auto* key = reinterpret_cast<const MSG*>(lParam);
        if (key && key->message == WM_KEYDOWN && key->wParam == VK_ESCAPE)
            return ::DefSubclassProc(window, message, wParam, lParam) | DLGC_WANTMESSAGE;
        break;
    }
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            if (field->m_escape)
                ui::dispatchEvent(field->m_report, [field] { field->m_escape(); });
            return 0;
        }
        break;
    case WM_CHAR:
        // No beep for the Escape character the key leaves behind.
        if (wParam == VK_ESCAPE)
            return 0;
        break;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(window, subclassProc, TextFieldSubclassId);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

// --- Win32Label ---

Win32Label::Win32Label(HWND parent, int controlId)
    : Win32Control(parent, controlId, L"STATIC", SS_LEFT | SS_NOPREFIX) {}

Win32Label::~Win32Label() {
    if (m_background)
        ::DeleteObject(m_background);
}

void Win32Label::setColours(COLORREF text, COLORREF background) {
    m_text = text;
    m_backgroundColour = background;
    solidBrush(m_background, background);
    ::InvalidateRect(handle(), nullptr, TRUE);
}

SIZE Win32Label::textSize() const {
    return measureText(caption(), font());
}

bool Win32Label::reflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    if (message == WM_CTLCOLORSTATIC)
        return answerColours(m_background, m_text, m_backgroundColour, wParam, result);
    return false;
}

void Win32Label::captionChanged() {
    ::SetWindowTextW(handle(), win32::WideFromUtf8(caption()).c_str());
    if (m_changed)
        m_changed();
}

// --- Win32Timer ---

Win32Timer::Win32Timer(HWND window, UINT_PTR timerId, ui::ErrorReport& report)
    : m_window(window), m_id(timerId), m_report(report) {
    scheduleChanged();
}

Win32Timer::~Win32Timer() {
    if (m_running && ::IsWindow(m_window))
        ::KillTimer(m_window, m_id);
}

void Win32Timer::fired() {
    ui::dispatchEvent(m_report, [this] { tick(); });
}

void Win32Timer::scheduleChanged() {
    if (enabled() && interval() > 0) {
        // Setting a timer that exists replaces it: the interval starts afresh.
        m_running = ::SetTimer(m_window, m_id, static_cast<UINT>(interval()), nullptr) != 0;
        return;
    }
    if (m_running)
        ::KillTimer(m_window, m_id);
    m_running = false;
}

// --- Win32MenuItem ---

Win32MenuItem::Win32MenuItem(HMENU menu, UINT commandId, ui::ErrorReport& report)
    : m_menu(menu), m_id(commandId), m_report(report) {
    std::array<wchar_t, 256> text{};
    const int length =
        ::GetMenuStringW(menu, commandId, text.data(), static_cast<int>(text.size()), MF_BYCOMMAND);
    if (length > 0)
        setCaption(win32::Utf8FromWide(text.data(), static_cast<std::size_t>(length)));
    const UINT state = ::GetMenuState(menu, commandId, MF_BYCOMMAND);
    setEnabled(state == static_cast<UINT>(-1) || (state & (MF_GRAYED | MF_DISABLED)) == 0);
}

void Win32MenuItem::activate() {
    ui::dispatchEvent(m_report, [this] { click(); });
}

void Win32MenuItem::enabledChanged() {
    ::EnableMenuItem(m_menu, m_id, MF_BYCOMMAND | (enabled() ? MF_ENABLED : MF_GRAYED));
}

void Win32MenuItem::checkedChanged() {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STATE;
    if (!::GetMenuItemInfoW(m_menu, m_id, FALSE, &info))
        return;
    info.fState = (info.fState & ~static_cast<UINT>(MFS_CHECKED)) |
                  (checkable() && checked() ? MFS_CHECKED : 0);
    ::SetMenuItemInfoW(m_menu, m_id, FALSE, &info);
}

void Win32MenuItem::captionChanged() {
    std::wstring text = win32::WideFromUtf8(caption());
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STRING;
    info.dwTypeData = text.data();
    ::SetMenuItemInfoW(m_menu, m_id, FALSE, &info);
}

// --- Win32MessageBoxes ---

namespace {

int messageBox(HWND owner, const std::string& text, const std::string& caption, UINT flags) {
    const std::wstring wideText = win32::WideFromUtf8(text);
    const std::wstring wideCaption = win32::WideFromUtf8(caption);
    return ::MessageBoxW(::IsWindow(owner) ? owner : nullptr, wideText.c_str(), wideCaption.c_str(),
                         flags);
}

} // namespace

void Win32MessageBoxes::showError(const std::string& text) {
    messageBox(m_owner, text, ui::ApplicationTitle, MB_OK | MB_ICONERROR);
}

ui::Answer Win32MessageBoxes::askYesNo(const std::string& text, const std::string& caption,
                                       ui::DefaultButton defaultButton) {
    const UINT flags = MB_YESNO | MB_ICONQUESTION |
                       (defaultButton == ui::DefaultButton::Yes ? MB_DEFBUTTON1 : MB_DEFBUTTON2);
    return messageBox(m_owner, text, caption, flags) == IDYES ? ui::Answer::Yes : ui::Answer::No;
}

void Win32MessageBoxes::showMessage(const std::string& text) {
    messageBox(m_owner, text, ui::ApplicationTitle, MB_OK);
}

bool registerPlainWindowClass(const wchar_t* className, UINT style) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = style;
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace win32ui
