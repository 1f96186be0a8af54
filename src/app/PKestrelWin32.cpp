// PKestrel on Windows: the program entry of kestrel.exe.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "os/SingleInstance.h"
#include "ui/Components.h"
#include "ui/UnitFormKestrel.h"
#include "ui/Worker.h"
#include "ui/win32/Win32MainWindow.h"
#include "win32/WinText.h"

namespace {

// The shell's verbs and property sheets (the connection commands) need COM on this thread.
class ComApartment {
public:
    ComApartment()
        : m_initialised(SUCCEEDED(
              ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (m_initialised)
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_initialised;
};

// A box of its own, before any window: above the running instance's window, which is usually
// topmost, and in the foreground, so that the user sees it.
void plainMessage(const std::string& text, UINT icon) {
    ::MessageBoxW(nullptr, win32::WideFromUtf8(text).c_str(),
                  win32::WideFromUtf8(ui::ApplicationTitle).c_str(),
                  MB_OK | MB_TOPMOST | MB_SETFOREGROUND | icon);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES;
    ::InitCommonControlsEx(&controls);
    const ComApartment com;

    // The mutex "Kestrel" is held until the process ends; the system frees it then.
    const os::SingleInstance instance(ui::ApplicationTitle);
    if (instance.alreadyRunning()) {
        plainMessage("The program already start", 0);
        return 0;
    }

    try {
        int exitCode = 0;
        {
            win32ui::Win32MainWindow window(systemFormServices());
            window.setOnDestroyed([] { ::PostQuitMessage(0); });
            window.create();
            window.show(showCommand);
            exitCode = win32ui::runMessageLoop(window.handle());
        }
        // A snapshot or the ending of a process still running is not waited for; the static
        // objects it may be using must then stay as they are until the process has gone.
        if (ui::ThreadWorker::runningJobs() > 0) {
            std::fflush(nullptr);
            std::_Exit(exitCode);
        }
        return exitCode;
    } catch (const std::exception& error) {
        plainMessage(error.what(), MB_ICONERROR);
    } catch (...) {
        plainMessage("Unknown error", MB_ICONERROR);
    }
    return 1;
}
