#pragma once
// The messages between kestrel-helper and the program that started it, over a stream socket.
// Every message is a 12-byte header (magic, protocol version, type, payload length; all
// little-endian) and its payload. Every count and length is checked against the fixed limits
// below before anything is allocated or read, on both sides.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace helper {

inline constexpr std::uint16_t ProtocolVersion = 1;
// The one command-line argument the helper accepts.
inline constexpr const char* VersionArgument = "--protocol=1";
// The descriptor number on which the helper finds its socket.
inline constexpr int SocketFd = 3;

inline constexpr std::uint32_t Magic = 0x4c48534b; // "KSHL"
inline constexpr std::size_t HeaderSize = 12;
inline constexpr std::size_t MaxMessage = 64u * 1024 * 1024;
inline constexpr std::size_t MaxProcesses = 1u << 22; // the kernel's highest pid_max
inline constexpr std::size_t MaxSockets = 1u << 22;
inline constexpr std::size_t MaxPath = 4095; // PATH_MAX without its terminating zero

enum class MessageType : std::uint16_t {
    Hello = 1,        // helper -> parent, first: what the helper can do
    ScanRequest = 2,  // parent -> helper: scan now; no payload
    ScanReply = 3,    // helper -> parent: the whole result
    ScanFailed = 4,   // helper -> parent: no result this time
    CloseRequest = 5, // parent -> helper: close one TCP connection of the caller's user
    CloseReply = 6,   // helper -> parent: what became of it
};

// Hello flags.
inline constexpr std::uint32_t HelloCapabilities = 1u << 0; // both capabilities are effective
inline constexpr std::uint32_t HelloOthersHidden = 1u
                                                   << 1; // /proc hides other users from the caller

// cap_net_admin is permitted: the helper can close connections (CloseRequest).
inline constexpr std::uint32_t HelloCanClose = 1u << 2;

// ScanFailed reasons.
enum class FailReason : std::uint32_t { TooLarge = 1 };

struct Header {
    MessageType type = MessageType::Hello;
    std::uint32_t length = 0; // of the payload
};

enum class Sender { Helper, Parent };

// The header at `data` (HeaderSize bytes) if it is one that `from` may send: right magic and
// version, a type of that side, and a payload length that type allows.
std::optional<Header> decodeHeader(const std::uint8_t* data, Sender from);

struct ProcessFacts {
    std::uint32_t pid = 0;
    // Field 22 of /proc/<pid>/stat, read before and after the process's descriptors; never 0.
    std::uint64_t startTime = 0;
    std::string exePath; // empty when it could not be read
};

struct SocketHolder {
    std::uint64_t inode = 0;
    std::uint32_t pid = 0;
};

// One scan: processes in ascending PID order, each once, each with its start time; every
// socket's PID is among them.
struct ScanResult {
    std::vector<ProcessFacts> processes;
    std::vector<SocketHolder> sockets;
};

// One TCP socket to close, named as sock_diag names it; the cookie is required, so that no
// other socket on the same addresses and ports is ever closed.
struct CloseRequest {
    std::uint8_t family = 4;              // 4 (AF_INET) or 6 (AF_INET6)
    std::array<std::uint8_t, 16> local{}; // network order; IPv4 in bytes 0..3, the rest 0
    std::array<std::uint8_t, 16> remote{};
    std::uint16_t localPort = 0; // host order
    std::uint16_t remotePort = 0;
    std::uint32_t interfaceIndex = 0;
    std::uint64_t cookie = 0; // never 0
    friend bool operator==(const CloseRequest&, const CloseRequest&) = default;
};
inline constexpr std::size_t CloseRequestSize = 4 + 16 + 16 + 2 + 2 + 4 + 8;

enum class CloseResult : std::uint32_t {
    Closed = 1,
    NotPermitted = 2, // another user's socket, or the helper lacks cap_net_admin
    NotSupported = 3, // the kernel has no SOCK_DESTROY
    Gone = 4,         // no socket with these addresses, ports and cookie
    Failed = 5,
};

std::vector<std::uint8_t> encodeHello(std::uint32_t flags);
std::vector<std::uint8_t> encodeScanRequest();
std::vector<std::uint8_t> encodeScanFailed(FailReason reason);
// The whole ScanReply message; nullopt when `result` breaks a limit or the ordering rule.
std::optional<std::vector<std::uint8_t>> encodeScanReply(const ScanResult& result);

// Payload decoders: false, with the output unspecified, on anything that is not exactly one
// well-formed payload of that type.
bool decodeHello(const std::uint8_t* data, std::size_t length, std::uint32_t& flags);
bool decodeScanFailed(const std::uint8_t* data, std::size_t length, FailReason& reason);
bool decodeScanReply(const std::uint8_t* data, std::size_t length, ScanResult& result);

// The whole CloseRequest message; nullopt when `request` is not one the helper accepts.
std::optional<std::vector<std::uint8_t>> encodeCloseRequest(const CloseRequest& request);
std::vector<std::uint8_t> encodeCloseReply(CloseResult result);
// False also for a family other than 4 and 6, IPv4 addresses with bytes past the fourth,
// reserved bytes that are not 0 and a cookie of 0.
bool decodeCloseRequest(const std::uint8_t* data, std::size_t length, CloseRequest& request);
bool decodeCloseReply(const std::uint8_t* data, std::size_t length, CloseResult& result);

} // namespace helper
