// SPDX-License-Identifier: MIT
// Whole sounds in memory: the buffer they are held in, and reading a "data" record into it.
#include "mdlWaveOut.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace metronel {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t RoundUp(std::size_t value, std::size_t unit) {
    return (value + unit - 1) / unit * unit;
}
} // namespace

SoundBuffer::SoundBuffer(std::size_t size) {
    if (size == 0)
        return;
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (size < kHugePage) {
        const std::size_t length = RoundUp(size, page);
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        m_Map = p;
        m_MapLength = length;
    } else {
        // Huge pages need 2 MiB alignment: map one huge page more and trim both ends.
        if (size > SIZE_MAX - 2 * kHugePage)
            throw std::bad_alloc();
        const std::size_t length = RoundUp(size, kHugePage);
        const std::size_t mapped = length + kHugePage;
        void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        const auto start = reinterpret_cast<std::uintptr_t>(p);
        const std::uintptr_t aligned = RoundUp(start, kHugePage);
        const std::size_t head = aligned - start;
        const std::size_t tail = mapped - head - length;
        if (head)
            munmap(p, head);
        if (tail)
            munmap(reinterpret_cast<void*>(aligned + length), tail);
        m_Map = reinterpret_cast<void*>(aligned);
        m_MapLength = length;
        madvise(m_Map, m_MapLength, MADV_HUGEPAGE); // only advice: fine if refused
    }
    m_Data = static_cast<std::byte*>(m_Map);
    m_Size = size;
}

SoundBuffer::~SoundBuffer() {
    Release();
}

SoundBuffer::SoundBuffer(SoundBuffer&& other) noexcept
    : m_Data(std::exchange(other.m_Data, nullptr)), m_Size(std::exchange(other.m_Size, 0)),
      m_Map(std::exchange(other.m_Map, nullptr)), m_MapLength(std::exchange(other.m_MapLength, 0)) {
}

SoundBuffer& SoundBuffer::operator=(SoundBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        m_Data = std::exchange(other.m_Data, nullptr);
        m_Size = std::exchange(other.m_Size, 0);
        m_Map = std::exchange(other.m_Map, nullptr);
        m_MapLength = std::exchange(other.m_MapLength, 0);
    }
    return *this;
}

void SoundBuffer::Release() noexcept {
    if (m_Map)
        munmap(m_Map, m_MapLength);
    m_Map = nullptr;
    m_MapLength = 0;
    m_Data = nullptr;
    m_Size = 0;
}

namespace {

// Faults in the pages of a fresh buffer from its end backwards on a second thread while
// this one fills it from the start: first touch (zeroing, and on a virtual machine the
// host's own faults) costs more than the copy, and so the two overlap. Populating never
// writes to a page already there, so what the filling put in stays.
class PopulateFromTheEnd {
public:
    explicit PopulateFromTheEnd(SoundBuffer& buffer) {
        if (buffer.size() < kMinimum)
            return;
        try {
            m_Thread = std::thread([this, data = buffer.data(), size = buffer.size()] {
                const std::size_t end = RoundUp(size, kHugePage);
                for (std::size_t at = end; at > 0 && !m_Done.load(std::memory_order_relaxed);) {
                    const std::size_t from = at > kStep ? at - kStep : 0;
                    if (madvise(data + from, at - from, MADV_POPULATE_WRITE) != 0)
                        return; // an older kernel: the filling faults the pages in itself
                    at = from;
                }
            });
        } catch (const std::system_error&) {
        }
    }
    ~PopulateFromTheEnd() {
        m_Done.store(true, std::memory_order_relaxed);
        if (m_Thread.joinable())
            m_Thread.join();
    }
    PopulateFromTheEnd(const PopulateFromTheEnd&) = delete;
    PopulateFromTheEnd& operator=(const PopulateFromTheEnd&) = delete;

private:
    static constexpr std::size_t kMinimum = std::size_t{64} << 20;
    static constexpr std::size_t kStep = std::size_t{16} << 20;
    std::atomic<bool> m_Done{false};
    std::thread m_Thread;
};

} // namespace

bool SoundIsWhole(chunkwell::MediaFileReader& reader, std::int32_t dataSize) {
    if (dataSize <= 0)
        return dataSize == 0;
    // A read past the end of the file succeeds but delivers nothing.
    try {
        std::array<std::byte, 1> last{};
        return reader.ReadRecordDelivered(last, dataSize - 1, 1) == 1;
    } catch (const chunkwell::MediaError&) {
        // A record ending past what 32-bit offsets reach cannot be read whole either.
    }
    return false;
}

bool ReadSound(chunkwell::MediaFileReader& reader, std::int32_t dataSize, SoundBuffer& source) {
    source = SoundBuffer();
    // Checked before the buffer is sized: a short file declaring gigabytes has none of them.
    if (!SoundIsWhole(reader, dataSize))
        return false;
    SoundBuffer buffer(static_cast<std::size_t>(dataSize));
    {
        PopulateFromTheEnd populate(buffer);
        if (dataSize > 0 && !reader.ReadRecord(buffer.span()))
            return false;
    }
    // The file may have been cut short while it was read.
    if (!SoundIsWhole(reader, dataSize))
        return false;
    source = std::move(buffer);
    return true;
}

} // namespace metronel
