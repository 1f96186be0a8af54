// Writes the version fuzzer's seed corpus into the folder given as the only argument: small
// PE32 and PE32+ images and bare version blocks, built the same way as the unit tests' files.
#include <cstdio>
#include <fstream>
#include <string>

#include "snapshot/PeBuilder.h"

using namespace pebuild;

namespace {

bool save(const std::string& folder, const std::string& name, const Bytes& bytes) {
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const Bytes chinese = versionBlock(
        {{{0x0804, 0x04B0}, {0x0409, 0x04E4}},
         {{"080404B0", {{"CompanyName", "鹰隼软件"}, {"FileDescription", "连接查看器"}}},
          {"040904E4", {{"FileDescription", "Viewer"}}}}});
    const Bytes odd =
        versionBlock({{{0x0409, 0x04B0}}, {{"040904b0", {{"A", "x"}, {"FileDescription", "yy"}}}}});

    PeOptions languages;
    languages.pe32Plus = true;
    languages.namedTypeEntry = true;
    languages.dataMisalignment = 1;
    languages.resources = {{3, 1, 0x0409, Bytes(8, 1)}, {16, 1, 0x0409, odd}, {16, 1, 0, chinese}};

    bool ok = save(folder, "pe32", peWithVersion(chinese).bytes);
    ok = save(folder, "pe32plus", peWithVersion(odd, true).bytes) && ok;
    ok = save(folder, "languages", buildPe(languages).bytes) && ok;
    ok = save(folder, "block", chinese) && ok;
    ok = save(folder, "oddblock", odd) && ok;
    if (!ok) {
        std::fprintf(stderr, "cannot write the seeds into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
