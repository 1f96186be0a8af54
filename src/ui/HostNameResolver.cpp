#include "ui/HostNameResolver.h"

#include <utility>

struct HostNameResolver::State {
    ui::Worker* worker = nullptr;
    Lookup lookup;
    std::function<void()> namesArrived;
    struct Entry {
        bool answered = false;
        std::string name;
    };
    std::unordered_map<std::string, Entry> entries;
    std::deque<std::string> order;   // every address in `entries`, oldest first
    std::deque<std::string> pending; // asked for, not started
    std::size_t running = 0;
};

HostNameResolver::HostNameResolver(ui::Worker& worker, Lookup lookup,
                                   std::function<void()> namesArrived)
    : m_state(std::make_shared<State>()) {
    m_state->worker = &worker;
    m_state->lookup = std::move(lookup);
    m_state->namesArrived = std::move(namesArrived);
}

// Completions still to come find the state gone and do nothing.
HostNameResolver::~HostNameResolver() = default;

const std::string* HostNameResolver::name(const std::string& address) {
    State& state = *m_state;
    const auto found = state.entries.find(address);
    if (found != state.entries.end())
        return found->second.answered ? &found->second.name : nullptr;
    if (address.empty() || !state.lookup)
        return nullptr;
    state.entries.emplace(address, State::Entry{});
    state.order.push_back(address);
    state.pending.push_back(address);
    // The oldest answers go first; one still being looked up is simply asked again later.
    while (state.order.size() > MaxNames) {
        state.entries.erase(state.order.front());
        state.order.pop_front();
    }
    startMore();
    return nullptr;
}

std::size_t HostNameResolver::running() const {
    return m_state->running;
}

std::size_t HostNameResolver::waiting() const {
    return m_state->pending.size();
}

void HostNameResolver::startMore() {
    State& state = *m_state;
    while (state.running < MaxLookups && !state.pending.empty()) {
        std::string address = std::move(state.pending.front());
        state.pending.pop_front();
        if (state.entries.find(address) == state.entries.end())
            continue; // dropped as the oldest before its turn came
        auto answer = std::make_shared<std::string>();
        std::weak_ptr<State> weak = m_state;
        ++state.running;
        try {
            state.worker->start(
                [lookup = state.lookup, address, answer] { *answer = lookup(address); },
                [this, weak, address, answer](std::exception_ptr error) {
                    const std::shared_ptr<State> alive = weak.lock();
                    if (!alive)
                        return;
                    --alive->running;
                    const auto entry = alive->entries.find(address);
                    if (entry != alive->entries.end()) {
                        entry->second.answered = true;
                        entry->second.name = error ? std::string() : *answer;
                    }
                    startMore();
                    if (alive->namesArrived)
                        alive->namesArrived();
                });
        } catch (...) {
            // No thread to be had: the address stays unknown and is not asked again.
            --state.running;
            return;
        }
    }
}
