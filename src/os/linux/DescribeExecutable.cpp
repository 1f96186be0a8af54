#include "os/FileVersion.h"

#include <mutex>

#include "os/linux/DesktopKnowledge.h"

namespace os {

bool DescribeExecutable(const std::string& path, std::string& description, std::string& company) {
    std::lock_guard<std::mutex> guard(desktop::SystemKnowledgeLock());
    return desktop::SystemKnowledge().describe(path, description, company);
}

void PrepareDescriptions() {
    const std::lock_guard<std::mutex> guard(desktop::SystemKnowledgeLock());
    desktop::SystemKnowledge().prepare();
}

} // namespace os
