#pragma once
// The names of remote hosts for the "目标主机" column, found by reverse lookups off the window's
// thread: each address is looked up once and its answer kept for the program's life (at most
// MaxNames addresses, the oldest dropped first); at most MaxLookups run at a time. Everything
// but the lookup itself runs on the window's thread.
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "ui/Worker.h"

class HostNameResolver {
public:
    static constexpr std::size_t MaxLookups = 8;
    static constexpr std::size_t MaxNames = 10000;

    // Finds the name of a numeric address, or "" when it has none (os::HostNameOfAddress). Runs
    // on the worker's threads; must own nothing of the window.
    using Lookup = std::function<std::string(const std::string& address)>;

    // `namesArrived` runs on the window's thread after answers came in (so that the rows can
    // take them). `worker` must outlive the resolver.
    HostNameResolver(ui::Worker& worker, Lookup lookup, std::function<void()> namesArrived);
    ~HostNameResolver();
    HostNameResolver(const HostNameResolver&) = delete;
    HostNameResolver& operator=(const HostNameResolver&) = delete;

    // The name of `address` once its lookup has answered ("" when it has no name); nullptr
    // while it is unknown. An address never asked for is queued for a lookup.
    const std::string* name(const std::string& address);

    // Lookups running now, and waiting for one of the running ones to end.
    std::size_t running() const;
    std::size_t waiting() const;

private:
    struct State;
    void startMore();
    std::shared_ptr<State> m_state;
};
