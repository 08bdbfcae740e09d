// SPDX-License-Identifier: MIT
#pragma once

#include "Desktop.h"

namespace metronel {

// The desktop of a running program: Qt's dialogs, menus, desktop services and settings.
class QtDesktop : public Desktop {
public:
    void MsgBox(const QString& text, MsgIcon icon, const QString& title) override;
    QString InputBox(const QString& prompt, const QString& title,
                     const QString& defaultText) override;
    std::optional<QString> ShowFileDialog(const CommonDialog& dlg, bool save) override;
    QAction* PopupMenu(QMenu& menu, const QPoint& globalPos) override;
    void OpenUrl(const QUrl& url) override;
    QString GetSetting(const QString& section, const QString& key,
                       const QString& defaultValue) override;
    void SaveSetting(const QString& section, const QString& key, const QString& value) override;
    void SetMousePointer(QWidget& window, MousePointer pointer) override;
    void DoEvents() override;

    // Turns a dialog filter of "description|patterns" pairs, patterns separated by ";",
    // into Qt's "description (patterns)" entries separated by ";;".
    static QString QtFilter(const QString& filter);
    // Turns the carriage returns (and CR LF pairs) of a message into line feeds.
    static QString MessageLines(const QString& text);

private:
    bool m_Waiting = false;
};

} // namespace metronel
