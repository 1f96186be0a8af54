// libFuzzer target: the input is read as the byte stream each side of the helper's socket
// receives. The helper's side reads requests and their payloads until one is refused; the
// parent's side reads messages and their payloads. A message either side accepts must encode
// back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "helper/HelperProtocol.h"

using namespace helper;

namespace {

void helperSide(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (size - at >= HeaderSize) {
        const auto header = decodeHeader(data + at, Sender::Parent);
        if (!header)
            return;
        at += HeaderSize;
        if (size - at < header->length)
            return;
        if (header->type == MessageType::CloseRequest) {
            CloseRequest request;
            if (!decodeCloseRequest(data + at, header->length, request))
                return;
            const auto again = encodeCloseRequest(request);
            if (!again || again->size() != HeaderSize + header->length ||
                std::memcmp(again->data(), data + at - HeaderSize, again->size()) != 0)
                std::abort();
        } else if (header->type != MessageType::ScanRequest) {
            std::abort();
        }
        at += header->length;
    }
}

void parentSide(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (size - at >= HeaderSize) {
        const auto header = decodeHeader(data + at, Sender::Helper);
        if (!header)
            return;
        at += HeaderSize;
        if (size - at < header->length)
            return;
        const std::uint8_t* payload = data + at;
        std::uint32_t flags = 0;
        FailReason reason{};
        ScanResult result;
        CloseResult closed{};
        switch (header->type) {
        case MessageType::CloseReply:
            if (decodeCloseReply(payload, header->length, closed) &&
                encodeCloseReply(closed) !=
                    std::vector<std::uint8_t>(payload - HeaderSize, payload + header->length))
                std::abort();
            break;
        case MessageType::Hello:
            decodeHello(payload, header->length, flags);
            break;
        case MessageType::ScanFailed:
            decodeScanFailed(payload, header->length, reason);
            break;
        case MessageType::ScanReply:
            if (decodeScanReply(payload, header->length, result)) {
                const auto again = encodeScanReply(result);
                if (!again || again->size() != HeaderSize + header->length ||
                    std::memcmp(again->data(), payload - HeaderSize, again->size()) != 0)
                    std::abort(); // accepted, but not what the encoder makes of it
            }
            break;
        default:
            std::abort(); // a type decodeHeader must not let through
        }
        at += header->length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    helperSide(data, size);
    parentSide(data, size);
    return 0;
}
