// SPDX-License-Identifier: MIT
#pragma once

// File names as the system has them: bytes. A name from the command line becomes a QString
// that gives back its very bytes, and every call on the file system goes through those bytes.
//
//   const QString name = NameFromNative(argv[1]);            // "\xe9.wav" -> u"\xdce9.wav"
//   ::open(NativeName(name).constData(), O_RDONLY);          // opens "\xe9.wav" itself
//
// Valid UTF-8 decodes as Qt decodes it; each byte that is not part of valid UTF-8 becomes
// the lone surrogate U+DC80 + (byte - 0x80), which no decoded name holds, and NativeName
// turns it back into that byte. A name without such surrogates encodes as QFile::encodeName.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstdint>

class QFile;

namespace metronel {

// Returns name decoded from the system's bytes, invalid bytes kept as lone surrogates.
QString NameFromNative(QByteArrayView bytes);

// Returns the system's bytes for name: its UTF-8, each surrogate U+DC80..U+DCFF as its byte.
QByteArray NativeName(const QString& name);

// Opens file for reading by the bytes of path; false, with errno set, when it cannot.
bool OpenNativeForReading(QFile& file, const QString& path);

// Tells whether path is a folder, or a link to one.
bool IsFolder(const QString& path);

// Returns the size of the file at path (after links), 0 when there is none.
std::int64_t FileSize(const QString& path);

// Makes the folder path and the missing folders above it. Returns 0, or the system's error
// number for the first that cannot be made (ENOTDIR where something else has its name).
int MakeFolders(const QString& path);

// Returns the names in folder, "." and ".." left out, in the system's order; none when the
// folder cannot be read.
QStringList FolderNames(const QString& folder);

// Returns path made absolute against the current folder and cleaned, without following links.
QString AbsoluteName(const QString& path);

// Returns the absolute folder that holds path.
QString FolderOf(const QString& path);

} // namespace metronel
