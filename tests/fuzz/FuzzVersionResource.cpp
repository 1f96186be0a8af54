// libFuzzer target: the input is read as a PE image through the real resource locator and
// GetFileVersionStrings, and once more as a bare version block.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "os/FileVersion.h"
#include "os/PeImage.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "snapshot/VersionInfo.h"

namespace {

std::span<const std::uint8_t> g_input;

void queryBlock(std::span<const std::uint8_t> block) {
    const VersionInfo info(block);
    info.queryValue("\\");
    const auto translations = info.queryValue("\\VarFileInfo\\Translation");
    std::string table = "\\StringFileInfo\\00000000\\";
    if (translations && translations->size() >= 4)
        table = "\\StringFileInfo\\" + versionLanguageKey(translations->first<4>()) + "\\";
    info.queryString(table + "FileDescription");
    info.queryString(table + "CompanyName");
    info.queryString("\\\\StringFileInfo\\\\");
}

} // namespace

// The file system is replaced by the fuzzer's input.
namespace os {

bool LoadVersionResource(const std::string&, std::vector<std::uint8_t>& block) {
    return readVersionResource(MemoryImageSource(g_input), block);
}

bool DescribeExecutable(const std::string&, std::string& description, std::string& company) {
    description.clear();
    company.clear();
    return false;
}

} // namespace os

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    g_input = std::span<const std::uint8_t>(data, size);
    std::string company;
    GetFileVersionStrings("input.exe", company);
    queryBlock(g_input);
    return 0;
}
