#include "PlatformFile.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace chunkwell::platform {

bool FileHandle::CopyFrom(FileHandle& source, std::uint32_t size, std::uint32_t& copied) {
    copied = 0;
    // Bounded, so a copy of a whole sound does not hold the sound in memory twice.
    constexpr std::uint32_t kChunk = 1u << 20;
    std::vector<std::byte> buffer(std::min(size, kChunk));
    while (copied < size) {
        const std::uint32_t want = std::min(size - copied, kChunk);
        std::uint32_t got = 0;
        if (!source.Read(buffer.data(), want, got) || got == 0)
            return false;
        std::uint32_t put = 0;
        if (!Write(buffer.data(), got, put))
            return false;
        copied += got;
    }
    return true;
}

namespace {

class PosixFile final : public FileHandle {
public:
    explicit PosixFile(int fd) : m_Fd(fd) {}
    ~PosixFile() override { ::close(m_Fd); } // a failed close is ignored
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    bool Read(void* buffer, std::uint32_t size, std::uint32_t& got) override {
        got = 0;
        auto* out = static_cast<char*>(buffer);
        // read() may deliver less than asked on a regular file (Linux caps one call
        // below 2 GiB), so keep going until the end of the file.
        while (got < size) {
            ssize_t n = ::read(m_Fd, out + got, size - got);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (n == 0)
                break;
            got += static_cast<std::uint32_t>(n);
        }
        return true;
    }

    bool Write(const void* buffer, std::uint32_t size, std::uint32_t& put) override {
        put = 0;
        const auto* in = static_cast<const char*>(buffer);
        while (put < size) {
            ssize_t n = ::write(m_Fd, in + put, size - put);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (n == 0)
                return false;
            put += static_cast<std::uint32_t>(n);
        }
        return true;
    }

    std::int64_t Seek(std::uint32_t distance, Whence whence) override {
        off_t r = ::lseek(m_Fd, static_cast<off_t>(distance),
                          whence == Whence::Begin ? SEEK_SET : SEEK_CUR);
        return r < 0 ? -1 : static_cast<std::int64_t>(r);
    }

    // Lets the kernel copy between two plain files; where it cannot (another kind of
    // handle, a file system or kernel without support), the rest goes through a buffer.
    bool CopyFrom(FileHandle& source, std::uint32_t size, std::uint32_t& copied) override {
        copied = 0;
        auto* plain = dynamic_cast<PosixFile*>(&source);
        while (plain != nullptr && copied < size) {
            ssize_t n = ::copy_file_range(plain->m_Fd, nullptr, m_Fd, nullptr, size - copied, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0)
                return false; // the source ends before the size
            if (n < 0) {
                if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
                    return false;
                break;
            }
            copied += static_cast<std::uint32_t>(n);
        }
        if (copied == size)
            return true;
        std::uint32_t rest = 0;
        const bool ok = FileHandle::CopyFrom(source, size - copied, rest);
        copied += rest;
        return ok;
    }

private:
    int m_Fd;
};

HandleWrapper& Wrapper() {
    static HandleWrapper wrapper;
    return wrapper;
}

std::unique_ptr<FileHandle> Wrap(int fd) {
    std::unique_ptr<FileHandle> h = std::make_unique<PosixFile>(fd);
    if (Wrapper())
        h = Wrapper()(std::move(h));
    return h;
}

bool Lock(int fd, bool shared) {
    int r;
    do {
        r = ::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

// Only regular files are chunk files: a folder, a pipe or a device is refused like a
// missing file (opening a pipe would otherwise wait for a writer forever).
bool IsRegular(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool IsEmpty(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_size == 0;
}

} // namespace

std::unique_ptr<FileHandle> OpenExisting(const std::string& path, bool allowShare) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    if (!IsRegular(fd) || ::fcntl(fd, F_SETFL, 0) != 0 || !Lock(fd, allowShare)) {
        ::close(fd);
        return nullptr;
    }
    return Wrap(fd);
}

std::unique_ptr<FileHandle> CreateNew(const std::string& path, bool overwrite) {
    int flags = O_RDWR | O_CREAT | O_CLOEXEC | (overwrite ? 0 : O_EXCL);
    int fd = ::open(path.c_str(), flags | O_NONBLOCK, 0666);
    if (fd < 0)
        return nullptr;
    if (!IsRegular(fd) || ::fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    // Empty the file only once we hold it alone: a file in use is never truncated. A new,
    // empty file is left alone: truncating it changes nothing, but ext4 would then take it
    // for a replaced file and make its close wait until the data is on disk.
    if (!Lock(fd, false) || (overwrite && !IsEmpty(fd) && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return nullptr;
    }
    return Wrap(fd);
}

void SetHandleWrapperForTesting(HandleWrapper wrapper) {
    Wrapper() = std::move(wrapper);
}

} // namespace chunkwell::platform
