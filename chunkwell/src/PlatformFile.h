#pragma once

// The library's only door to the operating system's files. Readers and writers of one
// file share one handle, and so one file pointer.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace chunkwell::platform {

enum class Whence { Begin, Current };

// An open file: one descriptor with its own file pointer.
class FileHandle {
public:
    virtual ~FileHandle() = default;
    // Reads up to size bytes at the file pointer; got receives the bytes delivered.
    // Returns false when the system call fails.
    virtual bool Read(void* buffer, std::uint32_t size, std::uint32_t& got) = 0;
    // Writes size bytes at the file pointer; put receives the bytes written. Returns
    // false unless everything was written.
    virtual bool Write(const void* buffer, std::uint32_t size, std::uint32_t& put) = 0;
    // Moves the file pointer by an unsigned distance and returns the new position,
    // or -1 when the move fails.
    virtual std::int64_t Seek(std::uint32_t distance, Whence whence) = 0;
    // Copies size bytes from source's file pointer to this one's, advancing both; copied
    // receives the bytes that arrived. Returns false when a call fails or the source ends
    // first. This version goes through Read and Write with a bounded buffer; a handle that
    // can let the kernel copy overrides it.
    virtual bool CopyFrom(FileHandle& source, std::uint32_t size, std::uint32_t& copied);
};

// Opens an existing file for reading, locked shared (allowShare) or exclusive.
// Returns nothing when the file cannot be opened or the lock is held elsewhere.
std::unique_ptr<FileHandle> OpenExisting(const std::string& path, bool allowShare);

// Creates a file for reading and writing, locked exclusive. Without overwrite an existing
// file is refused; with it the file is emptied, but only once the lock is held.
std::unique_ptr<FileHandle> CreateNew(const std::string& path, bool overwrite);

// Lets tests wrap every handle opened or created from now on (for example to fail a
// write on demand). An empty function restores the plain handles.
using HandleWrapper = std::function<std::unique_ptr<FileHandle>(std::unique_ptr<FileHandle>)>;
void SetHandleWrapperForTesting(HandleWrapper wrapper);

} // namespace chunkwell::platform
