// SPDX-License-Identifier: MIT
#pragma once

// Symbols of libchunkwell.so are hidden unless marked with CHUNKWELL_API.
#if defined(CHUNKWELL_STATIC)
#define CHUNKWELL_API
#else
#define CHUNKWELL_API __attribute__((visibility("default")))
#endif
