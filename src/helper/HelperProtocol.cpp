#include "helper/HelperProtocol.h"

#include <algorithm>

namespace helper {

namespace {

constexpr std::size_t ProcessFixedSize = 4 + 8 + 2;
constexpr std::size_t SocketSize = 8 + 4;
constexpr std::size_t ReplyCountsSize = 4 + 4;

void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void put64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t getLe(const std::uint8_t* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

std::vector<std::uint8_t> message(MessageType type, std::size_t payloadLength) {
    std::vector<std::uint8_t> out;
    out.reserve(HeaderSize + payloadLength);
    put32(out, Magic);
    put16(out, ProtocolVersion);
    put16(out, static_cast<std::uint16_t>(type));
    put32(out, static_cast<std::uint32_t>(payloadLength));
    return out;
}

// Reads fields front to back and never past the end; every read after a failed one fails.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t length) : m_data(data), m_left(length) {}
    bool take(std::size_t bytes, const std::uint8_t*& at) {
        if (bytes > m_left)
            return false;
        at = m_data;
        m_data += bytes;
        m_left -= bytes;
        return true;
    }
    bool number(int bytes, std::uint64_t& value) {
        const std::uint8_t* at = nullptr;
        if (!take(static_cast<std::size_t>(bytes), at))
            return false;
        value = getLe(at, bytes);
        return true;
    }
    std::size_t left() const { return m_left; }

private:
    const std::uint8_t* m_data;
    std::size_t m_left;
};

bool validPath(const std::string& path) {
    return path.size() <= MaxPath && path.find('\0') == std::string::npos;
}

// `processes` is in ascending PID order.
bool hasProcess(const std::vector<ProcessFacts>& processes, std::uint32_t pid) {
    const auto it = std::lower_bound(
        processes.begin(), processes.end(), pid,
        [](const ProcessFacts& process, std::uint32_t value) { return process.pid < value; });
    return it != processes.end() && it->pid == pid;
}

} // namespace

std::optional<Header> decodeHeader(const std::uint8_t* data, Sender from) {
    if (getLe(data, 4) != Magic || getLe(data + 4, 2) != ProtocolVersion)
        return std::nullopt;
    Header header;
    header.length = static_cast<std::uint32_t>(getLe(data + 8, 4));
    const auto type = static_cast<std::uint16_t>(getLe(data + 6, 2));
    bool allowed = false;
    if (from == Sender::Parent) {
        allowed =
            (type == static_cast<std::uint16_t>(MessageType::ScanRequest) && header.length == 0) ||
            (type == static_cast<std::uint16_t>(MessageType::CloseRequest) &&
             header.length == CloseRequestSize);
    } else if (type == static_cast<std::uint16_t>(MessageType::Hello) ||
               type == static_cast<std::uint16_t>(MessageType::ScanFailed) ||
               type == static_cast<std::uint16_t>(MessageType::CloseReply)) {
        allowed = header.length == 4;
    } else if (type == static_cast<std::uint16_t>(MessageType::ScanReply)) {
        allowed = header.length >= ReplyCountsSize && header.length <= MaxMessage - HeaderSize;
    }
    if (!allowed)
        return std::nullopt;
    header.type = static_cast<MessageType>(type);
    return header;
}

std::vector<std::uint8_t> encodeHello(std::uint32_t flags) {
    std::vector<std::uint8_t> out = message(MessageType::Hello, 4);
    put32(out, flags);
    return out;
}

std::vector<std::uint8_t> encodeScanRequest() {
    return message(MessageType::ScanRequest, 0);
}

std::vector<std::uint8_t> encodeScanFailed(FailReason reason) {
    std::vector<std::uint8_t> out = message(MessageType::ScanFailed, 4);
    put32(out, static_cast<std::uint32_t>(reason));
    return out;
}

std::optional<std::vector<std::uint8_t>> encodeScanReply(const ScanResult& result) {
    if (result.processes.size() > MaxProcesses || result.sockets.size() > MaxSockets)
        return std::nullopt;
    std::size_t length = ReplyCountsSize + result.sockets.size() * SocketSize;
    std::uint32_t previous = 0;
    for (const ProcessFacts& process : result.processes) {
        if (process.pid <= previous || process.startTime == 0 || !validPath(process.exePath))
            return std::nullopt;
        previous = process.pid;
        length += ProcessFixedSize + process.exePath.size();
        if (length > MaxMessage - HeaderSize)
            return std::nullopt;
    }
    if (length > MaxMessage - HeaderSize)
        return std::nullopt;
    for (const SocketHolder& socket : result.sockets) {
        if (socket.inode == 0 || !hasProcess(result.processes, socket.pid))
            return std::nullopt;
    }

    std::vector<std::uint8_t> out = message(MessageType::ScanReply, length);
    put32(out, static_cast<std::uint32_t>(result.processes.size()));
    put32(out, static_cast<std::uint32_t>(result.sockets.size()));
    for (const ProcessFacts& process : result.processes) {
        put32(out, process.pid);
        put64(out, process.startTime);
        put16(out, static_cast<std::uint16_t>(process.exePath.size()));
        out.insert(out.end(), process.exePath.begin(), process.exePath.end());
    }
    for (const SocketHolder& socket : result.sockets) {
        put64(out, socket.inode);
        put32(out, socket.pid);
    }
    return out;
}

bool decodeHello(const std::uint8_t* data, std::size_t length, std::uint32_t& flags) {
    if (length != 4)
        return false;
    flags = static_cast<std::uint32_t>(getLe(data, 4));
    return true;
}

bool decodeScanFailed(const std::uint8_t* data, std::size_t length, FailReason& reason) {
    if (length != 4)
        return false;
    const auto value = static_cast<std::uint32_t>(getLe(data, 4));
    if (value != static_cast<std::uint32_t>(FailReason::TooLarge))
        return false;
    reason = static_cast<FailReason>(value);
    return true;
}

bool decodeScanReply(const std::uint8_t* data, std::size_t length, ScanResult& result) {
    result.processes.clear();
    result.sockets.clear();
    if (length > MaxMessage - HeaderSize)
        return false;
    Reader in(data, length);
    std::uint64_t processCount = 0;
    std::uint64_t socketCount = 0;
    if (!in.number(4, processCount) || !in.number(4, socketCount))
        return false;
    // The counts must fit the bytes there before anything is reserved for them.
    if (processCount > MaxProcesses || socketCount > MaxSockets ||
        processCount * ProcessFixedSize + socketCount * SocketSize > in.left())
        return false;
    result.processes.reserve(static_cast<std::size_t>(processCount));
    result.sockets.reserve(static_cast<std::size_t>(socketCount));
    std::uint32_t previous = 0;
    for (std::uint64_t i = 0; i < processCount; ++i) {
        ProcessFacts process;
        std::uint64_t pid = 0;
        std::uint64_t pathLength = 0;
        const std::uint8_t* path = nullptr;
        if (!in.number(4, pid) || !in.number(8, process.startTime) || !in.number(2, pathLength) ||
            pathLength > MaxPath || !in.take(static_cast<std::size_t>(pathLength), path))
            return false;
        if (pid <= previous || process.startTime == 0)
            return false;
        process.pid = static_cast<std::uint32_t>(pid);
        previous = process.pid;
        process.exePath.assign(reinterpret_cast<const char*>(path),
                               static_cast<std::size_t>(pathLength));
        if (!validPath(process.exePath))
            return false;
        result.processes.push_back(std::move(process));
    }
    if (in.left() != socketCount * SocketSize)
        return false;
    for (std::uint64_t i = 0; i < socketCount; ++i) {
        SocketHolder socket;
        std::uint64_t pid = 0;
        if (!in.number(8, socket.inode) || !in.number(4, pid) || socket.inode == 0)
            return false;
        socket.pid = static_cast<std::uint32_t>(pid);
        if (!hasProcess(result.processes, socket.pid))
            return false;
        result.sockets.push_back(socket);
    }
    return in.left() == 0;
}

namespace {

bool validCloseRequest(const CloseRequest& request) {
    if (request.cookie == 0 || (request.family != 4 && request.family != 6))
        return false;
    if (request.family == 4) {
        for (const auto* address : {&request.local, &request.remote}) {
            if (std::any_of(address->begin() + 4, address->end(), [](std::uint8_t b) { return b; }))
                return false;
        }
    }
    return true;
}

} // namespace

std::optional<std::vector<std::uint8_t>> encodeCloseRequest(const CloseRequest& request) {
    if (!validCloseRequest(request))
        return std::nullopt;
    std::vector<std::uint8_t> out = message(MessageType::CloseRequest, CloseRequestSize);
    out.push_back(request.family);
    out.insert(out.end(), 3, 0);
    out.insert(out.end(), request.local.begin(), request.local.end());
    out.insert(out.end(), request.remote.begin(), request.remote.end());
    put16(out, request.localPort);
    put16(out, request.remotePort);
    put32(out, request.interfaceIndex);
    put64(out, request.cookie);
    return out;
}

std::vector<std::uint8_t> encodeCloseReply(CloseResult result) {
    std::vector<std::uint8_t> out = message(MessageType::CloseReply, 4);
    put32(out, static_cast<std::uint32_t>(result));
    return out;
}

bool decodeCloseRequest(const std::uint8_t* data, std::size_t length, CloseRequest& request) {
    if (length != CloseRequestSize)
        return false;
    Reader in(data, length);
    std::uint64_t family = 0;
    std::uint64_t reserved = 0;
    const std::uint8_t* local = nullptr;
    const std::uint8_t* remote = nullptr;
    std::uint64_t localPort = 0;
    std::uint64_t remotePort = 0;
    std::uint64_t interfaceIndex = 0;
    if (!in.number(1, family) || !in.number(3, reserved) || !in.take(16, local) ||
        !in.take(16, remote) || !in.number(2, localPort) || !in.number(2, remotePort) ||
        !in.number(4, interfaceIndex) || !in.number(8, request.cookie) || reserved != 0)
        return false;
    request.family = static_cast<std::uint8_t>(family);
    std::copy(local, local + 16, request.local.begin());
    std::copy(remote, remote + 16, request.remote.begin());
    request.localPort = static_cast<std::uint16_t>(localPort);
    request.remotePort = static_cast<std::uint16_t>(remotePort);
    request.interfaceIndex = static_cast<std::uint32_t>(interfaceIndex);
    return validCloseRequest(request);
}

bool decodeCloseReply(const std::uint8_t* data, std::size_t length, CloseResult& result) {
    if (length != 4)
        return false;
    const auto value = static_cast<std::uint32_t>(getLe(data, 4));
    if (value < static_cast<std::uint32_t>(CloseResult::Closed) ||
        value > static_cast<std::uint32_t>(CloseResult::Failed))
        return false;
    result = static_cast<CloseResult>(value);
    return true;
}

} // namespace helper
