#include "ui/Worker.h"

#include <deque>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

namespace ui {

namespace {

std::atomic<int> g_runningJobs{0};

} // namespace

struct ThreadWorker::Shared {
    std::mutex lock;
    // Empty once the worker is gone: completions are dropped from then on.
    std::function<void()> wake;
    struct Ended {
        Completion completion;
        std::exception_ptr error;
    };
    std::deque<Ended> ended;
};

ThreadWorker::ThreadWorker(std::function<void()> wake, ErrorReport& report)
    : m_shared(std::make_shared<Shared>()), m_report(report) {
    m_shared->wake = std::move(wake);
}

ThreadWorker::~ThreadWorker() {
    std::deque<Shared::Ended> dropped;
    {
        const std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->wake = nullptr;
        dropped.swap(m_shared->ended);
    }
}

void ThreadWorker::start(Job job, Completion completion) {
    if (!job)
        throw std::invalid_argument("ThreadWorker::start: no job");
    g_runningJobs.fetch_add(1);
    try {
        std::thread([shared = m_shared, job = std::move(job),
                     completion = std::move(completion)]() mutable {
            {
                std::exception_ptr error;
                try {
                    job();
                } catch (...) {
                    error = std::current_exception();
                }
                // What the job held goes here, not on the window's thread.
                job = nullptr;
                Shared::Ended ended{std::move(completion), std::move(error)};
                {
                    const std::lock_guard<std::mutex> guard(shared->lock);
                    if (shared->wake) {
                        shared->ended.push_back(std::move(ended));
                        // Under the lock: the worker, and what wake reaches, cannot go meanwhile.
                        shared->wake();
                    }
                }
                shared.reset();
            }
            g_runningJobs.fetch_sub(1);
        }).detach();
    } catch (...) {
        g_runningJobs.fetch_sub(1);
        throw;
    }
}

void ThreadWorker::deliver() {
    // A completion may take the window, and this worker, down with it.
    const std::shared_ptr<Shared> shared = m_shared;
    ErrorReport& report = m_report;
    for (;;) {
        Shared::Ended ended;
        {
            const std::lock_guard<std::mutex> guard(shared->lock);
            if (!shared->wake || shared->ended.empty())
                return;
            ended = std::move(shared->ended.front());
            shared->ended.pop_front();
        }
        if (ended.completion)
            dispatchEvent(report, [&ended] { ended.completion(ended.error); });
    }
}

int ThreadWorker::runningJobs() {
    return g_runningJobs.load();
}

} // namespace ui
