#pragma once
// The window logic's components (ui/Components.h) over plain Win32 controls. Each one mirrors
// the state the logic sets onto its control and forwards the user's actions, each as one event
// through ui::dispatchEvent, so an error escaping a handler reaches the general error report.
//
// The controls' notifications arrive at their parent window. The parent hands every
// WM_COMMAND, WM_DRAWITEM and WM_CTLCOLORSTATIC / WM_CTLCOLORBTN to reflectControlMessage,
// which passes it on to the component that owns the control.
#include <functional>
#include <string>

#include <windows.h>

#include "ui/Components.h"
#include "ui/win32/XpmPicture.h"

namespace win32ui {

// A design pixel size at `dpi` (96 = 100 %), rounded.
int scaled(int designPixels, int dpi);

// The DPI `window` is drawn at (96 = 100 %). The per-monitor functions of Windows 10 are looked
// up at run time, so that the program also starts on older systems: there the screen's DPI.
int windowDpi(HWND window);
// GetSystemMetricsForDpi where the system has it, else GetSystemMetrics.
int systemMetricForDpi(int index, int dpi);
// AdjustWindowRectExForDpi where the system has it, else AdjustWindowRectEx.
bool adjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi);

// A font for the window's texts: `pixelHeight` pixels high (character height), regular or
// bold. The face is the first one installed that shows Chinese texts (so that the captions do
// not turn into boxes), else Arial; nullptr only when the system refuses any font. The
// caller owns it (DeleteObject).
HFONT createInterfaceFont(int pixelHeight, bool bold);
// The face createInterfaceFont uses, chosen once per process.
const std::wstring& interfaceFontFace();

// Width and height in pixels of `text` (UTF-8) drawn in `font` (the system font for nullptr).
SIZE measureText(const std::string& text, HFONT font);

// Passes a parent's control message on to the component owning the control it names: the
// notification (WM_COMMAND with a control handle), the drawing of an owner-drawn control
// (WM_DRAWITEM) and the colours of a static or check box (WM_CTLCOLORSTATIC,
// WM_CTLCOLORBTN). False, with `result` untouched, when no component owns that control.
bool reflectControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

// What every control component shares: the child window it made and owns, and the reflection.
class Win32Control {
public:
    Win32Control(const Win32Control&) = delete;
    Win32Control& operator=(const Win32Control&) = delete;

    HWND handle() const { return m_handle; }
    void setBounds(int x, int y, int width, int height);
    void setVisible(bool visible);
    void setFont(HFONT font);
    HFONT font() const;

    // The message reflected from the parent; false when the component does not handle it.
    virtual bool reflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

protected:
    // A child control of class `className` with `style` (WS_CHILD | WS_VISIBLE are added).
    // Throws std::runtime_error when the system cannot create it: a window without its
    // controls cannot be used.
    Win32Control(HWND parent, int controlId, const wchar_t* className, DWORD style);
    virtual ~Win32Control();

private:
    HWND m_handle = nullptr;
};

// A bitmap button: a 16 x 16 picture left of its caption, face #F4F4F0, #FFC73C while the
// mouse is over it, #6A8DF4 while pressed, a greyed picture and caption while disabled.
class Win32Button : public ui::Button, public Win32Control {
public:
    // `picture` may be empty (no picture). The caption starts empty.
    Win32Button(HWND parent, int controlId, const Picture& picture, ui::ErrorReport& report);
    ~Win32Button() override;

    // Design size of the picture beside the caption; scaled by setDpi.
    void setDpi(int dpi);
    // Whether the mouse is over the button (hot tracking).
    bool hot() const { return m_hot; }

    bool reflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

protected:
    void enabledChanged() override;
    void captionChanged() override;

private:
    static LRESULT CALLBACK subclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);
    void draw(const DRAWITEMSTRUCT& item) const;
    void setHot(bool hot);

    ui::ErrorReport& m_report;
    HBITMAP m_picture = nullptr;
    HBITMAP m_disabledPicture = nullptr;
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;
    int m_dpi = 96;
    bool m_hot = false;
};

// A check box the user toggles (BS_AUTOCHECKBOX); the logic's state is mirrored onto it.
class Win32CheckBox : public ui::CheckBox, public Win32Control {
public:
    Win32CheckBox(HWND parent, int controlId, ui::ErrorReport& report);
    ~Win32CheckBox() override;

