// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

class QToolButton;

namespace metronel {

// A spin control beside a text field: two arrow buttons that report clicks and leave the
// arithmetic to the window. It never takes the keyboard focus.
class UpDown : public QWidget {
    Q_OBJECT

public:
    explicit UpDown(QWidget* parent = nullptr);

    // Returns the lower limit.
    int Min() const { return m_Min; }
    // Sets the lower limit.
    void Min(int value) { m_Min = value; }
    // Returns the upper limit.
    int Max() const { return m_Max; }
    // Sets the upper limit.
    void Max(int value) { m_Max = value; }
    // Returns the step of one click.
    int Increment() const { return m_Increment; }
    // Sets the step of one click.
    void Increment(int value) { m_Increment = value; }

    QToolButton* upButton() const { return m_Up; }
    QToolButton* downButton() const { return m_Down; }

signals:
    // A mouse button went down on the control, before any step it may cause; x and y are
    // in the control's own coordinates.
    void mouseButton(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
    // An arrow was clicked: +1 up, -1 down.
    void stepped(int direction);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QToolButton* m_Up = nullptr;
    QToolButton* m_Down = nullptr;
    int m_Min = 0;
    int m_Max = 100;
    int m_Increment = 1;
};

} // namespace metronel
