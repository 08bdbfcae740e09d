// SPDX-License-Identifier: MIT
#pragma once

// Little-endian integers in byte buffers: the one place the project's records are decoded
// and encoded, never by casting structures.
//
//   const std::uint32_t rate = GetLE(fmt, 4, 4);   // bytes past the end count as zero
//   PutLE(record, 28, loops, 4);

#include <cstddef>
#include <cstdint>
#include <span>

namespace metronel {

// Returns the unsigned little-endian integer of `bytes` bytes (1 to 8) at `at`; bytes past
// the end of b count as zero, so a short record reads as if zero-filled.
constexpr std::uint64_t GetLE(std::span<const std::byte> b, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        const std::size_t k = at + static_cast<std::size_t>(i);
        value = value << 8 | (k < b.size() ? std::to_integer<std::uint64_t>(b[k]) : 0);
    }
    return value;
}

// Writes the low `bytes` bytes (1 to 8) of value little-endian at `at`; the caller sees that
// they fit.
constexpr void PutLE(std::span<std::byte> b, std::size_t at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::byte>(value >> (8 * i));
}

} // namespace metronel
