// Windows announces no socket's end: the listener never listens, and the connection log there
// learns openings and closings by comparing snapshots.
#include "os/SocketEnds.h"

namespace os {

struct SocketEndListener::State {};

SocketEndListener::SocketEndListener(std::size_t) : m_state(std::make_unique<State>()) {}
SocketEndListener::~SocketEndListener() = default;
bool SocketEndListener::listening() const {
    return false;
}
std::size_t SocketEndListener::take(std::vector<SocketEnd>&) {
    return 0;
}
bool SocketEndListener::wait(std::chrono::milliseconds) {
    return false;
}
SocketEndCounts SocketEndListener::counts() const {
    return {};
}
double SocketEndListener::threadCpuSeconds() const {
    return -1;
}

} // namespace os
