// SPDX-License-Identifier: MIT
// The tempo fields, the spin control and the Maths menu, driven as a user would: keys and
// clicks on the real fields of a window that has opened a real wave file.
#include "FrmMain.h"
#include "ScriptedDesktop.h"
#include "WaveFiles.h"
#include "toolkit/UpDown.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace metronel {
namespace {

using testing::ScriptedDesktop;

constexpr int Beats = FrmMain::FieldBeats;
constexpr int Bars = FrmMain::FieldBars;
constexpr int Samples = FrmMain::FieldSamples;
constexpr int Bpm = FrmMain::FieldBpm;

class FrmMainTempo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        form = std::make_unique<FrmMain>(desktop, QString());
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    // Opens a 44100 Hz stereo 16-bit file of dataBytes bytes (88200 frames by default).
    void Open(int dataBytes = 88200 * 4) {
        const QString path =
            testing::WriteFile(dir, "loop.wav", testing::Wave({}, testing::Ramp(dataBytes)));
        ASSERT_FALSE(path.isEmpty());
        ASSERT_TRUE(form->OpenFile(path));
        ASSERT_TRUE(field(Samples)->isEnabled());
    }

    QLineEdit* field(int i) const { return form->Txt[i]; }
    QString text(int i) const { return form->Txt[i]->text(); }

    // Replaces a field's text by typing, as the user would after selecting it.
    void Type(int i, const QString& keys) {
        field(i)->selectAll();
        QTest::keyClicks(field(i), keys);
    }

    // Types one character at the end of a field.
    void TypeAtEnd(int i, char c) {
        field(i)->setCursorPosition(static_cast<int>(text(i).size()));
        QTest::keyClick(field(i), c);
    }

    void OpenFileMenu() { emit form->MnuFile->aboutToShow(); }

