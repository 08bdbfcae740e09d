// SPDX-License-Identifier: MIT
#include "MediaEvent.h"

namespace chunkwell {

void MediaEvent::SizeUpdate(std::int32_t& vNewValue) {
    if (m_Listener)
        m_Listener(vNewValue);
}

void MediaEvent::RaiseSizeUpdate(std::int32_t vNewValue) {
    for (MediaEvent* e = this; e != nullptr; e = e->m_Parent)
        e->SizeUpdate(vNewValue);
}

} // namespace chunkwell
