// SPDX-License-Identifier: MIT
// The windows as keyboard and screen-reader users meet them: the accessibility tree, the
// spin control's keys and wheel, the Maths pop-up from the keyboard and the focus ring.
#include "FrmMain.h"
#include "ScriptedDesktop.h"
#include "WaveFiles.h"
#include "frmAbout.h"
#include "toolkit/FocusIndicator.h"
#include "toolkit/UpDown.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <set>

namespace metronel {
namespace {

using testing::ScriptedDesktop;

constexpr int Beats = FrmMain::FieldBeats;
constexpr int Bars = FrmMain::FieldBars;
constexpr int Samples = FrmMain::FieldSamples;
constexpr int Bpm = FrmMain::FieldBpm;

// Records what a screen reader reads from the progress bar each time the split lets
// events through.
class ProgressReadingDesktop : public ScriptedDesktop {
public:
    QProgressBar* bar = nullptr;
    std::vector<std::pair<double, double>> read; // value and maximum

    void DoEvents() override {
        ScriptedDesktop::DoEvents();
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(bar);
        read.emplace_back(iface->valueInterface()->currentValue().toDouble(),
                          iface->valueInterface()->maximumValue().toDouble());
    }
};

class FrmMainAccess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        desktop.bar = nullptr;
        form = std::make_unique<FrmMain>(desktop, QString());
        desktop.bar = form->pBar;
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        const QString path =
            testing::WriteFile(dir, "loop.wav", testing::Wave({}, testing::Ramp(88200 * 4)));
        ASSERT_TRUE(form->OpenFile(path));
    }

    QLineEdit* field(int i) const { return form->Txt[i]; }
    QString text(int i) const { return form->Txt[i]->text(); }

