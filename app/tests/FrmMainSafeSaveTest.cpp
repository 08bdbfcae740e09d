// SPDX-License-Identifier: MIT
// Save As and Split As on hostile files and failing disks: what is on disk afterwards, and
// what the window told. Memory is measured as the peak resident size after a reset.
#include "FrmMain.h"
#include "ScriptedDesktop.h"
#include "WaveFiles.h"
#include "WaveOutTestTools.h"
#include "mdlSafeWrite.h"
#include "mdlWaveOut.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

using namespace metronel;
using namespace metronel::testing;

namespace {
// While set, a write of a 12-byte container header over a file already longer than that
// (the write-back that finishes a file) fails as on a failing disk.
bool g_FailHeaderWriteBack = false;
} // namespace

// Stands in for the C library's write in this test program, the library's calls included.
extern "C" ssize_t write(int fd, const void* buffer, size_t size) {
    if (g_FailHeaderWriteBack && size == 12 && ::lseek(fd, 0, SEEK_CUR) == 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 12) {
            errno = EIO;
            return -1;
        }
    }
    return ::syscall(SYS_write, fd, buffer, size);
}

namespace {

constexpr int kFrames = 48000;
constexpr long kMemoryBoundKiB = 64 * 1024;

// Resets the peak resident size of this process to what it holds now.
void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(line.find(':') + 1));
    return -1;
}

// How much more than now this process held at its peak since ResetPeakMemory.
long PeakGrowthKiB(long before) {
    return StatusKiB("VmHWM") - before;
}

