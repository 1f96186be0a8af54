// Writes the helper protocol fuzzer's seed corpus into the folder given as the only argument:
// what each side really sends.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "helper/HelperProtocol.h"

using namespace helper;

namespace {

bool save(const std::string& folder, const std::string& name,
          const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

std::vector<std::uint8_t> join(std::vector<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    ScanResult result;
    result.processes = {
        {1, 5, "/usr/lib/systemd/systemd"}, {812, 9000, ""}, {4000, 7, "/usr/sbin/sshd"}};
    result.sockets = {{17, 1}, {18, 812}, {19, 812}, {17, 4000}};
    const auto reply = encodeScanReply(result);
    const auto empty = encodeScanReply(ScanResult{});
    // Start times at both ends of their range, a path at its limit, and one socket that init
    // and two services hold.
    ScanResult edges;
    edges.processes = {{1, 1, "/sbin/init"},
                       {2, ~std::uint64_t{0}, std::string(MaxPath, 'p')},
                       {0xFFFFFFFFu, 1ull << 63, "/x"}};
    edges.sockets = {{1ull << 40, 1}, {1ull << 40, 2}, {1ull << 40, 0xFFFFFFFFu}, {~0ull, 2}};
    const auto edgeReply = encodeScanReply(edges);
    bool ok = reply && empty && edgeReply;
    ok = ok && save(folder, "reply-edges", join({encodeHello(HelloCapabilities), *edgeReply}));
    ok = ok && save(folder, "requests", join({encodeScanRequest(), encodeScanRequest()}));
    ok = ok && save(folder, "session",
                    join({encodeHello(HelloCapabilities), *reply,
                          encodeScanFailed(FailReason::TooLarge), *empty}));
    ok = ok && save(folder, "hello-hidden", encodeHello(HelloOthersHidden));
    // Close requests for an IPv4 and a link-local IPv6 connection between scans, and the
    // replies.
    CloseRequest close4;
    close4.local = {127, 0, 0, 1};
    close4.remote = {127, 0, 0, 1};
    close4.localPort = 40000;
    close4.remotePort = 8080;
    close4.cookie = 0x1234;
    CloseRequest close6;
    close6.family = 6;
    close6.local = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    close6.remote = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    close6.localPort = 0xFFFF;
    close6.remotePort = 1;
    close6.interfaceIndex = 2;
    close6.cookie = ~std::uint64_t{0};
    const auto request4 = encodeCloseRequest(close4);
    const auto request6 = encodeCloseRequest(close6);
    ok = ok && request4 && request6;
    ok = ok && save(folder, "close-requests",
                    join({*request4, encodeScanRequest(), *request6, *request4}));
    ok =
        ok &&
        save(folder, "close-replies",
             join({encodeHello(HelloCapabilities | HelloCanClose),
                   encodeCloseReply(CloseResult::Closed),
                   encodeCloseReply(CloseResult::NotPermitted), *empty,
                   encodeCloseReply(CloseResult::Gone), encodeCloseReply(CloseResult::NotSupported),
                   encodeCloseReply(CloseResult::Failed)}));
    return ok ? 0 : 1;
}
