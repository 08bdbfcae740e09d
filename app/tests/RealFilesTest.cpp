// SPDX-License-Identifier: MIT
// Wave files made by SoX and FFmpeg, as users bring them, open or are refused by the window.
#include "FrmMain.h"
#include "ScriptedDesktop.h"

#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace metronel;
using namespace metronel::testing;

namespace {

bool RunTool(const QString& program, const QStringList& arguments, QString* output = nullptr) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return true;
}

struct RealFile {
    const char* name;
    const char* tool;      // "sox" or "ffmpeg"
    QStringList arguments; // %1 is the output path
    bool opens;
    const char* properties; // the lines after the path, when it opens
};

QStringList Args(QStringList args, const QString& path) {
    for (QString& a : args)
        a.replace("%1", path);
    return args;
}

const QStringList kSine = {
    "-loglevel", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=0.1"};

} // namespace

TEST(RealFiles, OpenOrRefuseAsTheirFormatSays) {
    const RealFile files[] = {
        {"sox-16-stereo.wav",
         "sox",
         {"-n", "-r", "44100", "-c", "2", "-b", "16", "%1", "synth", "0.1", "sine", "440"},
         true,
         "44100 Hz\r2 channel(s)\r16 bit"},
        {"sox-8-mono.wav",
         "sox",
         {"-n", "-r", "22050", "-c", "1", "-b", "8", "%1", "synth", "0.1", "sine", "440"},
         true,
         "22050 Hz\r1 channel(s)\r8 bit"},
        {"sox-24-plain.wav",
         "sox",
         {"-n", "-r", "48000", "-c", "2", "-b", "24", "-t", "wavpcm", "%1", "synth", "0.1", "sine",
          "440"},
         true,
         "48000 Hz\r2 channel(s)\r24 bit"},
        // SoX and FFmpeg both write samples wider than 16 bits as WAVE_FORMAT_EXTENSIBLE.
        {"sox-24-extensible.wav",
         "sox",
         {"-n", "-r", "44100", "-c", "2", "-b", "24", "%1", "synth", "0.1", "sine", "440"},
         false,
         nullptr},
        {"ffmpeg-16-stereo-list.wav", "ffmpeg",
         kSine + QStringList{"-ac", "2", "-c:a", "pcm_s16le", "%1"}, true,
         "44100 Hz\r2 channel(s)\r16 bit"},
        {"ffmpeg-8-mono-list.wav", "ffmpeg",
         kSine + QStringList{"-ac", "1", "-c:a", "pcm_u8", "%1"}, true,
         "44100 Hz\r1 channel(s)\r8 bit"},
        {"ffmpeg-24-extensible.wav", "ffmpeg",
         kSine + QStringList{"-ac", "1", "-c:a", "pcm_s24le", "%1"}, false, nullptr},
        {"ffmpeg-float.wav", "ffmpeg", kSine + QStringList{"-ac", "2", "-c:a", "pcm_f32le", "%1"},
         false, nullptr},
    };

    for (const char* tool : {"sox", "ffmpeg", "soxi"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << tool << " is not installed";

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = QDir(dir.path()).absolutePath() + "/";
    ScriptedDesktop desktop;
    LoadSettings(desktop);
    FrmMain window(desktop, {});
    window.Form_Load();

    for (const RealFile& f : files) {
        SCOPED_TRACE(f.name);
        const QString path = folder + f.name;
        ASSERT_TRUE(RunTool(f.tool, Args(f.arguments, path)));
        QString frames;
        ASSERT_TRUE(RunTool("soxi", {"-s", path}, &frames));

        desktop.msgBoxes.clear();
        window.DropFiles({path});
        if (!f.opens) {
            ASSERT_EQ(desktop.msgBoxes.size(), 1u);
            EXPECT_EQ(desktop.msgBoxes[0].text, "This application only accepts wave pcm format!.");
            EXPECT_EQ(desktop.msgBoxes[0].title, "Format Error");
            EXPECT_EQ(window.m_Reader, nullptr);
            EXPECT_FALSE(window.Txt[FrmMain::FieldBeats]->isEnabled());
            continue;
        }
        EXPECT_TRUE(desktop.msgBoxes.empty());
        ASSERT_NE(window.m_Reader, nullptr);
        EXPECT_TRUE(window.Txt[FrmMain::FieldBeats]->isEnabled());
        EXPECT_EQ(window.m_DataInfo.RecordSize / window.m_WaveFormat.BlockAlign, frames.toInt());
        window.ShowProperties();
        ASSERT_EQ(desktop.msgBoxes.size(), 1u);
        EXPECT_EQ(desktop.msgBoxes[0].text, path + "\r\r" + f.properties);
    }
}
