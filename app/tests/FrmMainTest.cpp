// SPDX-License-Identifier: MIT
// The main window: layout, start and end, opening, closing, drops and properties, driven
// through the scripted desktop on real files in a temporary folder.
#include "FrmMain.h"
#include "ScriptedDesktop.h"
#include "WaveFiles.h"
#include "toolkit/QtDesktop.h"
#include "toolkit/UpDown.h"

#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace metronel;
using namespace metronel::testing;

namespace {

class FrmMainTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        folder = QDir(dir.path()).absolutePath() + "/";
    }

    // Starts the program as main does: settings first, then the window on first show.
    FrmMain& Start(const QString& commandLine = {}) {
        LoadSettings(desktop);
        window = std::make_unique<FrmMain>(desktop, commandLine);
        window->show();
        return *window;
    }

    QString Make(const QString& name, const QByteArray& bytes) {
        QString path = WriteFile(dir, name, bytes);
        EXPECT_FALSE(path.isEmpty()) << name.toStdString();
        return path;
    }

    QString MakeWave(const QString& name, const Format& f = {}, int dataBytes = 4 * 1000) {
        return Make(name, Wave(f, Ramp(dataBytes)));
    }

    bool FileIsOpen() const {
        return window->m_Reader != nullptr && window->Txt[FrmMain::FieldBeats]->isEnabled();
    }

    void Drop(QMimeData* data) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &drop);
        lastDragAccepted = enter.isAccepted();
        delete data;
    }

    QTemporaryDir dir;
    QString folder;
    ScriptedDesktop desktop;
    std::unique_ptr<FrmMain> window;
    bool lastDragAccepted = false;
};

// Every control and command that needs an open file, and whether it is enabled.
void ExpectFileState(const FrmMain& w, bool open) {
    for (QLineEdit* t : w.Txt)
        EXPECT_EQ(t->isEnabled(), open);
    EXPECT_EQ(w.CmdGoto->isEnabled(), open);
    EXPECT_EQ(w.CmdReset->isEnabled(), open);
    EXPECT_EQ(w.udSamples->isEnabled(), open);
    EXPECT_EQ(w.MnuCloseFile->isEnabled(), open);
    EXPECT_EQ(w.MnuSaveAs->isEnabled(), open);
    EXPECT_EQ(w.MnuSplitAs->isEnabled(), open);
    EXPECT_EQ(w.MnuProperties->isEnabled(), open);
    EXPECT_EQ(w.MnuOpenFile->isEnabled(), !open);
}

QStringList Captions(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

} // namespace

// ---- Layout ----

TEST_F(FrmMainTest, ControlsStandAtTheirTwipsPositions) {
    FrmMain& w = Start();
    EXPECT_EQ(w.windowTitle(), "Metronel");
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_EQ(w.centralWidget()->size(), QSize(291, 159));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);

    struct Row {
        QWidget* widget;
        QRect twips;
    };
    const Row rows[] = {
        {w.Lbl[2], {360, 120, 405, 195}},    {w.Txt[0], {960, 120, 855, 285}},
        {w.Lbl[3], {2040, 120, 315, 195}},   {w.Txt[1], {2520, 120, 855, 285}},
        {w.CmdGoto, {3600, 0, 495, 495}},    {w.Lbl[0], {120, 840, 645, 195}},
        {w.Txt[2], {960, 840, 2415, 285}},   {w.udSamples, {3360, 840, 240, 285}},
        {w.CmdReset, {3720, 840, 375, 375}}, {w.Lbl[1], {360, 1200, 360, 195}},
        {w.Txt[3], {960, 1200, 2415, 285}},  {w.pBar, {360, 1920, 3615, 255}},
    };
    for (const Row& r : rows) {
        const QRect px(r.twips.x() / 15, r.twips.y() / 15, r.twips.width() / 15,
                       r.twips.height() / 15);
        if (qobject_cast<QLabel*>(r.widget)) {
            // A caption may grow to the right to fit the font; it never moves or shrinks.
            EXPECT_EQ(r.widget->pos(), px.topLeft());
            EXPECT_EQ(r.widget->height(), px.height());
            EXPECT_GE(r.widget->width(), px.width());
            for (const Row& other : rows) {
                if (!qobject_cast<QLabel*>(other.widget)) {
                    EXPECT_FALSE(r.widget->geometry().intersects(other.widget->geometry()))
                        << r.widget->property("text").toString().toStdString();
                }
            }
        } else {
            EXPECT_EQ(r.widget->geometry(), px) << r.widget->metaObject()->className();
        }
        EXPECT_EQ(r.widget->parentWidget(), w.centralWidget());
    }
    EXPECT_EQ(w.Line1->geometry(), QRect(8, 40, 272, 1));
    EXPECT_EQ(w.Line1->palette().color(QPalette::Window), QColor(128, 128, 128));

    EXPECT_EQ(w.Lbl[0]->text(), "Samples:");
    EXPECT_EQ(w.Lbl[1]->text(), "Bpm:");
    EXPECT_EQ(w.Lbl[2]->text(), "Beats");
    EXPECT_EQ(w.Lbl[3]->text(), "Bars");
    EXPECT_EQ(w.CmdReset->text(), "!");
    EXPECT_TRUE(w.CmdGoto->text().isEmpty() ||
                w.CmdGoto->toolButtonStyle() == Qt::ToolButtonIconOnly);
    EXPECT_FALSE(w.CmdGoto->icon().isNull());
    EXPECT_EQ(w.CmdGoto->toolTip(), "Goto current file folder.");
    EXPECT_EQ(w.CmdReset->toolTip(), "Reset to original settings.");
    EXPECT_EQ(w.pBar->minimum(), 0);
    EXPECT_EQ(w.pBar->maximum(), 100);
    EXPECT_EQ(w.udSamples->Max(), 2147483647);
    EXPECT_EQ(w.udSamples->focusPolicy(), Qt::NoFocus);
    ExpectFileState(w, false);
}

