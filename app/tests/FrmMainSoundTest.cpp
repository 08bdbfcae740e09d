// SPDX-License-Identifier: MIT
// The Sound menu heard: a private sound server's pipe sink gives back what Play sent, and it
// must be what Save As writes, repeated bit for bit. Without a server, Play says so.
#include "FrmMain.h"
#include "LoopPlayer.h"
#include "ScriptedDesktop.h"
#include "SoundServer.h"
#include "WaveFiles.h"

#include <QAction>
#include <QLineEdit>
#include <QTest>
#include <QtEndian>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

using namespace metronel;
using namespace metronel::testing;

namespace {

constexpr int kFrames = 22050; // half a second at 44.1 kHz
constexpr int kFaster = 17227; // 1.28 times as fast

// Stereo 16-bit white noise, never a silent frame, the same for a seed.
QByteArray Noise(int frames, std::uint32_t seed) {
    QByteArray d;
    for (int k = 0; k < 2 * frames; ++k) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        PutLE(d, (seed & 0xFFFF) | 1, 2);
    }
    return d;
}

// The "data" record of a wave file.
QByteArray DataOf(const QString& path) {
    const QByteArray file = ReadFile(path);
    for (qsizetype at = 12; at + 8 <= file.size();) {
        const auto size = static_cast<qsizetype>(
            qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(file.constData() + at + 4)));
        if (file.mid(at, 4) == "data")
            return file.mid(at + 8, size);
        at += 8 + size + size % 2;
    }
    return {};
}

qsizetype FirstSound(const QByteArray& bytes) {
    for (qsizetype at = 0; at + 4 <= bytes.size(); at += 4)
        if (bytes.mid(at, 4) != QByteArray(4, '\0'))
            return at;
    return -1;
}

// Tells whether heard holds, after the silence before playing, passes copies of pass back to
// back (from wherever pass itself first sounds).
::testing::AssertionResult HeardRepeated(const QByteArray& heard, const QByteArray& pass,
                                         int passes) {
    const qsizetype lead = FirstSound(pass);
    const qsizetype first = FirstSound(heard);
    if (lead < 0 || first < 0)
        return ::testing::AssertionFailure() << "nothing was heard";
    const qsizetype start = first - lead;
    const qsizetype needed = start + passes * pass.size();
    if (start < 0 || heard.size() < needed)
        return ::testing::AssertionFailure()
               << "heard " << heard.size() << " bytes, " << needed << " needed";
    for (qsizetype i = 0; i < passes * pass.size(); ++i)
        if (heard[start + i] != pass[i % pass.size()])
            return ::testing::AssertionFailure() << "byte " << i % pass.size() << " of pass "
                                                 << i / pass.size() + 1 << " differs";
    return ::testing::AssertionSuccess();
}

// Lets the window run until bytes were heard from the first sound on, or ten seconds pass.
QByteArray HearAtLeast(SoundServer& server, qsizetype bytes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    QByteArray heard = server.Heard();
    while ((FirstSound(heard) < 0 || heard.size() - FirstSound(heard) < bytes) &&
           std::chrono::steady_clock::now() < deadline) {
        QTest::qWait(20);
        heard = server.Heard();
    }
    return heard;
}

// Lets the window run until the server has been quiet for a while, then forgets what it
// heard: what a stopped stream still had on its way is not the next test's.
void Quiet(SoundServer& server) {
    qsizetype before = -1;
    for (int i = 0; i < 100 && server.Heard().size() != before; ++i) {
        before = server.Heard().size();
        QTest::qWait(300);
    }
    server.Clear();
}

// Lets the window run until the desktop has shown boxes boxes, or ten seconds pass.
void WaitForBoxes(const ScriptedDesktop& desktop, std::size_t boxes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (desktop.msgBoxes.size() < boxes && std::chrono::steady_clock::now() < deadline)
        QTest::qWait(20);
}

class WindowSound : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        source = WriteFile(dir, "noise.wav", Wave(Format{}, Noise(kFrames, 2463534242u)));
        LoadSettings(desktop);
        window = std::make_unique<FrmMain>(desktop, source);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ASSERT_TRUE(window->MnuPlay->isEnabled());
    }

    // What Save As writes at the length in Samples.
    QByteArray SavedData(const QString& name) {
        const QString path = dir.filePath(name);
        desktop.fileAnswers.push_back(path);
        window->MnuSaveAs_Click();
        return DataOf(path);
    }

    // Space typed into Samples, as a person plays and stops.
    void Space() { QTest::keyClick(window->Txt[FrmMain::FieldSamples], Qt::Key_Space); }

    QTemporaryDir dir;
    QString source;
    ScriptedDesktop desktop;
    std::unique_ptr<FrmMain> window;
};

class WindowSoundHeard : public WindowSound {
protected:
    static void SetUpTestSuite() {
        server = new SoundServer;
        why = server->Start();
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(why.isEmpty()) << why.toStdString();
        WindowSound::SetUp();
    }

    static SoundServer* server;
    static QString why;
};

SoundServer* WindowSoundHeard::server = nullptr;
QString WindowSoundHeard::why;

