#pragma once
// The worker (ui/Worker.h) in plain Win32: each job on a thread of its own, its completion
// delivered when the window that made the worker gets the posted message `message`.
#include <windows.h>

#include "ui/Components.h"
#include "ui/Worker.h"

namespace win32ui {

class Win32Worker : public ui::Worker {
public:
    // `window` gets `message` when completions are due and then calls deliver().
    Win32Worker(HWND window, UINT message, ui::ErrorReport& report);

    void start(Job job, Completion completion) override;
    void startDetached(Job job) override;
    // On the window's thread, on `message`: runs the completions that are due.
    void deliver() { m_threads.deliver(); }

private:
    ui::ThreadWorker m_threads;
};

} // namespace win32ui