TEST_F(FrmMainTest, FocusMovesThroughFieldsThenButtons) {
    FrmMain& w = Start();
    const QList<QWidget*> order = {w.Txt[0],  w.Txt[1],   w.Txt[2],   w.Txt[3],
                                   w.CmdGoto, w.CmdReset, w.udSamples};
    QList<QWidget*> seen;
    QWidget* at = w.Txt[0];
    do {
        if (order.contains(at) && !seen.contains(at))
            seen << at;
        at = at->nextInFocusChain();
    } while (at != w.Txt[0]);
    EXPECT_EQ(seen, order);
}

TEST_F(FrmMainTest, MenusHoldTheirItemsAndMathsStaysOutOfTheBar) {
    FrmMain& w = Start();
    EXPECT_EQ(Captions(w.menuBar()->actions()), (QStringList{"File", "&Sound", "About/Support"}));
    EXPECT_EQ(Captions(w.MnuSound->actions()),
              (QStringList{"&Play", "-", "Tape (Pick &Frames)", "Tape (&High Quality)",
                           "Keep P&itch", "-", "&Keep Loop Points and Tags"}));
    EXPECT_EQ(Captions(w.MnuFile->actions()),
              (QStringList{"Open", "Close", "-", "Save As..", "Split As...", "-", "Properties", "-",
                           "Exit"}));
    EXPECT_EQ(Captions(w.MnuMath->actions()),
              (QStringList{"Multiplication (*)", "Division (/)", "Rounded Division (\\)", "-",
                           "Increcment/Decrecment (+ -)", "-", "Semitone Shift (#)"}));
    EXPECT_FALSE(w.menuBar()->actions().contains(w.MnuMath->menuAction()));
    for (QAction* a : w.MnuFile->actions())
        EXPECT_TRUE(a->shortcut().isEmpty());
    EXPECT_TRUE(w.MnuOpenFile->isEnabled());
    EXPECT_TRUE(w.MnuExit->isEnabled());
}

// ---- Start and end ----

TEST_F(FrmMainTest, FirstRunStartsInRootAndWritesItBack) {
    FrmMain& w = Start();
    w.MnuOpenFile->trigger(); // cancelled: the queue is empty
    ASSERT_EQ(desktop.fileDialogs.size(), 1u);
    const FileDialogCall& call = desktop.fileDialogs[0];
    EXPECT_FALSE(call.save);
    EXPECT_EQ(call.initDir, "/");
    EXPECT_EQ(call.fileName, "");
    EXPECT_EQ(call.title, "Select a wave file to open.");
    EXPECT_EQ(call.flags, 4100);
    EXPECT_EQ(call.filter, "Wave Files|*.wav;");
    EXPECT_TRUE(desktop.msgBoxes.empty());
    ExpectFileState(w, false);

    w.MnuExit->trigger();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(desktop.msgBoxes.empty());
    EXPECT_EQ(desktop.settings.value("Settings/UserFilePath"), "/");
}

