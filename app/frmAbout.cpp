// SPDX-License-Identifier: MIT
#include "frmAbout.h"

#include "FrmMain.h"
#include "mdlMain.h"
#include "mdlVersion.h"
#include "toolkit/Accessible.h"
#include "toolkit/BlackText.h"
#include "toolkit/Desktop.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QStringList>
#include <QUrl>

#include <algorithm>

#ifndef METRONEL_SUPPORT_ADDRESS
#error "METRONEL_SUPPORT_ADDRESS must name the support mailbox (set by cmake/Install.cmake)"
#endif

namespace metronel {

namespace {

// The window is laid out in twips, 15 to a pixel, so every position is a whole pixel.
constexpr int kTwipsPerPixel = 15;
constexpr int Px(int twips) {
    return twips / kTwipsPerPixel;
}
constexpr int kDesignWidth = 5520;
constexpr int kDesignHeight = 2070;
// Pixels kept clear between a wrapped label and the button beside it.
constexpr int kGap = 4;

// Captions at design time; Form_Load builds on these, never on what is shown.
const QString kDesignCaption = QStringLiteral("About: ");
const QString kDesignTitle = QStringLiteral("Application Title: ");
const QString kDesignDescription = QStringLiteral("File Description: ");
const QString kDesignSupport = QStringLiteral("Support: ");

const QString kCR = QStringLiteral("\r");

const QColor kBlack(0, 0, 0);
const QColor kBlue(0, 0, 255);

// Sets the colour the widget paints its text with (a label on a text field's background
// paints with the text role, not the window-text one).
void SetTextColour(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(widget.foregroundRole(), colour);
    widget.setPalette(palette);
}

// Breaks line where it would grow wider than width: after a space where there is one, else
// between two characters (an address has no spaces). A space never starts a new line, and
// words in parentheses ("(Click Here)") go to the next line together where they can.
QString WrapLine(const QString& line, const QFontMetrics& metrics, int width) {
    QString wrapped;
    qsizetype start = 0;
    qsizetype lastSpace = -1;
    qsizetype lastOuterSpace = -1; // a space outside parentheses
    int depth = 0;
    for (qsizetype pos = 0; pos < line.size(); ++pos) {
        if (line[pos] == u'(')
            ++depth;
        else if (line[pos] == u')' && depth > 0)
            --depth;
        if (line[pos] == u' ') {
            lastSpace = pos;
            if (depth == 0)
                lastOuterSpace = pos;
            continue;
        }
        if (pos == start || metrics.horizontalAdvance(line.mid(start, pos - start + 1)) <= width)
            continue;
        // A line broken at a space keeps the space at its end, so the shown text is the
        // caption with line breaks added.
        const qsizetype at = lastOuterSpace > start ? lastOuterSpace : lastSpace;
        const qsizetype next = at > start ? at + 1 : pos;
        wrapped += line.mid(start, next - start) + u'\n';
        start = next;
        // Scan the rest of the new line again, so its spaces can still break it.
        pos = next - 1;
        depth = static_cast<int>(line.left(next).count(u'(') - line.left(next).count(u')'));
        depth = std::max(depth, 0);
        lastSpace = -1;
        lastOuterSpace = -1;
    }
    return wrapped + line.mid(start);
}

} // namespace

void CaptionLabel::setCaption(const QString& caption) {
    m_Caption = caption;
    QStringList lines = caption.split(u'\r');
    if (m_WrapWidth > 0)
        for (QString& line : lines)
            line = WrapLine(line, fontMetrics(), m_WrapWidth);
    setText(lines.join(u'\n'));
    adjustSize();
}

void CaptionLabel::setWrapWidth(int width) {
    m_WrapWidth = width;
    setCaption(m_Caption);
}

QString frmAbout::SupportAddress() {
    return QStringLiteral(METRONEL_SUPPORT_ADDRESS);
}

frmAbout::frmAbout(Desktop& desktop, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_Desktop(desktop) {
    setObjectName(QStringLiteral("frmAbout"));
    setCaption(kDesignCaption);
    setFixedSize(Px(kDesignWidth), Px(kDesignHeight));
    setSizeGripEnabled(false);
    // The design's sizes are those of a small dialog font, as in the main window.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);

    // Created in tab order: the button comes first, the labels take no focus.
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(Px(3840), Px(1440), Px(1500), Px(345));
    cmdOK->setDefault(true);

    auto makeLabel = [this](const char* name, const QString& caption, int left, int top, int width,
                            int height) {
        auto* label = new CaptionLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setGeometry(Px(left), Px(top), Px(width), Px(height));
        label->setCaption(caption);
        return label;
    };
    lblTitle = makeLabel("lblTitle", kDesignTitle, 120, 120, 1215, 195);
    lblDescription = makeLabel("lblDescription", kDesignDescription, 120, 840, 1170, 195);
    lblSupport = makeLabel("lblSupport", kDesignSupport, 120, 1080, 705, 255);
    // The programs as built link GPL libraries: say so where the version is shown.
    lblLicence = makeLabel("lblLicence", {}, 120, 1860, kDesignWidth - 240, 195);
    lblLicence->setWrapWidth(Px(kDesignWidth - 240));
    SetTextColour(*lblLicence, kBlack);

    // Black titles on the window: under a dark scheme the window takes a light face.
    SetBlackText(*this);
    SetTextColour(*lblTitle, kBlack);
    SetTextColour(*lblDescription, kBlack);
    // The support label keeps the system's text colour, on the background of a text field so
    // that it stands out from the window like a link. It turns black after a click, so under
    // a dark scheme it is black on a light field from the start.
    lblSupport->setBackgroundRole(QPalette::Base);
    lblSupport->setAutoFillBackground(true);
    if (!ReadableUnderBlack(lblSupport->palette().color(QPalette::Base)))
        SetBlackText(*lblSupport);
    lblSupport->setCursor(Qt::PointingHandCursor);
    lblSupport->installEventFilter(this);
    ShowAsLink(*lblSupport, [this] { lblSupport_Click(); });
    lblSupport->setAccessibleName(kDesignSupport + SupportAddress());
    lblSupport->setAccessibleDescription(QStringLiteral("Writes a mail to support."));

    // The support line is stacked below the others, where OK stands: it wraps within the
    // room left of the button, and the window grows when its lines need more height.
    lblSupport->setWrapWidth(cmdOK->x() - lblSupport->x() - kGap);
    cmdOK->raise();

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    cmdOK->setFocus();
}

void frmAbout::setCaption(const QString& caption) {
    m_Caption = caption;
    QString shown = caption;
    shown.replace(QChar(u'\r'), QChar(u'\n'));
    setWindowTitle(shown);
}

void frmAbout::setVisible(bool visible) {
    // Opening loads the window and closing unloads it, so the texts are built afresh at
    // every opening, and the labels stacked as on a first display.
    if (visible && !m_Loaded) {
        m_Loaded = true;
        Form_Load();
        Form_Resize();
    } else if (!visible) {
        m_Loaded = false;
    }
    QDialog::setVisible(visible);
}

void frmAbout::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Form_Resize();
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lblSupport) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            m_SkipClick = event->type() == QEvent::MouseButtonDblClick;
            const QPoint at = mouse->position().toPoint();
            lblSupport_MouseDown(mouse->button(), mouse->modifiers(), at.x(), at.y());
            return true;
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint at = mouse->position().toPoint();
            lblSupport_MouseUp(mouse->button(), mouse->modifiers(), at.x(), at.y());
            // A click is the left button pressed and released over the label.
            const bool click = mouse->button() == Qt::LeftButton && !m_SkipClick &&
                               lblSupport->rect().contains(at);
            m_SkipClick = false;
            if (click)
                lblSupport_Click();
            return true;
        }
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::Form_Load() {
    setCaption(kDesignCaption + QString::fromLatin1(kAppTitle));
    lblTitle->setCaption(kDesignTitle + kCR + QString(8, u' ') + QString::fromLatin1(kAppTitle) +
                         QStringLiteral(" v") + QString::number(kVersionMajor) +
                         QStringLiteral(".") + QString::number(kVersionMinor) + kCR);
    lblDescription->setCaption(kDesignDescription + kCR +
                               QStringLiteral("   1. Set the b.p.m (pitch) to a wave file.\r"
                                              "   2. Split the wave sound into separate wave "
                                              "files.\r"
                                              "   3. Adv. math calculator.") +
                               kCR);
    lblSupport->setCaption(kDesignSupport + SupportAddress() + QStringLiteral(" (Click Here) "));
    lblLicence->setCaption(QStringLiteral(
        "As built, Metronel links the Rubber Band Library and is distributed under the GNU GPL, "
        "version 2 or later; its own code is under the MIT licence."));
}

