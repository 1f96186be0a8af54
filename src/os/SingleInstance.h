#pragma once
// SingleInstance: tells whether another instance of the program already runs for this user.
#include <string>

namespace os {

// Holds the claim of "the one running instance" under a name for as long as the object lives.
// Linux: an exclusive lock on a file named after the name in the user's runtime folder
// ($XDG_RUNTIME_DIR, used only when it is the user's own folder closed to everyone else),
// else in a folder of the user's own under the cache folder; no other user can take or block
// the claim. The kernel drops the lock when the process ends, however it ends, so a crash
// leaves no stale claim.
// Windows: a named mutex (CreateMutexW + ERROR_ALREADY_EXISTS), freed by the system likewise.
class SingleInstance {
public:
    explicit SingleInstance(const std::string& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True only when another process holds the name. When the claim fails for any other
    // reason (no folder of the user's own, name too long) this is false: start-up goes on as
    // a first instance.
    bool alreadyRunning() const { return m_alreadyRunning; }

private:
    int m_fd = -1;
    bool m_alreadyRunning = false;
};

} // namespace os
