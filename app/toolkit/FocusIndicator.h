// SPDX-License-Identifier: MIT
#pragma once

// A ring around the control that has the keyboard focus, in every window of the program,
// shown from the first key press until the next mouse press (as desktops mark the focus
// for keyboard users only). One instance watches the whole application:
//
//     QApplication app(argc, argv);
//     FocusIndicator focusIndicator;

#include <QObject>
#include <QPointer>

class QWidget;

namespace metronel {

class FocusRing;

class FocusIndicator : public QObject {
public:
    FocusIndicator();
    ~FocusIndicator() override;
    FocusIndicator(const FocusIndicator&) = delete;
    FocusIndicator& operator=(const FocusIndicator&) = delete;

    // Returns the widget the ring is shown around, or null when none is shown.
    QWidget* markedWidget() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();

    bool m_Keyboard = false;
    QPointer<FocusRing> m_Ring;
};

} // namespace metronel
