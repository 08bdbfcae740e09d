// SPDX-License-Identifier: MIT
// The about window: its texts, the stacking of its labels, the support link and the colour
// of the support label under the mouse. Tests open the window with show(), which loads it as
// exec() does, without waiting; the menu command itself is driven with a timer that closes
// the modal window.

#include "frmAbout.h"
#include "FrmMain.h"
#include "Painted.h"
#include "ScriptedDesktop.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#ifndef METRONEL_SUPPORT_ADDRESS
#error "the tests need the support address the program was built with"
#endif

namespace metronel {
namespace {

using testing::ScriptedDesktop;

const QString kAddress = QStringLiteral(METRONEL_SUPPORT_ADDRESS);

const QString kTitle = QStringLiteral("Application Title: \r        Metronel v3.4\r");
const QString kDescription = QStringLiteral("File Description: \r"
                                            "   1. Set the b.p.m (pitch) to a wave file.\r"
                                            "   2. Split the wave sound into separate wave files.\r"
                                            "   3. Adv. math calculator.\r");
const QString kSupport = QStringLiteral("Support: ") + kAddress + QStringLiteral(" (Click Here) ");

QString Shown(QString caption) {
    return caption.replace(u'\r', u'\n');
}

QColor InkOf(QWidget* widget) {
    return testing::Ink(testing::Painted(*widget));
}

void ExpectStacked(const frmAbout& about) {
    EXPECT_EQ(about.lblTitle->pos(), QPoint(8, 8));
    EXPECT_EQ(about.lblDescription->pos(),
              QPoint(8, about.lblTitle->y() + about.lblTitle->height()));
    EXPECT_EQ(about.lblSupport->pos(),
              QPoint(8, about.lblDescription->y() + about.lblDescription->height()));
    EXPECT_EQ(about.cmdOK->geometry(), QRect(256, 96, 100, 23));
}

// Sends one mouse event of type to the support label at its middle.
void SendMouse(frmAbout& about, QEvent::Type type, Qt::MouseButton button,
               QPoint at = QPoint(-1, -1)) {
    QWidget& label = *about.lblSupport;
    if (at == QPoint(-1, -1))
        at = label.rect().center();
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(at), label.mapToGlobal(QPointF(at)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(&label, &event);
}

class frmAboutTest : public ::testing::Test {
protected:
    ScriptedDesktop desktop;
    frmAbout about{desktop};
};

TEST_F(frmAboutTest, OpensAsAFixedDialogWithTheButtonFirst) {
    // Nothing is filled in before the window opens.
    EXPECT_EQ(about.lblTitle->Caption(), QStringLiteral("Application Title: "));
    EXPECT_EQ(about.Caption(), QStringLiteral("About: "));

    about.show();
    // The design's size, grown only in height where the texts need more.
    EXPECT_EQ(about.width(), 368);
    EXPECT_EQ(about.height(), std::max(138, about.lblLicence->geometry().bottom() + 1 + 8));
    EXPECT_EQ(about.minimumSize(), about.maximumSize());
    EXPECT_FALSE(about.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(about.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(about.cmdOK->text(), QStringLiteral("OK"));
    EXPECT_EQ(about.nextInFocusChain(), about.cmdOK);
    for (QWidget* label :
         {static_cast<QWidget*>(about.lblTitle), static_cast<QWidget*>(about.lblDescription),
          static_cast<QWidget*>(about.lblSupport)})
        EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);

    // Everything fits in the window.
    const QRect client = about.rect();
    EXPECT_TRUE(client.contains(about.lblSupport->geometry()))
        << about.lblSupport->geometry().bottom();
    EXPECT_TRUE(client.contains(about.cmdOK->geometry()));
    const QPoint buttonCorner = about.cmdOK->geometry().bottomLeft() + QPoint(2, -2);
    EXPECT_EQ(about.childAt(buttonCorner), about.cmdOK);

    QTest::mouseClick(about.cmdOK, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
}

TEST_F(frmAboutTest, TextsAreBuiltAfreshAtEveryOpening) {
    for (int opening = 1; opening <= 2; ++opening) {
        SCOPED_TRACE(opening);
        about.show();
        EXPECT_EQ(about.Caption(), QStringLiteral("About: Metronel"));
        EXPECT_EQ(about.windowTitle(), QStringLiteral("About: Metronel"));
        EXPECT_EQ(about.lblTitle->Caption(), kTitle);
        EXPECT_EQ(about.lblDescription->Caption(), kDescription);
        EXPECT_EQ(about.lblSupport->Caption(), kSupport);
        // A carriage return breaks the line on screen.
        EXPECT_EQ(about.lblTitle->text(), Shown(kTitle));
        EXPECT_EQ(about.lblDescription->text(), Shown(kDescription));
        // The support line may be wrapped, never changed otherwise.
        EXPECT_EQ(QString(about.lblSupport->text()).remove(u'\n'), kSupport);
        EXPECT_TRUE(about.lblSupport->text().contains(QStringLiteral("(Click Here)")));
        ExpectStacked(about);
        about.cmdOK_Click();
        EXPECT_FALSE(about.isVisible());
    }
    // Loading again while open builds the same texts, not longer ones.
    about.show();
    about.Form_Load();
    EXPECT_EQ(about.lblTitle->Caption(), kTitle);
    EXPECT_EQ(about.lblDescription->Caption(), kDescription);
    EXPECT_EQ(about.lblSupport->Caption(), kSupport);
}

TEST_F(frmAboutTest, LabelsStackBelowEachOtherForAnyNumberOfLines) {
    about.show();
    const int line = about.lblTitle->fontMetrics().lineSpacing();
    // The built texts: two and five line breaks.
    EXPECT_GE(about.lblTitle->height(), 2 * line);
    EXPECT_GE(about.lblDescription->height(), 5 * line);
    ExpectStacked(about);

    int previousTitle = 0;
    for (int lines = 1; lines <= 8; ++lines) {
        SCOPED_TRACE(lines);
        QStringList texts;
        for (int i = 0; i < lines; ++i)
            texts << QStringLiteral("line %1").arg(i);
        about.lblTitle->setCaption(texts.join(u'\r'));
        about.lblDescription->setCaption(texts.mid(0, 9 - lines).join(u'\r'));
        about.Form_Resize();
        EXPECT_GT(about.lblTitle->height(), previousTitle);
        EXPECT_GE(about.lblTitle->height(), lines * line);
        previousTitle = about.lblTitle->height();
        ExpectStacked(about);
    }

    // Resizing the window (the program may; the user cannot) stacks them too.
    about.lblTitle->setCaption(QStringLiteral("one\rtwo\rthree"));
    about.setFixedSize(370, 140);
    QCoreApplication::processEvents();
    ExpectStacked(about);
}

TEST_F(frmAboutTest, OnlyALeftClickOnTheSupportLabelOpensTheMailLink) {
    about.show();
    QTest::mouseClick(about.lblSupport, Qt::RightButton);
    QTest::mouseClick(about.lblSupport, Qt::MiddleButton);
    QTest::mouseClick(about.lblTitle, Qt::LeftButton);
    EXPECT_TRUE(desktop.openedUrls.empty());

    // Released away from the label: no click.
    SendMouse(about, QEvent::MouseButtonPress, Qt::LeftButton);
    SendMouse(about, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(-20, -20));
    EXPECT_TRUE(desktop.openedUrls.empty());

    // A double click is one click, so one message.
    SendMouse(about, QEvent::MouseButtonPress, Qt::LeftButton);
    SendMouse(about, QEvent::MouseButtonRelease, Qt::LeftButton);
    SendMouse(about, QEvent::MouseButtonDblClick, Qt::LeftButton);
    SendMouse(about, QEvent::MouseButtonRelease, Qt::LeftButton);
    ASSERT_EQ(desktop.openedUrls.size(), 1u);
    const QUrl& url = desktop.openedUrls[0];
    EXPECT_EQ(url.toString(),
              QStringLiteral("mailto:") + kAddress + QStringLiteral("?subject=I need help!!"));
    EXPECT_EQ(url.toEncoded(),
              QByteArray("mailto:") + kAddress.toUtf8() + QByteArray("?subject=I%20need%20help!!"));
    EXPECT_TRUE(about.isVisible());
}

TEST_F(frmAboutTest, SupportLabelIsPaintedBlueWhileAButtonIsDown) {
    about.show();
    const QColor black(0, 0, 0);
    const QColor blue(0, 0, 255);
    EXPECT_TRUE(testing::Near(InkOf(about.lblTitle), black));
    EXPECT_TRUE(testing::Near(InkOf(about.lblDescription), black));
    EXPECT_EQ(about.lblSupport->backgroundRole(), QPalette::Base);

    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        SCOPED_TRACE(button);
        QTest::mousePress(about.lblSupport, button);
        EXPECT_TRUE(testing::Near(InkOf(about.lblSupport), blue))
            << InkOf(about.lblSupport).name().toStdString();
        QTest::mouseRelease(about.lblSupport, button);
        EXPECT_TRUE(testing::Near(InkOf(about.lblSupport), black));
    }
    // Released away from the label, it still turns black.
    SendMouse(about, QEvent::MouseButtonPress, Qt::RightButton);
    EXPECT_TRUE(testing::Near(InkOf(about.lblSupport), blue));
    SendMouse(about, QEvent::MouseButtonRelease, Qt::RightButton, QPoint(500, 500));
    EXPECT_TRUE(testing::Near(InkOf(about.lblSupport), black));
}

// Painted at device pixel ratio 1 and 2, with the built address and a 40-character one:
// every label lies within the window, and where OK stands nothing else is drawn.
TEST_F(frmAboutTest, NoTextIsHiddenUnderOKOrCutOff) {
    const QString longAddress = QString(28, u'a') + QStringLiteral("@example.org");
    ASSERT_EQ(longAddress.size(), 40);
    for (const QString& address : {kAddress, longAddress})
        for (int scale : {1, 2}) {
            SCOPED_TRACE(address.toStdString() + " at " + std::to_string(scale));
            about.show();
            about.lblSupport->setCaption(QStringLiteral("Support: ") + address +
                                         QStringLiteral(" (Click Here) "));
            about.Form_Resize();
            for (QWidget* label : {static_cast<QWidget*>(about.lblTitle),
                                   static_cast<QWidget*>(about.lblDescription),
                                   static_cast<QWidget*>(about.lblSupport)})
                EXPECT_TRUE(about.rect().contains(label->geometry()))
                    << label->objectName().toStdString();

            about.cmdOK->hide();
            QPixmap pixmap(about.size() * scale);
            pixmap.setDevicePixelRatio(scale);
            about.render(&pixmap);
            about.cmdOK->show();
            const QImage image = pixmap.toImage();
            const QRect ok = about.cmdOK->geometry();
            int ink = 0;
            for (int y = ok.top() * scale; y < (ok.bottom() + 1) * scale; ++y)
                for (int x = ok.left() * scale; x < (ok.right() + 1) * scale; ++x)
                    ink += QColor(image.pixel(x, y)).lightness() < 160;
            EXPECT_EQ(ink, 0);
            about.cmdOK_Click();
        }
}

// Runs action once on each modal window as soon as it is up. A window that the action
// leaves open is ended after about a second, and a window that never opens stops the
// watch after about two, so that a fault fails the test instead of hanging it.
class ModalWatcher {
public:
    explicit ModalWatcher(std::function<void(QWidget&)> action) : m_Action(std::move(action)) {
        QObject::connect(&m_Timer, &QTimer::timeout, [this] { Tick(); });
        m_Timer.start(10);
    }
    int seen = 0;

private:
    void Tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            if (++m_Idle > 200)
                m_Timer.stop();
            return;
        }
        m_Idle = 0;
        if (m_Current.isNull() || m_Current.data() != modal) {
            m_Current = modal;
            m_Tries = 0;
            ++seen;
            m_Action(*modal);
        } else if (++m_Tries > 100) {
            ADD_FAILURE() << "the modal window stayed open";
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->done(QDialog::Rejected);
            else
                modal->close();
        }
    }

    std::function<void(QWidget&)> m_Action;
    QTimer m_Timer;
    QPointer<QWidget> m_Current;
    int m_Idle = 0;
    int m_Tries = 0;
};

TEST(frmAbout, MenuShowsItModalAndUnloadsItOnOK) {
    ScriptedDesktop desktop;
    FrmMain main(desktop, QString());
    QStringList titles;
    ModalWatcher watcher([&](QWidget& modal) {
        auto* about = qobject_cast<frmAbout*>(&modal);
        if (!about) {
            ADD_FAILURE() << "a modal window that is not the about window";
            modal.close();
            return;
        }
        EXPECT_EQ(about->parentWidget(), &main);
        EXPECT_EQ(about->windowModality(), Qt::ApplicationModal);
        titles << about->windowTitle(); // set by Form_Load
        QTest::mouseClick(about->cmdOK, Qt::LeftButton);
    });
    main.MnuAbout_Click();
    main.MnuAbout_Click();
    EXPECT_EQ(watcher.seen, 2);
    EXPECT_EQ(titles, QStringList({"About: Metronel", "About: Metronel"}));
    EXPECT_TRUE(main.findChildren<frmAbout*>().isEmpty());
}

} // namespace
} // namespace metronel
