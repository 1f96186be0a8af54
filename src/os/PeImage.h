#pragma once
// Locating the version resource inside a PE32 or PE32+ image (the layout of Windows
// executables and libraries), without any OS facility. Every offset and size read from the
// image is checked against the image before it is used.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace os {

// Random access to the bytes of an image, so that a file need not be read whole.
class ImageSource {
public:
    virtual ~ImageSource() = default;
    virtual std::uint64_t size() const = 0;
    // Copies out.size() bytes starting at `offset` into `out`. False when any of them lies
    // outside the image or cannot be read.
    virtual bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

// An image already held in memory; the bytes must outlive the source.
class MemoryImageSource : public ImageSource {
public:
    explicit MemoryImageSource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
    std::span<const std::uint8_t> m_bytes;
};

// A VS_VERSIONINFO block is at most 0xFFFF bytes long (its length field has 16 bits); a
// resource claiming more is read only that far.
inline constexpr std::uint32_t kMaxVersionResourceSize = 0xFFFF;

struct ResourceLocation {
    std::uint64_t offset = 0; // file offset of the resource's first byte
    std::uint32_t size = 0;   // bytes to read, at most kMaxVersionResourceSize, never 0
};

// Where the version resource (type RT_VERSION, name 1, the first language: the neutral one
// when there is one) lies in `image`. std::nullopt when the image is not PE32/PE32+, has no such
// resource, or any structure on the way lies outside the image.
std::optional<ResourceLocation> findVersionResource(const ImageSource& image);

// Copies the version resource of `image` into `block`. False, with `block` empty, when
// findVersionResource finds none or its bytes cannot be read.
bool readVersionResource(const ImageSource& image, std::vector<std::uint8_t>& block);

} // namespace os