TEST_F(FrmMainTest, RememberedFolderStartsTheOpenDialog) {
    desktop.settings["Settings/UserFilePath"] = "/srv/loops/";
    FrmMain& w = Start();
    w.MnuOpenFile->trigger();
    ASSERT_EQ(desktop.fileDialogs.size(), 1u);
    EXPECT_EQ(desktop.fileDialogs[0].initDir, "/srv/loops/");
}

TEST_F(FrmMainTest, QuotedCommandLineOpensItsFile) {
    const QString path = MakeWave("my loop.wav");
    const QStringList arguments = (QStringLiteral("\"") + path + "\"").split(u' ');
    ASSERT_GT(arguments.size(), 1); // the shell split the name at its space
    FrmMain& w = Start(CommandLineFileName(arguments));
    EXPECT_TRUE(desktop.msgBoxes.empty());
    EXPECT_TRUE(FileIsOpen());
    EXPECT_EQ(w.m_FileTitle, "my loop.wav");
    EXPECT_EQ(w.m_FilePath, folder);
    EXPECT_EQ(w.cDlg.FileName, path);
}

TEST_F(FrmMainTest, CommandLineWithTwoNamesIsOneMissingFile) {
    const QString a = MakeWave("a.wav");
    const QString b = MakeWave("b.wav");
    FrmMain& w = Start(CommandLineFileName({a, b}));
    ASSERT_EQ(desktop.msgBoxes.size(), 1u);
    EXPECT_EQ(desktop.msgBoxes[0].text,
              QString::fromStdString(chunkwell::ErrorText(chunkwell::mfec_OpenFileFailed)));
    EXPECT_EQ(desktop.msgBoxes[0].title, "Metronel");
    EXPECT_EQ(desktop.msgBoxes[0].icon, MsgIcon::None);
    EXPECT_FALSE(FileIsOpen());
    ExpectFileState(w, false);
    EXPECT_EQ(g_UserFilePath, "/"); // only a successful open moves the remembered folder
}

TEST_F(FrmMainTest, CommandLineWithoutFolderOpensFromWorkingFolder) {
    MakeWave("here.wav");
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    FrmMain& w = Start(QStringLiteral("here.wav"));
    QDir::setCurrent(previous);
    EXPECT_TRUE(FileIsOpen());
    EXPECT_EQ(g_UserFilePath, "");
    EXPECT_EQ(w.m_FilePath, "");
    EXPECT_EQ(w.m_FileTitle, "here.wav");
    w.close();
    EXPECT_EQ(desktop.settings.value("Settings/UserFilePath", "missing"), "");
}

TEST_F(FrmMainTest, UnloadClosesTheFileAndWritesTheFolderOnce) {
    const QString path = MakeWave("loop.wav");
    FrmMain& w = Start(path);
    ASSERT_TRUE(FileIsOpen());
    std::weak_ptr<chunkwell::MediaFileReader> reader = w.m_Reader;
    w.close();
    EXPECT_TRUE(reader.expired());
    ExpectFileState(w, false);
    EXPECT_EQ(desktop.settings.value("Settings/UserFilePath"), folder);

    // A second close neither closes again nor writes again.
    desktop.settings.clear();
    w.close();
    EXPECT_TRUE(desktop.settings.isEmpty());
}

// ---- Opening and closing ----

TEST_F(FrmMainTest, OpenStandsOnDataAndEnablesTheFileCommands) {
    Format f;
    const QString path =
        Make("loop.wav", Riff(Record("fmt ", FmtData(f)) +
                              Record("LIST", QByteArray("INFOISFT\3\0\0\0abc", 15)) +
                              Record("data", Ramp(4000)) + Record("fmt ", FmtData({3}))));
    FrmMain& w = Start();
    desktop.fileAnswers.push_back(path);
    w.MnuOpenFile->trigger();

    EXPECT_TRUE(desktop.msgBoxes.empty());
    ASSERT_TRUE(FileIsOpen());
    ExpectFileState(w, true);
    EXPECT_EQ(w.m_DataInfo.RecordID, w.msl.FormatRecordID("data"));
    EXPECT_EQ(w.m_DataInfo.RecordSize, 4000);
    EXPECT_EQ(w.m_DataInfo.FileOffset, 12 + 24 + 24 + 8);
    EXPECT_EQ(w.m_Reader->RecordInfo().FileOffset, w.m_DataInfo.FileOffset);
    EXPECT_EQ(w.m_WaveFormat.FormatTag, 1); // the record after "data" is never read
    EXPECT_EQ(w.m_WaveFormat.SamplesPerSec, 44100);
    EXPECT_EQ(w.m_FilePath + w.m_FileTitle, path);
    EXPECT_EQ(g_UserFilePath, folder);
    EXPECT_EQ(w.cDlg.InitDir, folder);

    w.CmdGoto->click();
    ASSERT_EQ(desktop.openedUrls.size(), 1u);
    EXPECT_EQ(desktop.openedUrls[0], QUrl::fromLocalFile(folder));
}