TEST_F(WindowSoundHeard, PlayIsWhatSaveAsWritesRepeatedForEachMethod) {
    for (QAction* method : {window->MnuPickFrames, window->MnuHighQuality}) {
        SCOPED_TRACE(method->text().toStdString());
        method->trigger();
        window->Txt[FrmMain::FieldSamples]->setText(QString::number(kFaster));
        const QByteArray pass = SavedData(method->text() + ".wav");
        ASSERT_EQ(pass.size(), kFaster * 4);

        Quiet(*server);
        Space();
        EXPECT_EQ(window->MnuPlay->text(), "Stop");
        EXPECT_EQ(window->Txt[FrmMain::FieldSamples]->text(), QString::number(kFaster));
        const QByteArray heard = HearAtLeast(*server, 4 * pass.size());
        Space();
        EXPECT_EQ(window->MnuPlay->text(), "&Play");
        EXPECT_TRUE(HeardRepeated(heard, pass, 3));
        EXPECT_TRUE(desktop.msgBoxes.empty());
    }
}

// Keeping the pitch, the first pass comes from the quick real-time stretch, of the same
// length, and the passes after it are what Save As writes.
TEST_F(WindowSoundHeard, KeepPitchPlaysAtOnceThenWhatSaveAsWrites) {
    window->MnuKeepPitch->trigger();
    window->Txt[FrmMain::FieldSamples]->setText(QString::number(kFaster));
    const QByteArray pass = SavedData("kept.wav");
    ASSERT_EQ(pass.size(), kFaster * 4);

    // Played straight after the length is typed, before the window could render it ahead.
    window->Txt[FrmMain::FieldSamples]->setText(QString::number(kFrames));
    Quiet(*server);
    window->Txt[FrmMain::FieldSamples]->setText(QString::number(kFaster));
    Space();
    const QByteArray heard = HearAtLeast(*server, 8 * pass.size());
    Space();
    const qsizetype start = FirstSound(heard) - FirstSound(pass);
    ASSERT_GE(start, 0);
    const QByteArray live = heard.mid(start, pass.size());
    EXPECT_FALSE(live == pass);
    // The quick pass repeats until the offline one is ready (at once, but for a slow machine).
    qsizetype at = start + pass.size();
    while (heard.mid(at, pass.size()) == live)
        at += pass.size();
    ASSERT_GE(heard.size(), at + 2 * pass.size());
    EXPECT_TRUE(heard.mid(at, 2 * pass.size()) == pass + pass);
    EXPECT_TRUE(desktop.msgBoxes.empty());
}

TEST_F(WindowSoundHeard, ANewLengthIsHeardFromTheNextPass) {
    window->Txt[FrmMain::FieldSamples]->setText(QString::number(kFaster));
    const QByteArray before = SavedData("before.wav");
    window->Txt[FrmMain::FieldSamples]->setText(QString::number(kFrames));
    const QByteArray after = SavedData("after.wav");
    window->Txt[FrmMain::FieldSamples]->setText(QString::number(kFaster));

    Quiet(*server);
    window->MnuPlay->trigger();
    HearAtLeast(*server, before.size());
    window->Txt[FrmMain::FieldSamples]->setText(QString::number(kFrames));
    const QByteArray heard = HearAtLeast(*server, 3 * before.size() + 3 * after.size());
    window->MnuPlay->trigger();

    // Whole passes of the old length, then only the new one.
    const qsizetype start = FirstSound(heard);
    ASSERT_GE(start, 0);
    qsizetype at = start;
    int oldPasses = 0;
    while (heard.mid(at, before.size()) == before) {
        at += before.size();
        ++oldPasses;
    }
    EXPECT_GE(oldPasses, 1);
    EXPECT_TRUE(HeardRepeated(heard.mid(at), after, 2));
}

TEST_F(WindowSoundHeard, AServerThatGoesAwayStopsPlayWithABox) {
    Quiet(*server);
    // Played, stopped and played again at once: the last one is heard.
    for (int i = 0; i < 3; ++i)
        window->MnuPlay->trigger();
    EXPECT_EQ(window->MnuPlay->text(), "Stop");
    ASSERT_GE(HearAtLeast(*server, 4 * kFrames).size(), 4 * kFrames);
    server->Kill();
    WaitForBoxes(desktop, 1);
    ASSERT_EQ(desktop.msgBoxes.size(), 1u);
    EXPECT_EQ(desktop.msgBoxes[0].text, "Metronel cannot play: no sound output was found.");
    EXPECT_EQ(desktop.msgBoxes[0].title, "Metronel");
    EXPECT_EQ(window->MnuPlay->text(), "&Play");

    // The window goes on: another Play says the same, and the fields still take numbers.
    window->MnuPlay->trigger();
    WaitForBoxes(desktop, 2);
    EXPECT_EQ(window->MnuPlay->text(), "&Play");
    ASSERT_EQ(desktop.msgBoxes.size(), 2u);
    EXPECT_EQ(desktop.msgBoxes[1].text, desktop.msgBoxes[0].text);
    window->Txt[FrmMain::FieldSamples]->selectAll();
    QTest::keyClicks(window->Txt[FrmMain::FieldSamples], "1000");
    EXPECT_EQ(window->Txt[FrmMain::FieldSamples]->text(), "1000");
    window->close();
}

// Run in a process of its own, with the sound clients pointed at a server that is not there.
TEST_F(WindowSound, WithoutASoundOutputPlayShowsTheBox) {
    Space();
    ASSERT_EQ(desktop.msgBoxes.size(), 1u);
    EXPECT_EQ(desktop.msgBoxes[0].text, "Metronel cannot play: no sound output was found.");
    EXPECT_EQ(desktop.msgBoxes[0].title, "Metronel");
    EXPECT_EQ(window->MnuPlay->text(), "&Play");
    EXPECT_FALSE(window->IsPlaying());
    // Space never types into the field.
    EXPECT_EQ(window->Txt[FrmMain::FieldSamples]->text(), QString::number(kFrames));
}

} // namespace
