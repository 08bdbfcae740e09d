// SPDX-License-Identifier: MIT
#pragma once

// The about window: the program's name and version, what it does, and a support mail link.
// Controls are public, as on a form, so that tests can drive them.

#include <QDialog>
#include <QLabel>
#include <QString>

class QPushButton;

namespace metronel {

class Desktop;

// A label whose caption breaks lines with a carriage return alone. The caption is kept as
// given; a Qt label breaks only on a line feed, so each carriage return is shown as one.
class CaptionLabel : public QLabel {
    Q_OBJECT

public:
    explicit CaptionLabel(QWidget* parent = nullptr) : QLabel(parent) {}

    // Returns the caption as set.
    const QString& Caption() const { return m_Caption; }
    // Sets the caption, shows it and grows or shrinks the label to fit it.
    void setCaption(const QString& caption);
    // Sets the widest a shown line may be, in pixels; 0 shows every line whole.
    void setWrapWidth(int width);

private:
    QString m_Caption;
    int m_WrapWidth = 0;
};

class frmAbout : public QDialog {
    Q_OBJECT

public:
    // The support address chosen when the program was built.
    static QString SupportAddress();

    // Builds the window as designed; Form_Load runs each time it is opened.
    explicit frmAbout(Desktop& desktop, QWidget* parent = nullptr);

    // ---- Controls ----
    CaptionLabel* lblTitle = nullptr;
    CaptionLabel* lblDescription = nullptr;
    CaptionLabel* lblSupport = nullptr;
    CaptionLabel* lblLicence = nullptr;
    QPushButton* cmdOK = nullptr;

    // Returns the window caption as set (the title bar shows the same text).
    const QString& Caption() const { return m_Caption; }

    // ---- Handlers ----
    void Form_Load();
    void Form_Resize();
    void cmdOK_Click();
    void lblSupport_Click();
    void lblSupport_MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void lblSupport_MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);

    void setVisible(bool visible) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setCaption(const QString& caption);

    Desktop& m_Desktop;
    QString m_Caption;
    // Set between opening and closing: the texts are built once per opening.
    bool m_Loaded = false;
    // A double click reports its second press as a double click; its release is no click.
    bool m_SkipClick = false;
};

} // namespace metronel
