// SPDX-License-Identifier: MIT
#pragma once

#include "Desktop.h"

#include <QString>

#include <stdexcept>

namespace metronel {

// Raised by CommonDialog when the user cancels, as the handlers expect.
class DialogCancelled : public std::runtime_error {
public:
    DialogCancelled() : std::runtime_error("Cancel was selected.") {}
};

// The window's file dialog: its properties keep their values between uses.
class CommonDialog {
public:
    // Flags understood here.
    static constexpr int OFN_OVERWRITEPROMPT = 0x2;
    static constexpr int OFN_HIDEREADONLY = 0x4;
    static constexpr int OFN_FILEMUSTEXIST = 0x1000;

    explicit CommonDialog(Desktop& desktop) : m_Desktop(desktop) {}

    QString InitDir;
    QString FileName;
    QString DialogTitle;
    QString Filter = QStringLiteral("Wave Files|*.wav;");
    int Flags = 0;

    // Shows the open dialog and takes the chosen name; raises DialogCancelled on cancel.
    void ShowOpen() { Show(false); }
    // Shows the save dialog and takes the chosen name; raises DialogCancelled on cancel.
    void ShowSave() { Show(true); }

private:
    void Show(bool save) {
        auto chosen = m_Desktop.ShowFileDialog(*this, save);
        if (!chosen)
            throw DialogCancelled();
        FileName = *chosen;
    }

    Desktop& m_Desktop;
};

} // namespace metronel
