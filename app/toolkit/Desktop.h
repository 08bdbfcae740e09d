// SPDX-License-Identifier: MIT
#pragma once

// The seam between the windows and everything modal or outside them: message and input
// boxes, file dialogs, pop-up menus, the shell, the settings store, the mouse pointer and
// the event loop. Production uses QtDesktop; tests use a scripted double.

#include <QPoint>
#include <QString>
#include <QUrl>

#include <optional>

class QAction;
class QMenu;
class QWidget;

namespace metronel {

enum class MsgIcon { None, Critical, Exclamation, Information };
enum class MousePointer { Arrow, Hourglass };

class CommonDialog;

class Desktop {
public:
    virtual ~Desktop() = default;

    // Shows a modal message box with one OK button; a carriage return breaks the line.
    virtual void MsgBox(const QString& text, MsgIcon icon, const QString& title) = 0;
    // Shows a modal input box; returns the entry, or empty text when cancelled.
    virtual QString InputBox(const QString& prompt, const QString& title,
                             const QString& defaultText) = 0;
    // Shows dlg as an open or a save dialog; returns the chosen path, or nothing when
    // the user cancels.
    virtual std::optional<QString> ShowFileDialog(const CommonDialog& dlg, bool save) = 0;
    // Pops up menu with its top-left corner at globalPos. The chosen item is triggered
    // before this returns; returns it, or null when the menu was dismissed.
    virtual QAction* PopupMenu(QMenu& menu, const QPoint& globalPos) = 0;
    // Opens a folder in the file manager or a mailto: link in the mail program.
    virtual void OpenUrl(const QUrl& url) = 0;
    // Reads a value of the settings store, or defaultValue when it has none.
    virtual QString GetSetting(const QString& section, const QString& key,
                               const QString& defaultValue) = 0;
    // Writes a value of the settings store.
    virtual void SaveSetting(const QString& section, const QString& key, const QString& value) = 0;
    // Sets the mouse pointer shown over window.
    virtual void SetMousePointer(QWidget& window, MousePointer pointer) = 0;
    // Lets the window handle the events waiting for it.
    virtual void DoEvents() = 0;
};

} // namespace metronel
