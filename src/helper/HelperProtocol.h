#pragma once
// The messages between kestrel-helper and the program that started it, over a stream socket.
// Every message is a 12-byte header (magic, protocol version, type, payload length; all
// little-endian) and its payload. Every count and length is checked against the fixed limits
// below before anything is allocated or read, on both sides.
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
    Hello = 1,       // helper -> parent, first: what the helper can do
    ScanRequest = 2, // parent -> helper: scan now; no payload
    ScanReply = 3,   // helper -> parent: the whole result
    ScanFailed = 4,  // helper -> parent: no result this time
};

// Hello flags.
inline constexpr std::uint32_t HelloCapabilities = 1u << 0; // both capabilities are effective
inline constexpr std::uint32_t HelloOthersHidden = 1u
                                                   << 1; // /proc hides other users from the caller

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

} // namespace helper
