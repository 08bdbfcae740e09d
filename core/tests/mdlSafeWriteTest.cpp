// SPDX-License-Identifier: MIT
#include "mdlSafeWrite.h"
#include "WaveFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

namespace metronel {
namespace {

using testing::ReadFile;
using testing::WriteFile;

QStringList Entries(const QTemporaryDir& dir) {
    QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.sort();
    return names;
}

TEST(SafeWrite, CommitGivesTheNameOnlyAsAsked) {
    struct Row {
        bool existing;
        bool replace;
        bool committed;
        QByteArray after;
    };
    for (const Row& row : {Row{false, true, true, "new"}, Row{true, true, true, "new"},
                           Row{false, false, true, "new"}, Row{true, false, false, "old"}}) {
        SCOPED_TRACE(row.existing * 2 + row.replace);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("take.wav"));
        if (row.existing)
            WriteFile(dir, QStringLiteral("take.wav"), "old");
        {
            SafeWrite out(target);
            EXPECT_EQ(out.TargetFree(row.replace), !row.existing || row.replace);
            EXPECT_TRUE(IsTemporaryName(QFileInfo(out.TempPath()).fileName()));
            QFile temp(out.TempPath());
            ASSERT_TRUE(temp.open(QIODevice::NewOnly));
            temp.write("new");
            temp.close();
            EXPECT_EQ(out.Commit(row.replace), row.committed);
        }
        EXPECT_EQ(ReadFile(target), row.after);
        EXPECT_EQ(Entries(dir), QStringList{QStringLiteral("take.wav")});
    }
}

TEST(SafeWrite, UncommittedTemporaryIsRemovedAndTheOldFileKept) {
    QTemporaryDir dir;
    const QString target = WriteFile(dir, QStringLiteral("take.wav"), "old");
    {
        SafeWrite out(target);
        QFile temp(out.TempPath());
        ASSERT_TRUE(temp.open(QIODevice::NewOnly));
        temp.write("half");
    }
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(Entries(dir), QStringList{QStringLiteral("take.wav")});
}

TEST(SafeWrite, ALockedTargetIsNotFree) {
    QTemporaryDir dir;
    const QString target = WriteFile(dir, QStringLiteral("take.wav"), "old");
    const int fd = ::open(QFile::encodeName(target).constData(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_FALSE(SafeWrite(target).TargetFree(true));
    ::close(fd);
    EXPECT_TRUE(SafeWrite(target).TargetFree(true));
}

TEST(SafeWrite, ReplacingFollowsALinkAndKeepsTheMode) {
    QTemporaryDir dir;
    const QString real = WriteFile(dir, QStringLiteral("real.wav"), "old");
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
    const QString link = dir.filePath(QStringLiteral("link.wav"));
    ASSERT_TRUE(QFile::link(real, link));
    SafeWrite out(link);
    QFile temp(out.TempPath());
    ASSERT_TRUE(temp.open(QIODevice::NewOnly));
    temp.write("new");
    temp.close();
    ASSERT_TRUE(out.Commit());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadFile(real), "new");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Without replacing, a link leading nowhere still takes its name.
    const QString dangling = dir.filePath(QStringLiteral("dangling.wav"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nowhere.wav")), dangling));
    EXPECT_FALSE(SafeWrite(dangling).TargetFree(false));
}

TEST(SafeWrite, OnlyStaleTemporariesAreRemoved) {
    QTemporaryDir dir;
    const QStringList names = {QStringLiteral(".take.wav.Ab3xZ9.metronel-part"),
                               QStringLiteral(".take.wav.Qq1234.metronel-part"),
                               QStringLiteral(".take.wav.metronel-part"),
                               QStringLiteral("take.wav")};
    for (const QString& name : names)
        WriteFile(dir, name, "x");
    const std::time_t twoDaysAgo = std::time(nullptr) - 2 * 24 * 60 * 60;
    for (const QString& name : {names[0], names[2], names[3]}) {
        const struct timespec times[2] = {{twoDaysAgo, 0}, {twoDaysAgo, 0}};
        ASSERT_EQ(
            ::utimensat(AT_FDCWD, QFile::encodeName(dir.filePath(name)).constData(), times, 0), 0);
    }
    // Marked by this process (alive: kept) and by one that has ended (removed at once).
    const QString ours =
        QFileInfo(SafeWrite(dir.filePath(QStringLiteral("take.wav"))).TempPath()).fileName();
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    QString dead = ours;
    dead.replace(QStringLiteral(".%1-").arg(::getpid()), QStringLiteral(".%1-").arg(child));
    ASSERT_NE(dead, ours);
    WriteFile(dir, ours, "x");
    WriteFile(dir, dead, "x");
    // A name that is not UTF-8 is a temporary's as much.
    const QByteArray odd = QFile::encodeName(dir.path()) + "/.take\xe9.wav.Zz0000.metronel-part";
    ASSERT_EQ(::close(::open(odd.constData(), O_WRONLY | O_CREAT, 0644)), 0);
    const struct timespec old[2] = {{twoDaysAgo, 0}, {twoDaysAgo, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, odd.constData(), old, 0), 0);
    RemoveStaleTemporaries(dir.path());
    EXPECT_NE(::access(odd.constData(), F_OK), 0);
    QStringList kept = {names[1], names[2], names[3], ours};
    kept.sort();
    EXPECT_EQ(Entries(dir), kept);
}

} // namespace
} // namespace metronel
