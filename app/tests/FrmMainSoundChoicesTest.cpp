// SPDX-License-Identifier: MIT
// The Sound menu's choices without a sound output: remembered between runs, and Save As and
// Split As by them giving what metronel-cli gives for the same sound, length and tempo.
#include "FrmMain.h"
#include "ScriptedDesktop.h"
#include "ToneMeasure.h"
#include "WaveFiles.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>
#include <numbers>

using namespace metronel;
using namespace metronel::testing;

namespace {

constexpr int kFrames = 44100;
constexpr int kFaster = 34453; // 1.28 times as fast

QByteArray Le32(std::uint32_t value) {
    QByteArray out;
    PutLE(out, value, 4);
    return out;
}

// One second of a 1 kHz tone on the left and a 5 kHz tone on the right, 16-bit, with the
// records a loop carries around its sound: a name, a tempo tag, a loop and two cue points.
QByteArray TaggedToneLoop() {
    QByteArray sound;
    for (int k = 0; k < kFrames; ++k)
        for (double hz : {1000.0, 5000.0})
            PutLE(sound,
                  static_cast<std::uint16_t>(static_cast<std::int16_t>(
                      std::lround(16000 * std::sin(2 * std::numbers::pi * hz * k / kFrames)))),
                  2);
    const QByteArray acid = Le32(1) + QByteArray(8, '\0') + Le32(4) + QByteArray(4, '\0') +
                            Le32(std::bit_cast<std::uint32_t>(120.0f));
    const QByteArray smpl = QByteArray(28, '\0') + Le32(1) + Le32(0) + Le32(7) + Le32(0) + Le32(0) +
                            Le32(kFrames - 1) + Le32(0) + Le32(0);
    QByteArray cue = Le32(2);
    for (std::uint32_t at : {0u, static_cast<std::uint32_t>(kFrames / 3)})
        cue += Le32(at + 1) + Le32(at) + QByteArray("data") + Le32(0) + Le32(0) + Le32(at);
    const QByteArray list = QByteArray("INFO") + Record("INAM", QByteArray("Loop\0", 5));
    return Riff(Record("fmt ", FmtData(Format{})) + Record("LIST", list) + Record("acid", acid) +
                Record("smpl", smpl) + Record("cue ", cue) + Record("data", sound));
}

// Runs metronel-cli; returns its error output, empty when it succeeded.
std::string Cli(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral(METRONEL_CLI), arguments);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return "failed: " + p.readAllStandardError().toStdString();
    return {};
}

// The "data" record of a wave file.
QByteArray DataOf(const QByteArray& file) {
    for (qsizetype at = 12; at + 8 <= file.size();) {
        const auto size = static_cast<qsizetype>(
            static_cast<unsigned char>(file[at + 4]) |
            static_cast<unsigned char>(file[at + 5]) << 8 |
            static_cast<unsigned char>(file[at + 6]) << 16 |
            static_cast<std::uint32_t>(static_cast<unsigned char>(file[at + 7])) << 24);
        if (file.mid(at, 4) == "data")
            return file.mid(at + 8, size);
        at += 8 + size + size % 2;
    }
    return {};
}

// The samples of 16-bit "data", interleaved, full scale 1.
std::vector<double> Samples16(const QByteArray& data) {
    std::vector<double> out;
    for (qsizetype at = 0; at + 1 < data.size(); at += 2)
        out.push_back(static_cast<std::int16_t>(static_cast<unsigned char>(data[at]) |
                                                static_cast<unsigned char>(data[at + 1]) << 8) /
                      32768.0);
    return out;
}

class FrmMainSoundChoices : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        folder = QDir(dir.path()).absolutePath() + "/";
        source = WriteFile(dir, "tone.wav", TaggedToneLoop());
        // The window holds its file to itself; the command line reads the same bytes.
        copy = WriteFile(dir, "copy.wav", TaggedToneLoop());
        Open();
    }

    void Open() {
        LoadSettings(desktop);
        window = std::make_unique<FrmMain>(desktop, source);
        window->show();
        ASSERT_TRUE(window->MnuPlay->isEnabled());
        window->Txt[FrmMain::FieldBars]->setText("2");
        window->Txt[FrmMain::FieldSamples]->setText(QString::number(kFaster));
    }

    QTemporaryDir dir;
    QString folder;
    QString source;
    QString copy;
    ScriptedDesktop desktop;
    std::unique_ptr<FrmMain> window;
};

