// The remote host names: each address looked up once, at most eight lookups at a time, the
// oldest of 10,000 answers dropped first, the window's thread never waiting; and the system's
// reverse lookup of loopback addresses named in the hosts file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "os/HostNames.h"
#include "ui/FakeComponents.h"
#include "ui/HostNameResolver.h"

namespace {

std::string addressNumber(int i) {
    return "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256);
}

class HostNameResolverTest : public ::testing::Test {
protected:
    HostNameResolverTest()
        : resolver(
              worker, [this](const std::string& a) { return lookup(a); }, [this] { ++arrived; }) {}

    std::string lookup(const std::string& address) {
        ++asked[address];
        return address == "10.0.0.1" ? "one.example" : "";
    }

    FakeMessageBoxes report;
    FakeWorker worker{report};
    std::map<std::string, int> asked;
    int arrived = 0;
    HostNameResolver resolver;
};

TEST_F(HostNameResolverTest, EachAddressOnceTheNameWhenItArrives) {
    EXPECT_EQ(resolver.name("10.0.0.1"), nullptr) << "unknown until the lookup answers";
    EXPECT_EQ(resolver.name("10.0.0.1"), nullptr);
    EXPECT_EQ(resolver.name("10.0.0.2"), nullptr);
    EXPECT_EQ(worker.pending(), 2u);
    worker.runAll();
    EXPECT_EQ(arrived, 2);
    ASSERT_NE(resolver.name("10.0.0.1"), nullptr);
    EXPECT_EQ(*resolver.name("10.0.0.1"), "one.example");
    ASSERT_NE(resolver.name("10.0.0.2"), nullptr);
    EXPECT_EQ(*resolver.name("10.0.0.2"), "") << "no name: empty";
    EXPECT_EQ(asked["10.0.0.1"], 1);
    EXPECT_EQ(asked["10.0.0.2"], 1);
    EXPECT_EQ(worker.pending(), 0u);
    EXPECT_EQ(resolver.name(""), nullptr);
    EXPECT_EQ(worker.pending(), 0u) << "an empty address is not looked up";
}

TEST_F(HostNameResolverTest, AtMostEightAtATime) {
    for (int i = 0; i < 30; ++i)
        resolver.name(addressNumber(i));
    EXPECT_EQ(worker.pending(), HostNameResolver::MaxLookups);
    EXPECT_EQ(resolver.running(), 8u);
    EXPECT_EQ(resolver.waiting(), 22u);
    std::size_t most = 0;
    while (worker.pending() > 0) {
        most = std::max(most, worker.pending());
        worker.complete();
    }
    EXPECT_EQ(most, 8u);
    EXPECT_EQ(asked.size(), 30u);
    EXPECT_EQ(resolver.running(), 0u);
    // A failed lookup counts as an answer without a name.
    resolver.name("10.9.9.9");
    worker.fail(std::make_exception_ptr(std::runtime_error("no resolver")));
    ASSERT_NE(resolver.name("10.9.9.9"), nullptr);
    EXPECT_EQ(*resolver.name("10.9.9.9"), "");
}

TEST_F(HostNameResolverTest, TheOldestOfTenThousandIsDroppedFirst) {
    const int count = static_cast<int>(HostNameResolver::MaxNames) + 1;
    for (int i = 0; i < count; ++i)
        resolver.name(addressNumber(i));
    worker.runAll();
    // The first was already being looked up when it was dropped: its answer is not kept.
    EXPECT_EQ(static_cast<int>(asked.size()), count);
    ASSERT_NE(resolver.name(addressNumber(count - 1)), nullptr);
    EXPECT_NE(resolver.name(addressNumber(1)), nullptr);
    EXPECT_EQ(resolver.name(addressNumber(0)), nullptr) << "dropped: asked again";
    worker.runAll();
    EXPECT_EQ(asked[addressNumber(0)], 2);
    ASSERT_NE(resolver.name(addressNumber(0)), nullptr);
    EXPECT_EQ(resolver.name(addressNumber(1)), nullptr) << "now the oldest, dropped in turn";
}

TEST_F(HostNameResolverTest, AnswersAfterTheResolverWentAreDropped) {
    auto gone = std::make_unique<HostNameResolver>(
        worker, [](const std::string&) { return std::string("x"); }, [this] { ++arrived; });
    gone->name("10.0.0.7");
    gone.reset();
    worker.runAll();
    EXPECT_EQ(arrived, 0);
    EXPECT_TRUE(report.errors.empty());
}

TEST(HostNameResolverThreads, NeverMoreThanEightAndTheWindowNeverWaits) {
    FakeMessageBoxes report;
    std::atomic<bool> woken{false};
    ui::ThreadWorker worker([&] { woken = true; }, report);
    std::atomic<int> now{0};
    std::atomic<int> most{0};
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    int arrived = 0;
    HostNameResolver resolver(
        worker,
        [&now, &most, gate](const std::string& address) {
            const int running = ++now;
            int seen = most.load();
            while (running > seen && !most.compare_exchange_weak(seen, running)) {
            }
            gate.wait();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            --now;
            return address + ".name";
        },
        [&] { ++arrived; });
    const auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(resolver.name(addressNumber(i)), nullptr);
    // Every lookup is held at the gate, yet asking returned at once.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    open.set_value();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (arrived < 40 && std::chrono::steady_clock::now() < deadline) {
        if (woken.exchange(false))
            worker.deliver();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(arrived, 40);
    EXPECT_LE(most.load(), 8);
    EXPECT_GE(most.load(), 1);
    ASSERT_NE(resolver.name(addressNumber(39)), nullptr);
    EXPECT_EQ(*resolver.name(addressNumber(39)), addressNumber(39) + ".name");
}

// The first name the hosts file gives `address`; "" when it names none.
std::string hostsFileName(const std::string& address) {
    std::ifstream hosts("/etc/hosts");
    std::string line;
    while (std::getline(hosts, line)) {
        std::istringstream fields(line.substr(0, line.find('#')));
        std::string first, name;
        if (fields >> first >> name && first == address)
            return name;
    }
    return {};
}

TEST(HostNameOfAddress, LoopbackNamesFromTheHostsFile) {
    for (const char* address : {"127.0.0.1", "::1"}) {
        const std::string expected = hostsFileName(address);
        if (expected.empty())
            continue;
        EXPECT_EQ(os::HostNameOfAddress(address), expected) << address;
    }
    EXPECT_EQ(os::HostNameOfAddress(""), "");
    EXPECT_EQ(os::HostNameOfAddress("not an address"), "");
    EXPECT_EQ(os::HostNameOfAddress("localhost"), "") << "names are not looked up forward";
}

} // namespace
