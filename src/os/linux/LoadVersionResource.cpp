#include "os/FileVersion.h"
#include "os/PeImage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

// Reads only the parts of the file that the PE walk asks for. The headers and the resource
// directories are small and lie close together, so small reads go through one cached window:
// a typical executable costs two or three reads however large the file is.
class FileImageSource : public ImageSource {
public:
    FileImageSource(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
    static constexpr std::size_t kWindowSize = 16 * 1024;
    static constexpr std::uint64_t kWindowAlignment = 4096;

    bool readExactly(std::uint64_t offset, std::span<std::uint8_t> out) const;

    int m_fd;
    std::uint64_t m_size;
    mutable std::vector<std::uint8_t> m_window;
    mutable std::uint64_t m_windowStart = 0;
};

bool FileImageSource::readExactly(std::uint64_t offset, std::span<std::uint8_t> out) const {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got =
            ::pread(m_fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false; // an error, or the file shrank since it was opened
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool FileImageSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > m_size || out.size() > m_size - offset)
        return false;
    if (out.empty())
        return true;
    if (out.size() > kWindowSize)
        return readExactly(offset, out);

    const bool cached = offset >= m_windowStart && offset - m_windowStart <= m_window.size() &&
                        out.size() <= m_window.size() - (offset - m_windowStart);
    if (!cached) {
        const std::uint64_t start = offset - offset % kWindowAlignment;
        const std::uint64_t length = std::min<std::uint64_t>(kWindowSize, m_size - start);
        if (offset + out.size() > start + length)
            return readExactly(offset, out); // straddles the window's end
        m_window.resize(static_cast<std::size_t>(length));
        if (!readExactly(start, m_window)) {
            m_window.clear();
            return false;
        }
        m_windowStart = start;
    }
    std::memcpy(out.data(), m_window.data() + (offset - m_windowStart), out.size());
    return true;
}

} // namespace

bool LoadVersionResource(const std::string& path, std::vector<std::uint8_t>& block) {
    block.clear();
    if (path.empty())
        return false;
    // Opening a device can have effects of its own (a tape rewinds), so only what looks like
    // a regular file is opened; O_NONBLOCK keeps a FIFO swapped in meanwhile from blocking the
    // open, and the second check refuses it.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0)
        return false;
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0)
        return false;
    // No limit on the file's size is needed: only the headers and the resource (at most
    // 64 KiB) are read, and installers with gigabytes of appended data are ordinary PE files.
    const FileImageSource image(file.get(), static_cast<std::uint64_t>(status.st_size));
    return readVersionResource(image, block);
}

} // namespace os
