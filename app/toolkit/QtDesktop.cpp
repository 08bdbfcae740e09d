// SPDX-License-Identifier: MIT
#include "QtDesktop.h"

#include "CommonDialog.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>

namespace metronel {

namespace {
const QString kOrganisation = QStringLiteral("Metronel");
const QString kApplication = QStringLiteral("Metronel");

QMessageBox::Icon BoxIcon(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Critical:
        return QMessageBox::Critical;
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

QString QtDesktop::MessageLines(const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(u'\r', u'\n');
    return lines;
}

QString QtDesktop::QtFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString& p : patterns)
            p = p.trimmed();
        patterns.removeAll(QString());
        entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(u' '));
    }
    return entries.join(QStringLiteral(";;"));
}

void QtDesktop::MsgBox(const QString& text, MsgIcon icon, const QString& title) {
    QMessageBox box(BoxIcon(icon), title, MessageLines(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString QtDesktop::InputBox(const QString& prompt, const QString& title,
                            const QString& defaultText) {
    bool ok = false;
    QString entry = QInputDialog::getText(QApplication::activeWindow(), title, MessageLines(prompt),
                                          QLineEdit::Normal, defaultText, &ok);
    return ok ? entry : QString();
}

std::optional<QString> QtDesktop::ShowFileDialog(const CommonDialog& dlg, bool save) {
    QFileDialog dialog(QApplication::activeWindow(), dlg.DialogTitle, dlg.InitDir,
                       QtFilter(dlg.Filter));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode((dlg.Flags & CommonDialog::OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile
                                                                     : QFileDialog::AnyFile);
    if (save && !(dlg.Flags & CommonDialog::OFN_OVERWRITEPROMPT))
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!dlg.FileName.isEmpty())
        dialog.selectFile(dlg.FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

QAction* QtDesktop::PopupMenu(QMenu& menu, const QPoint& globalPos) {
    return menu.exec(globalPos);
}

void QtDesktop::OpenUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

QString QtDesktop::GetSetting(const QString& section, const QString& key,
                              const QString& defaultValue) {
    QSettings settings(kOrganisation, kApplication);
    settings.beginGroup(section);
    return settings.value(key, defaultValue).toString();
}

void QtDesktop::SaveSetting(const QString& section, const QString& key, const QString& value) {
    QSettings settings(kOrganisation, kApplication);
    settings.beginGroup(section);
    settings.setValue(key, value);
}

void QtDesktop::SetMousePointer(QWidget&, MousePointer pointer) {
    // The pointer is the application's, so it shows over the whole window and its boxes.
    if (pointer == MousePointer::Hourglass && !m_Waiting) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_Waiting = true;
    } else if (pointer == MousePointer::Arrow && m_Waiting) {
        QApplication::restoreOverrideCursor();
        m_Waiting = false;
    }
}

void QtDesktop::DoEvents() {
    QCoreApplication::processEvents();
}

} // namespace metronel
