// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>

namespace chunkwell {

// The size notifier of one writer. Every growth of a container is raised on its
// writer's notifier, heard by that writer, and passed on up the chain of enclosing
// notifiers, so each enclosing container's size is right in memory at once.
class MediaEvent {
public:
    using Listener = std::function<void(std::int32_t& vNewValue)>;

    // Links to the notifier of the enclosing writer (none for the top one). The link
    // does not own it: the enclosing writer outlives this one.
    explicit MediaEvent(MediaEvent* parent) : m_Parent(parent) {}
    MediaEvent(const MediaEvent&) = delete;
    MediaEvent& operator=(const MediaEvent&) = delete;

    // Sets the one listener of SizeUpdate.
    void Listen(Listener listener) { m_Listener = std::move(listener); }
    // Returns the notifier of the enclosing writer, or nothing for the top one.
    MediaEvent* Parent() const { return m_Parent; }

    // Raises SizeUpdate on this notifier's own listener only.
    void SizeUpdate(std::int32_t& vNewValue);
    // Raises SizeUpdate here, then on every enclosing notifier with the same value.
    void RaiseSizeUpdate(std::int32_t vNewValue);

private:
    Listener m_Listener;
    MediaEvent* m_Parent = nullptr;
};

} // namespace chunkwell
