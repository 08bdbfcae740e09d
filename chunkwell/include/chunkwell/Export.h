#pragma once

// Symbols of libchunkwell.so are hidden unless marked with CHUNKWELL_API.
#if defined(CHUNKWELL_STATIC)
#define CHUNKWELL_API
#define CHUNKWELL_LOCAL
#else
#define CHUNKWELL_API __attribute__((visibility("default")))
// Keeps a nested class of an exported one (its private state) out of the library's symbols.
#define CHUNKWELL_LOCAL __attribute__((visibility("hidden")))
#endif
