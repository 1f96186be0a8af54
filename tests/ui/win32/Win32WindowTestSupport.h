#pragma once
// Helpers of the Win32 window tests: a message box answered from another thread while its own
// modal loop runs, a message pump with a bounded wait, and window texts as UTF-8.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "win32/WinText.h"

namespace win32test {

inline std::string windowText(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), length + 1);
    return win32::Utf8FromWide(text.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

// Dispatches this thread's messages until `done` holds or `limit` has passed.
inline bool pumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

// Waits on a thread of its own for the next message box captioned `caption` (a dialog of
// class "#32770"), notes its text and default button, and presses `button` (IDYES, IDNO,
// IDOK). Join with finish() after the box's call has returned.
class BoxAnswerer {
public:
    // `ready` (called on the answering thread, so it may only read atomics) holds the answer
    // back until it gives true.
    BoxAnswerer(std::wstring caption, int button, std::function<bool()> ready = {})
        : m_caption(std::move(caption)), m_button(button), m_ready(std::move(ready)),
          m_thread([this] { run(); }) {}
    ~BoxAnswerer() { finish(); }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    void finish() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    bool seen() const { return m_seen; }
    const std::string& text() const { return m_text; }
    int defaultButton() const { return m_defaultButton; }
    HWND owner() const { return m_owner; }

private:
    // The button drawn as the default one, else the one with the keyboard focus.
    static int defaultButtonOf(HWND box) {
        for (const int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
            HWND button = ::GetDlgItem(box, id);
            if (button &&
                (::GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                return id;
        }
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        if (::GetGUIThreadInfo(::GetWindowThreadProcessId(box, nullptr), &info) && info.hwndFocus)
            return ::GetDlgCtrlID(info.hwndFocus);
        return 0;
    }

    void run() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!m_stop && std::chrono::steady_clock::now() < end) {
            HWND box = ::FindWindowW(L"#32770", m_caption.c_str());
            if (box && (!m_ready || m_ready())) {
                // The message text is the static control 0xFFFF of the box.
                if (HWND text = ::GetDlgItem(box, 0xFFFF))
                    m_text = windowText(text);
                m_defaultButton = defaultButtonOf(box);
                m_owner = ::GetWindow(box, GW_OWNER);
                m_seen = true;
                ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(m_button, BN_CLICKED),
                               reinterpret_cast<LPARAM>(::GetDlgItem(box, m_button)));
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::wstring m_caption;
    int m_button;
    std::function<bool()> m_ready;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_seen{false};
    std::string m_text;
    int m_defaultButton = 0;
    HWND m_owner = nullptr;
    std::thread m_thread;
};

inline BOOL CALLBACK findMenuWindow(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (std::wstring(name) != L"#32768" || !::IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The open popup menu of this thread (other tests may have menus open meanwhile).
inline HWND openMenuWindow() {
    HWND found = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), &findMenuWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Drives a popup menu from a thread timer firing inside its modal loop (start it with
// SetTimer(nullptr, 0, 20, &MenuDriver::onTimer) before the menu opens): once the menu is
// shown, `whileOpen` runs and `keys` are sent to it; with no keys the menu is ended.
struct MenuDriver {
    static inline std::vector<WPARAM> keys;
    static inline std::function<void()> whileOpen;
    static inline bool ended = false;
    static inline int ticks = 0;

    static void CALLBACK onTimer(HWND, UINT, UINT_PTR id, DWORD) {
        ++ticks;
        if (whileOpen && (openMenuWindow() != nullptr || ticks >= 200)) {
            const std::function<void()> run = std::move(whileOpen);
            whileOpen = nullptr;
            run();
            return;
        }
        if (!keys.empty()) {
            const HWND menuWindow = openMenuWindow();
            if (menuWindow == nullptr && ticks < 200)
                return; // not shown yet
            for (WPARAM key : keys) {
                ::PostMessageW(menuWindow, WM_KEYDOWN, key, 0);
                ::PostMessageW(menuWindow, WM_KEYUP, key, 0);
            }
            keys.clear();
            return;
        }
        ::KillTimer(nullptr, id);
        ::EndMenu();
        ended = true;
    }
};

} // namespace win32test
