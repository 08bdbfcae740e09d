// SPDX-License-Identifier: MIT
// Under a dark colour scheme every text of both windows can be read: the texts drawn black
// by design sit on a light background of their own, the others take the scheme's colours.
#include "FrmMain.h"
#include "Painted.h"
#include "ScriptedDesktop.h"
#include "WaveFiles.h"
#include "frmAbout.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace metronel {
namespace {

using namespace testing;

class DarkPalette : public ::testing::Test {
protected:
    void SetUp() override {
        // The dark scheme of the Fusion style.
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(53, 53, 53));
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Base, QColor(42, 42, 42));
        dark.setColor(QPalette::Text, Qt::white);
        dark.setColor(QPalette::Button, QColor(53, 53, 53));
        dark.setColor(QPalette::ButtonText, Qt::white);
        dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
        QApplication::setPalette(dark);
    }
    void TearDown() override { QApplication::setPalette(saved); }

    const QPalette saved = QApplication::palette();
};

TEST_F(DarkPalette, EveryTextCanBeRead) {
    QTemporaryDir dir;
    ScriptedDesktop desktop;
    FrmMain main(desktop, QString());
    main.show();
    ASSERT_TRUE(main.OpenFile(WriteFile(dir, "loop.wav", Wave({}, Ramp(88200 * 4)))));
    frmAbout about(desktop);
    about.show();

    const QColor black(0, 0, 0);
    const QColor white(255, 255, 255);
    const struct {
        const char* name;
        QWidget* widget;
        QColor text;
    } rows[] = {
        {"Beats label", main.Lbl[2], white},
        {"Bars label", main.Lbl[3], white},
        {"Samples label", main.Lbl[0], black},
        {"Bpm label", main.Lbl[1], black},
        {"Beats", main.Txt[0], white},
        {"Samples", main.Txt[2], white},
        {"about title", about.lblTitle, black},
        {"about description", about.lblDescription, black},
        {"about support", about.lblSupport, black},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QImage painted = Painted(*row.widget);
        EXPECT_TRUE(Near(Ink(painted), row.text)) << Ink(painted).name().toStdString();
        EXPECT_GE(Contrast(Ink(painted), Background(painted)), 4.5);
    }
    // The progress bar keeps the scheme's dark face.
    EXPECT_LT(Background(Painted(*main.pBar)).lightness(), 128);
}

} // namespace
} // namespace metronel
