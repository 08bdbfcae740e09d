// SPDX-License-Identifier: MIT
#include "UpDown.h"

#include <QMouseEvent>
#include <QToolButton>

namespace metronel {

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    auto makeArrow = [this](Qt::ArrowType arrow, int direction) {
        auto* button = new QToolButton(this);
        button->setArrowType(arrow);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->installEventFilter(this);
        connect(button, &QToolButton::clicked, this,
                [this, direction] { emit stepped(direction); });
        return button;
    };
    m_Up = makeArrow(Qt::UpArrow, +1);
    m_Down = makeArrow(Qt::DownArrow, -1);
}

void UpDown::resizeEvent(QResizeEvent*) {
    const int upper = height() / 2;
    m_Up->setGeometry(0, 0, width(), upper);
    m_Down->setGeometry(0, upper, width(), height() - upper);
}

// The arrows cover the whole control and get every press; report it before they act on
// it. A press they ignore (any but the left button) is not reported again by the parent.
bool UpDown::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == m_Up || watched == m_Down) && isEnabled() &&
        (event->type() == QEvent::MouseButtonPress ||
         event->type() == QEvent::MouseButtonDblClick)) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = static_cast<QWidget*>(watched)->mapTo(this, mouse->position().toPoint());
        emit mouseButton(mouse->button(), mouse->modifiers(), at.x(), at.y());
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace metronel
