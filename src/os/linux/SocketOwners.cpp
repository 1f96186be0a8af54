#include "os/Memory.h"
#include "os/linux/LinuxEndpoints.h"
#include "os/linux/LinuxProcesses.h"
#include "os/linux/ProcFs.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace os::linuxnet {

namespace {

// "socket:[12345]" -> 12345
bool socketInode(std::string_view link, std::uint64_t& inode) {
    constexpr std::string_view prefix = "socket:[";
    if (link.size() <= prefix.size() + 1 || link.substr(0, prefix.size()) != prefix ||
        link.back() != ']')
        return false;
    const char* first = link.data() + prefix.size();
    const char* last = link.data() + link.size() - 1;
    const auto res = std::from_chars(first, last, inode);
    return res.ec == std::errc() && res.ptr == last;
}

// A busy server's process holds tens of thousands of descriptors; the lookups of one such
// process are shared out in pieces of this size, so every core takes part.
constexpr std::size_t PieceSize = 1024;
constexpr unsigned MaxHelpers = 3;

struct Descriptors {
    std::uint32_t pid = 0;
    std::uint64_t startTime = 0; // read before the descriptors
    linuxfs::DirStream folder;
    std::vector<int> numbers;
    explicit Descriptors(int fd) : folder(fd) {}
};

struct Task {
    std::uint32_t pid = 0; // a whole process, when `descriptors` is empty
    std::shared_ptr<const Descriptors> descriptors;
    std::size_t begin = 0;
    std::size_t end = 0;
};

struct Holder {
    std::uint64_t inode = 0;
    std::uint32_t pid = 0;
    std::uint64_t startTime = 0; // of the process before its descriptors were read
};

using Clock = std::chrono::steady_clock;

// A process whose descriptors were listed, and when that began.
struct Listed {
    std::uint32_t pid = 0;
    std::uint64_t startTime = 0;
    Clock::time_point at;
};

// What one worker found: the sockets held, the processes listed and those it could not
// inspect.
struct Found {
    std::vector<Holder> holders;
    std::vector<Listed> listed;
    std::vector<std::uint32_t> refused;
};

// Whether `pid` is a better owner of a shared socket than `current`: the lowest PID, except
// that PID 1 gives way to any other holder.
bool betterOwner(std::uint32_t pid, std::uint32_t current) {
    if (current == 0)
        return true;
    if ((pid == 1) != (current == 1))
        return current == 1;
    return pid < current;
}

} // namespace

InodeOwners::InodeOwners(std::size_t expected) {
    // At most half full, so that probe runs stay short.
    std::size_t capacity = 16;
    m_shift = 60;
    while (capacity < expected * 2) {
        capacity *= 2;
        --m_shift;
    }
    ReserveLarge(m_inodes, capacity);
    ReserveLarge(m_owners, capacity);
    m_inodes.assign(capacity, 0);
    m_owners.assign(capacity, SocketOwner{});
    m_mask = capacity - 1;
}

std::size_t InodeOwners::slotOf(std::uint64_t inode) const {
    // Inodes are handed out in sequence; the multiplication spreads neighbours apart.
    std::size_t slot = static_cast<std::size_t>((inode * 0x9e3779b97f4a7c15ull) >> m_shift);
    while (m_inodes[slot] != 0 && m_inodes[slot] != inode)
        slot = (slot + 1) & m_mask;
    return slot;
}

void InodeOwners::add(std::uint64_t inode) {
    if (inode == 0)
        return;
    if ((m_size + 1) * 2 > m_inodes.size()) {
        // More than promised: grow, keeping what is there.
        InodeOwners bigger(m_size + 1);
        for (std::size_t i = 0; i < m_inodes.size(); ++i) {
            if (m_inodes[i] != 0) {
                bigger.add(m_inodes[i]);
                *bigger.find(m_inodes[i]) = m_owners[i];
            }
        }
        *this = std::move(bigger);
    }
    const std::size_t slot = slotOf(inode);
    if (m_inodes[slot] == 0) {
        m_inodes[slot] = inode;
        ++m_size;
    }
}

SocketOwner* InodeOwners::find(std::uint64_t inode) {
    if (inode == 0)
        return nullptr;
    const std::size_t slot = slotOf(inode);
    return m_inodes[slot] == inode ? &m_owners[slot] : nullptr;
}

std::size_t InodeOwners::unowned() const {
    std::size_t count = 0;
    for (std::size_t i = 0; i < m_inodes.size(); ++i)
        count += m_inodes[i] != 0 && m_owners[i].pid == 0 ? 1 : 0;
    return count;
}

