// SPDX-License-Identifier: MIT
// Reading and writing whole wave files record by record, every record kept.
#include "mdlWaveFile.h"

#include "mdlBytes.h"
#include "mdlFileName.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace metronel {

std::string FourCCText(std::int32_t id) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(static_cast<std::uint32_t>(id) >> (8 * i));
        text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return text;
}

std::int32_t WaveFile::Channels() const {
    return static_cast<std::int32_t>(GetLE(Fmt(), 2, 2));
}
std::int32_t WaveFile::Rate() const {
    return static_cast<std::int32_t>(GetLE(Fmt(), 4, 4));
}
std::int32_t WaveFile::BlockAlign() const {
    return static_cast<std::int32_t>(GetLE(Fmt(), 12, 2));
}
std::int32_t WaveFile::BitsPerSample() const {
    return static_cast<std::int32_t>(GetLE(Fmt(), 14, 2));
}
std::int32_t WaveFile::DataSize() const {
    return soundInFile ? soundInFile->size : static_cast<std::int32_t>(Data().size());
}
std::int32_t WaveFile::Frames() const {
    const std::int32_t align = BlockAlign();
    return align > 0 ? DataSize() / align : 0;
}

void SoundInFile::Read(std::int64_t offset, std::span<std::byte> bytes) const {
    if (bytes.empty())
        return;
    reader->MoveTo(position);
    const auto size = static_cast<std::int32_t>(bytes.size());
    if (reader->ReadRecordDelivered(bytes, static_cast<std::int32_t>(offset), size) != size)
        throw std::runtime_error("the sound can no longer be read: the file was cut short");
}

void HoldSound(WaveFile& wave) {
    if (!wave.soundInFile)
        return;
    wave.Data().resize(static_cast<std::size_t>(wave.soundInFile->size));
    wave.soundInFile->Read(0, wave.Data());
    wave.soundInFile.reset();
}

void WaveFile::ReadSound(std::int64_t offset, std::span<std::byte> bytes) const {
    if (offset < 0 || offset + static_cast<std::int64_t>(bytes.size()) > DataSize())
        throw std::out_of_range("outside the sound");
    if (soundInFile)
        soundInFile->Read(offset, bytes);
    else
        std::copy_n(Data().begin() + static_cast<std::ptrdiff_t>(offset), bytes.size(),
                    bytes.begin());
}

WaveOutResult SafeWriteFailure(const SafeWrite& safe) {
    return SystemFailure(safe.Error() == EEXIST || safe.Taken() ? chunkwell::mfec_CreateFileFailed
                                                                : chunkwell::mfec_WriteToDataFailed,
                         safe.Error());
}

WaveOutResult TargetRefusal(const SafeWrite& safe) {
    return SystemFailure(chunkwell::mfec_CreateFileFailed, safe.Error());
}

WaveOutResult WriteWaveTemporary(chunkwell::MediaSystemLicence& msl, SafeWrite& safe,
                                 const WaveFile& wave) {
    errno = 0;
    auto writer =
        msl.CreateMediaFile(NativeName(safe.TempPath()).toStdString(), "RIFF", "WAVE", false);
    if (!writer) {
        WaveOutResult failure = SystemFailure(chunkwell::mfec_CreateFileFailed, errno);
        failure.errorCode = msl.Error();
        failure.errorText = msl.DisplayError();
        return failure;
    }
    try {
        for (std::size_t i = 0; i < wave.records.size(); ++i) {
            const WaveRecord& record = wave.records[i];
            if (i == wave.dataIndex && wave.maker) {
                errno = 0;
                if (!writer->CreateChild(record.id, wave.maker->size) ||
                    !wave.maker->write([&](std::int64_t offset, std::span<const std::byte> bytes) {
                        errno = 0;
                        return writer->WriteRecord(bytes, offset, bytes.size());
                    }))
                    return SystemFailure(chunkwell::mfec_WriteToDataFailed, errno);
                continue;
            }
            if (record.bytes.size() > static_cast<std::size_t>(INT32_MAX))
                throw chunkwell::OverflowError("a record leaves 32 bits");
            const auto size = static_cast<std::int32_t>(record.bytes.size());
            errno = 0;
            if (!writer->CreateChild(record.id, size) ||
                (size > 0 && !writer->WriteRecord(record.bytes)))
                return SystemFailure(chunkwell::mfec_WriteToDataFailed, errno);
        }
    } catch (const chunkwell::MediaError& error) {
        WaveOutResult failure = WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
        failure.reason = std::string("cannot write: ") + error.what();
        return failure;
    }
    errno = 0;
    if (!writer->Finish())
        return SystemFailure(chunkwell::mfec_WriteToDataFailed, errno);
    return {};
}

WaveOutResult WriteWave(chunkwell::MediaSystemLicence& msl, const QString& path,
                        const WaveFile& wave, bool replace) {
    SafeWrite safe(path);
    if (!safe.TargetFree(replace))
        return TargetRefusal(safe);
    if (WaveOutResult written = WriteWaveTemporary(msl, safe, wave); !written.Written())
        return written;
    if (!safe.Commit(replace))
        return SafeWriteFailure(safe);
    return {};
}

} // namespace metronel
