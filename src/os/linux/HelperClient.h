#pragma once
// The socket owners of one snapshot, from kestrel-helper when one serves this program, else
// from this process's own descriptor scan.
//
// The helper is looked for next to this program's executable (a build tree), then in the
// libexec folder beside the program's installed folder, then in the configured one. It is started
// on first use and kept for the program's life; if it dies it is started once more. A helper that
// does not hold its capabilities, or to which /proc hides other users' processes, would see no more
// than this process and is not used. A program that holds both capabilities itself (root) never
// starts it.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "helper/HelperProtocol.h"
#include "os/linux/LinuxEndpoints.h"

namespace os::linuxhelper {

class OwnerScan {
public:
    // Asks the helper now when `procRoot` is the live "/proc" (the helper scans nothing else),
    // else starts the own scan; either runs while the caller reads the tables.
    // `expectedHolders` as for SocketOwnerScan.
    explicit OwnerScan(const std::string& procRoot, std::size_t expectedHolders = 0);
    ~OwnerScan();
    OwnerScan(const OwnerScan&) = delete;
    OwnerScan& operator=(const OwnerScan&) = delete;

    // As SocketOwnerScan::resolve. When the helper's reply fails, the own scan runs instead.
    void resolve(linuxnet::InodeOwners& owners);
    // As SocketOwnerScan::resolveAgain, with this process's own scan (the helper's answer is
    // one per snapshot).
    void resolveAgain(linuxnet::InodeOwners& owners, std::chrono::steady_clock::time_point latest);

private:
    std::string m_procRoot;
    std::size_t m_expectedHolders;
    std::unique_ptr<linuxnet::SocketOwnerScan> m_own;
    std::unique_lock<std::mutex> m_asked; // held while a helper reply is outstanding
};

// Asks kestrel-helper to close the TCP socket `id` (its cookie must be set), starting the
// helper if needed; waits for a scan that is asked meanwhile. nullopt when no helper that may
// close connections serves this program, or it did not answer.
std::optional<helper::CloseResult> closeThroughHelper(const linuxnet::SocketId& id);

// The helper's path for this program, or empty when none is installed (for tests and
// messages).
std::string helperPath();

} // namespace os::linuxhelper
