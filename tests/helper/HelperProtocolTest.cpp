// The messages between kestrel-helper and its parent: what is encoded decodes to the same,
// and every header, count and length that breaks a limit is refused without reading past the
// bytes given.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "helper/HelperProtocol.h"

using namespace helper;

namespace {

ScanResult sample() {
    ScanResult result;
    result.processes = {{1, 11, "/usr/lib/systemd/systemd"}, {42, 4200, ""}, {70000, 9, "/x y"}};
    result.sockets = {{1001, 1}, {1002, 42}, {1003, 42}, {1001, 70000}};
    return result;
}

std::vector<std::uint8_t> payloadOf(const std::vector<std::uint8_t>& message) {
    return std::vector<std::uint8_t>(message.begin() + HeaderSize, message.end());
}

bool decodes(const std::vector<std::uint8_t>& payload, ScanResult& out) {
    return decodeScanReply(payload.data(), payload.size(), out);
}

void putLe(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::vector<std::uint8_t> header(std::uint32_t magic, std::uint16_t version, std::uint16_t type,
                                 std::uint32_t length) {
    std::vector<std::uint8_t> bytes(HeaderSize);
    putLe(bytes, 0, magic, 4);
    putLe(bytes, 4, version, 2);
    putLe(bytes, 6, type, 2);
    putLe(bytes, 8, length, 4);
    return bytes;
}

} // namespace

TEST(HelperProtocol, ScanReplyRoundTrip) {
    const auto message = encodeScanReply(sample());
    ASSERT_TRUE(message);
    const auto head = decodeHeader(message->data(), Sender::Helper);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->type, MessageType::ScanReply);
    EXPECT_EQ(head->length, message->size() - HeaderSize);
    ScanResult back;
    ASSERT_TRUE(decodes(payloadOf(*message), back));
    ASSERT_EQ(back.processes.size(), 3u);
    EXPECT_EQ(back.processes[0].exePath, "/usr/lib/systemd/systemd");
    EXPECT_EQ(back.processes[1].startTime, 4200u);
    EXPECT_EQ(back.processes[2].pid, 70000u);
    ASSERT_EQ(back.sockets.size(), 4u);
    EXPECT_EQ(back.sockets[3].inode, 1001u);
    EXPECT_EQ(back.sockets[3].pid, 70000u);
}

TEST(HelperProtocol, EmptyScanAndSmallMessages) {
    const auto empty = encodeScanReply(ScanResult{});
    ASSERT_TRUE(empty);
    ScanResult back;
    EXPECT_TRUE(decodes(payloadOf(*empty), back));
    EXPECT_TRUE(back.processes.empty());

    const auto hello = encodeHello(HelloCapabilities | HelloOthersHidden);
    ASSERT_EQ(hello.size(), HeaderSize + 4);
    std::uint32_t flags = 0;
    EXPECT_TRUE(decodeHello(hello.data() + HeaderSize, 4, flags));
    EXPECT_EQ(flags, HelloCapabilities | HelloOthersHidden);

    const auto failed = encodeScanFailed(FailReason::TooLarge);
    FailReason reason{};
    EXPECT_TRUE(decodeScanFailed(failed.data() + HeaderSize, 4, reason));
    EXPECT_EQ(reason, FailReason::TooLarge);
    const std::uint8_t unknown[4] = {9, 0, 0, 0};
    EXPECT_FALSE(decodeScanFailed(unknown, 4, reason));

    const auto request = encodeScanRequest();
    ASSERT_EQ(request.size(), HeaderSize);
    EXPECT_TRUE(decodeHeader(request.data(), Sender::Parent));
}