// A small file system of its own (we may be root in a container that allows it).
class TmpfsMount {
public:
    TmpfsMount(const QString& path, const char* options) : m_Path(QFile::encodeName(path)) {
        QDir().mkpath(path);
        m_Mounted = ::mount("tmpfs", m_Path.constData(), "tmpfs", 0, options) == 0;
    }
    ~TmpfsMount() {
        if (m_Mounted)
            ::umount2(m_Path.constData(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool Mounted() const { return m_Mounted; }
    bool MakeReadOnly() {
        return ::mount(nullptr, m_Path.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QByteArray m_Path;
    bool m_Mounted = false;
};

// Writes a file whose bytes past head are a sparse run of zeros up to size.
QString WriteSparse(const QTemporaryDir& dir, const QString& name, const QByteArray& head,
                    qint64 size) {
    const QString path = WriteFile(dir, name, head);
    return !path.isEmpty() && QFile::resize(path, size) ? path : QString();
}

class SafeSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        folder = QDir(dir.path()).absolutePath() + "/";
        ASSERT_TRUE(QDir(folder).mkdir("out"));
        sound = Ramp(4 * kFrames);
        source = WriteFile(dir, "loop.wav", Wave(Format{}, sound));
        LoadSettings(desktop);
        window = std::make_unique<FrmMain>(desktop, QString());
        window->show();
        ASSERT_TRUE(window->OpenFile(source));
        g_UserFilePath = folder;
    }

    QString Out(const QString& name) const { return folder + "out/" + name; }
    // Every entry of a folder, hidden temporaries included.
    static QStringList Entries(const QString& path) {
        QStringList names =
            QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        names.sort();
        return names;
    }

    bool Reopen(const QString& path) {
        window->MnuCloseFile_Click();
        return window->OpenFile(path);
    }

    void SaveAs(const QString& samples, const QString& path) {
        window->Txt[FrmMain::FieldSamples]->setText(samples);
        desktop.fileAnswers.push_back(path);
        window->MnuSaveAs_Click();
    }

    void Split(const QString& samples, const QString& answer, const QString& path) {
        window->Txt[FrmMain::FieldSamples]->setText(samples);
        desktop.inputAnswers.push_back(answer);
        desktop.fileAnswers.push_back(path);
        window->MnuSplitAs_Click();
    }

    // Expects exactly one critical box with the library's text of code, then forgets it.
    void ExpectOneBox(int code) {
        ASSERT_EQ(desktop.msgBoxes.size(), 1u);
        EXPECT_EQ(desktop.msgBoxes[0].text, QString::fromStdString(chunkwell::ErrorText(code)));
        EXPECT_EQ(desktop.msgBoxes[0].title, QStringLiteral("Error: %1").arg(code));
        EXPECT_EQ(desktop.msgBoxes[0].icon, MsgIcon::Critical);
        desktop.msgBoxes.clear();
    }

    QTemporaryDir dir;
    QString folder;
    QString source;
    QByteArray sound;
    ProbingDesktop desktop;
    std::unique_ptr<FrmMain> window;
};

TEST_F(SafeSaveTest, ASoundTheFileDoesNotHoldIsRefusedWithTheReadErrorAndNoMemory) {
    QByteArray cut = Wave(Format{}, sound).left(44 + 1000);
    QByteArray declaring2GiB = Wave(Format{}, Ramp(400));
    declaring2GiB.replace(40, 4, QByteArray("\xf0\xff\xff\x7f", 4));
    ASSERT_EQ(declaring2GiB.size(), 444);
    for (const auto& [name, bytes] : {std::pair{"cut.wav", cut}, {"2GiB.wav", declaring2GiB}}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Reopen(WriteFile(dir, name, bytes))); // opening is as it was
        const QString own = window->Txt[FrmMain::FieldSamples]->text();
        const long before = StatusKiB("VmRSS");
        ResetPeakMemory();
        SaveAs(own, Out("same.wav"));
        ExpectOneBox(3);
        SaveAs("1000", Out("new.wav"));
        ExpectOneBox(3);
        Split(own, "4", Out("drum.wav"));
        ExpectOneBox(3);
        EXPECT_LT(PeakGrowthKiB(before), kMemoryBoundKiB);
        EXPECT_EQ(Entries(folder + "out"), QStringList());
    }
}

TEST_F(SafeSaveTest, ALengthPast32BitsIsToldAndNothingWritten) {
    // 600 000 000 frames of 4 bytes leave 32 bits.
    SaveAs("600000000", Out("long.wav"));
    ExpectOneBox(4);
    Split("600000000", "4", Out("drum.wav"));
    ExpectOneBox(4);
    EXPECT_EQ(Entries(folder + "out"), QStringList());
}

TEST_F(SafeSaveTest, ARunOfZeroBytesIsRefusedAtOnceWithinBoundedMemory) {
    const QByteArray header = Riff({}).left(4) + QByteArray("\xf4\xff\xff\x0f", 4) + "WAVE";
    const qint64 size = qint64{256} << 20;
    for (const QByteArray& head : {header, header + Record("fmt ", FmtData({}))}) {
        const QString path = WriteSparse(dir, "zeros.wav", head, size);
        ASSERT_FALSE(path.isEmpty());
        const long before = StatusKiB("VmRSS");
        ResetPeakMemory();
        EXPECT_FALSE(Reopen(path));
        EXPECT_LT(PeakGrowthKiB(before), kMemoryBoundKiB);
        EXPECT_EQ(desktop.msgBoxes.size(), 1u); // refused, with its box
        desktop.msgBoxes.clear();
    }
}

TEST_F(SafeSaveTest, AFullDiskLeavesTheOldFileAsItWas) {
    const QString full = folder + "full/";
    TmpfsMount disk(full, "size=256k");
    std::optional<FileSizeLimit> limit; // where no file system can be mounted
    const QByteArray old = Wave(Format{}, Ramp(100 * 1024));
    QFile::remove(full + "take.wav");
    ASSERT_TRUE(QFile::copy(WriteFile(dir, "old.wav", old), full + "take.wav"));
    if (!disk.Mounted())
        limit.emplace(64 * 1024);
    SaveAs(QString::number(kFrames), full + "take.wav"); // 192 044 bytes more do not fit
    limit.reset();
    ExpectOneBox(4);
    EXPECT_EQ(ReadFile(full + "take.wav"), old);
    EXPECT_EQ(Entries(full), QStringList{"take.wav"});
    EXPECT_EQ(g_UserFilePath, folder);
}

TEST_F(SafeSaveTest, AHeaderThatDoesNotReachTheFileIsAFailedWrite) {
    const QByteArray old = Wave(Format{}, Ramp(400));
    WriteFile(dir, "out/take.wav", old);
    g_FailHeaderWriteBack = true;
    SaveAs(QString::number(kFrames), Out("take.wav"));
    ExpectOneBox(4);
    SaveAs("1000", Out("take.wav"));
    ExpectOneBox(4);
    Split(QString::number(kFrames), "4", Out("drum.wav"));
    ExpectOneBox(4);
    g_FailHeaderWriteBack = false;
    EXPECT_EQ(ReadFile(Out("take.wav")), old);
    EXPECT_EQ(Entries(folder + "out"), QStringList{"take.wav"});
}

TEST_F(SafeSaveTest, AReadOnlyFolderIsRefusedAsACreateFailure) {
    const QString ro = folder + "ro/";
    TmpfsMount disk(ro, "size=1m");
    if (!disk.Mounted())
        GTEST_SKIP() << "no file system can be mounted here, and root writes anywhere else";
    const QByteArray old = Wave(Format{}, Ramp(400));
    ASSERT_TRUE(QFile::copy(WriteFile(dir, "old.wav", old), ro + "take.wav"));
    ASSERT_TRUE(disk.MakeReadOnly());
    for (const QString& name : {QString("new.wav"), QString("take.wav")}) {
        SaveAs(QString::number(kFrames), ro + name);
        ExpectOneBox(2);
    }
    Split(QString::number(kFrames), "4", ro + "drum.wav");
    ExpectOneBox(2);
    EXPECT_EQ(Entries(ro), QStringList{"take.wav"});
    EXPECT_EQ(ReadFile(ro + "take.wav"), old);
}

TEST_F(SafeSaveTest, ASplitFailingAtPieceThreeKeepsTwoWholePiecesAndNoPart) {
    std::unique_ptr<FileSizeLimit> limit;
    int pieces = 0;
    desktop.onDoEvents = [&] {
        if (++pieces == 2)
            limit = std::make_unique<FileSizeLimit>(16 * 1024); // pieces are 38 444 bytes
    };
    Split(QString::number(kFrames), "5", Out("drum.wav"));
    limit.reset();
    ExpectOneBox(4);
    EXPECT_EQ(Entries(folder + "out"), (QStringList{"drum[1].wav", "drum[2].wav"}));
    for (int k = 1; k <= 2; ++k)
        EXPECT_EQ(ReadFile(Out(QStringLiteral("drum[%1].wav").arg(k))),
                  Wave(Format{}, sound.mid((k - 1) * 38400, 38400)));
}

// Saves source onto target in a child process and kills it once the temporary has grown.
TEST(SafeSaveKill, AKilledSaveLeavesTheOldFileOrTheWholeNewOne) {
    QTemporaryDir dir;
    const QString folder = QDir(dir.path()).absolutePath() + "/";
    const qint64 dataSize = qint64{192} << 20;
    QByteArray header("RIFF");
    PutLE(header, static_cast<std::uint32_t>(36 + dataSize), 4);
    header += "WAVE" + Record("fmt ", FmtData({})) + "data";
    PutLE(header, static_cast<std::uint32_t>(dataSize), 4);
    const QString source = WriteSparse(dir, "big.wav", header, 44 + dataSize);
    const QByteArray old = Wave(Format{}, Ramp(4000));
    const QString target = WriteFile(dir, "take.wav", old);
    ASSERT_FALSE(source.isEmpty());
    ASSERT_FALSE(target.isEmpty());

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        chunkwell::MediaSystemLicence msl;
        auto reader = msl.OpenMediaFile(QFile::encodeName(source).toStdString());
        if (!reader)
            _exit(2);
        reader->MoveFirst();
        reader->MoveNext();
        const WAVEFORMATINFO format{1, 2, 44100, 176400, 4, 16};
        const auto size = static_cast<std::int32_t>(dataSize);
        _exit(SaveSoundAs(msl, target, format, *reader, size, size / 4).Written() ? 0 : 1);
    }
    bool killed = false;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child, &status, WNOHANG) == child)
            break;
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            if (IsTemporaryName(name) && QFileInfo(folder + name).size() > (qint64{16} << 20)) {
                ::kill(child, SIGKILL);
                waitpid(child, &status, 0);
                killed = true;
            }
        if (killed)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!killed && !WIFEXITED(status)) { // still running at the deadline
        ::kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the save neither finished nor could be caught writing";
    }
    const qint64 now = QFileInfo(target).size();
    if (killed) {
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(ReadFile(target), old);
    } else {
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(now, 44 + dataSize);
    }
    // What a killed run leaves has a hidden name, and goes once it is a day old.
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (name == "big.wav" || name == "take.wav")
            continue;
        EXPECT_TRUE(IsTemporaryName(name)) << name.toStdString();
        const std::time_t twoDaysAgo = std::time(nullptr) - 2 * 24 * 60 * 60;
        const struct timespec times[2] = {{twoDaysAgo, 0}, {twoDaysAgo, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(folder + name).constData(), times, 0);
    }
    RemoveStaleTemporaries(folder);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"big.wav", "take.wav"}));
}

} // namespace
