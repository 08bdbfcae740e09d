// SPDX-License-Identifier: MIT
#pragma once

// Wave output without widgets: sound buffers, picking frames to a new length, and writing
// one wave file or numbered pieces through Chunkwell. The window's Save As and Split As
// only gather their inputs here and show what comes back; benchmarks call the same code.

#include "mdlFailure.h"
#include "mdlMain.h"
#include "mdlWaveFile.h"

#include <chunkwell/MediaSystemLicence.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace metronel {

// A zero-filled byte buffer for a whole sound (up to 2 GiB). It is an anonymous mapping
// advised for transparent huge pages: for buffers this large, first-touch page faults
// cost far more than the copies themselves. Raises std::bad_alloc when it cannot be had.
class SoundBuffer {
public:
    SoundBuffer() noexcept = default;
    explicit SoundBuffer(std::size_t size);
    ~SoundBuffer();
    SoundBuffer(SoundBuffer&& other) noexcept;
    SoundBuffer& operator=(SoundBuffer&& other) noexcept;
    SoundBuffer(const SoundBuffer&) = delete;
    SoundBuffer& operator=(const SoundBuffer&) = delete;

    std::byte* data() noexcept { return m_Data; }
    const std::byte* data() const noexcept { return m_Data; }
    std::size_t size() const noexcept { return m_Size; }
    bool empty() const noexcept { return m_Size == 0; }
    std::span<std::byte> span() noexcept { return {m_Data, m_Size}; }
    std::span<const std::byte> span() const noexcept { return {m_Data, m_Size}; }

private:
    void Release() noexcept;

    std::byte* m_Data = nullptr;
    std::size_t m_Size = 0;
    void* m_Map = nullptr;
    std::size_t m_MapLength = 0;
};

// Returns the byte a silent sample is made of: 0x80 for 8-bit PCM, 0 otherwise.
std::byte SilenceByte(const WAVEFORMATINFO& format);

// Fills destination with destinationFrames frames of blockAlign bytes picked by index from
// source: frame i takes source frame round((sourceFrames / ((destinationFrames - 1) / i))),
// divisions in double precision, halves to even; frame 0 takes frame 0. An index at or past
// the last whole source frame takes that frame, so the source is never read past its end
// and an incomplete trailing frame never at all; with no whole source frame every byte is
// silence. Raises std::length_error when destination is too small; nothing for a frame
// count or block align below 1.
void ResampleFrames(std::span<std::byte> destination, std::span<const std::byte> source,
                    std::int32_t sourceFrames, std::int16_t blockAlign,
                    std::int32_t destinationFrames, std::byte silence = std::byte{0});

// Fills destination with frames first..first + count - 1 of the destinationFrames frames
// ResampleFrames picks, the very same bytes, so that a long sound can be picked piece by
// piece. Raises std::out_of_range for frames outside 0..destinationFrames - 1 and
// std::length_error when destination is too small; nothing for a count below 1.
void ResampleFrameRange(std::span<std::byte> destination, std::span<const std::byte> source,
                        std::int32_t sourceFrames, std::int16_t blockAlign,
                        std::int32_t destinationFrames, std::int32_t first, std::int32_t count,
                        std::byte silence = std::byte{0});

// Returns the first and last source frame that frames first..first + count - 1 of the
// destinationFrames frames ResampleFrames picks take, from a sound of wholeFrames whole frames
// (sourceFrames in the formula). Raises std::out_of_range for no frames or frames outside.
std::pair<std::int32_t, std::int32_t> SourceFramesOf(std::int32_t sourceFrames,
                                                     std::int32_t wholeFrames,
                                                     std::int32_t destinationFrames,
                                                     std::int32_t first, std::int32_t count);

// As ResampleFrameRange, the very same bytes, from a window holding only the source frames
// from windowFirst on, at least up to the last that SourceFramesOf names: a long sound can
// be picked without being held whole. Raises std::length_error when the window misses frames
// or destination is too small; nothing for a count or block align below 1.
void ResampleFrameWindow(std::span<std::byte> destination, std::span<const std::byte> window,
                         std::int32_t windowFirst, std::int32_t sourceFrames,
                         std::int32_t wholeFrames, std::int16_t blockAlign,
                         std::int32_t destinationFrames, std::int32_t first, std::int32_t count);

// Lets ResampleFrames use the processor's vector instructions where it has them (the
// default), or not; both give the same bytes.
void UseVectorInstructions(bool allowed);

// Returns n frames picked from the sound of dataSize bytes in source (its frame count
// dataSize / BlockAlign rounded, halves to even). Raises chunkwell::OverflowError when
// BlockAlign x n leaves 32 bits, std::length_error when n or BlockAlign is below 1, and
// std::bad_alloc when the buffer cannot be had.
SoundBuffer PickFrames(std::span<const std::byte> source, std::int32_t dataSize,
                       const WAVEFORMATINFO& format, std::int32_t n);

// Tells whether n frames are exactly the sound's own dataSize / BlockAlign frames, in which
// case the sound is written as it is.
bool IsOwnLength(std::int32_t dataSize, const WAVEFORMATINFO& format, std::int32_t n);

// Tells whether the file holds all dataSize bytes of reader's current record (a truncated
// file, or a size nobody wrote, does not). One one-byte read; no buffer.
bool SoundIsWhole(chunkwell::MediaFileReader& reader, std::int32_t dataSize);

// Reads the whole current record of reader (dataSize bytes) into source. Returns false,
// leaving source empty, when the file does not hold them all (checked before the buffer is
// sized, and again after reading) or they cannot be read; raises std::bad_alloc.
bool ReadSound(chunkwell::MediaFileReader& reader, std::int32_t dataSize, SoundBuffer& source);