TEST_F(FrmMainSoundChoices, StartAtTodaysWaysAndAreRememberedBetweenRuns) {
    EXPECT_TRUE(window->MnuPickFrames->isChecked());
    EXPECT_FALSE(window->MnuKeepLoopPoints->isChecked());
    EXPECT_TRUE(window->MnuKeepPitch->isVisible());
    EXPECT_TRUE(window->MnuPickFrames->actionGroup()->isExclusive());
    EXPECT_EQ(window->MnuPlay->shortcut(), QKeySequence(Qt::Key_Space));

    // The defaults write nothing new into the settings.
    window->close();
    EXPECT_FALSE(desktop.settings.contains("Settings/LengthMethod"));
    EXPECT_FALSE(desktop.settings.contains("Settings/KeepLoopPointsAndTags"));

    Open();
    window->MnuKeepPitch->trigger();
    window->MnuKeepLoopPoints->trigger();
    EXPECT_FALSE(window->MnuPickFrames->isChecked());
    window->close();
    window.reset();

    Open();
    EXPECT_TRUE(window->MnuKeepPitch->isChecked());
    EXPECT_TRUE(window->MnuKeepLoopPoints->isChecked());
    window->MnuCloseFile_Click();
    EXPECT_FALSE(window->MnuPlay->isEnabled());
}

// Save As and Split As by each choice against metronel-cli on the same sound, length and
// tempo (two bars of four): High Quality gives its "data", and with tags the whole files.
TEST_F(FrmMainSoundChoices, SaveAsAndSplitAsGiveWhatTheCommandLineGives) {
    struct Row {
        QAction* method;
        bool keep;
        const char* resampler;
    };
    const Row rows[] = {
        {window->MnuHighQuality, false, "hq"},
        {window->MnuHighQuality, true, "hq"},
        {window->MnuPickFrames, true, "pick"},
        {window->MnuKeepPitch, true, "keep-pitch"},
    };
    int run = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.method->text().toStdString() + (row.keep ? " with tags" : ""));
        row.method->trigger();
        window->MnuKeepLoopPoints->setChecked(row.keep);
        const QString out = folder + QString::number(++run);
        ASSERT_TRUE(QDir().mkpath(out + "/window"));
        ASSERT_TRUE(QDir().mkpath(out + "/cli"));

        desktop.fileAnswers.push_back(out + "/window/saved.wav");
        window->MnuSaveAs_Click();
        desktop.inputAnswers.push_back("3");
        desktop.fileAnswers.push_back(out + "/window/piece.wav");
        window->MnuSplitAs_Click();
        EXPECT_TRUE(desktop.msgBoxes.empty());

        QStringList common = {"--samples",  QString::number(kFaster), "--bars", "2", "--resampler",
                              row.resampler};
        if (!row.keep)
            common << "--strip-metadata";
        ASSERT_EQ(Cli(QStringList{"tempo", copy, "-o", out + "/cli/saved.wav"} + common), "");
        ASSERT_EQ(
            Cli(QStringList{"split", copy, "-o", out + "/cli/piece.wav", "--parts", "3"} + common),
            "");

        for (const QString name : {"saved.wav", "piece[1].wav", "piece[2].wav", "piece[3].wav"}) {
            SCOPED_TRACE(name.toStdString());
            const QByteArray window = ReadFile(out + "/window/" + name);
            const QByteArray cli = ReadFile(out + "/cli/" + name);
            ASSERT_FALSE(cli.isEmpty());
            if (row.keep)
                EXPECT_TRUE(window == cli);
            else
                EXPECT_TRUE(DataOf(window) == DataOf(cli));
        }
        // In high quality the 1 kHz and 5 kHz tones at 1.28 times the speed leave everything
        // else at least 80 dB below them (about 89 here; frame picking leaves 23 and 9).
        if (row.method == window->MnuHighQuality) {
            const std::vector<double> saved =
                Samples16(DataOf(ReadFile(out + "/window/saved.wav")));
            ASSERT_EQ(saved.size(), std::size_t{2} * kFaster);
            EXPECT_GE(ToneClearance(saved, 2, 0, 1000), 80);
            EXPECT_GE(ToneClearance(saved, 2, 1, 5000), 80);
        }
    }
}

} // namespace
