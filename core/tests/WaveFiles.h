// SPDX-License-Identifier: MIT
#pragma once

// Builds wave files byte by byte in a test's temporary folder, independent of the
// library under test.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <initializer_list>
#include <string>

namespace metronel::testing {

inline void PutLE(QByteArray& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// One record: identifier, size, data and the pad byte of an odd size.
inline QByteArray Record(const char id[4], const QByteArray& data) {
    QByteArray r(id, 4);
    PutLE(r, static_cast<std::uint32_t>(data.size()), 4);
    r += data;
    if (data.size() % 2)
        r.append('\0');
    return r;
}

struct Format {
    std::int16_t formatTag = 1;
    std::int16_t channels = 2;
    std::int32_t samplesPerSec = 44100;
    std::int32_t avgBytesPerSec = 44100 * 4;
    std::int16_t blockAlign = 4;
    std::int16_t bitsPerSample = 16;
};

// The 16 bytes of a "fmt " record, followed by extra (for 18- or 40-byte records).
inline QByteArray FmtData(const Format& f, const QByteArray& extra = {}) {
    QByteArray d;
    PutLE(d, static_cast<std::uint16_t>(f.formatTag), 2);
    PutLE(d, static_cast<std::uint16_t>(f.channels), 2);
    PutLE(d, static_cast<std::uint32_t>(f.samplesPerSec), 4);
    PutLE(d, static_cast<std::uint32_t>(f.avgBytesPerSec), 4);
    PutLE(d, static_cast<std::uint16_t>(f.blockAlign), 2);
    PutLE(d, static_cast<std::uint16_t>(f.bitsPerSample), 2);
    return d + extra;
}

// A container "RIFF" of the given type holding the records, with a right size field.
inline QByteArray Riff(const QByteArray& records, const char type[4] = "WAVE",
                       const char id[4] = "RIFF") {
    QByteArray out(id, 4);
    PutLE(out, static_cast<std::uint32_t>(4 + records.size()), 4);
    out.append(type, 4);
    return out + records;
}

// Sample bytes counting up from 0, so every frame is different.
inline QByteArray Ramp(int bytes) {
    QByteArray d(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        d[i] = static_cast<char>(i * 7 + i / 256);
    return d;
}

// A standard wave file: "fmt " then "data".
inline QByteArray Wave(const Format& f, const QByteArray& samples) {
    return Riff(Record("fmt ", FmtData(f)) + Record("data", samples));
}

inline QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace metronel::testing
