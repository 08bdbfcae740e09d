// SPDX-License-Identifier: MIT
#include "mdlSafeWrite.h"

#include "mdlFileName.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <set>
#include <utility>

namespace metronel {

namespace {

const QString kSuffix = QStringLiteral(".metronel-part");
constexpr int kRandomChars = 6;
// Room for the dot, the random part and the suffix within a file name's 255 bytes.
constexpr qsizetype kMaxStemBytes = 200;
constexpr int kMaxLinks = 40;
constexpr std::time_t kStaleSeconds = 24 * 60 * 60;

QByteArray Encode(const QString& path) {
    return NativeName(path);
}

// The file a chain of symbolic links ends at, which is the one the old direct create wrote;
// a relative link is read from the folder that holds it.
QString FollowLinks(QString path) {
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        const QByteArray native = Encode(path);
        struct stat st {};
        if (::lstat(native.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(native.constData(), target.data(), target.size());
        if (length <= 0 || length >= target.size())
            break;
        target.truncate(length);
        const QString to = NameFromNative(target);
        path = AbsoluteName(to.startsWith(u'/') ? to : path.left(path.lastIndexOf(u'/') + 1) + to);
    }
    return path;
}

// What marks a temporary as this run's: its process id and a tag of this boot and pid
// namespace, so that a run elsewhere (another boot, container or host sharing the folder),
// whose ids mean nothing here, is never taken for a dead one.
QString OwnerTag() {
    static const QString tag = [] {
        QFile boot(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        QByteArray seed = boot.open(QIODevice::ReadOnly) ? boot.readAll().trimmed() : QByteArray();
        struct stat ns {};
        if (::stat("/proc/self/ns/pid", &ns) == 0)
            seed += QByteArray::number(static_cast<qulonglong>(ns.st_ino));
        std::uint32_t hash = 2166136261u; // FNV-1a: the same in every program and build
        for (char c : seed)
            hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        return QString::number(hash, 16).rightJustified(8, u'0');
    }();
    return tag;
}

QString OwnerMark() {
    return QString::number(::getpid()) + u'-' + OwnerTag();
}

// The temporaries of this process's unfinished writes, for a program ending on a signal.
std::mutex& LiveMutex() {
    static std::mutex mutex;
    return mutex;
}
std::set<QByteArray>& Live() {
    static std::set<QByteArray> live;
    return live;
}

QString RandomPart() {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString part;
    for (int i = 0; i < kRandomChars; ++i)
        part += QLatin1Char(kChars[QRandomGenerator::global()->bounded(62)]);
    return part;
}

bool Exists(const QString& path) {
    struct stat st {};
    return ::lstat(Encode(path).constData(), &st) == 0 || errno != ENOENT;
}

// Flushes a file or folder to the disk; false with errno set when that fails.
bool Sync(const QString& path, int flags) {
    const int fd = ::open(Encode(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
}

// Returns name as text a pattern can match: a byte that was not UTF-8 (a lone surrogate,
// which a pattern never matches) reads as U+FFFD.
QString Matchable(const QString& name) {
    return QString::fromUtf8(name.toUtf8());
}

} // namespace

SafeWrite::SafeWrite(QString target) : m_Target(std::move(target)) {
    m_Final = FollowLinks(m_Target);
    const qsizetype slash = m_Final.lastIndexOf(u'/');
    const QString folder = m_Final.left(slash + 1);
    QString stem = m_Final.mid(slash + 1);
    while (Encode(stem).size() > kMaxStemBytes)
        stem.chop(1);
    // The random part makes a clash unlikely; the create refuses an existing name anyway.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_TempPath = folder + u'.' + stem + u'.' + RandomPart() + u'.' + OwnerMark() + kSuffix;
        if (!Exists(m_TempPath))
            break;
    }
    std::lock_guard lock(LiveMutex());
    Live().insert(Encode(m_TempPath));
}

SafeWrite::~SafeWrite() {
    if (m_WritebackFd >= 0)
        ::close(m_WritebackFd);
    if (!m_Committed)
        ::unlink(Encode(m_TempPath).constData());
    std::lock_guard lock(LiveMutex());
    Live().erase(Encode(m_TempPath));
}

void SafeWrite::StartWriteback(std::int64_t offset, std::int64_t length) {
    if (m_WritebackFd < 0)
        m_WritebackFd = ::open(Encode(m_TempPath).constData(), O_RDONLY | O_CLOEXEC);
    if (m_WritebackFd >= 0)
        (void)::sync_file_range(m_WritebackFd, offset, length, SYNC_FILE_RANGE_WRITE);
}

bool SafeWrite::TargetFree(bool replace) const {
    m_Error = 0;
    m_Taken = false;
    // Without replacing, the name itself must be free, as for a create that fails on an
    // existing name: a link there, even one leading nowhere, takes it.
    const QByteArray name = Encode(replace ? m_Final : m_Target);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        if (errno == ENOENT)
            return true; // whether the folder takes a new file, the create will tell
        m_Error = errno;
        return false;
    }
    if (!replace) {
        // A folder of that name is named as such: "exists" would suggest replacing it.
        m_Error = S_ISDIR(st.st_mode) ? EISDIR : EEXIST;
        m_Taken = true;
        return false;
    }
    // What opening it for writing in place would have met: a folder, a file we may not
    // write, something that is not a file, or the lock of a reader or writer of it.
    const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        m_Error = errno;
        return false;
    }
    bool free = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!free) {
        m_Error = EINVAL;
    } else {
        int r;
        do {
            r = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (r != 0 && errno == EINTR);
        // Only a lock held elsewhere means "in use"; a file system without locks does not.
        if (r != 0 && errno == EWOULDBLOCK) {
            m_Error = EWOULDBLOCK;
            free = false;
        }
    }
    ::close(fd);
    return free;
}

bool SafeWrite::Commit(bool replace) {
    m_Error = 0;
    const QByteArray temp = Encode(m_TempPath);
    const QByteArray name = Encode(m_Final);
    auto fail = [&] {
        m_Error = errno;
        ::unlink(temp.constData());
        return false;
    };
    {
        const int fd = ::open(temp.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return fail();
        struct stat old {};
        if (replace && ::stat(name.constData(), &old) == 0 && S_ISREG(old.st_mode))
            (void)::fchmod(fd, old.st_mode & 07777); // a mode we may not set leaves ours
        const bool synced = ::fsync(fd) == 0;
        const int error = errno;
        ::close(fd);
        if (!synced) {
            errno = error;
            return fail();
        }
    }
    if (replace) {
        if (::rename(temp.constData(), name.constData()) != 0)
            return fail();
    } else if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, name.constData(),
                           RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS)
            return fail();
        // A file system without the flag: a hard link never replaces either.
        if (::link(temp.constData(), name.constData()) != 0)
            return fail();
        ::unlink(temp.constData());
    }
    m_Committed = true;
    // The name is given and the file complete; a folder that cannot be flushed (some file
    // systems refuse) leaves only the name's durability to the system, so it is not a failure.
    const qsizetype slash = m_Final.lastIndexOf(u'/');
    (void)Sync(slash < 0 ? QStringLiteral(".") : m_Final.left(slash + 1), O_RDONLY | O_DIRECTORY);
    return true;
}

bool IsTemporaryName(const QString& name) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\..+\\.[A-Za-z0-9]{6}(\\.[0-9]+-[0-9a-f]{8})?\\.metronel-part$"),
        QRegularExpression::DotMatchesEverythingOption);
    return pattern.match(Matchable(name)).hasMatch();
}