struct SocketOwnerScan::State {
    linuxfs::UniqueFd proc;
    StartTimeReader readStartTime;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Task> tasks;
    unsigned busy = 0;
    std::atomic<bool> stop{false};
    std::vector<Found> found; // one per worker, the caller's last
    std::vector<std::jthread> helpers;
    std::unordered_set<std::uint32_t> refused;        // of the finished passes
    std::unordered_map<std::uint32_t, Listed> listed; // by the finished passes

    // Lists the processes (but those refused before, and those listed after `skipListedAfter`
    // that kept their start time) and starts the helpers.
    void start(Clock::time_point skipListedAfter = Clock::time_point::max(),
               std::size_t expectedHolders = 0);
    // Joins in, waits for the end and gives what the pass found.
    std::vector<Found> finish();
    void work(Found& found);
    void scanProcess(std::uint32_t pid, Found& found);
    void lookUp(const Descriptors& descriptors, std::size_t begin, std::size_t end,
                std::vector<Holder>& holders) const;
};

void SocketOwnerScan::State::lookUp(const Descriptors& descriptors, std::size_t begin,
                                    std::size_t end, std::vector<Holder>& holders) const {
    const int folder = ::dirfd(descriptors.folder.get());
    char name[16];
    char link[64];
    for (std::size_t i = begin; i < end && !stop.load(std::memory_order_relaxed); ++i) {
        const auto [last, error] =
            std::to_chars(name, name + sizeof name - 1, descriptors.numbers[i]);
        if (error != std::errc())
            continue;
        *last = '\0';
        // Sockets are links of a fixed, short form; anything that fills the buffer is not one.
        const ssize_t length = ::readlinkat(folder, name, link, sizeof link);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof link)
            continue;
        std::uint64_t inode = 0;
        if (socketInode(std::string_view(link, static_cast<std::size_t>(length)), inode))
            holders.push_back(Holder{inode, descriptors.pid, descriptors.startTime});
    }
}

void SocketOwnerScan::State::scanProcess(std::uint32_t pid, Found& found) {
    char path[32];
    const int n = std::snprintf(path, sizeof path, "%u/fd", pid);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path)
        return;
    // Taken before the descriptors and compared after them (in resolve): a process that ended
    // meanwhile and whose ID a newer one got must not pass its sockets to the newcomer.
    const std::uint64_t startTime = readStartTime(proc.get(), pid);
    const Clock::time_point listedAt = Clock::now();
    auto descriptors = std::make_shared<Descriptors>(
        ::openat(proc.get(), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (descriptors->folder.get() == nullptr) {
        if (errno == EACCES || errno == EPERM)
            found.refused.push_back(pid);
        return;
    }
    descriptors->pid = pid;
    descriptors->startTime = startTime;
    found.listed.push_back(Listed{pid, startTime, listedAt});
    while (const dirent* entry = ::readdir(descriptors->folder.get())) {
        int number = 0;
        const std::string_view text = entry->d_name;
        const auto [last, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error == std::errc() && last == text.data() + text.size() && number >= 0)
            descriptors->numbers.push_back(number);
    }
    const std::size_t count = descriptors->numbers.size();
    if (count > PieceSize) {
        const std::lock_guard<std::mutex> guard(lock);
        for (std::size_t begin = PieceSize; begin < count; begin += PieceSize)
            tasks.push_back(Task{pid, descriptors, begin, std::min(count, begin + PieceSize)});
        changed.notify_all();
    }
    lookUp(*descriptors, 0, std::min(count, PieceSize), found.holders);
}

void SocketOwnerScan::State::work(Found& found) {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return stop || !tasks.empty() || busy == 0; });
        if (stop || tasks.empty())
            break; // stopped, or nothing left and no one who could add more
        Task task = std::move(tasks.front());
        tasks.pop_front();
        ++busy;
        guard.unlock();
        if (task.descriptors)
            lookUp(*task.descriptors, task.begin, task.end, found.holders);
        else
            scanProcess(task.pid, found);
        guard.lock();
        --busy;
        if (busy == 0 && tasks.empty())
            changed.notify_all();
    }
}

void SocketOwnerScan::State::start(Clock::time_point skipListedAfter, std::size_t expectedHolders) {
    {
        // The folder stream owns its own descriptor, so the scan's stays open.
        const linuxfs::DirStream list(::dup(proc.get()));
        if (list.get() == nullptr)
            return;
        ::rewinddir(list.get());
        while (const dirent* entry = ::readdir(list.get())) {
            const auto pid = linuxfs::parsePid(entry->d_name);
            if (!pid || refused.contains(*pid))
                continue;
            if (const auto it = listed.find(*pid);
                it != listed.end() && it->second.at > skipListedAfter &&
                readStartTime(proc.get(), *pid) == it->second.startTime)
                continue;
            tasks.push_back(Task{*pid, nullptr, 0, 0});
        }
    }
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned count = cores > 1 ? std::min(cores - 1, MaxHelpers) : 0;
    found.assign(count + 1, Found{});
    // Each thread finds about its share of the sockets.
    for (Found& f : found)
        ReserveLarge(f.holders, expectedHolders / found.size() + expectedHolders / 8);
    for (unsigned i = 0; i < count; ++i) {
        try {
            helpers.emplace_back([this, i] { work(found[i]); });
        } catch (const std::system_error&) {
            break; // no thread to be had: the caller scans what is left
        }
    }
}

