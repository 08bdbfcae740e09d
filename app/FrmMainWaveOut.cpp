// SPDX-License-Identifier: MIT
// Save As and Split As: the handlers gather the dialog's name, the Samples field and the
// open sound, let mdlWaveOut write, and show what went wrong.
#include "FrmMain.h"

#include "mdlLength.h"
#include "mdlWaveFile.h"
#include "mdlWaveOut.h"

#include <QCloseEvent>
#include <QEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QWidget>

#include <utility>
#include <vector>

namespace metronel {

namespace {

// The split drives the window's progress bar and lets the window repaint between pieces.
class ProgressBarProgress : public SplitProgress {
public:
    ProgressBarProgress(QProgressBar& bar, Desktop& desktop) : m_Bar(bar), m_Desktop(desktop) {}
    void SetRange(int minimum, int maximum) override { m_Bar.setRange(minimum, maximum); }
    void SetValue(int value) override { m_Bar.setValue(value); }
    void ProcessEvents() override { m_Desktop.DoEvents(); }

private:
    QProgressBar& m_Bar;
    Desktop& m_Desktop;
};

// While the split lets events through, the window takes no command: its menus, fields and
// buttons take no input, drops and closing are refused, and painting goes on. Everything
// is put back as it was when the guard ends.
class CommandGuard : public QObject {
public:
    CommandGuard(QMainWindow& window, QWidget* keepEnabled) : m_Window(window) {
        if (QWidget* client = window.centralWidget())
            for (QWidget* child : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (child != keepEnabled)
                    Disable(child);
        if (window.menuWidget())
            Disable(window.menuWidget());
        m_AcceptedDrops = window.acceptDrops();
        window.setAcceptDrops(false);
        window.installEventFilter(this);
    }
    ~CommandGuard() override {
        m_Window.removeEventFilter(this);
        m_Window.setAcceptDrops(m_AcceptedDrops);
        for (auto& [widget, wasDisabled] : m_Disabled)
            widget->setEnabled(!wasDisabled);
    }
    CommandGuard(const CommandGuard&) = delete;
    CommandGuard& operator=(const CommandGuard&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Close:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            event->ignore();
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    void Disable(QWidget* widget) {
        m_Disabled.emplace_back(widget, widget->testAttribute(Qt::WA_Disabled));
        widget->setEnabled(false);
    }

    QMainWindow& m_Window;
    std::vector<std::pair<QWidget*, bool>> m_Disabled;
    bool m_AcceptedDrops = false;
};

} // namespace

void ShowWaveOutError(Desktop& desktop, const WaveOutResult& result) {
    desktop.MsgBox(QString::fromStdString(result.errorText), MsgIcon::Critical,
                   QStringLiteral("Error: ") + QString::number(result.errorCode));
}

void FrmMain::MnuSaveAs_Click() {
    SkipOnError([this] {
        cDlg.InitDir = g_UserFilePath;
        cDlg.FileName.clear();
        cDlg.DialogTitle = QStringLiteral("Create a wave file as...");
        cDlg.Flags = CommonDialog::OFN_OVERWRITEPROMPT | CommonDialog::OFN_HIDEREADONLY;
    });
    bool chosen = true;
    try {
        cDlg.ShowSave();
    } catch (const DialogCancelled&) {
        chosen = false;
    }
    if (chosen) {
        desktop().SetMousePointer(*this, MousePointer::Hourglass);
        // Each step that fails is skipped; a sound the file does not hold whole is refused.
        std::int32_t n = 0;
        SkipOnError([&] { n = ToInt32(Txt[FieldSamples]->text()); });
        WaveOutResult result = WaveOutFailure(chunkwell::mfec_ReadDataFailed);
        const bool ran = SkipOnError([&] {
            if (m_Reader && !DefaultSoundChoices())
                result = SaveSoundChosen(cDlg.FileName, n);
            else if (m_Reader)
                result = SaveSoundAs(msl, cDlg.FileName, m_WaveFormat, *m_Reader,
                                     m_DataInfo.RecordSize, n);
        });
        if (ran && result.Written())
            SkipOnError([this] { RememberFolder(); });
        else if (ran)
            ShowWaveOutError(desktop(), result);
    }
    desktop().SetMousePointer(*this, MousePointer::Arrow);
}

void FrmMain::MnuSplitAs_Click() {
    const QString answer =
        desktop().InputBox(QStringLiteral("Please enter a value to split the current wave form."),
                           QStringLiteral("Split Wave Form"), QStringLiteral("4"));
    if (answer.isEmpty() || !IsNumber(answer))
        return;
    cDlg.Flags = CommonDialog::OFN_HIDEREADONLY;
    cDlg.DialogTitle = QStringLiteral("Split into separate wave files...");
    try {
        cDlg.ShowSave();
    } catch (const DialogCancelled&) {
        desktop().SetMousePointer(*this, MousePointer::Arrow);
        return;
    }
    desktop().SetMousePointer(*this, MousePointer::Hourglass);
    // Any error from here on ends the command without a message of its own.
    SkipOnError([this, &answer] {
        // The answer as an 8-bit unsigned number; checked before the sound is read, since a
        // refused answer ends the command all the same.
        const std::int32_t value = ToInt32(answer);
        if (value < 0 || value > 255)
            throw CalcError("overflow");
        const auto parts = static_cast<std::uint8_t>(value);
        if (!DefaultSoundChoices()) {
            ProgressBarProgress progress(*pBar, desktop());
            CommandGuard guard(*this, pBar);
            SplitSoundChosen(parts, progress);
            return;
        }

        // A sound the file does not hold whole, or memory that cannot be had for it, is
        // told; nothing is written.
        SoundBuffer source;
        SoundBuffer picked;
        std::span<const std::byte> frames;
        // The format as read now: the pieces keep it even if the window changes meanwhile.
        const WAVEFORMATINFO format = m_WaveFormat;
        try {
            if (!m_Reader || !ReadSound(*m_Reader, m_DataInfo.RecordSize, source)) {
                ShowWaveOutError(desktop(), WaveOutFailure(chunkwell::mfec_ReadDataFailed));
                return;
            }
            frames = source.span();
            const std::int32_t n = ToInt32(Txt[FieldSamples]->text());
            if (!IsOwnLength(m_DataInfo.RecordSize, format, n)) {
                picked = PickFrames(source.span(), m_DataInfo.RecordSize, format, n);
                frames = picked.span();
                source = SoundBuffer();
            }
        } catch (const chunkwell::OverflowError&) {
            ShowWaveOutError(desktop(), WaveOutFailure(chunkwell::mfec_WriteToDataFailed));
            return;
        } catch (const std::bad_alloc&) {
            ShowWaveOutError(desktop(), WaveOutFailure(chunkwell::mfec_WriteToDataFailed));
            return;
        }
        if (cDlg.FileName.isEmpty())
            throw CalcError("invalid procedure call");
        const QString baseName = SplitBaseName(cDlg.FileName);

        ProgressBarProgress progress(*pBar, desktop());
        CommandGuard guard(*this, pBar);
        const SplitResult split = WriteSplitFiles(frames, format, parts, baseName, msl, progress);
        if (!split.failure.Written())
            ShowWaveOutError(desktop(), split.failure);
    });
    desktop().SetMousePointer(*this, MousePointer::Arrow);
}

} // namespace metronel
