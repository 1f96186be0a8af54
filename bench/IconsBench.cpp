// Cost of describing executables and naming their icons: cold (the first fill builds the
// indexes) and warm (a refresh answers from what was kept).
#include <benchmark/benchmark.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include "os/IconNames.h"
#include "os/linux/DesktopKnowledge.h"

using namespace os::desktop;

namespace {

// The executables of the running processes: what a first fill asks about.
std::vector<std::string> RunningExecutables() {
    std::set<std::string> paths;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(proc)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
                continue;
            char buffer[PATH_MAX];
            std::string link = std::string("/proc/") + entry->d_name + "/exe";
            ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
            if (length > 0)
                paths.emplace(buffer, static_cast<std::size_t>(length));
        }
        ::closedir(proc);
    }
    paths.insert("/usr/bin/python3.11");
    return {paths.begin(), paths.end()};
}

void BM_DescribeCold(benchmark::State& state) {
    const std::vector<std::string> paths = RunningExecutables();
    std::string description, company;
    for (auto _ : state) {
        ExecutableKnowledge knowledge(DefaultKnowledgeSources());
        for (const std::string& path : paths)
            benchmark::DoNotOptimize(knowledge.describe(path, description, company));
    }
    state.counters["paths"] = static_cast<double>(paths.size());
}
BENCHMARK(BM_DescribeCold)->Unit(benchmark::kMillisecond);

void BM_IconNamesCold(benchmark::State& state) {
    std::vector<std::string> paths = RunningExecutables();
    paths.push_back("/nonexistent/report.pdf");
    for (auto _ : state) {
        ExecutableKnowledge knowledge(DefaultKnowledgeSources());
        for (const std::string& path : paths)
            benchmark::DoNotOptimize(knowledge.iconNameOf(path));
    }
}
BENCHMARK(BM_IconNamesCold)->Unit(benchmark::kMillisecond);

void BM_DesktopIndexBuild(benchmark::State& state) {
    for (auto _ : state) {
        DesktopIndex index(DefaultDesktopSources());
        benchmark::DoNotOptimize(index.entryForExecutable("/usr/bin/true"));
    }
}
BENCHMARK(BM_DesktopIndexBuild)->Unit(benchmark::kMillisecond);

void BM_DpkgBuild(benchmark::State& state) {
    PackageInfo info;
    for (auto _ : state) {
        DpkgDatabase dpkg("");
        benchmark::DoNotOptimize(dpkg.ownerOf("/usr/bin/true", info));
    }
}
BENCHMARK(BM_DpkgBuild)->Unit(benchmark::kMillisecond);

void BM_DescribeWarm(benchmark::State& state) {
    const std::vector<std::string> paths = RunningExecutables();
    ExecutableKnowledge knowledge(DefaultKnowledgeSources());
    std::string description, company;
    for (const std::string& path : paths)
        knowledge.describe(path, description, company);
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(knowledge.describe(paths[next], description, company));
        next = (next + 1) % paths.size();
    }
}
BENCHMARK(BM_DescribeWarm);

void BM_SourcesCheck(benchmark::State& state) {
    ExecutableKnowledge knowledge(DefaultKnowledgeSources());
    std::string description, company;
    knowledge.describe("/usr/bin/python3.11", description, company);
    knowledge.iconNameOf("/usr/bin/python3.11");
    for (auto _ : state)
        knowledge.refreshIfChanged();
}
BENCHMARK(BM_SourcesCheck)->Unit(benchmark::kMicrosecond);

void BM_IconIndexWarm(benchmark::State& state) {
    const std::vector<std::string> paths = RunningExecutables();
    for (const std::string& path : paths)
        os::SystemIconIndexOfPath(path);
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(os::SystemIconIndexOfPath(paths[next]));
        next = (next + 1) % paths.size();
    }
}
BENCHMARK(BM_IconIndexWarm);

} // namespace

BENCHMARK_MAIN();