std::vector<Found> SocketOwnerScan::State::finish() {
    if (found.empty())
        return {};
    work(found.back());
    helpers.clear(); // joins; every task is done
    std::vector<Found> result = std::move(found);
    found.clear();
    for (const Found& f : result) {
        refused.insert(f.refused.begin(), f.refused.end());
        for (const Listed& l : f.listed)
            listed[l.pid] = l;
    }
    return result;
}

SocketOwnerScan::SocketOwnerScan(const std::string& procRoot, StartTimeReader readStartTime,
                                 std::size_t expectedHolders)
    : m_state(std::make_unique<State>()) {
    State& state = *m_state;
    state.readStartTime =
        readStartTime ? std::move(readStartTime) : StartTimeReader(linuxproc::processStartTimeAt);
    state.proc = linuxfs::UniqueFd(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (state.proc.valid())
        state.start(Clock::time_point::max(), expectedHolders);
}

SocketOwnerScan::~SocketOwnerScan() {
    if (!m_state)
        return;
    {
        const std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->stop = true;
    }
    m_state->changed.notify_all();
    m_state->helpers.clear(); // joins
}

namespace {

// Sets the owners of the inodes in `owners` whose PID is still 0 from what a pass found,
// leaving out processes whose start time is no longer the one read before their descriptors.
void settleOwners(const std::vector<Found>& found, int procFd, const StartTimeReader& readStartTime,
                  InodeOwners& owners) {
    std::unordered_map<std::uint32_t, std::uint64_t> startAfter;
    // First the holders of inodes still without an owner, then the choice among them: a slot
    // filled while the holders are read must not hide the other holders of its inode.
    struct Candidate {
        SocketOwner* slot;
        SocketOwner owner;
    };
    std::vector<Candidate> candidates;
    std::size_t holderCount = 0;
    for (const Found& f : found)
        holderCount += f.holders.size();
    ReserveLarge(candidates, holderCount);
    for (const Found& f : found) {
        for (const Holder& holder : f.holders) {
            SocketOwner* slot = owners.find(holder.inode);
            if (slot == nullptr || slot->pid != 0)
                continue;
            auto [after, fresh] = startAfter.try_emplace(holder.pid, 0);
            if (fresh)
                after->second = readStartTime(procFd, holder.pid);
            if (after->second != holder.startTime)
                continue; // ended, or its ID was reused, while its descriptors were read
            candidates.push_back(Candidate{slot, SocketOwner{holder.pid, holder.startTime}});
        }
    }
    for (const Candidate& candidate : candidates) {
        if (betterOwner(candidate.owner.pid, candidate.slot->pid))
            *candidate.slot = candidate.owner;
    }
}

} // namespace

SocketHolders SocketOwnerScan::holders() {
    State& state = *m_state;
    const std::vector<Found> found = state.finish();
    SocketHolders all;
    std::unordered_map<std::uint32_t, std::uint64_t> startAfter;
    for (const Found& f : found) {
        for (const Holder& holder : f.holders) {
            auto [after, fresh] = startAfter.try_emplace(holder.pid, 0);
            if (fresh)
                after->second = state.readStartTime(state.proc.get(), holder.pid);
            if (after->second == holder.startTime)
                all.push_back(HeldSocket{holder.inode, holder.pid, holder.startTime});
        }
    }
    return all;
}

void assignHolders(const SocketHolders& holders, InodeOwners& owners) {
    for (const HeldSocket& held : holders) {
        SocketOwner* owner = owners.find(held.inode);
        if (owner != nullptr && betterOwner(held.pid, owner->pid))
            *owner = SocketOwner{held.pid, held.startTime};
    }
}

void SocketOwnerScan::resolve(InodeOwners& owners) {
    State& state = *m_state;
    const std::vector<Found> found = state.finish();
    if (state.proc.valid())
        settleOwners(found, state.proc.get(), state.readStartTime, owners);
}

void SocketOwnerScan::resolveAgain(InodeOwners& owners, Clock::time_point latest) {
    State& state = *m_state;
    if (!state.proc.valid() || owners.unowned() == 0)
        return;
    state.start(latest);
    const std::vector<Found> found = state.finish();
    settleOwners(found, state.proc.get(), state.readStartTime, owners);
}

void findSocketOwners(const std::string& procRoot, InodeOwners& owners) {
    SocketOwnerScan scan(procRoot);
    scan.resolve(owners);
}

} // namespace os::linuxnet