void ExitRemovingTemporaries(int status) {
    // Held until the end: no write starts or commits while its temporary is removed.
    LiveMutex().lock();
    for (const QByteArray& path : Live())
        ::unlink(path.constData());
    ::_exit(status);
}

namespace {

// Tells whether name carries this boot's mark of a process that no longer runs.
bool OwnerGone(const QString& name) {
    static const QRegularExpression mark(
        QStringLiteral("\\.([0-9]+)-([0-9a-f]{8})\\.metronel-part$"));
    const QRegularExpressionMatch match = mark.match(Matchable(name));
    if (!match.hasMatch() || match.captured(2) != OwnerTag())
        return false;
    bool ok = false;
    const qlonglong pid = match.captured(1).toLongLong(&ok);
    if (!ok || pid < 1 || pid > INT32_MAX)
        return false;
    // A live process of that id (perhaps a new one reusing it) keeps it: the one-day rule
    // then decides.
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

void RemoveStaleTemporaries(const QString& folder) {
    const QString dir = folder.isEmpty() ? QStringLiteral(".") : folder;
    const std::time_t now = std::time(nullptr);
    for (const QString& name : FolderNames(dir)) {
        if (!IsTemporaryName(name))
            continue;
        const QByteArray path = Encode(dir.endsWith(u'/') ? dir + name : dir + u'/' + name);
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
            (now - st.st_mtime > kStaleSeconds || OwnerGone(name)))
            ::unlink(path.constData());
    }
}

} // namespace metronel
