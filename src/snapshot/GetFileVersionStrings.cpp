#include "snapshot/UnitGetTcpUdpTable.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "os/FileVersion.h"
#include "snapshot/VersionInfo.h"

std::string GetFileVersionStrings(const std::string& fileName, std::string& company) {
    company.clear();
    std::string description;
    if (fileName.empty())
        return description;

    std::vector<std::uint8_t> block;
    if (!os::LoadVersionResource(fileName, block) || block.empty()) {
        // Not a PE file, or one without a version resource: what the desktop knows instead.
        if (!os::DescribeExecutable(fileName, description, company)) {
            description.clear();
            company.clear();
        }
        return description;
    }

    const VersionInfo info(block);
    const std::optional<std::span<const std::uint8_t>> translations =
        info.queryValue("\\VarFileInfo\\Translation");
    if (!translations || translations->size() < 4)
        return description;
    // Only the first translation counts; a string table under any other is not consulted.
    // Upper-case digits, as the resource compilers write the keys; the lookup ignores case
    // anyway, like the platform's own.
    const std::string table =
        "\\StringFileInfo\\" + versionLanguageKey(translations->first<4>()) + "\\";

    const std::optional<std::string> fileDescription = info.queryString(table + "FileDescription");
    if (!fileDescription)
        return description;
    description = *fileDescription;

    if (const std::optional<std::string> companyName = info.queryString(table + "CompanyName"))
        company = *companyName;
    return description;
}
