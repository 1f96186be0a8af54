// The thread worker with real threads: completions only where deliver runs, errors carried,
// nothing delivered once the worker is gone; and the window logic over it, closed while its
// snapshot is still being taken.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/FakeComponents.h"
#include "ui/TempDir.h"
#include "ui/TestRecords.h"
#include "ui/UnitFormKestrel.h"
#include "ui/Worker.h"

namespace {

using namespace std::chrono_literals;

// What the toolkit's loop would do: wait until woken.
class Wakes {
public:
    std::function<void()> wake() {
        return [this] {
            const std::lock_guard<std::mutex> guard(m_lock);
            ++m_count;
            m_changed.notify_all();
        };
    }
    bool waitFor(int count) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, 20s, [&] { return m_count >= count; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_count = 0;
};

bool waitUntilNoJobRuns() {
    for (int i = 0; i < 4000; ++i) {
        if (ui::ThreadWorker::runningJobs() == 0)
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

// A gate a job waits at until the test opens it; the job owns its share.
struct Gate {
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
};

TEST(ThreadWorkerTest, CompletionsRunOnlyInDeliverWithTheJobsError) {
    Wakes wakes;
    FakeMessageBoxes report;
    ui::ThreadWorker worker(wakes.wake(), report);
    auto jobThread = std::make_shared<std::thread::id>();
    std::vector<std::string> ran;
    std::thread::id completionThread;
    worker.start([jobThread] { *jobThread = std::this_thread::get_id(); },
                 [&](std::exception_ptr error) {
                     completionThread = std::this_thread::get_id();
                     ran.push_back(error ? "error" : "ok");
                 });
    worker.start([] { throw std::runtime_error("job failed"); },
                 [&](std::exception_ptr error) {
                     try {
                         std::rethrow_exception(error);
                     } catch (const std::runtime_error& e) {
                         ran.push_back(e.what());
                     }
                     // Escapes to the report; the next completion still runs.
                     throw std::runtime_error("completion failed");
                 });
    ASSERT_TRUE(wakes.waitFor(2));
    ASSERT_TRUE(waitUntilNoJobRuns());
    EXPECT_TRUE(ran.empty());
    worker.start([] {}, [&](std::exception_ptr) { ran.push_back("third"); });
    ASSERT_TRUE(wakes.waitFor(3));
    worker.deliver();
    ASSERT_EQ(ran.size(), 3u);
    EXPECT_EQ(completionThread, std::this_thread::get_id());
    EXPECT_NE(*jobThread, std::this_thread::get_id());
    EXPECT_EQ(report.errors, std::vector<std::string>{"completion failed"});
    worker.deliver();
    EXPECT_EQ(ran.size(), 3u);
}

TEST(ThreadWorkerTest, AWorkerGoneBeforeItsJobEndedDropsTheCompletion) {
    Wakes wakes;
    FakeMessageBoxes report;
    auto gate = std::make_shared<Gate>();
    auto jobEnded = std::make_shared<std::atomic<bool>>(false);
    bool completed = false;
    {
        ui::ThreadWorker worker(wakes.wake(), report);
        worker.start(
            [opened = gate->opened, jobEnded] {
                opened.wait();
                jobEnded->store(true);
            },
            [&completed](std::exception_ptr) { completed = true; });
        EXPECT_EQ(ui::ThreadWorker::runningJobs(), 1);
    }
    // The worker has gone without waiting; the job goes on alone.
    gate->open.set_value();
    ASSERT_TRUE(waitUntilNoJobRuns());
    EXPECT_TRUE(jobEnded->load());
    EXPECT_FALSE(completed);
}

class FormOverThreadsTest : public ::testing::Test {
protected:
    TFormKestrelServices services() {
        TFormKestrelServices s;
        s.settingsFile = dir.file("Kestrel.ini");
        // The job's state is its own: the gate and the records, shared by value.
        s.takeSnapshot = [gate = gate, records = records](Snapshot& snapshot) {
            if (gate)
                gate->opened.wait();
            snapshot.Tcp = *records;
        };
        return s;
    }

    TempDir dir;
    FakeKestrelWindow w;
    Wakes wakes;
    ui::ThreadWorker worker{wakes.wake(), w.Messages};
    std::shared_ptr<Gate> gate;
    std::shared_ptr<std::vector<File_Rec>> records =
        std::make_shared<std::vector<File_Rec>>(std::vector<File_Rec>{
            tcpRecord(2, "0.0.0.0", "22", "0.0.0.0", "0", "101", "sshd", "/usr/sbin/sshd")});
};

TEST_F(FormOverThreadsTest, TheSnapshotIsTakenOnAnotherThreadAndMergedHere) {
    TFormKestrel form(w.controls(&worker), services());
    form.FormCreate();
    ASSERT_EQ(w.VTS.rowCount(), 1u);
    records->push_back(
        tcpRecord(5, "10.0.0.5", "40000", "10.0.0.9", "443", "202", "app", "/opt/app/app"));
    ui::dispatchEvent(w.Messages, [this] { w.BTNRefresh.click(); });
    ASSERT_TRUE(wakes.waitFor(1));
    EXPECT_EQ(w.VTS.rowCount(), 1u);
    EXPECT_FALSE(w.BTNRefresh.enabled());
    worker.deliver();
    EXPECT_EQ(w.VTS.rowCount(), 2u);
    EXPECT_EQ(w.LabNetCount.caption(), "2");
    EXPECT_TRUE(w.BTNRefresh.enabled());
    EXPECT_TRUE(w.Messages.errors.empty());
    ASSERT_TRUE(waitUntilNoJobRuns());
}

TEST_F(FormOverThreadsTest, ClosingWhileTheSnapshotIsTakenWaitsForNothing) {
    auto form = std::make_unique<TFormKestrel>(w.controls(&worker), services());
    form->FormCreate();
    gate = std::make_shared<Gate>();
    form = std::make_unique<TFormKestrel>(w.controls(&worker), services());
    ui::dispatchEvent(w.Messages, [&form] { form->BTNRefreshClick(); });
    EXPECT_EQ(ui::ThreadWorker::runningJobs(), 1);
    form.reset();
    gate->open.set_value();
    ASSERT_TRUE(wakes.waitFor(1));
    // Delivered after the window has gone: the merge is dropped.
    worker.deliver();
    EXPECT_TRUE(w.Messages.errors.empty());
    ASSERT_TRUE(waitUntilNoJobRuns());
}

} // namespace
