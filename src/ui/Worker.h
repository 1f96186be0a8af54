#pragma once
// Work taken off the window's thread: a job runs elsewhere, its completion runs later on the
// window's thread, where the window logic may touch its controls again. The toolkit layer
// implements the delivery (Qt: a queued call; Win32: a posted message); the tests' fake runs
// each job and completion when the test says so.
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

#include "ui/Components.h"

namespace ui {

class Worker {
public:
    // Runs away from the window's thread. It must own everything it touches (copies, shared
    // values): the window, and even the program, may end while it runs.
    using Job = std::function<void()>;
    // Runs on the window's thread after the job: with the job's error, or nullptr when it
    // returned. Errors escaping it go to the general error report.
    using Completion = std::function<void(std::exception_ptr error)>;

    Worker() = default;
    virtual ~Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Starts `job` and returns at once; `completion` never runs inside start. A worker
    // destroyed before a completion ran drops it. Jobs started one after another may run side
    // by side. Throws when no job can be started (the completion then never runs).
    virtual void start(Job job, Completion completion) = 0;
    // Runs `job` when nobody waits for its end (freeing what the window no longer needs). By
    // default at once, on the calling thread.
    virtual void startDetached(Job job) { job(); }
};

// A Worker that runs each job on a thread of its own, not waited for: a job still running when
// the worker goes on finishes alone, and its completion is dropped. The toolkit gives `wake`,
// which may be called on any thread and must make the window's thread call deliver() soon.
class ThreadWorker : public Worker {
public:
    ThreadWorker(std::function<void()> wake, ErrorReport& report);
    ~ThreadWorker() override;

    void start(Job job, Completion completion) override;
    void startDetached(Job job) override { start(std::move(job), {}); }
    // On the window's thread, when woken: runs the completions of the jobs that have ended,
    // each as one event through dispatchEvent.
    void deliver();

    // Jobs of every ThreadWorker still running. A program whose window has gone while one
    // runs ends without running the static destructors the job may still be using.
    static int runningJobs();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    ErrorReport& m_report;
};

} // namespace ui
