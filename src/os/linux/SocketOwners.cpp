#include "os/linux/LinuxEndpoints.h"
#include "os/linux/ProcFs.h"

#include <algorithm>
#include <atomic>
#include <charconv>
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

using Holders = SocketHolders;

} // namespace

InodeOwners::InodeOwners(std::size_t expected) {
    // At most half full, so that probe runs stay short.
    std::size_t capacity = 16;
    m_shift = 60;
    while (capacity < expected * 2) {
        capacity *= 2;
        --m_shift;
    }
    m_inodes.assign(capacity, 0);
    m_pids.assign(capacity, 0);
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
                *bigger.find(m_inodes[i]) = m_pids[i];
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

std::uint32_t* InodeOwners::find(std::uint64_t inode) {
    if (inode == 0)
        return nullptr;
    const std::size_t slot = slotOf(inode);
    return m_inodes[slot] == inode ? &m_pids[slot] : nullptr;
}

struct SocketOwnerScan::State {
    linuxfs::UniqueFd proc;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Task> tasks;
    unsigned busy = 0;
    std::atomic<bool> stop{false};
    std::vector<Holders> found; // one per worker, the caller's last
    std::vector<std::jthread> helpers;

    void work(Holders& holders);
    void scanProcess(std::uint32_t pid, Holders& holders);
    void lookUp(const Descriptors& descriptors, std::size_t begin, std::size_t end,
                Holders& holders) const;
};

void SocketOwnerScan::State::lookUp(const Descriptors& descriptors, std::size_t begin,
                                    std::size_t end, Holders& holders) const {
    const int folder = ::dirfd(descriptors.folder.get());
    char name[16];
    char link[64];
    for (std::size_t i = begin; i < end && !stop.load(std::memory_order_relaxed); ++i) {
        const auto [last, error] = std::to_chars(name, name + sizeof name - 1, descriptors.numbers[i]);
        if (error != std::errc())
            continue;
        *last = '\0';
        // Sockets are links of a fixed, short form; anything that fills the buffer is not one.
        const ssize_t length = ::readlinkat(folder, name, link, sizeof link);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof link)
            continue;
        std::uint64_t inode = 0;
        if (socketInode(std::string_view(link, static_cast<std::size_t>(length)), inode))
            holders.emplace_back(inode, descriptors.pid);
    }
}

void SocketOwnerScan::State::scanProcess(std::uint32_t pid, Holders& holders) {
    char path[32];
    const int n = std::snprintf(path, sizeof path, "%u/fd", pid);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path)
        return;
    auto descriptors = std::make_shared<Descriptors>(
        ::openat(proc.get(), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (descriptors->folder.get() == nullptr)
        return;
    descriptors->pid = pid;
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
    lookUp(*descriptors, 0, std::min(count, PieceSize), holders);
}

void SocketOwnerScan::State::work(Holders& holders) {
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
            lookUp(*task.descriptors, task.begin, task.end, holders);
        else
            scanProcess(task.pid, holders);
        guard.lock();
        --busy;
        if (busy == 0 && tasks.empty())
            changed.notify_all();
    }
}

SocketOwnerScan::SocketOwnerScan(const std::string& procRoot) : m_state(std::make_unique<State>()) {
    State& state = *m_state;
    state.proc = linuxfs::UniqueFd(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!state.proc.valid())
        return;
    {
        // The folder stream owns its own descriptor, so the scan's stays open.
        const linuxfs::DirStream list(::dup(state.proc.get()));
        if (list.get() == nullptr)
            return;
        ::rewinddir(list.get());
        while (const dirent* entry = ::readdir(list.get())) {
            if (const auto pid = linuxfs::parsePid(entry->d_name))
                state.tasks.push_back(Task{*pid, nullptr, 0, 0});
        }
    }
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned helpers = cores > 1 ? std::min(cores - 1, MaxHelpers) : 0;
    state.found.resize(helpers + 1);
    for (unsigned i = 0; i < helpers; ++i) {
        try {
            state.helpers.emplace_back([&state, i] { state.work(state.found[i]); });
        } catch (const std::system_error&) {
            break; // no thread to be had: the caller scans what is left
        }
    }
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

void SocketOwnerScan::finish() {
    State& state = *m_state;
    if (state.found.empty())
        return; // no procfs
    state.work(state.found.back());
    state.helpers.clear(); // joins; every task is done
}

void SocketOwnerScan::resolve(InodeOwners& owners) {
    finish();
    for (const Holders& holders : m_state->found)
        assignHolders(holders, owners);
}

SocketHolders SocketOwnerScan::holders() {
    finish();
    SocketHolders all;
    for (Holders& holders : m_state->found) {
        all.insert(all.end(), holders.begin(), holders.end());
        Holders().swap(holders);
    }
    return all;
}

void assignHolders(const SocketHolders& holders, InodeOwners& owners) {
    for (const auto& [inode, pid] : holders) {
        std::uint32_t* owner = owners.find(inode);
        if (owner != nullptr && (*owner == 0 || pid < *owner))
            *owner = pid;
    }
}

void findSocketOwners(const std::string& procRoot, InodeOwners& owners) {
    SocketOwnerScan scan(procRoot);
    scan.resolve(owners);
}

} // namespace os::linuxnet