TEST_F(FrmMainTest, CloseReleasesTheFileButKeepsItsRecords) {
    const QString path = MakeWave("loop.wav");
    FrmMain& w = Start(path);
    ASSERT_TRUE(FileIsOpen());
    std::weak_ptr<chunkwell::MediaFileReader> reader = w.m_Reader;
    w.MnuCloseFile->trigger();
    EXPECT_TRUE(reader.expired());
    ExpectFileState(w, false);
    EXPECT_EQ(w.m_WaveFormat.SamplesPerSec, 44100);
    EXPECT_EQ(w.m_DataInfo.RecordSize, 4000);
    EXPECT_EQ(w.m_FilePath + w.m_FileTitle, path);

    // The file is free again: it opens a second time.
    desktop.fileAnswers.push_back(path);
    w.MnuOpenFile->trigger();
    EXPECT_TRUE(FileIsOpen());
}

TEST_F(FrmMainTest, AcceptedFormatVariants) {
    Format odd; // BlockAlign disagrees with channels and bits, yet the byte rate fits it
    odd.blockAlign = 3;
    odd.avgBytesPerSec = 3 * 44100;
    struct Row {
        const char* name;
        QByteArray bytes;
        std::int16_t bits;
        std::int16_t blockAlign;
        std::int32_t dataSize;
    };
    const Row rows[] = {
        {"18-byte fmt",
         Riff(Record("fmt ", FmtData({}, QByteArray(2, '\0'))) + Record("data", Ramp(400))), 16, 4,
         400},
        {"records between fmt and data",
         Riff(Record("fmt ", FmtData({})) + Record("fact", QByteArray(4, '\1')) +
              Record("odd ", QByteArray(3, 'x')) + Record("data", Ramp(40))),
         16, 4, 40},
        {"two fmt records, the last wins",
         Riff(Record("fmt ", FmtData({})) + Record("fmt ", FmtData({1, 1, 8000, 8000, 1, 8})) +
              Record("data", Ramp(10))),
         8, 1, 10},
        {"empty data", Wave({}, {}), 16, 4, 0},
        {"odd block align", Wave(odd, Ramp(30)), 16, 3, 30},
        // After a 16-bit file: the fields a short record lacks must not keep old values.
        {"14-byte fmt, the rest zero",
         Riff(Record("fmt ", FmtData({}).left(14)) + Record("data", Ramp(8))), 0, 4, 8},
        // The size leaves no room for a following header; the walk must still end.
        {"data size past the end",
         Riff(Record("fmt ", FmtData({})) + QByteArray("data\xff\xff\xff\x7f", 8) + Ramp(16)), 16,
         4, 0x7FFFFFFF},
    };
    Start();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const QString path = Make(QString::fromLatin1(r.name) + ".wav", r.bytes);
        window->DropFiles({path});
        EXPECT_TRUE(desktop.msgBoxes.empty());
        EXPECT_TRUE(FileIsOpen());
        EXPECT_EQ(window->m_WaveFormat.BitsPerSample, r.bits);
        EXPECT_EQ(window->m_WaveFormat.BlockAlign, r.blockAlign);
        EXPECT_EQ(window->m_DataInfo.RecordSize, r.dataSize);
    }
}

