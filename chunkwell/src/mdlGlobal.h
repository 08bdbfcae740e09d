// SPDX-License-Identifier: MIT
#pragma once

#include <chunkwell/MediaTypes.h>

namespace chunkwell {

// The last error code of the calling thread, shared by every control on it.
MediaFileErrorCodes& LastErrorCode();

} // namespace chunkwell
