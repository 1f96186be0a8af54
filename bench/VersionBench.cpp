// Cost of reading a version resource from a file: a small PE file, an installer whose
// resource sits before gigabytes of appended data (must cost the same), a file that is no PE
// image, and the whole GetFileVersionStrings on a PE file.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "os/FileVersion.h"
#include "snapshot/PeBuilder.h"
#include "snapshot/UnitGetTcpUdpTable.h"

namespace {

class TempFiles {
public:
    TempFiles() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrel-version-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            m_dir = pattern;
    }
    ~TempFiles() {
        std::error_code ignored;
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir, ignored);
    }
    TempFiles(const TempFiles&) = delete;
    TempFiles& operator=(const TempFiles&) = delete;

    // Writes `bytes`, then extends the file to `size` bytes (sparse) when that is larger.
    std::string write(const std::string& name, const pebuild::Bytes& bytes, off_t size = 0) const {
        const std::string path = (m_dir / name).string();
        {
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
        }
        if (size > static_cast<off_t>(bytes.size()) && ::truncate(path.c_str(), size) != 0)
            return {};
        return path;
    }

private:
    std::filesystem::path m_dir;
};

const pebuild::Bytes& block() {
    static const pebuild::Bytes bytes = pebuild::versionBlock(
        {{{0x0804, 0x04B0}},
         {{"080404B0", {{"CompanyName", "鹰隼软件公司"}, {"FileDescription", "网络连接查看器"}}}}});
    return bytes;
}

void loadVersion(benchmark::State& state, const std::string& path, bool expected) {
    if (path.empty()) {
        state.SkipWithError("cannot create the file");
        return;
    }
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        const bool found = os::LoadVersionResource(path, out);
        if (found != expected) {
            state.SkipWithError("unexpected result");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_LoadVersionResourceSmallPe(benchmark::State& state) {
    const TempFiles files;
    loadVersion(state, files.write("app.exe", pebuild::peWithVersion(block()).bytes), true);
}
BENCHMARK(BM_LoadVersionResourceSmallPe);

void BM_LoadVersionResourceInstaller4GiB(benchmark::State& state) {
    const TempFiles files;
    loadVersion(
        state,
        files.write("setup.exe", pebuild::peWithVersion(block(), true).bytes, off_t{4} << 30),
        true);
}
BENCHMARK(BM_LoadVersionResourceInstaller4GiB);

void BM_LoadVersionResourceElf(benchmark::State& state) {
    loadVersion(state, "/proc/self/exe", false);
}
BENCHMARK(BM_LoadVersionResourceElf);

void BM_GetFileVersionStringsPe(benchmark::State& state) {
    const TempFiles files;
    const std::string path = files.write("app.exe", pebuild::peWithVersion(block()).bytes);
    std::string company;
    for (auto _ : state)
        benchmark::DoNotOptimize(GetFileVersionStrings(path, company));
}
BENCHMARK(BM_GetFileVersionStringsPe);

} // namespace

BENCHMARK_MAIN();