void frmAbout::Form_Resize() {
    // Whole pixels are whole multiples of 15 twips, so pixel sums are exact.
    lblDescription->move(lblDescription->x(), lblTitle->y() + lblTitle->height());
    lblSupport->move(lblSupport->x(), lblDescription->y() + lblDescription->height());
    // The licence line goes below the support line and the button, across the window.
    lblLicence->move(
        lblLicence->x(),
        std::max(lblSupport->y() + lblSupport->height(), cmdOK->y() + cmdOK->height()) + kGap);
    // The design's height, or more when the labels would run past it; the design's top margin
    // is kept below them.
    const int fitted =
        std::max(Px(kDesignHeight), lblLicence->y() + lblLicence->height() + lblTitle->y());
    if (height() != fitted)
        setFixedHeight(fitted);
}

void frmAbout::cmdOK_Click() {
    close();
}

void frmAbout::lblSupport_Click() {
    m_Desktop.OpenUrl(QUrl(QStringLiteral("mailto:") + SupportAddress() +
                           QStringLiteral("?subject=I need help!!")));
}

void frmAbout::lblSupport_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    SetTextColour(*lblSupport, kBlue);
}

void frmAbout::lblSupport_MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    SetTextColour(*lblSupport, kBlack);
}

void FrmMain::MnuAbout_Click() {
    // Modal: the main window takes no input until the about window closes, which unloads it.
    frmAbout about(desktop(), this);
    about.exec();
}

} // namespace metronel
