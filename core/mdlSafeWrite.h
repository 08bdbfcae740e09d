// SPDX-License-Identifier: MIT
#pragma once

// Writing a file so that nothing is lost: the new file is made under a hidden temporary name
// beside its target and takes the target's name only once it is complete and on the disk.
//
//   SafeWrite out(chosenName);
//   if (!out.TargetFree(true)) ...                        // in use: refuse before writing
//   auto writer = msl.CreateMediaFile(encode(out.TempPath()), "RIFF", "WAVE");
//   ... fill it, writer->Finish(), writer.reset() ...
//   if (!out.Commit()) ...                                 // the old file is as it was
//
// Leftovers of a run that was killed keep their hidden name until RemoveStaleTemporaries;
// the name carries the writer's process id so that a later run knows a dead one's at once.

#include <QString>

#include <cstdint>

namespace metronel {

// A new file written under a hidden temporary name in its target's folder, given the target's
// name only when complete, so that an existing file of that name is never lost.
class SafeWrite {
public:
    // Picks a temporary name beside target (beside the file a symbolic link leads to) that
    // does not exist yet. Creates nothing.
    explicit SafeWrite(QString target);
    // Removes the temporary unless committed.
    ~SafeWrite();
    SafeWrite(const SafeWrite&) = delete;
    SafeWrite& operator=(const SafeWrite&) = delete;

    // Returns the name to create the new file under (through Chunkwell), without replacing.
    const QString& TempPath() const { return m_TempPath; }
    // Returns the name the file gets at Commit, as it was given.
    const QString& Target() const { return m_Target; }

    // Tells whether the target could be created in place: absent, or (with replace) a
    // regular file this process may write that no reader or writer holds locked. Sets Error.
    [[nodiscard]] bool TargetFree(bool replace) const;

    // Flushes the finished temporary to the disk and gives it the target's name (replacing or
    // not); false, with the temporary removed and any old target untouched, on failure. A
    // replaced file's permission bits pass to the new one. The writers must be released.
    [[nodiscard]] bool Commit(bool replace = true);

    // Returns the system's error number of the last failure, 0 if none (EEXIST: the target
    // was there and was not to be replaced; EISDIR with Taken: a folder has its name).
    int Error() const { return m_Error; }
    // Tells whether the last TargetFree found the name taken and was not to replace it.
    bool Taken() const { return m_Taken; }

    // Asks the system to start writing length bytes of the temporary from offset to the disk
    // now, so that Commit's flush finds less left to wait for. Best effort: where that cannot
    // be done nothing happens, and Commit still flushes everything.
    void StartWriteback(std::int64_t offset, std::int64_t length);

private:
    QString m_Target;
    QString m_Final; // the target, symbolic links followed
    QString m_TempPath;
    bool m_Committed = false;
    mutable int m_Error = 0;
    mutable bool m_Taken = false;
    int m_WritebackFd = -1; // opened at the first StartWriteback
};

// Tells whether name (without folder) is one this program gives its temporaries.
bool IsTemporaryName(const QString& name);

// Removes leftover temporaries of this program from folder: at once those of a process of
// this machine that no longer runs, and any older than a day (a younger one of unknown
// owner may belong to a run still writing).
void RemoveStaleTemporaries(const QString& folder);

// Removes the temporaries of every unfinished write of this process and ends it at once with
// status, for a program stopped by a signal. Call from an ordinary thread, not a handler.
[[noreturn]] void ExitRemovingTemporaries(int status);

} // namespace metronel
