// SPDX-License-Identifier: MIT
// Save As and Split As driven through the scripted desktop on real files; every file
// written is read back by SoX.
#include "FrmMain.h"
#include "ScriptedDesktop.h"
#include "WaveFiles.h"
#include "WaveOutTestTools.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

using namespace metronel;
using namespace metronel::testing;

namespace {

constexpr int kFrames = 48000;

// 16-bit stereo frames numbered 0, 1, 2, ... so that a copy tells which frame it took.
QByteArray NumberedFrames(int frames) {
    QByteArray d;
    for (int k = 0; k < frames; ++k)
        PutLE(d, static_cast<std::uint32_t>(k), 4);
    return d;
}

std::vector<std::uint32_t> FrameNumbers(const QByteArray& data) {
    std::vector<std::uint32_t> out;
    for (int at = 0; at + 4 <= data.size(); at += 4) {
        std::uint32_t v = 0;
        for (int b = 0; b < 4; ++b)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + b])) << (8 * b);
        out.push_back(v);
    }
    return out;
}

class FrmMainWaveOutTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        folder = QDir(dir.path()).absolutePath() + "/";
        ASSERT_TRUE(QDir(folder).mkdir("out"));
        sound = NumberedFrames(kFrames);
        source = WriteFile(dir, "loop.wav", Wave(Format{}, sound));
        LoadSettings(desktop);
        window = std::make_unique<FrmMain>(desktop, QString());
        window->show();
        ASSERT_TRUE(window->OpenFile(source));
        ASSERT_EQ(window->Txt[FrmMain::FieldSamples]->text(), QString::number(kFrames));
        g_UserFilePath = folder; // as the open left it
        desktop.pointers.clear();
    }

    QString Out(const QString& name) const { return folder + "out/" + name; }
    QByteArray DataOf(const QString& path) const { return ReadFile(path).mid(44); }
    QStringList Written() const { return QDir(folder + "out").entryList(QDir::Files); }

    void ExpectSox(const QString& path, long frames) const {
        const SoxInfo info = ReadWithSox(path);
        EXPECT_EQ(info.rate, 44100) << path.toStdString();
        EXPECT_EQ(info.channels, 2) << path.toStdString();
        EXPECT_EQ(info.frames, frames) << path.toStdString();
    }

    void SaveAs(const QString& samples, const QString& path) {
        window->Txt[FrmMain::FieldSamples]->setText(samples);
        desktop.fileAnswers.push_back(path);
        window->MnuSaveAs_Click();
    }

    void Split(const QString& answer, const std::optional<QString>& path) {
        desktop.inputAnswers.push_back(answer);
        desktop.fileAnswers.push_back(path);
        window->MnuSplitAs_Click();
    }

    QTemporaryDir dir;
    QString folder;
    QString source;
    QByteArray sound;
    ProbingDesktop desktop;
    std::unique_ptr<FrmMain> window;
};

// ---- Save As ----

TEST_F(FrmMainWaveOutTest, SaveAsAtTheOwnLengthCopiesTheSoundAndRemembersTheFolder) {
    SaveAs(QString::number(kFrames), Out("copy.wav"));

    ASSERT_EQ(desktop.fileDialogs.size(), 1u);
    const FileDialogCall& call = desktop.fileDialogs[0];
    EXPECT_TRUE(call.save);
    EXPECT_EQ(call.title, "Create a wave file as...");
    EXPECT_EQ(call.flags, 6);
    EXPECT_EQ(call.fileName, "");
    EXPECT_EQ(call.initDir, folder);
    EXPECT_EQ(call.filter, "Wave Files|*.wav;");

    EXPECT_EQ(ReadFile(Out("copy.wav")), Wave(Format{}, sound));
    ExpectSox(Out("copy.wav"), kFrames);
    EXPECT_TRUE(desktop.msgBoxes.empty());
    EXPECT_EQ(desktop.pointers, (std::vector{MousePointer::Hourglass, MousePointer::Arrow}));
    EXPECT_EQ(g_UserFilePath, folder + "out/");
    EXPECT_EQ(window->cDlg.InitDir, folder + "out/");
    EXPECT_EQ(ReadFile(source), Wave(Format{}, sound)); // the open file is untouched
}