TEST_F(FrmMainTest, RefusedFilesShowTheirMessage) {
    Format floating{3, 2, 44100, 352800, 8, 32};
    Format extensible{-2, 2, 44100, 176400, 4, 16};
    Format offByOne;
    offByOne.avgBytesPerSec += 1;
    Format noFrame{1, 2, 44100, 0, 0, 16};
    Format overflow{1, 2, 1 << 30, 0, 4, 16};
    QByteArray hugeSize = Wave({}, Ramp(8));
    hugeSize.replace(4, 4, QByteArray("\xFF\xFF\xFF\x7F", 4));
    const QString typeText = "Incorrect file type or corrupt file header.";
    const QString pcmText = "This application only accepts wave pcm format!.";
    const QString corruptText = "The format for this file is corrupt.";
    const QString openText =
        QString::fromStdString(chunkwell::ErrorText(chunkwell::mfec_OpenFileFailed));
    struct Row {
        const char* name;
        QByteArray bytes;
        QString text;
        QString title;
        MsgIcon icon = MsgIcon::Critical;
        bool exists = true;
    };
    const Row rows[] = {
        {"not RIFF", QByteArray("this is plain text, not a chunk file"), typeText,
         "File Type Unknown"},
        {"empty file", QByteArray(), typeText, "File Type Unknown"},
        {"RIFF of type AVI", Riff(Record("avih", QByteArray(56, '\0')), "AVI "), typeText,
         "File Type Unknown"},
        {"lower-case riff",
         Riff(Record("fmt ", FmtData({})) + Record("data", Ramp(8)), "WAVE", "riff"), typeText,
         "File Type Unknown"},
        {"FormatTag 3", Wave(floating, Ramp(64)), pcmText, "Format Error"},
        {"FormatTag 0xFFFE",
         Riff(Record("fmt ", FmtData(extensible, QByteArray(24, '\0'))) + Record("data", Ramp(8))),
         pcmText, "Format Error"},
        {"AvgBytesPerSec off by one", Wave(offByOne, Ramp(8)), corruptText,
         "Format Corruption Error"},
        {"BlockAlign 0", Wave(noFrame, Ramp(8)), corruptText, "Format Corruption Error"},
        {"RIFF size 0x7FFFFFFF", hugeSize, typeText, "File Type Unknown"},
        {"product overflows", Wave(overflow, Ramp(8)), corruptText, "Format Corruption Error"},
        {"no data record", Riff(Record("fmt ", FmtData({})) + Record("LIST", Ramp(10))), typeText,
         "File Type Unknown"},
        {"data before fmt", Riff(Record("data", Ramp(8)) + Record("fmt ", FmtData({}))), typeText,
         "File Type Unknown"},
        {"no records", Riff({}), typeText, "File Type Unknown"},
        {"missing file", {}, openText, "Metronel", MsgIcon::None, false},
    };
    const QString good = MakeWave("good.wav");
    FrmMain& w = Start(good);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        desktop.msgBoxes.clear();
        w.DropFiles({good});
        ASSERT_TRUE(FileIsOpen());
        const QString name = QString::fromLatin1(r.name) + ".wav";
        w.DropFiles({r.exists ? Make(name, r.bytes) : folder + name});
        ASSERT_EQ(desktop.msgBoxes.size(), 1u); // never an empty box, never none
        EXPECT_EQ(desktop.msgBoxes[0].text, r.text);
        EXPECT_EQ(desktop.msgBoxes[0].title, r.title);
        EXPECT_EQ(desktop.msgBoxes[0].icon, r.icon);
        EXPECT_FALSE(FileIsOpen());
        EXPECT_EQ(w.m_Reader, nullptr);
        ExpectFileState(w, false);
    }
}

// ---- Drops ----

TEST_F(FrmMainTest, DropOpensTheFirstOfSeveralFiles) {
    const QString first = MakeWave("first.wav");
    const QString second = MakeWave("second.wav", {1, 1, 8000, 8000, 1, 8});
    FrmMain& w = Start(second);
    ASSERT_EQ(w.m_WaveFormat.Channels, 1);
    auto* data = new QMimeData;
    data->setUrls({QUrl("https://example.org/x.wav"), QUrl::fromLocalFile(first),
                   QUrl::fromLocalFile(second)});
    Drop(data);
    EXPECT_TRUE(lastDragAccepted);
    EXPECT_TRUE(FileIsOpen());
    EXPECT_EQ(w.m_FileTitle, "first.wav");
    EXPECT_EQ(w.m_WaveFormat.Channels, 2);
}

TEST_F(FrmMainTest, DropOfTextChangesNothing) {
    FrmMain& w = Start(MakeWave("loop.wav"));
    auto reader = w.m_Reader.get();
    auto* data = new QMimeData;
    data->setText(folder + "loop.wav");
    Drop(data);
    EXPECT_FALSE(lastDragAccepted);
    EXPECT_EQ(w.m_Reader.get(), reader);
    ExpectFileState(w, true);

    auto* remote = new QMimeData;
    remote->setUrls({QUrl("https://example.org/x.wav")});
    Drop(remote);
    EXPECT_EQ(w.m_Reader.get(), reader);
    EXPECT_TRUE(desktop.msgBoxes.empty());
}

