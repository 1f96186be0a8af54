#include "ui/win32/Win32Worker.h"

#include <utility>

namespace win32ui {

Win32Worker::Win32Worker(HWND window, UINT message, ui::ErrorReport& report)
    // A message posted to a window that has gone is dropped by the system.
    : m_threads([window, message] { ::PostMessageW(window, message, 0, 0); }, report) {}

void Win32Worker::start(Job job, Completion completion) {
    m_threads.start(std::move(job), std::move(completion));
}

void Win32Worker::startDetached(Job job) {
    m_threads.startDetached(std::move(job));
}

} // namespace win32ui