    // Text colour and the background the box sits on.
    void setColours(COLORREF text, COLORREF background);
    // Width that shows the box and its whole caption in the control's font, at `dpi`.
    int idealWidth(int dpi) const;

    bool reflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

protected:
    void checkedChanged() override;
    void captionChanged() override;

private:
    ui::ErrorReport& m_report;
    COLORREF m_text = RGB(0, 0, 0);
    HBRUSH m_background = nullptr;
    COLORREF m_backgroundColour = RGB(255, 255, 255);
};

// A static text. The owner may ask to hear of caption changes (to lay out again).
class Win32Label : public ui::Label, public Win32Control {
public:
    Win32Label(HWND parent, int controlId);
    ~Win32Label() override;

    void setColours(COLORREF text, COLORREF background);
    void setOnCaptionChanged(std::function<void()> changed) { m_changed = std::move(changed); }
    // Size of the caption in the control's font.
    SIZE textSize() const;

    bool reflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

protected:
    void captionChanged() override;

private:
    std::function<void()> m_changed;
    COLORREF m_text = RGB(0, 0, 0);
    HBRUSH m_background = nullptr;
    COLORREF m_backgroundColour = RGB(255, 255, 255);
};

// A one-line EDIT control. Its placeholder is the cue banner (shown while the field is empty,
// with the common controls of version 6); each change the user makes (EN_CHANGE) becomes the
// field's text. Escape in the field runs the escape handler instead of closing anything.
class Win32TextField : public ui::TextField, public Win32Control {
public:
    Win32TextField(HWND parent, int controlId, ui::ErrorReport& report);
    ~Win32TextField() override;

    void setOnEscape(std::function<void()> escape) { m_escape = std::move(escape); }
    // The text the control shows, in UTF-8.
    std::string shownText() const;

    bool reflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

protected:
    void textChanged() override;
    void placeholderChanged() override;
    void focusRequested() override;

private:
    static LRESULT CALLBACK subclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);

    ui::ErrorReport& m_report;
    std::function<void()> m_escape;
};

// A timer of `window` (SetTimer with `timerId`). The window passes WM_TIMER on to fired().
class Win32Timer : public ui::Timer {
public:
    Win32Timer(HWND window, UINT_PTR timerId, ui::ErrorReport& report);
    ~Win32Timer() override;
    Win32Timer(const Win32Timer&) = delete;
    Win32Timer& operator=(const Win32Timer&) = delete;

    UINT_PTR timerId() const { return m_id; }
    // Whether the system timer is set.
    bool running() const { return m_running; }
    // An interval has elapsed: the tick, as one event.
    void fired();

protected:
    void scheduleChanged() override;

private:
    HWND m_window;
    UINT_PTR m_id;
    ui::ErrorReport& m_report;
    bool m_running = false;
};

// An item of a popup menu, by its command ID. The menu's owner passes the chosen command on
// to activate(). Caption and enabled state start as the menu holds them.
class Win32MenuItem : public ui::MenuItem {
public:
    Win32MenuItem(HMENU menu, UINT commandId, ui::ErrorReport& report);

    UINT commandId() const { return m_id; }
    // The user chose the item: its click, as one event.
    void activate();

protected:
    void enabledChanged() override;
    void captionChanged() override;
    void checkedChanged() override;

private:
    HMENU m_menu;
    UINT m_id;
    ui::ErrorReport& m_report;
};

// Message boxes owned by `owner` (may be changed later; nullptr: no owner).
class Win32MessageBoxes : public ui::MessageBoxes {
public:
    explicit Win32MessageBoxes(HWND owner = nullptr) : m_owner(owner) {}
    void setOwner(HWND owner) { m_owner = owner; }

    void showError(const std::string& text) override;
    ui::Answer askYesNo(const std::string& text, const std::string& caption,
                        ui::DefaultButton defaultButton) override;
    void showMessage(const std::string& text) override;

private:
    HWND m_owner;
};

// Registers a window class of this module with the default procedure, the arrow cursor and
// the dialog colour as background; true also when it is registered already.
bool registerPlainWindowClass(const wchar_t* className, UINT style);

} // namespace win32ui