// Writes path as "RIFF"/"WAVE" holding "fmt " (the 16-byte format) and "data" (data). The
// file is made under a hidden temporary name (SafeWrite) and gets path's name only when
// complete and on the disk: on any failure the temporary is removed and a file of that
// name is as it was. A name held open by a reader or writer, or (without overwrite) taken
// at all, is refused as code 2 before anything is written; data past 32 bits as code 4.
WaveOutResult WriteWaveFile(chunkwell::MediaSystemLicence& msl, const QString& path,
                            const WAVEFORMATINFO& format, std::span<const std::byte> data,
                            bool overwrite);

// How many bytes of frames SaveWaveAs picks and writes at a time at a new length.
inline constexpr std::size_t kSavePieceBytes = std::size_t{1} << 20;

// Writes the open sound (dataSize bytes read into source) brought to n frames to path,
// replacing any file of that name. When n is the sound's own length the bytes are written
// unchanged; when no n frames can be picked (n below 1, too large) "data" is left empty.
// At a new length the frames are picked and written a piece at a time (kSavePieceBytes),
// picking on a second thread; the file holds the same bytes as one PickFrames would give.
// A source holding less than dataSize bytes writes nothing: the outcome is ReadFailed. A
// length past 32 bits, or piece buffers that cannot be had, write nothing: WriteFailed.
WaveOutResult SaveWaveAs(chunkwell::MediaSystemLicence& msl, const QString& path,
                         const WAVEFORMATINFO& format, std::span<const std::byte> source,
                         std::int32_t dataSize, std::int32_t n);

// Save As of the open sound: reader stands on its "data" record of dataSize bytes. At its own
// length the bytes are copied from the file unchanged; at a new length the sound is read
// and brought to n frames as SaveWaveAs does. A file that does not hold the whole record
// writes nothing (ReadFailed, code 3) and no buffer is sized beyond what it holds; a length
// past 32 bits or memory that cannot be had write nothing (WriteFailed, code 4). Removes
// stale temporaries from path's folder first.
WaveOutResult SaveSoundAs(chunkwell::MediaSystemLicence& msl, const QString& path,
                          const WAVEFORMATINFO& format, chunkwell::MediaFileReader& reader,
                          std::int32_t dataSize, std::int32_t n);

// What the split drives while it writes: a progress display and the event loop.
class SplitProgress {
public:
    virtual ~SplitProgress() = default;
    // Sets the displayed range.
    virtual void SetRange(int minimum, int maximum) = 0;
    // Sets the displayed value.
    virtual void SetValue(int value) = 0;
    // Lets the window handle its pending events.
    virtual void ProcessEvents() = 0;
};

// Returns the name of piece k: baseName + "[" + k + "].wav", k zero-padded to digits digits.
QString SplitPieceName(const QString& baseName, int k, int digits = 0);

// Returns the frame count of each piece of a split of totalFrames into parts: the
// rounded share, the last pieces taking what remains. Raises CalcError for parts 0.
std::int32_t FramesPerPart(std::int32_t totalFrames, std::uint8_t parts);

// How a sound's frames are cut into pieces: the one split plan of the window and the
// command line.
struct SplitPlan {
    struct Piece {
        std::int32_t first = 0; // frame
        std::int32_t count = 0; // frames
        QString name;
    };
    std::int32_t totalFrames = 0;   // rounded, but never an incomplete last frame
    std::int32_t framesPerPart = 0; // the rounded share; the last pieces take what remains
    std::vector<Piece> pieces;
};

// Returns the plan for cutting a sound of bytes bytes of blockAlign-byte frames into parts
// pieces named after baseName (SplitPieceName with digits). Raises CalcError for parts 0 or
// a block align below 1.
SplitPlan PlanSplit(std::size_t bytes, std::int32_t blockAlign, std::uint8_t parts,
                    const QString& baseName, int digits = 0);

// When the pieces of a split take their names.
enum class SplitCommit {
    EachPiece, // as each is written: a split that fails keeps the pieces before (the window)
    AllOrNone, // once all are written: a split that fails leaves none (the command line)
};

// What became of a split: the pieces complete on the disk, and the failure that ended it.
struct SplitResult {
    int complete = 0;
    WaveOutResult failure; // Written when every piece was
    QString failedName;    // the piece whose name or writing failed
};

// Writes frames as parts consecutive pieces of equal length, each a new wave file named by
// SplitPieceName, never replacing a file (each through SafeWrite, as WriteWaveFile). A piece
// that cannot be created or written ends the split with its failure in the result; complete
// pieces stay, and no part of the failed one. Removes stale temporaries from the folder first.
// Raises CalcError for parts 0, before anything is written.
SplitResult WriteSplitFiles(std::span<const std::byte> frames, const WAVEFORMATINFO& formatRecord,
                            std::uint8_t parts, const QString& baseName,
                            chunkwell::MediaSystemLicence& msl, SplitProgress& progress);

// Writes the pieces of plan, piece k holding the records makePiece(k) gives, each through
// SafeWrite, replacing a file of its name only with replace. With EachPiece a piece takes its
// name as soon as it is written; with AllOrNone every name is checked first and the pieces
// take their names only when all are written, and a failure leaves none of this split's new
// files (with replace, files already replaced stay replaced). progress, when given, is told
// after each piece. Returns the complete pieces and the failure that ended the split.
SplitResult WriteSplitPieces(chunkwell::MediaSystemLicence& msl, const SplitPlan& plan,
                             SplitCommit commit, bool replace,
                             const std::function<WaveFile(std::size_t k)>& makePiece,
                             SplitProgress* progress = nullptr);

} // namespace metronel
