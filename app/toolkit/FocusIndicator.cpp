// SPDX-License-Identifier: MIT
#include "FocusIndicator.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFocusFrame>
#include <QMenuBar>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace metronel {

namespace {

constexpr int kRingWidth = 2;

// Relative luminance and contrast ratio as used for legible colours on screen.
double Luminance(const QColor& colour) {
    auto channel = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
           0.0722 * channel(rgb.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

// A focus frame, so that screen readers and child-watching parents pass it over. It
// places itself rather than let the style size it: some styles give a focus frame no
// margin at all, which would hide it under the widget.
class FocusRing : public QFocusFrame {
public:
    explicit FocusRing(QWidget* parent) : QFocusFrame(parent) {}

    QWidget* target() const { return m_Target; }

    void follow(QWidget* target) {
        m_Target = target;
        // Kept inside the parent: a control at its edge keeps a ring on that side too.
        const QRect around =
            target->geometry().adjusted(-kRingWidth, -kRingWidth, kRingWidth, kRingWidth) &
            parentWidget()->rect();
        setGeometry(around);
        raise();
        show();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        // The highlight colour where it stands out from the window enough to be seen;
        // the text colour, which always does, where it does not.
        const QColor background = palette().color(QPalette::Window);
        QColor colour = palette().color(QPalette::Highlight);
        if (Contrast(colour, background) < 3.0)
            colour = palette().color(QPalette::WindowText);
        QPainter painter(this);
        QRegion ring(rect());
        ring -= rect().adjusted(kRingWidth, kRingWidth, -kRingWidth, -kRingWidth);
        painter.setClipRegion(ring);
        painter.fillRect(rect(), colour);
    }

private:
    QPointer<QWidget> m_Target;
};

FocusIndicator::FocusIndicator() {
    qApp->installEventFilter(this);
}

FocusIndicator::~FocusIndicator() {
    if (m_Ring)
        m_Ring->hide();
}

QWidget* FocusIndicator::markedWidget() const {
    return m_Ring && m_Ring->isVisible() ? m_Ring->target() : nullptr;
}

bool FocusIndicator::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
        if (!m_Keyboard && watched->isWidgetType()) {
            m_Keyboard = true;
            refresh();
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (m_Keyboard && watched->isWidgetType()) {
            m_Keyboard = false;
            refresh();
        }
        break;
    case QEvent::FocusIn:
        switch (static_cast<QFocusEvent*>(event)->reason()) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            m_Keyboard = true;
            break;
        case Qt::MouseFocusReason:
            m_Keyboard = false;
            break;
        default:
            break;
        }
        refresh();
        break;
    case QEvent::FocusOut:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::EnabledChange:
    case QEvent::ParentChange:
        if (m_Ring && watched == m_Ring->target())
            refresh();
        break;
    default:
        break;
    }
    return false;
}

void FocusIndicator::refresh() {
    QWidget* target = m_Keyboard ? QApplication::focusWidget() : nullptr;
    // A menu bar marks its own active item.
    if (target && (target->isWindow() || !target->isVisible() || !target->parentWidget() ||
                   qobject_cast<QMenuBar*>(target)))
        target = nullptr;
    if (m_Ring && (!target || m_Ring->parentWidget() != target->parentWidget()))
        m_Ring->hide();
    if (!target)
        return;
    // One ring per parent, owned by it, so that it goes with its window.
    FocusRing* ring = nullptr;
    for (QObject* child : target->parentWidget()->children())
        if ((ring = dynamic_cast<FocusRing*>(child)))
            break;
    if (!ring)
        ring = new FocusRing(target->parentWidget());
    m_Ring = ring;
    ring->follow(target);
}

} // namespace metronel