// ---- Properties ----

TEST_F(FrmMainTest, PropertiesShowPathAndFormatWithSingleCarriageReturns) {
    FrmMain& w = Start(MakeWave("stereo.wav"));
    w.MnuProperties->trigger();
    ASSERT_EQ(desktop.msgBoxes.size(), 1u);
    EXPECT_EQ(desktop.msgBoxes[0].text.toUtf8(),
              (folder + "stereo.wav").toUtf8() + "\r\r44100 Hz\r2 channel(s)\r16 bit");
    EXPECT_EQ(desktop.msgBoxes[0].title, "File Properties");
    EXPECT_EQ(desktop.msgBoxes[0].icon, MsgIcon::None);

    w.DropFiles({MakeWave("mono.wav", {1, 1, 22050, 22050, 1, 8})});
    w.MnuProperties->trigger();
    ASSERT_EQ(desktop.msgBoxes.size(), 2u);
    EXPECT_EQ(desktop.msgBoxes[1].text.toUtf8(),
              (folder + "mono.wav").toUtf8() + "\r\r22050 Hz\r1 channel(s)\r8 bit");
}

// ---- The spin control ----

TEST(UpDown, ReportsTheButtonBeforeTheStepAndNeverTakesFocus) {
    UpDown spin;
    spin.resize(16, 19);
    spin.show();
    std::vector<QString> events;
    QObject::connect(
        &spin, &UpDown::mouseButton, [&](Qt::MouseButton b, Qt::KeyboardModifiers m, int x, int y) {
            events.push_back(
                QStringLiteral("button %1 %2 %3,%4").arg(int(b)).arg(int(m)).arg(x).arg(y));
        });
    QObject::connect(&spin, &UpDown::stepped, [&](int direction) {
        events.push_back(QStringLiteral("step %1").arg(direction));
    });

    QTest::mouseClick(spin.upButton(), Qt::LeftButton, Qt::ShiftModifier, QPoint(3, 2));
    QTest::mouseClick(spin.downButton(), Qt::LeftButton, Qt::ControlModifier, QPoint(3, 2));
    QTest::mouseClick(spin.downButton(), Qt::RightButton, Qt::NoModifier, QPoint(3, 2));
    const int downTop = spin.downButton()->y();
    const std::vector<QString> expected = {
        QStringLiteral("button 1 %1 3,2").arg(int(Qt::ShiftModifier)),
        "step 1",
        QStringLiteral("button 1 %1 3,%2").arg(int(Qt::ControlModifier)).arg(downTop + 2),
        "step -1",
        QStringLiteral("button 2 0 3,%1").arg(downTop + 2),
    };
    EXPECT_EQ(events, expected);
    EXPECT_FALSE(spin.hasFocus());
    EXPECT_EQ(spin.upButton()->focusPolicy(), Qt::NoFocus);

    spin.setEnabled(false);
    events.clear();
    QTest::mouseClick(spin.upButton(), Qt::LeftButton);
    EXPECT_TRUE(events.empty());
}

// ---- The Qt desktop's translations ----

TEST(QtDesktop, FilterAndLineBreaks) {
    EXPECT_EQ(QtDesktop::QtFilter("Wave Files|*.wav;"), "Wave Files (*.wav)");
    EXPECT_EQ(QtDesktop::QtFilter("Wave Files|*.wav;*.wave|All|*.*"),
              "Wave Files (*.wav *.wave);;All (*.*)");
    EXPECT_EQ(QtDesktop::MessageLines("a\r\rb\r\nc\nd"), "a\n\nb\nc\nd");
}

TEST(QtDesktop, SettingsLiveUnderTheirSection) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QtDesktop desktop;
    EXPECT_EQ(desktop.GetSetting("Settings", "UserFilePath", "/"), "/");
    desktop.SaveSetting("Settings", "UserFilePath", "/my loops/");
    EXPECT_EQ(desktop.GetSetting("Settings", "UserFilePath", "/"), "/my loops/");
    QSettings stored("Metronel", "Metronel");
    EXPECT_EQ(stored.value("Settings/UserFilePath").toString(), "/my loops/");
    EXPECT_EQ(stored.allKeys(), QStringList{"Settings/UserFilePath"});
}