    // Makes the window the active one, so that the fields get focus events.
    void Activate() {
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    void ClickField(int i, Qt::KeyboardModifiers modifiers,
                    Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(field(i), button, modifiers, QPoint(5, 5));
    }

    void ClickArrow(QToolButton* arrow, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(arrow, Qt::LeftButton, modifiers);
    }

    ScriptedDesktop desktop;
    QTemporaryDir dir;
    std::unique_ptr<FrmMain> form;
};

TEST_F(FrmMainTempo, OpeningShowsFramesAndTempo) {
    EXPECT_FALSE(field(Beats)->isEnabled());
    EXPECT_EQ(text(Beats), "4");
    EXPECT_EQ(text(Bars), "1");
    EXPECT_EQ(text(Samples), "");
    EXPECT_EQ(text(Bpm), "");
    Open();
    EXPECT_EQ(text(Samples), "88200");
    EXPECT_EQ(text(Bpm), "120");
    Type(Samples, "100000");
    EXPECT_EQ(text(Bpm), "105.840003967285");
    OpenFileMenu();
    EXPECT_EQ(text(Samples), "100000");
    EXPECT_EQ(text(Bpm), "105.840003967285");
}

TEST_F(FrmMainTempo, PastedOperatorsAreStripped) {
    Open();
    QGuiApplication::clipboard()->setText("12*3");
    field(Samples)->selectAll();
    QTest::keyClick(field(Samples), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(text(Samples), "123");
    EXPECT_EQ(text(Bpm), DoubleText(BpmFromSamples(123, 44100, 1.0f, 4.0f)));
    EXPECT_TRUE(desktop.inputBoxes.empty());

    // The caret stays where the user was typing.
    field(Samples)->setCursorPosition(1);
    field(Samples)->insert("-");
    EXPECT_EQ(text(Samples), "123");
    EXPECT_EQ(field(Samples)->cursorPosition(), 1);
}

TEST_F(FrmMainTempo, BeatsAndBarsRecalculateFromSamples) {
    Open();
    Type(Beats, "8");
    EXPECT_EQ(text(Bpm), "240");
    EXPECT_EQ(text(Samples), "88200");
    Type(Bars, "0.5");
    EXPECT_EQ(text(Bpm), "120");

    // A Beats that is not usable freezes the Bpm.
    Type(Beats, "0");
    EXPECT_EQ(text(Bpm), "120");
    field(Beats)->clear();
    EXPECT_EQ(text(Bpm), "120");
    Type(Samples, "12345.5"); // used as 12346
    EXPECT_EQ(text(Bpm), "120");
    Type(Beats, "4");
    EXPECT_EQ(text(Bpm), DoubleText(BpmFromSamples(12346, 44100, 0.5f, 4.0f)));
}

TEST_F(FrmMainTempo, TypedBpmIsTakenInWhenTheFileMenuOpens) {
    // Without a file nothing is taken in, even with the closed file's format still known.
    Open();
    form->MnuCloseFile_Click();
    field(Samples)->setText("88200");
    field(Bpm)->setText("100");
    OpenFileMenu();
    EXPECT_EQ(text(Samples), "88200");
    EXPECT_EQ(text(Bpm), "100");

    Open();
    Type(Bpm, "100");
    EXPECT_EQ(text(Samples), "88200");
    OpenFileMenu();
    EXPECT_EQ(text(Samples), "105840");
    EXPECT_EQ(text(Bpm), "100");

    Type(Bpm, "0.5"); // refused: everything stays
    OpenFileMenu();
    EXPECT_EQ(text(Samples), "105840");
    EXPECT_EQ(text(Bpm), "0.5");

    // Another field without a usable number leaves every field as it was.
    Type(Bpm, "90");
    Type(Beats, "0");
    OpenFileMenu();
    EXPECT_EQ(text(Samples), "105840");
    EXPECT_EQ(text(Bpm), "90");
}

TEST_F(FrmMainTempo, ValidationLimits) {
    Open();
    auto accepted = [this](int i, const char* value) {
        field(i)->setText(value);
        bool cancel = false;
        form->Txt_Validate(i, cancel);
        return !cancel;
    };
    EXPECT_TRUE(accepted(Beats, "0.1"));
    EXPECT_TRUE(accepted(Beats, "64"));
    EXPECT_FALSE(accepted(Beats, "0.09"));
    EXPECT_FALSE(accepted(Bars, "64.5"));
    EXPECT_FALSE(accepted(Bars, ""));
    EXPECT_TRUE(accepted(Bars, "1"));
    EXPECT_TRUE(accepted(Beats, "4"));
    EXPECT_FALSE(accepted(Samples, "0.5"));
    EXPECT_FALSE(accepted(Bpm, "abc"));
    EXPECT_TRUE(accepted(Samples, "1"));
    EXPECT_TRUE(accepted(Bpm, "120")); // re-syncs Samples from the Bpm
    EXPECT_EQ(text(Samples), "88200");
}

TEST_F(FrmMainTempo, OperatorKeysRunTheirOperations) {
    Open();
    desktop.inputAnswers = {"2"};
    TypeAtEnd(Beats, '*');
    ASSERT_EQ(desktop.inputBoxes.size(), 1u);
    EXPECT_EQ(desktop.inputBoxes[0].prompt, "Enter the multiplication (*) value.");
    EXPECT_EQ(desktop.inputBoxes[0].title, "Multiply");
    EXPECT_EQ(desktop.inputBoxes[0].defaultText, "2");
    EXPECT_EQ(text(Beats), "8");
    EXPECT_EQ(text(Bpm), "240");
    EXPECT_EQ(text(Samples), "88200");

    desktop.inputAnswers = {"-2"};
    TypeAtEnd(Samples, '-');
    EXPECT_EQ(desktop.inputBoxes.back().defaultText, "-2");
    EXPECT_EQ(desktop.inputBoxes.back().title, "Increcment/Decrecment");
    EXPECT_EQ(text(Samples), "88198");

    desktop.inputAnswers = {"7"};
    Type(Samples, "88200");
    TypeAtEnd(Samples, '\\');
    EXPECT_EQ(desktop.inputBoxes.back().prompt, "Enter a division (\\) value.");
    EXPECT_EQ(text(Samples), "12600");

    desktop.inputAnswers = {"3"};
    Type(Bpm, "120");
    TypeAtEnd(Bpm, '/');
    EXPECT_EQ(desktop.inputBoxes.back().title, "Division");
    EXPECT_EQ(text(Bpm), "40");
    EXPECT_EQ(text(Samples), "12600"); // until the next validation

    desktop.inputAnswers = {"-1000"};
    Type(Beats, "4");
    TypeAtEnd(Beats, '+');
    EXPECT_EQ(text(Beats), "996"); // the "-" of -996 cannot stay
    EXPECT_TRUE(desktop.msgBoxes.empty());
}

TEST_F(FrmMainTempo, SemitoneKey) {
    Open();
    desktop.inputAnswers = {"12"};
    TypeAtEnd(Samples, '#');
    ASSERT_EQ(desktop.inputBoxes.size(), 1u);
    EXPECT_EQ(desktop.inputBoxes[0].prompt, "Enter the semitone shift(#) value.");
    EXPECT_EQ(desktop.inputBoxes[0].title, "Semitone Shift");
    EXPECT_EQ(text(Samples), "44100");
    EXPECT_EQ(text(Bpm), "240");

    // Not in Beats: no prompt, and the character does not stay.
    TypeAtEnd(Beats, '#');
    EXPECT_EQ(desktop.inputBoxes.size(), 1u);
    EXPECT_EQ(text(Beats), "4");

    // From Bpm: Bpm shows the tempo of the shifted count; Samples follows on validation.
    desktop.inputAnswers = {"-12"};
    TypeAtEnd(Bpm, '#');
    EXPECT_EQ(text(Bpm), "120");
    EXPECT_EQ(text(Samples), "44100");
    OpenFileMenu();
    EXPECT_EQ(text(Samples), "88200");
    EXPECT_EQ(text(Bpm), "120");
}

TEST_F(FrmMainTempo, FaultsLeaveTheFieldExactlyAsItWas) {
    Open();
    Type(Samples, "88200.0");
    desktop.inputAnswers = {"0.4"};
    TypeAtEnd(Samples, '\\');
    EXPECT_EQ(text(Samples), "88200.0");
    EXPECT_EQ(text(Bpm), "120");

    desktop.inputAnswers = {"0"};
    TypeAtEnd(Bpm, '/');
    EXPECT_EQ(text(Bpm), "120");

    desktop.inputAnswers = {"1e308"};
    Type(Bpm, "1e300");
    TypeAtEnd(Bpm, '*');
    EXPECT_EQ(text(Bpm), "1e300");
    EXPECT_TRUE(desktop.msgBoxes.empty());
}

TEST_F(FrmMainTempo, EntryThatIsNotANumber) {
    Open();
    desktop.inputAnswers = {"abc"};
    Type(Bars, "1.50");
    TypeAtEnd(Bars, '*');
    ASSERT_EQ(desktop.msgBoxes.size(), 1u);
    EXPECT_EQ(desktop.msgBoxes[0].text, "Invalid calculation");
    EXPECT_EQ(desktop.msgBoxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(desktop.msgBoxes[0].title, "Metronel");
    EXPECT_EQ(text(Bars), "1.5"); // the unchanged value, written back

    TypeAtEnd(Bars, '*'); // cancelled: likewise
    EXPECT_EQ(text(Bars), "1.5");
    EXPECT_EQ(desktop.msgBoxes.size(), 1u);
}

TEST_F(FrmMainTempo, ModifiedClicksPopUpTheMathsMenu) {
    Open();
    ClickField(Beats, Qt::ShiftModifier);
    ASSERT_EQ(desktop.popups.size(), 1u);
    EXPECT_EQ(desktop.popups[0].globalPos,
              field(Beats)->mapToGlobal(QPoint(field(Beats)->width(), 0)));
    ASSERT_EQ(desktop.popups[0].items.size(), 5u);
    EXPECT_EQ(desktop.popups[0].items[0], std::make_pair(QString("Multiplication (*)"), true));
    EXPECT_EQ(desktop.popups[0].items[4], std::make_pair(QString("Semitone Shift (#)"), false));

    ClickField(Samples, Qt::ControlModifier);
    ASSERT_EQ(desktop.popups.size(), 2u);
    EXPECT_TRUE(desktop.popups[1].items[4].second);

    ClickField(Samples, Qt::ControlModifier | Qt::ShiftModifier);
    ClickField(Samples, Qt::ShiftModifier, Qt::RightButton);
    ClickField(Samples, {});
    EXPECT_EQ(desktop.popups.size(), 2u);
}

TEST_F(FrmMainTempo, PopupOperationRecalculatesAtOnce) {
    Open();
    desktop.popupChoices = {"Division (/)"};
    desktop.inputAnswers = {"2"};
    ClickField(Samples, Qt::ShiftModifier);
    ASSERT_EQ(desktop.inputBoxes.size(), 1u);
    EXPECT_EQ(desktop.inputBoxes[0].defaultText, "0"); // no keystroke yet
    EXPECT_EQ(text(Samples), "44100");
    EXPECT_EQ(text(Bpm), "240");

    // A dismissed pop-up still writes the value back in its normal form.
    Type(Samples, "12345.5");
    ClickField(Samples, Qt::ShiftModifier);
    EXPECT_EQ(text(Samples), "12346");
}

TEST_F(FrmMainTempo, SpinControlStepsByItsModifiers) {
    Open();
    UpDown* ud = form->udSamples;
    ClickArrow(ud->upButton());
    EXPECT_EQ(text(Samples), "88201");
    ClickArrow(ud->upButton(), Qt::ShiftModifier);
    EXPECT_EQ(text(Samples), "88265");
    ClickArrow(ud->downButton(), Qt::ControlModifier);
    EXPECT_EQ(text(Samples), "88137");
    EXPECT_EQ(text(Bpm), DoubleText(BpmFromSamples(88137, 44100, 1.0f, 4.0f)));
    QTest::mouseClick(ud->upButton(), Qt::RightButton, Qt::ShiftModifier);
    EXPECT_EQ(ud->Increment(), 128); // another button leaves the step
    ClickArrow(ud->downButton(), Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(text(Samples), "88136");
    EXPECT_EQ(ud->Increment(), 1);

    Type(Samples, "12345.5");
    ClickArrow(ud->upButton());
    EXPECT_EQ(text(Samples), "12347");
    // A step below the lower limit of 1 is not taken.
    Type(Samples, "100");
    ClickArrow(ud->downButton(), Qt::ControlModifier);
    EXPECT_EQ(text(Samples), "100");
    Type(Samples, "0");
    ClickArrow(ud->downButton());
    EXPECT_EQ(text(Samples), "0");
    Type(Samples, "2147483600");
    ClickArrow(ud->upButton(), Qt::ControlModifier);
    EXPECT_EQ(text(Samples), "2147483647");
}

// Keys reach the field with the focus as the keyboard sends them: Tab moves the focus on and
// selects the next field's text.
TEST_F(FrmMainTempo, OperatorTypedOverASelectionLeavesAnUnchangedFieldAsItWas) {
    Open();
    Activate();
    struct Row {
        const char* name;
        int from;
        Qt::KeyboardModifiers tab;
        int to;
        char key;
        const char* answer; // "" cancels the prompt
    };
    const Row rows[] = {
        {"Tab, * cancelled", Bars, {}, Samples, '*', ""},
        {"Tab, / by 0", Bars, {}, Samples, '/', "0"},
        {"Tab, + of an invalid entry", Samples, {}, Bpm, '+', "abc"},
        {"Tab, \\ by 1 gives the same value", Bars, {}, Samples, '\\', "1"},
        {"Shift+Tab, # in Beats", Bars, Qt::ShiftModifier, Beats, '#', ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const QString before = text(r.to);
        field(r.from)->setFocus();
        QTest::keyClick(field(r.from), Qt::Key_Tab, r.tab);
        ASSERT_EQ(field(r.to)->selectedText(), before);
        if (*r.answer)
            desktop.inputAnswers.push_back(r.answer);
        QTest::keyClick(field(r.to), r.key);
        EXPECT_EQ(text(r.to), before);
        EXPECT_EQ(field(r.to)->selectedText(), before);
    }

    // Shift+click extends a selection (and pops up the menu, dismissed here).
    QTest::mouseClick(field(Bpm), Qt::LeftButton, {}, QPoint(2, 5));
    QTest::mouseClick(field(Bpm), Qt::LeftButton, Qt::ShiftModifier,
                      QPoint(field(Bpm)->width() - 2, 5));
    ASSERT_EQ(field(Bpm)->selectedText(), "120");
    desktop.inputAnswers.push_back("1");
    QTest::keyClick(field(Bpm), '*');
    EXPECT_EQ(text(Bpm), "120");
}

TEST_F(FrmMainTempo, FocusKeysDoNotSetThePopUpsDefault) {
    Open();
    Activate();
    field(Beats)->setFocus();
    QTest::keyClick(field(Beats), Qt::Key_Tab);
    QTest::keyClick(field(Bars), Qt::Key_Tab, Qt::ShiftModifier);
    for (Qt::Key key : {Qt::Key_End, Qt::Key_Home, Qt::Key_Right, Qt::Key_Left})
        QTest::keyClick(field(Beats), key);
    desktop.popupChoices.push_back("Multiplication (*)");
    ClickField(Beats, Qt::ShiftModifier);
    ASSERT_EQ(desktop.inputBoxes.size(), 1u);
    EXPECT_EQ(desktop.inputBoxes[0].defaultText, "0");
}

// Save As writes the count that Samples shows, also a count of no whole frame.
TEST_F(FrmMainTempo, ABpmOfNoWholeFrameShowsAndSavesACountOfNone) {
    Open();
    Type(Bpm, "99999999");
    OpenFileMenu();
    EXPECT_EQ(text(Samples), "0");
    EXPECT_EQ(text(Bpm), "99999999");
    const QString saved = dir.filePath("saved.wav");
    desktop.fileAnswers.push_back(saved);
    form->MnuSaveAs->trigger();
    const QByteArray bytes = testing::ReadFile(saved);
    EXPECT_EQ(bytes.size(), 44);
    EXPECT_EQ(bytes.mid(36), QByteArray("data\0\0\0\0", 8));
}

TEST_F(FrmMainTempo, ResetsAndClose) {
    Open(88200 * 4 + 2); // half a frame over
    EXPECT_EQ(text(Samples), "88200.5");
    EXPECT_EQ(text(Bpm), "120");
    Type(Beats, "8");
    Type(Samples, "1000");
    QTest::mouseClick(form->CmdReset, Qt::LeftButton);
    EXPECT_EQ(text(Samples), "88200.5");
    EXPECT_EQ(text(Beats), "8");
    EXPECT_EQ(text(Bpm), "240");
    Type(Bpm, "99"); // Reset brings a typed Bpm back in step too
    form->CmdReset_Click();
    EXPECT_EQ(text(Bpm), "240");

    form->m_WaveFormat.BlockAlign = 0;
    form->ResetSamplesFromData();
    EXPECT_EQ(text(Samples), "");

    form->MnuCloseFile_Click();
    EXPECT_FALSE(field(Samples)->isEnabled());
    EXPECT_EQ(text(Beats), "4");
    EXPECT_EQ(text(Bars), "1");
    EXPECT_EQ(text(Samples), "");
    EXPECT_EQ(text(Bpm), "");
}

} // namespace
} // namespace metronel
