// SPDX-License-Identifier: MIT
#pragma once

// A block of samples channel by channel, with the array of channel pointers the stretcher
// reads from and writes to.

#include <cmath>
#include <cstddef>
#include <vector>

namespace metronel {

// A sample as the stretcher takes it: a non-finite one (a damaged float file) would spread
// through its transforms and silence everything after it, so it is taken as silence.
inline double Finite(double sample) {
    return std::isfinite(sample) ? sample : 0.0;
}

class Planar {
public:
    Planar(std::size_t channels, std::size_t frames)
        : m_Channels(channels, std::vector<float>(frames)), m_Pointers(channels) {
        for (std::size_t c = 0; c < channels; ++c)
            m_Pointers[c] = m_Channels[c].data();
    }
    // The pointers lead into this object's buffers.
    Planar(const Planar&) = delete;
    Planar& operator=(const Planar&) = delete;

    std::vector<float>& operator[](std::size_t channel) { return m_Channels[channel]; }
    float* const* Pointers() { return m_Pointers.data(); }

private:
    std::vector<std::vector<float>> m_Channels;
    std::vector<float*> m_Pointers;
};

} // namespace metronel