TEST_F(FrmMainWaveOutTest, SaveAsAtTwiceTheLengthTakesEveryFrameOnceOrTwice) {
    SaveAs(QString::number(2 * kFrames), Out("slow.wav"));
    ExpectSox(Out("slow.wav"), 2 * kFrames);
    const auto picked = FrameNumbers(DataOf(Out("slow.wav")));
    ASSERT_EQ(picked.size(), 2u * kFrames);
    EXPECT_EQ(picked.front(), 0u);
    EXPECT_EQ(picked.back(), static_cast<std::uint32_t>(kFrames - 1));
    int run = 1;
    for (std::size_t i = 1; i < picked.size(); ++i) {
        ASSERT_LE(picked[i] - picked[i - 1], 1u) << i;
        run = picked[i] == picked[i - 1] ? run + 1 : 1;
        // The formula's index one past the end, for the last frame, takes the last frame.
        ASSERT_LE(run, i + 1 == picked.size() ? 3 : 2) << i;
    }
}

TEST_F(FrmMainWaveOutTest, SaveAsOfOneFrameTakesTheFirst) {
    SaveAs("1", Out("one.wav"));
    EXPECT_EQ(DataOf(Out("one.wav")), sound.left(4));
    ExpectSox(Out("one.wav"), 1);
}

TEST_F(FrmMainWaveOutTest, SaveAsWithoutAFrameCountStillWritesTheFormatAndEmptyData) {
    for (const QString& samples : {QString("abc"), QString("0"), QString("-7")}) {
        const QString path = Out(samples + ".wav");
        {
            // As the text stands, without the field's own change rule (which strips "-").
            const QSignalBlocker quiet(window->Txt[FrmMain::FieldSamples]);
            window->Txt[FrmMain::FieldSamples]->setText(samples);
        }
        desktop.fileAnswers.push_back(path);
        window->MnuSaveAs_Click();
        EXPECT_EQ(ReadFile(path), Wave(Format{}, {})) << samples.toStdString();
        ExpectSox(path, 0);
    }
    EXPECT_TRUE(desktop.msgBoxes.empty());
}

TEST_F(FrmMainWaveOutTest, SaveAsUsesANameWithoutExtensionAsItIs) {
    SaveAs(QString::number(kFrames), Out("plain"));
    EXPECT_EQ(Written(), QStringList{"plain"});
    ExpectSox(Out("plain"), kFrames);
}

TEST_F(FrmMainWaveOutTest, CancellingSaveAsWritesNothingAndKeepsTheFolder) {
    window->MnuSaveAs_Click(); // no answer queued: the dialog is cancelled
    EXPECT_EQ(desktop.fileDialogs.size(), 1u);
    EXPECT_TRUE(Written().isEmpty());
    EXPECT_EQ(g_UserFilePath, folder);
    EXPECT_EQ(desktop.pointers, std::vector{MousePointer::Arrow});
}

