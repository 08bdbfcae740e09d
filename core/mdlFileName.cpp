// SPDX-License-Identifier: MIT
#include "mdlFileName.h"

#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace metronel {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // + the byte, 0x80..0xFF
constexpr char16_t kFirstEscape = 0xDC80;
constexpr char16_t kLastEscape = 0xDCFF;

bool Continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Returns the length of the valid UTF-8 sequence at text[at], or 0 when it is not one:
// no overlong forms, no surrogates, nothing above U+10FFFF.
qsizetype SequenceLength(QByteArrayView text, qsizetype at) {
    const auto byte = [&](qsizetype k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    const qsizetype left = text.size() - at;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return left >= 2 && Continuation(byte(1)) ? 2 : 0;
    // The second byte's range rules out the overlong, surrogate and too-large forms.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    qsizetype length = 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (left < length || byte(1) < low || byte(1) > high)
        return 0;
    for (qsizetype k = 2; k < length; ++k)
        if (!Continuation(byte(k)))
            return 0;
    return length;
}

// Tells whether name[i] stands for a byte that was not UTF-8.
bool IsEscape(const QString& name, qsizetype i) {
    const char16_t c = name[i].unicode();
    return c >= kFirstEscape && c <= kLastEscape && (i == 0 || !name[i - 1].isHighSurrogate());
}

QByteArray CurrentFolder() {
    for (std::size_t size = 256; size <= 1 << 20; size *= 2) {
        const auto buffer = std::make_unique<char[]>(size);
        if (::getcwd(buffer.get(), size) != nullptr)
            return QByteArray(buffer.get());
        if (errno != ERANGE)
            break;
    }
    return QFile::encodeName(QDir::currentPath());
}

} // namespace

QString NameFromNative(QByteArrayView bytes) {
    QString name;
    name.reserve(bytes.size());
    qsizetype start = 0; // of the valid run not yet decoded
    qsizetype at = 0;
    while (at < bytes.size()) {
        if (const qsizetype length = SequenceLength(bytes, at); length > 0) {
            at += length;
            continue;
        }
        name += QString::fromUtf8(bytes.sliced(start, at - start));
        name += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[at])));
        start = ++at;
    }
    name += QString::fromUtf8(bytes.sliced(start));
    return name;
}

QByteArray NativeName(const QString& name) {
    QByteArray bytes;
    qsizetype start = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!IsEscape(name, i))
            continue;
        bytes += QFile::encodeName(name.sliced(start, i - start));
        bytes += static_cast<char>(name[i].unicode() - kEscapeBase);
        start = i + 1;
    }
    if (start == 0)
        return QFile::encodeName(name);
    return bytes + QFile::encodeName(name.sliced(start));
}

bool OpenNativeForReading(QFile& file, const QString& path) {
    const int fd = ::open(NativeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    errno = EIO;
    return false;
}

bool IsFolder(const QString& path) {
    struct stat st {};
    return ::stat(NativeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::int64_t FileSize(const QString& path) {
    struct stat st {};
    return ::stat(NativeName(path).constData(), &st) == 0 ? std::int64_t{st.st_size} : 0;
}

int MakeFolders(const QString& path) {
    const QByteArray native = NativeName(path);
    if (native.isEmpty())
        return ENOENT;
    // Each folder from the top down; one that is there already is passed, whatever a
    // mkdir on it would say (a read-only file system, a parent we may not write).
    for (qsizetype end = native.indexOf('/', 1);; end = native.indexOf('/', end + 1)) {
        const QByteArray folder = end < 0 ? native : native.left(end);
        if (::mkdir(folder.constData(), 0777) != 0) {
            const int error = errno;
            struct stat st {};
            if (::stat(folder.constData(), &st) != 0)
                return error;
            if (!S_ISDIR(st.st_mode))
                return ENOTDIR;
        }
        if (end < 0 || end + 1 >= native.size())
            return 0;
    }
}

QStringList FolderNames(const QString& folder) {
    QStringList names;
    DIR* dir = ::opendir(NativeName(folder.isEmpty() ? QStringLiteral(".") : folder).constData());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArrayView name(entry->d_name);
        if (name != "." && name != "..")
            names << NameFromNative(name);
    }
    ::closedir(dir);
    return names;
}

QString AbsoluteName(const QString& path) {
    if (path.startsWith(u'/'))
        return QDir::cleanPath(path);
    return QDir::cleanPath(NameFromNative(CurrentFolder()) + u'/' + path);
}

QString FolderOf(const QString& path) {
    const QString absolute =
        path.startsWith(u'/') ? path : NameFromNative(CurrentFolder()) + u'/' + path;
    const qsizetype slash = absolute.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : QDir::cleanPath(absolute.left(slash));
}

} // namespace metronel