    void Wheel(QWidget* over, int angle) {
        const QPointF at(2, 2);
        QWheelEvent event(at, over->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(over, &event);
    }

    ProgressReadingDesktop desktop;
    QTemporaryDir dir;
    std::unique_ptr<FrmMain> form;
};

// Every interface below root, depth first.
void Collect(QAccessibleInterface* iface, std::vector<QAccessibleInterface*>& out) {
    out.push_back(iface);
    for (int i = 0; i < iface->childCount(); ++i)
        Collect(iface->child(i), out);
}

// Every control a user can act on has a name; returns the roles of those met.
std::map<QObject*, QAccessible::Role> ExpectNamedControls(QWidget& window) {
    static const std::set<QAccessible::Role> interactive = {
        QAccessible::EditableText, QAccessible::PushButton,  QAccessible::SpinBox,
        QAccessible::Link,         QAccessible::ProgressBar, QAccessible::MenuItem};
    std::vector<QAccessibleInterface*> all;
    Collect(QAccessible::queryAccessibleInterface(&window), all);
    std::map<QObject*, QAccessible::Role> roles;
    for (QAccessibleInterface* iface : all) {
        const bool focusable = iface->state().focusable;
        if (interactive.count(iface->role()) || focusable) {
            EXPECT_FALSE(iface->text(QAccessible::Name).trimmed().isEmpty())
                << "role " << iface->role() << " of "
                << (iface->object() ? iface->object()->metaObject()->className() : "?");
            roles[iface->object()] = iface->role();
        }
    }
    return roles;
}

TEST_F(FrmMainAccess, TreeNamesEveryControlAndTheBarReadsItsValue) {
    const auto roles = ExpectNamedControls(*form);
    struct Row {
        QWidget* widget;
        QAccessible::Role role;
        QString name;
        QLabel* label;
    };
    const Row rows[] = {
        {field(Beats), QAccessible::EditableText, "Beats", form->Lbl[2]},
        {field(Bars), QAccessible::EditableText, "Bars", form->Lbl[3]},
        {field(Samples), QAccessible::EditableText, "Samples", form->Lbl[0]},
        {field(Bpm), QAccessible::EditableText, "Bpm", form->Lbl[1]},
        {form->CmdGoto, QAccessible::PushButton, "Goto current file folder", nullptr},
        {form->CmdReset, QAccessible::PushButton, "Reset to original settings", nullptr},
        {form->udSamples, QAccessible::SpinBox, "Step Samples", nullptr},
        {form->udSamples->upButton(), QAccessible::PushButton, "Step up", nullptr},
        {form->udSamples->downButton(), QAccessible::PushButton, "Step down", nullptr},
        {form->pBar, QAccessible::ProgressBar, "Split progress", nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name.toStdString());
        ASSERT_TRUE(roles.count(r.widget)); // reached from the window
        EXPECT_EQ(roles.at(r.widget), r.role);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(r.widget);
        EXPECT_EQ(iface->text(QAccessible::Name), r.name);
        if (r.label) {
            const auto labels = iface->relations(QAccessible::Label);
            ASSERT_EQ(labels.size(), 1);
            EXPECT_EQ(labels[0].first->object(), r.label);
        }
    }

    desktop.inputAnswers = {"4"};
    desktop.fileAnswers = {dir.filePath("cut.wav")};
    form->MnuSplitAs_Click();
    const std::vector<std::pair<double, double>> expected = {{1, 4}, {2, 4}, {3, 4}, {4, 4}};
    EXPECT_EQ(desktop.read, expected);
}

TEST(frmAboutAccess, SupportLinkIsALinkThatWritesTheMail) {
    ScriptedDesktop desktop;
    frmAbout about(desktop);
    about.show();
    const auto roles = ExpectNamedControls(about);
    EXPECT_EQ(roles.at(about.cmdOK), QAccessible::PushButton);
    ASSERT_TRUE(roles.count(about.lblSupport));
    EXPECT_EQ(roles.at(about.lblSupport), QAccessible::Link);

    QAccessibleInterface* link = QAccessible::queryAccessibleInterface(about.lblSupport);
    EXPECT_EQ(link->text(QAccessible::Name), "Support: " + frmAbout::SupportAddress());
    link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_EQ(desktop.openedUrls.size(), 1u);
    EXPECT_EQ(desktop.openedUrls[0].scheme(), "mailto");
}

TEST_F(FrmMainAccess, SpinKeysAndWheelStepAsTheArrowsDo) {
    struct Row {
        const char* what;
        std::function<void()> act;
        int samples;
    };
    auto key = [this](Qt::Key k, Qt::KeyboardModifiers m = {}) {
        return [=, this] { QTest::keyClick(field(Samples), k, m); };
    };
    const Row rows[] = {
        {"Up", key(Qt::Key_Up), 88201},
        {"Shift+Up", key(Qt::Key_Up, Qt::ShiftModifier), 88265},
        {"Ctrl+Down", key(Qt::Key_Down, Qt::ControlModifier), 88137},
        {"Ctrl+Shift+Up", key(Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier), 88138},
        {"Page Down", key(Qt::Key_PageDown), 88010},
        {"Page Up", key(Qt::Key_PageUp), 88138},
        {"wheel over Samples", [this] { Wheel(field(Samples), 120); }, 88139},
        {"wheel over the down arrow", [this] { Wheel(form->udSamples->downButton(), -240); },
         88137},
        {"half a notch", [this] { Wheel(field(Samples), 60); }, 88137},
        {"the other half", [this] { Wheel(field(Samples), 60); }, 88138},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        r.act();
        EXPECT_EQ(text(Samples), QString::number(r.samples));
        EXPECT_EQ(text(Bpm), DoubleText(BpmFromSamples(r.samples, 44100, 1.0f, 4.0f)));
    }
    // The wheel after Shift-stepping still steps by 1; other fields keep their keys.
    QTest::keyClick(field(Samples), Qt::Key_Down, Qt::ShiftModifier);
    Wheel(form->udSamples->upButton(), 120);
    EXPECT_EQ(text(Samples), "88075");
    QTest::keyClick(field(Beats), Qt::Key_Up);
    Wheel(field(Beats), 120);
    EXPECT_EQ(text(Beats), "4");
    EXPECT_TRUE(desktop.inputBoxes.empty());
}

TEST_F(FrmMainAccess, MenuKeyOpensTheMathsPopupAsAShiftClickDoes) {
    // The key is no keystroke for the calculator: the prompt still offers 0.
    desktop.popupChoices = {"Division (/)"};
    desktop.inputAnswers = {"2"};
    QTest::keyClick(field(Samples), Qt::Key_Menu);
    ASSERT_EQ(desktop.inputBoxes.size(), 1u);
    EXPECT_EQ(desktop.inputBoxes[0].defaultText, "0");
    EXPECT_EQ(text(Samples), "44100");
    EXPECT_EQ(text(Bpm), "240");

    struct Row {
        int field;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool semitone;
    };
    const Row rows[] = {
        {Beats, Qt::Key_Menu, {}, false},
        {Bars, Qt::Key_F10, Qt::ShiftModifier, false},
        {Samples, Qt::Key_F10, Qt::ShiftModifier, true},
        {Bpm, Qt::Key_Menu, {}, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.field);
        const std::size_t before = desktop.popups.size();
        QTest::keyClick(field(r.field), r.key, r.modifiers);
        ASSERT_EQ(desktop.popups.size(), before + 1);
        const testing::PopupCall& call = desktop.popups.back();
        EXPECT_EQ(call.globalPos, field(r.field)->mapToGlobal(QPoint(field(r.field)->width(), 0)));
        ASSERT_EQ(call.items.size(), 5u);
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(call.items[i].second);
        EXPECT_EQ(call.items[4], std::make_pair(QString("Semitone Shift (#)"), r.semitone));
    }
    // F10 alone, or on a field that is not a number, opens nothing.
    QTest::keyClick(field(Bpm), Qt::Key_F10);
    field(Beats)->setText("x");
    QTest::keyClick(field(Beats), Qt::Key_Menu);
    EXPECT_EQ(desktop.popups.size(), 5u);
}

// ---- The focus ring ----

double Luminance(QColor c) {
    auto channel = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double Contrast(QColor a, QColor b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette Palette(QColor window, QColor text, QColor highlight) {
    QPalette p = QApplication::palette();
    for (auto role : {QPalette::Window, QPalette::Button, QPalette::Base})
        p.setColor(role, window);
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        p.setColor(role, text);
    p.setColor(QPalette::Highlight, highlight);
    return p;
}

TEST(FocusIndicator, RingsTheKeyboardFocusUnderEveryPalette) {
    const QPalette original = QApplication::palette();
    struct Row {
        const char* name;
        QPalette palette;
    };
    const Row rows[] = {
        {"default", original},
        {"dark", Palette(QColor(53, 53, 53), Qt::white, QColor(42, 130, 218))},
        // A highlight that hardly differs from the window: the ring takes the text colour.
        {"high contrast", Palette(Qt::black, Qt::white, QColor(0, 0, 128))},
    };
    QTemporaryDir dir;
    const QString path =
        testing::WriteFile(dir, "loop.wav", testing::Wave({}, testing::Ramp(1000 * 4)));
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QApplication::setPalette(r.palette);
        FocusIndicator indicator;
        ScriptedDesktop desktop;
        FrmMain form(desktop, QString());
        form.show();
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        ASSERT_TRUE(form.OpenFile(path));
        QWidget* client = form.centralWidget();
        // Beside the field, and somewhere nothing else is drawn.
        auto beside = [client](QWidget* w) {
            return client->grab().toImage().pixelColor(w->x() - 1, w->y() + w->height() / 2);
        };
        const QColor window = client->grab().toImage().pixelColor(2, 100);

        form.Txt[Beats]->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(form.Txt[Beats], Qt::Key_Tab);
        ASSERT_TRUE(form.Txt[Bars]->hasFocus());
        EXPECT_GE(Contrast(beside(form.Txt[Bars]), window), 3.0);
        EXPECT_EQ(beside(form.Txt[Beats]), window);

        QTest::mouseClick(form.Txt[Beats], Qt::LeftButton);
        EXPECT_EQ(beside(form.Txt[Bars]), window);
        EXPECT_EQ(beside(form.Txt[Beats]), window);
    }
    QApplication::setPalette(original);
}

} // namespace
} // namespace metronel
