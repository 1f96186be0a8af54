#include "os/IconNames.h"

#include <mutex>
#include <unordered_map>
#include <vector>

#include "os/linux/DesktopKnowledge.h"

namespace os {

namespace {

class IconRegistry {
public:
    int indexOf(const std::string& key) {
        std::lock_guard<std::mutex> guard(m_lock);
        auto [it, added] = m_indices.try_emplace(key, static_cast<int>(m_keys.size()));
        if (added)
            m_keys.push_back(key);
        return it->second;
    }

    std::string keyOf(int index) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (index < 0 || static_cast<std::size_t>(index) >= m_keys.size())
            return {};
        return m_keys[static_cast<std::size_t>(index)];
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_keys;
    std::unordered_map<std::string, int> m_indices;
};

IconRegistry& Registry() {
    static IconRegistry registry;
    return registry;
}

} // namespace

int SystemIconIndexOfName(const std::string& iconKey) {
    if (iconKey.empty())
        return -1;
    return Registry().indexOf(iconKey);
}

std::string SystemIconName(int systemIndex) {
    return Registry().keyOf(systemIndex);
}

std::string IconNameOfPath(const std::string& path) {
    std::lock_guard<std::mutex> guard(desktop::SystemKnowledgeLock());
    return desktop::SystemKnowledge().iconNameOf(path);
}

int SystemIconIndexOfPath(const std::string& path) {
    if (path.empty())
        return -1;
    std::string key;
    {
        std::lock_guard<std::mutex> guard(desktop::SystemKnowledgeLock());
        key = desktop::SystemKnowledge().iconNameOf(path);
    }
    return SystemIconIndexOfName(key);
}

} // namespace os
