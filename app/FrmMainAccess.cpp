// SPDX-License-Identifier: MIT
// The main window for keyboard and screen-reader users: names and descriptions of the
// controls, the spin control's keys and wheel, and the Maths pop-up from the keyboard.
// None of it changes what a click or a typed character does.
#include "FrmMain.h"

#include "toolkit/Accessible.h"
#include "toolkit/UpDown.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

namespace metronel {

namespace {

// One wheel notch, in eighths of a degree.
constexpr int kWheelNotch = 120;
// Page Up and Page Down step as a Ctrl-click does.
constexpr int kPageStep = 128;

const char* const kMathsKeys = " The menu key or Shift+F10 opens the Maths menu; * / \\ + - and "
                               "# start a calculation.";

// Sees the keys and the wheel of the tempo fields and the spin control before the window's
// own handlers do, so that it only takes what it handles.
class AccessFilter : public QObject {
public:
    explicit AccessFilter(FrmMain& form) : QObject(&form), m_Form(form) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto field = std::find(m_Form.Txt.begin(), m_Form.Txt.end(), watched);
        const int index =
            field == m_Form.Txt.end() ? -1 : static_cast<int>(field - m_Form.Txt.begin());
        switch (event->type()) {
        case QEvent::KeyPress: {
            const auto* key = static_cast<QKeyEvent*>(event);
            return index >= 0 && m_Form.Txt_NavigationKey(index, key->key(), key->modifiers());
        }
        case QEvent::ContextMenu:
            // From the keyboard the menu key itself opens the Maths pop-up (above); the
            // platform's context-menu event for that key must not open a second menu.
            return index >= 0 &&
                   static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard;
        case QEvent::Wheel:
            if ((index == FrmMain::FieldSamples || watched == m_Form.udSamples ||
                 watched == m_Form.udSamples->upButton() ||
                 watched == m_Form.udSamples->downButton()) &&
                m_Form.udSamples->isEnabled()) {
                m_Form.udSamples_Wheel(static_cast<QWheelEvent*>(event)->angleDelta().y());
                return true;
            }
            return false;
        default:
            return false;
        }
    }

private:
    FrmMain& m_Form;
};

QString WithoutLast(QString text, QChar last) {
    if (text.endsWith(last))
        text.chop(1);
    return text;
}

} // namespace

void FrmMain::createAccessibility() {
    struct FieldText {
        int label;
        const char* description;
    };
    const std::array<FieldText, 4> fields = {{
        {2, "Beats in one bar, from 0.1 to 64."},
        {3, "Bars in the whole sound, from 0.1 to 64."},
        {0, "Length of the whole sound in sample frames. Up and Down step it by 1, with Shift by "
            "64, with Ctrl by 128; Page Up and Page Down by 128."},
        {1, "Tempo in beats per minute, taken in when the File menu opens."},
    }};
    auto* filter = new AccessFilter(*this);
    for (int i = 0; i < static_cast<int>(Txt.size()); ++i) {
        QLabel* label = Lbl[fields[i].label];
        label->setBuddy(Txt[i]);
        Txt[i]->setAccessibleName(WithoutLast(label->text(), u':'));
        Txt[i]->setAccessibleDescription(QString::fromLatin1(fields[i].description) +
                                         QString::fromLatin1(kMathsKeys));
        Txt[i]->installEventFilter(filter);
    }

    // The buttons say with their tool tips what they do; a picture and "!" say too little.
    for (QWidget* button : {static_cast<QWidget*>(CmdGoto), static_cast<QWidget*>(CmdReset)})
        button->setAccessibleName(WithoutLast(button->toolTip(), u'.'));

    ShowAsSpinControl(*udSamples);
    udSamples->setAccessibleName(QStringLiteral("Step Samples"));
    udSamples->setAccessibleDescription(
        QStringLiteral("Steps Samples by 1, with Shift by 64, with Ctrl by 128."));
    udSamples->upButton()->setAccessibleName(QStringLiteral("Step up"));
    udSamples->downButton()->setAccessibleName(QStringLiteral("Step down"));
    for (QWidget* spin :
         {static_cast<QWidget*>(udSamples), static_cast<QWidget*>(udSamples->upButton()),
          static_cast<QWidget*>(udSamples->downButton())})
        spin->installEventFilter(filter);

    pBar->setAccessibleName(QStringLiteral("Split progress"));
    pBar->setAccessibleDescription(QStringLiteral("How much of Split As is done."));
}

bool FrmMain::Txt_NavigationKey(int Index, int KeyCode, Qt::KeyboardModifiers Shift) {
    if (!Txt[Index]->isEnabled())
        return false;
    const Qt::KeyboardModifiers held =
        Shift & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (KeyCode == Qt::Key_Menu || (KeyCode == Qt::Key_F10 && held == Qt::ShiftModifier)) {
        // Exactly what a Shift-click on the field does.
        Txt_MouseDown(Index, Qt::LeftButton, Qt::ShiftModifier);
        return true;
    }
    if (Index != FieldSamples || !udSamples->isEnabled())
        return false;
    switch (KeyCode) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        // The step follows the modifiers by the same rule as a left click on the arrows.
        udSamples_MouseButton(Qt::LeftButton, Shift, 0, 0);
        udSamples_Stepped(KeyCode == Qt::Key_Up ? +1 : -1);
        return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        udSamples->Increment(kPageStep);
        udSamples_Stepped(KeyCode == Qt::Key_PageUp ? +1 : -1);
        return true;
    default:
        return false;
    }
}

void FrmMain::udSamples_Wheel(int AngleDelta) {
    // Fine-grained wheels send parts of a notch; they add up to whole steps.
    m_WheelAngle += AngleDelta;
    const int notches = m_WheelAngle / kWheelNotch;
    m_WheelAngle -= notches * kWheelNotch;
    for (int i = 0; i < std::abs(notches); ++i) {
        udSamples->Increment(1);
        udSamples_Stepped(notches > 0 ? +1 : -1);
    }
}

} // namespace metronel