TEST_F(FrmMainWaveOutTest, AFileThatCannotBeCreatedShowsTheLibrarysBox) {
    SaveAs(QString::number(kFrames), folder + "missing/x.wav");
    ASSERT_EQ(desktop.msgBoxes.size(), 1u);
    EXPECT_EQ(desktop.msgBoxes[0].text, QString::fromStdString(window->msl.DisplayError()));
    EXPECT_EQ(desktop.msgBoxes[0].title, "Error: 2");
    EXPECT_EQ(desktop.msgBoxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(g_UserFilePath, folder);

    // The open file itself is held by its reader: refused, and nothing of it is lost.
    desktop.msgBoxes.clear();
    SaveAs("100", source);
    ASSERT_EQ(desktop.msgBoxes.size(), 1u);
    EXPECT_EQ(desktop.msgBoxes[0].title, "Error: 2");
    EXPECT_EQ(ReadFile(source), Wave(Format{}, sound));
}

TEST_F(FrmMainWaveOutTest, AFailedWriteShowsErrorFourAndRemovesTheFile) {
    {
        FileSizeLimit limit(64 * 1024);
        SaveAs(QString::number(kFrames), Out("full.wav"));
    }
    ASSERT_EQ(desktop.msgBoxes.size(), 1u);
    EXPECT_EQ(desktop.msgBoxes[0].text, "An error occurred trying to write to this file.");
    EXPECT_EQ(desktop.msgBoxes[0].title, "Error: 4");
    EXPECT_EQ(desktop.msgBoxes[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(Written().isEmpty());
    EXPECT_EQ(g_UserFilePath, folder);
    EXPECT_EQ(desktop.pointers.back(), MousePointer::Arrow);
}

// ---- Split As ----

TEST_F(FrmMainWaveOutTest, SplitIntoFourWritesNumberedPiecesBesideTheChosenName) {
    window->cDlg.FileName = "/left/as/it/was.wav";
    window->cDlg.InitDir = "/left/as/it/";
    Split("4", Out("drum.wav"));

    ASSERT_EQ(desktop.inputBoxes.size(), 1u);
    EXPECT_EQ(desktop.inputBoxes[0].prompt, "Please enter a value to split the current wave form.");
    EXPECT_EQ(desktop.inputBoxes[0].title, "Split Wave Form");
    EXPECT_EQ(desktop.inputBoxes[0].defaultText, "4");
    ASSERT_EQ(desktop.fileDialogs.size(), 1u);
    EXPECT_TRUE(desktop.fileDialogs[0].save);
    EXPECT_EQ(desktop.fileDialogs[0].title, "Split into separate wave files...");
    EXPECT_EQ(desktop.fileDialogs[0].flags, 4);
    EXPECT_EQ(desktop.fileDialogs[0].fileName, "/left/as/it/was.wav");
    EXPECT_EQ(desktop.fileDialogs[0].initDir, "/left/as/it/");

    EXPECT_EQ(Written(), (QStringList{"drum[1].wav", "drum[2].wav", "drum[3].wav", "drum[4].wav"}));
    for (int k = 1; k <= 4; ++k) {
        const QString piece = Out(QStringLiteral("drum[%1].wav").arg(k));
        EXPECT_EQ(DataOf(piece), sound.mid((k - 1) * 48000, 48000));
        ExpectSox(piece, 12000);
    }
    EXPECT_FALSE(QFile::exists(Out("drum.wav"))); // the chosen file itself is never written
    EXPECT_TRUE(desktop.msgBoxes.empty());
    EXPECT_EQ(desktop.doEventsCalls, 4);
    EXPECT_EQ(desktop.pointers, (std::vector{MousePointer::Hourglass, MousePointer::Arrow}));
    EXPECT_EQ(g_UserFilePath, folder); // a split remembers no folder
    EXPECT_EQ(window->pBar->minimum(), 1);
    EXPECT_EQ(window->pBar->maximum(), 4);
    EXPECT_EQ(window->pBar->value(), 1);
}

// Only a ".wav" ending gives way to the numbers; any other name is kept whole, so a piece
// never lands outside the chosen folder.
TEST_F(FrmMainWaveOutTest, SplitPiecesKeepTheChosenNameLessOnlyAWavEnding) {
    ASSERT_TRUE(QDir(folder + "out").mkdir("sub"));
    auto written = [this] {
        QStringList files;
        for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            files << QDir(folder).relativeFilePath(it.next());
        files.sort();
        return files;
    };
    const struct {
        const char* chosen;
        QStringList pieces;
    } rows[] = {
        {"kickbeats", {"out/kickbeats[1].wav", "out/kickbeats[2].wav"}},
        {"snare.WAV", {"out/snare[1].wav", "out/snare[2].wav"}},
        {"sub/ab", {"out/sub/ab[1].wav", "out/sub/ab[2].wav"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.chosen);
        QStringList expected = written() + row.pieces;
        expected.sort();
        Split("2", Out(row.chosen));
        EXPECT_EQ(written(), expected);
    }
}

TEST_F(FrmMainWaveOutTest, SplitRoundsTheAnswerHalvesToEven) {
    Split("2.5", Out("a.wav"));
    EXPECT_EQ(Written(), (QStringList{"a[1].wav", "a[2].wav"}));
    ExpectSox(Out("a[2].wav"), 24000);

    Split("3.5", Out("b.wav"));
    EXPECT_EQ(Written().filter("b[").size(), 4);
    ExpectSox(Out("b[4].wav"), 12000);
}

TEST_F(FrmMainWaveOutTest, SplitAnswersOutsideOneTo255WriteNothingAndSayNothing) {
    for (const char* answer : {"0", "-1", "300"})
        Split(answer, Out("x.wav"));
    EXPECT_EQ(desktop.fileDialogs.size(), 3u); // asked for the name all the same
    EXPECT_TRUE(Written().isEmpty());
    EXPECT_TRUE(desktop.msgBoxes.empty());
    EXPECT_EQ(desktop.pointers.back(), MousePointer::Arrow);

    // Empty, not a number, cancelled: not even the dialog.
    desktop.fileDialogs.clear();
    desktop.inputAnswers = {"", "four"};
    window->MnuSplitAs_Click();
    window->MnuSplitAs_Click();
    window->MnuSplitAs_Click();
    EXPECT_TRUE(desktop.fileDialogs.empty());

    // A cancelled dialog writes nothing.
    Split("4", std::nullopt);
    EXPECT_TRUE(Written().isEmpty());
}

TEST_F(FrmMainWaveOutTest, SplitStopsAtAnExistingPieceWithTheLibrarysBox) {
    const QByteArray existing = Wave(Format{}, sound.left(40));
    ASSERT_FALSE(WriteFile(dir, "out/drum[2].wav", existing).isEmpty());
    Split("4", Out("drum.wav"));

    EXPECT_EQ(Written(), (QStringList{"drum[1].wav", "drum[2].wav"}));
    ExpectSox(Out("drum[1].wav"), 12000);
    EXPECT_EQ(ReadFile(Out("drum[2].wav")), existing);
    ASSERT_EQ(desktop.msgBoxes.size(), 1u);
    EXPECT_EQ(desktop.msgBoxes[0].text, QString::fromStdString(chunkwell::ErrorText(2)));
    EXPECT_EQ(desktop.msgBoxes[0].title, "Error: 2");
    EXPECT_EQ(desktop.msgBoxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(window->pBar->value(), window->pBar->minimum());
}

TEST_F(FrmMainWaveOutTest, SplitCutsTheSoundBroughtToTheSamplesLength) {
    window->Txt[FrmMain::FieldSamples]->setText("24000");
    Split("2", Out("half.wav"));
    ExpectSox(Out("half[1].wav"), 12000);
    ExpectSox(Out("half[2].wav"), 12000);
    const auto picked = FrameNumbers(DataOf(Out("half[1].wav")));
    EXPECT_EQ(picked[1], 2u); // every other frame
}

TEST_F(FrmMainWaveOutTest, WhileASplitRunsTheWindowTakesNoCommandAndShowsProgress) {
    std::vector<int> values;
    bool blocked = true;
    desktop.onDoEvents = [&] {
        FrmMain& w = *window;
        values.push_back(w.pBar->value());
        blocked = blocked && !w.menuBar()->isEnabled() && !w.Txt[0]->isEnabled() &&
                  !w.CmdReset->isEnabled() && w.pBar->isEnabled() && !w.acceptDrops();
        EXPECT_FALSE(w.close()); // closing is refused meanwhile
    };
    Split("1", Out("one.wav"));

    EXPECT_TRUE(blocked);
    EXPECT_EQ(values, std::vector<int>{1}); // one piece: the bar is full
    EXPECT_EQ(window->pBar->minimum(), 0);
    EXPECT_EQ(window->pBar->maximum(), 1);
    EXPECT_EQ(window->pBar->value(), 0);
    ExpectSox(Out("one[1].wav"), kFrames);
    // Everything is back as it was.
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->menuBar()->isEnabled());
    EXPECT_TRUE(window->Txt[0]->isEnabled());
    EXPECT_TRUE(window->CmdReset->isEnabled());
    EXPECT_TRUE(window->acceptDrops());
    EXPECT_FALSE(window->MnuOpenFile->isEnabled()); // a file is still open
}

} // namespace
