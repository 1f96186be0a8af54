#pragma once
// The worker (ui/Worker.h) in Qt: each job on a thread of its own, its completion a queued call
// back to the thread that made the worker (the GUI thread).
#include <memory>

#include <QObject>

#include "ui/Components.h"
#include "ui/Worker.h"

namespace qtui {

class QtWorker : public ui::Worker {
public:
    // Make it on the GUI thread; completions' errors go to `report`.
    explicit QtWorker(ui::ErrorReport& report);
    ~QtWorker() override;

    void start(Job job, Completion completion) override;
    void startDetached(Job job) override;

private:
    // The queued calls' target; Qt drops the calls still queued when it goes.
    std::unique_ptr<QObject> m_receiver;
    // After the receiver, so that it goes first: no job reaches the receiver after that.
    ui::ThreadWorker m_threads;
};

} // namespace qtui
