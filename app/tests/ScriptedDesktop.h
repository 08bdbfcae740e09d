// SPDX-License-Identifier: MIT
#pragma once

// A desktop that answers from queues and records every call, so window tests never wait
// on a real modal window.

#include "toolkit/CommonDialog.h"
#include "toolkit/Desktop.h"

#include <QAction>
#include <QMap>
#include <QMenu>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace metronel::testing {

struct MsgBoxCall {
    QString text;
    MsgIcon icon;
    QString title;
};

struct InputBoxCall {
    QString prompt;
    QString title;
    QString defaultText;
};

struct FileDialogCall {
    bool save;
    QString initDir;
    QString fileName;
    QString title;
    QString filter;
    int flags;
};

struct PopupCall {
    QPoint globalPos;
    // Caption and enabled state of every item at the moment of the pop-up.
    std::vector<std::pair<QString, bool>> items;
};

class ScriptedDesktop : public Desktop {
public:
    // ---- Answers, taken in order; an empty queue cancels / dismisses. ----
    std::deque<QString> inputAnswers;               // InputBox; empty text = cancel
    std::deque<std::optional<QString>> fileAnswers; // file dialogs; nullopt = cancel
    std::deque<QString> popupChoices;               // pop-up item caption; "" = dismiss
    QMap<QString, QString> settings;                // "section/key" -> value

    // ---- What the window asked for. ----
    std::vector<MsgBoxCall> msgBoxes;
    std::vector<InputBoxCall> inputBoxes;
    std::vector<FileDialogCall> fileDialogs;
    std::vector<PopupCall> popups;
    std::vector<QUrl> openedUrls;
    std::vector<MousePointer> pointers;
    int doEventsCalls = 0;

    void MsgBox(const QString& text, MsgIcon icon, const QString& title) override {
        msgBoxes.push_back({text, icon, title});
    }

    QString InputBox(const QString& prompt, const QString& title,
                     const QString& defaultText) override {
        inputBoxes.push_back({prompt, title, defaultText});
        if (inputAnswers.empty())
            return {};
        QString answer = inputAnswers.front();
        inputAnswers.pop_front();
        return answer;
    }

    std::optional<QString> ShowFileDialog(const CommonDialog& dlg, bool save) override {
        fileDialogs.push_back(
            {save, dlg.InitDir, dlg.FileName, dlg.DialogTitle, dlg.Filter, dlg.Flags});
        std::optional<QString> answer;
        if (!fileAnswers.empty()) {
            answer.swap(fileAnswers.front());
            fileAnswers.pop_front();
        }
        return answer;
    }

    QAction* PopupMenu(QMenu& menu, const QPoint& globalPos) override {
        PopupCall call{globalPos, {}};
        for (QAction* a : menu.actions())
            if (!a->isSeparator())
                call.items.emplace_back(a->text(), a->isEnabled());
        popups.push_back(call);
        if (popupChoices.empty())
            return nullptr;
        QString choice = popupChoices.front();
        popupChoices.pop_front();
        for (QAction* a : menu.actions())
            if (!a->isSeparator() && a->text() == choice && a->isEnabled()) {
                a->trigger(); // as a real menu does before it returns
                return a;
            }
        return nullptr;
    }

    void OpenUrl(const QUrl& url) override { openedUrls.push_back(url); }

    QString GetSetting(const QString& section, const QString& key,
                       const QString& defaultValue) override {
        return settings.value(section + "/" + key, defaultValue);
    }

    void SaveSetting(const QString& section, const QString& key, const QString& value) override {
        settings.insert(section + "/" + key, value);
    }

    void SetMousePointer(QWidget&, MousePointer pointer) override { pointers.push_back(pointer); }

    void DoEvents() override { ++doEventsCalls; }
};

// A desktop that also runs a probe whenever the window lets its events through.
class ProbingDesktop : public ScriptedDesktop {
public:
    std::function<void()> onDoEvents;
    void DoEvents() override {
        ScriptedDesktop::DoEvents();
        if (onDoEvents)
            onDoEvents();
    }
};

} // namespace metronel::testing