TEST(HelperProtocol, HeadersEachSideMaySend) {
    const std::uint16_t hello = 1, request = 2, reply = 3, failed = 4;
    const std::uint32_t biggest = static_cast<std::uint32_t>(MaxMessage - HeaderSize);
    struct Case {
        std::vector<std::uint8_t> bytes;
        bool fromParent;
        bool fromHelper;
    } cases[] = {
        {header(Magic, ProtocolVersion, request, 0), true, false},
        {header(Magic, ProtocolVersion, request, 1), false, false},
        {header(Magic, ProtocolVersion, request, 0xffffffff), false, false},
        {header(Magic, ProtocolVersion + 1, request, 0), false, false},
        {header(Magic, 0, request, 0), false, false},
        {header(Magic ^ 1, ProtocolVersion, request, 0), false, false},
        {header(Magic, ProtocolVersion, hello, 4), false, true},
        {header(Magic, ProtocolVersion, hello, 5), false, false},
        {header(Magic, ProtocolVersion, failed, 4), false, true},
        {header(Magic, ProtocolVersion, failed, 0), false, false},
        {header(Magic, ProtocolVersion, reply, 8), false, true},
        {header(Magic, ProtocolVersion, reply, 7), false, false},
        {header(Magic, ProtocolVersion, reply, biggest), false, true},
        {header(Magic, ProtocolVersion, reply, biggest + 1), false, false},
        {header(Magic, ProtocolVersion, reply, 0xffffffff), false, false},
        {header(Magic, ProtocolVersion, 0, 0), false, false},
        {header(Magic, ProtocolVersion, 5, 0), false, false},
        {header(Magic, ProtocolVersion, 5, CloseRequestSize), true, false},
        {header(Magic, ProtocolVersion, 5, CloseRequestSize + 1), false, false},
        {header(Magic, ProtocolVersion, 6, 4), false, true},
        {header(Magic, ProtocolVersion, 6, 0), false, false},
        {header(Magic, ProtocolVersion, 7, 4), false, false},
        {header(Magic, ProtocolVersion, 0xffff, 4), false, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(decodeHeader(cases[i].bytes.data(), Sender::Parent).has_value(),
                  cases[i].fromParent);
        EXPECT_EQ(decodeHeader(cases[i].bytes.data(), Sender::Helper).has_value(),
                  cases[i].fromHelper);
    }
}

TEST(HelperProtocol, EveryTruncationAndExtensionIsRefused) {
    const std::vector<std::uint8_t> payload = payloadOf(*encodeScanReply(sample()));
    ScanResult back;
    for (std::size_t length = 0; length < payload.size(); ++length) {
        // A copy of exactly that size, so that a read past its end is caught by the sanitizers.
        const std::vector<std::uint8_t> cut(payload.begin(),
                                            payload.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(decodes(cut, back)) << length;
    }
    std::vector<std::uint8_t> longer = payload;
    longer.push_back(0);
    EXPECT_FALSE(decodes(longer, back));
}

TEST(HelperProtocol, MalformedRepliesAreRefused) {
    const std::vector<std::uint8_t> good = payloadOf(*encodeScanReply(sample()));
    // Offsets in the sample: counts at 0 and 4; the first process at 8 (pid, start, length 24,
    // path); the second at 46; the third at 60; sockets from 82.
    struct Case {
        const char* what;
        std::size_t at;
        std::uint64_t value;
        int width;
    } cases[] = {
        {"process count past the limit", 0, MaxProcesses + 1, 4},
        {"socket count past the limit", 4, MaxSockets + 1, 4},
        {"more processes than bytes", 0, 4, 4},
        {"more sockets than bytes", 4, 5, 4},
        {"fewer sockets than bytes", 4, 3, 4},
        {"PID 0", 8, 0, 4},
        {"start time 0", 12, 0, 8},
        {"PIDs out of order", 46, 1, 4},
        {"PID repeated", 60, 42, 4},
        {"path longer than the limit", 20, MaxPath + 1, 2},
        {"path longer than the bytes", 20, 4000, 2},
        {"socket of an unlisted process", 78 + 8, 43, 4},
        {"socket inode 0", 78, 0, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bad = good;
        putLe(bad, c.at, c.value, c.width);
        ScanResult back;
        EXPECT_FALSE(decodes(bad, back));
    }
    std::vector<std::uint8_t> zero = good;
    zero[8 + 14 + 3] = 0; // a zero byte inside the first path
    ScanResult back;
    EXPECT_FALSE(decodes(zero, back));
}

TEST(HelperProtocol, EncoderKeepsToTheLimits) {
    ScanResult unordered = sample();
    std::swap(unordered.processes[0], unordered.processes[1]);
    EXPECT_FALSE(encodeScanReply(unordered));

    // A holder without its start time could not be told from a later process of its PID.
    ScanResult noStart = sample();
    noStart.processes[1].startTime = 0;
    EXPECT_FALSE(encodeScanReply(noStart));

    ScanResult orphan = sample();
    orphan.sockets.push_back({5, 43});
    EXPECT_FALSE(encodeScanReply(orphan));

    ScanResult longPath = sample();
    longPath.processes[1].exePath.assign(MaxPath, 'a');
    const auto atLimit = encodeScanReply(longPath);
    ASSERT_TRUE(atLimit);
    ScanResult back;
    EXPECT_TRUE(decodes(payloadOf(*atLimit), back));
    EXPECT_EQ(back.processes[1].exePath.size(), MaxPath);
    longPath.processes[1].exePath.push_back('a');
    EXPECT_FALSE(encodeScanReply(longPath));

    // More than fits one message: refused whole rather than cut.
    ScanResult huge;
    for (std::uint32_t pid = 1; pid <= 16384 + 1; ++pid)
        huge.processes.push_back({pid, 1, std::string(MaxPath, 'p')});
    EXPECT_FALSE(encodeScanReply(huge));

    ScanResult many;
    many.processes.push_back({1, 1, ""});
    many.sockets.assign(MaxSockets + 1, SocketHolder{7, 1});
    EXPECT_FALSE(encodeScanReply(many));
    many.sockets.resize(MaxSockets);
    const auto full = encodeScanReply(many);
    ASSERT_TRUE(full);
    EXPECT_LE(full->size(), MaxMessage);
    EXPECT_TRUE(decodes(payloadOf(*full), back));
    EXPECT_EQ(back.sockets.size(), MaxSockets);
}

namespace {

CloseRequest closeSample() {
    CloseRequest request;
    request.local = {127, 0, 0, 1};
    request.remote = {127, 0, 0, 2};
    request.localPort = 40001;
    request.remotePort = 80;
    request.cookie = 0x0102030405060708ull;
    return request;
}

} // namespace

TEST(HelperProtocol, CloseRequestRoundTripAndLayout) {
    CloseRequest v6;
    v6.family = 6;
    v6.local = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9};
    v6.remote = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    v6.localPort = 0xFFFF;
    v6.remotePort = 1;
    v6.interfaceIndex = 7;
    v6.cookie = ~0ull;
    for (const CloseRequest& request : {closeSample(), v6}) {
        const auto message = encodeCloseRequest(request);
        ASSERT_TRUE(message);
        ASSERT_EQ(message->size(), HeaderSize + CloseRequestSize);
        const auto head = decodeHeader(message->data(), Sender::Parent);
        ASSERT_TRUE(head);
        EXPECT_EQ(head->type, MessageType::CloseRequest);
        const std::vector<std::uint8_t> payload = payloadOf(*message);
        CloseRequest back;
        ASSERT_TRUE(decodeCloseRequest(payload.data(), payload.size(), back));
        EXPECT_EQ(back, request);
    }
    // Family, three reserved bytes, local, remote, ports, interface, cookie; little-endian.
    const std::vector<std::uint8_t> payload = payloadOf(*encodeCloseRequest(closeSample()));
    EXPECT_EQ(payload[0], 4);
    EXPECT_EQ(payload[4], 127);
    EXPECT_EQ(payload[20 + 3], 2);
    EXPECT_EQ(payload[36], 40001 & 0xff);
    EXPECT_EQ(payload[44], 0x08);
    EXPECT_EQ(payload[51], 0x01);
}

TEST(HelperProtocol, MalformedCloseRequestsAreRefused) {
    const std::vector<std::uint8_t> good = payloadOf(*encodeCloseRequest(closeSample()));
    CloseRequest back;
    for (std::size_t length = 0; length < good.size(); ++length) {
        const std::vector<std::uint8_t> cut(good.begin(),
                                            good.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(decodeCloseRequest(cut.data(), cut.size(), back)) << length;
    }
    struct Case {
        std::size_t at;
        std::uint8_t value;
    } cases[] = {
        {0, 0}, {0, 5},    {0, 10}, {0, 0xff}, // no such family
        {1, 1}, {3, 0x80},                     // reserved bytes
        {8, 1}, {19, 1},   {24, 1}, {35, 1},   // an IPv4 address longer than four bytes
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bad = good;
        bad[c.at] = c.value;
        EXPECT_FALSE(decodeCloseRequest(bad.data(), bad.size(), back)) << c.at;
    }
    std::vector<std::uint8_t> noCookie = good;
    std::fill(noCookie.end() - 8, noCookie.end(), 0);
    EXPECT_FALSE(decodeCloseRequest(noCookie.data(), noCookie.size(), back));
    // The encoder refuses what the decoder would.
    CloseRequest request = closeSample();
    request.cookie = 0;
    EXPECT_FALSE(encodeCloseRequest(request));
    request = closeSample();
    request.local[4] = 1;
    EXPECT_FALSE(encodeCloseRequest(request));
    request = closeSample();
    request.family = 2;
    EXPECT_FALSE(encodeCloseRequest(request));
}

TEST(HelperProtocol, CloseReplies) {
    for (CloseResult result : {CloseResult::Closed, CloseResult::NotPermitted,
                               CloseResult::NotSupported, CloseResult::Gone, CloseResult::Failed}) {
        const std::vector<std::uint8_t> message = encodeCloseReply(result);
        ASSERT_TRUE(decodeHeader(message.data(), Sender::Helper));
        const std::vector<std::uint8_t> payload = payloadOf(message);
        CloseResult back{};
        ASSERT_TRUE(decodeCloseReply(payload.data(), payload.size(), back));
        EXPECT_EQ(back, result);
    }
    CloseResult back{};
    for (std::uint32_t value : {0u, 6u, 0xffffffffu}) {
        std::vector<std::uint8_t> payload(4);
        putLe(payload, 0, value, 4);
        EXPECT_FALSE(decodeCloseReply(payload.data(), payload.size(), back)) << value;
    }
    const std::vector<std::uint8_t> five(5, 1);
    EXPECT_FALSE(decodeCloseReply(five.data(), five.size(), back));
}
