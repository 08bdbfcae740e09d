// SPDX-License-Identifier: MIT
// The tempo fields, the spin control beside Samples and the Maths menu.
//
// The field texts are the only store of the values: every rule parses them afresh. A write
// into a field is itself a change and runs Txt_Change for that field, nested, before the
// write returns; writing a text equal to the present one is not a change.
#include "FrmMain.h"

#include "mdlCalc.h"
#include "toolkit/UpDown.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>

#include <algorithm>
#include <optional>

namespace metronel {

namespace {

const QString kInvalidCalculation = QStringLiteral("Invalid calculation");

Qt::KeyboardModifiers HeldKeys(Qt::KeyboardModifiers modifiers) {
    return modifiers &
           (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
}

// Shows an operation's prompt offering calcDefault. Returns the entry, or nothing when it
// was empty (Cancel) or was refused with "Invalid calculation".
std::optional<QString> AskEntry(Desktop& desktop, double calcDefault, const QString& prompt,
                                const QString& title) {
    const QString entry = desktop.InputBox(prompt, title, DoubleText(calcDefault));
    if (entry.isEmpty())
        return std::nullopt;
    if (!IsNumber(entry)) {
        desktop.MsgBox(kInvalidCalculation, MsgIcon::Exclamation, QString::fromLatin1(kAppTitle));
        return std::nullopt;
    }
    return entry;
}

// Runs one operation's arithmetic; a fault leaves calcValue alone and marks the operation
// abandoned, so that nothing is written back.
template <typename Arithmetic> void Apply(double& calcValue, bool& failed, Arithmetic arithmetic) {
    try {
        calcValue = arithmetic();
    } catch (const CalcError&) {
        failed = true;
    }
}

} // namespace

void FrmMain::connectTempoFields() {
    for (int i = 0; i < static_cast<int>(Txt.size()); ++i)
        connect(Txt[i], &QLineEdit::textChanged, this, [this, i] { Txt_Change(i); });
    udSamples->Min(1);
    udSamples->setFocusPolicy(Qt::NoFocus); // so a click never moves the focus out of a field
    connect(udSamples, &UpDown::mouseButton, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y) {
                udSamples_MouseButton(button, modifiers, x, y);
            });
    connect(udSamples, &UpDown::stepped, this,
            [this](int direction) { udSamples_Stepped(direction); });
}

void FrmMain::SetFieldText(int Index, const QString& Text) {
    if (Txt[Index]->text() != Text)
        Txt[Index]->setText(Text);
}

// ---- Change and validation ----

void FrmMain::Txt_Change(int Index) {
    QLineEdit* field = Txt[Index];
    const QString text = field->text();
    const QString stripped = StripOperatorChars(text);
    // Whether or not a recalculation was to be skipped, a text with operator characters is
    // replaced by its stripped form, and the change of that write runs the whole rule.
    if (stripped != text) {
        // Keep the caret where the user was typing, less the characters removed before it.
        const int cursor = field->cursorPosition();
        const int removedBefore = static_cast<int>(text.left(cursor).size() -
                                                   StripOperatorChars(text.left(cursor)).size());
        SkipRecalc = false;
        field->setText(stripped);
        field->setCursorPosition(cursor - removedBefore);
        return;
    }
    if (SkipRecalc) {
        SkipRecalc = false;
        return;
    }
    try {
        switch (Index) {
        case FieldBeats:
        case FieldBars:
            if (IsNumber(text) && ToDouble(text) > 0)
                Txt_Change(FieldSamples);
            break;
        case FieldSamples: {
            const std::int32_t samples = ToInt32(text);
            if (samples > 0)
                SetFieldText(FieldBpm,
                             DoubleText(BpmFromSamples(samples, m_WaveFormat.SamplesPerSec,
                                                       ToSingle(Txt[FieldBars]->text()),
                                                       ToSingle(Txt[FieldBeats]->text()))));
            break;
        }
        default:
            break; // a typed Bpm waits for the validation rule
        }
    } catch (const CalcError&) {
        // A text that is not a number, or a formula fault: the other fields stay as they are.
    }
}

void FrmMain::Txt_Validate(int Index, bool& Cancel) {
    const QString text = Txt[Index]->text();
    if (!IsNumber(text)) {
        Cancel = true;
        return;
    }
    const double value = ToDouble(text);
    const bool inRange =
        (Index == FieldBeats || Index == FieldBars) ? value >= 0.1 && value <= 64.0 : value >= 1.0;
    if (!inRange) {
        Cancel = true;
        return;
    }
    // A field that does not hold a usable number leaves every field as it was. Once the
    // count is known it is shown, even a count of no whole frame, since Save As writes what
    // Samples shows; a Bpm that count cannot give back keeps its text.
    try {
        const std::int32_t rate = m_WaveFormat.SamplesPerSec;
        const float bars = ToSingle(Txt[FieldBars]->text());
        const float beats = ToSingle(Txt[FieldBeats]->text());
        if (!(bars > 0 && beats > 0 && rate > 0))
            return; // no beats or no rate: no count to take in
        const std::int32_t samples =
            SamplesFromBpm(ToDouble(Txt[FieldBpm]->text()), rate, bars, beats);
        SetFieldText(FieldSamples, Int32Text(samples));
        SetFieldText(FieldBpm, DoubleText(BpmFromSamples(samples, rate, bars, beats)));
    } catch (const CalcError&) {
    }
}

void FrmMain::ResetTempoFields() {
    SetFieldText(FieldBeats, QStringLiteral("4"));
    SetFieldText(FieldBars, QStringLiteral("1"));
    SetFieldText(FieldSamples, QString());
    SetFieldText(FieldBpm, QString());
}

void FrmMain::ResetSamplesFromData() {
    QString samples;
    if (m_WaveFormat.BlockAlign >= 1)
        samples = DoubleText(static_cast<double>(m_DataInfo.RecordSize) /
                             static_cast<double>(m_WaveFormat.BlockAlign));
    if (Txt[FieldSamples]->text() == samples)
        Txt_Change(FieldSamples); // a reset always brings the Bpm back in step
    else
        SetFieldText(FieldSamples, samples);
}

// ---- The spin control ----

void FrmMain::udSamples_MouseButton(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int, int) {
    if (Button != Qt::LeftButton)
        return;
    const Qt::KeyboardModifiers held = HeldKeys(Shift);
    udSamples->Increment(held == Qt::ShiftModifier ? 64 : held == Qt::ControlModifier ? 128 : 1);
}

void FrmMain::udSamples_Stepped(int Direction) {
    try {
        // A fractional text steps from its rounded value.
        const qint64 value = static_cast<qint64>(ToInt32(Txt[FieldSamples]->text())) +
                             static_cast<qint64>(Direction) * udSamples->Increment();
        // A step below the lower limit is not taken: a down arrow never raises the count.
        if (value < udSamples->Min())
            return;
        const qint64 limited = std::min<qint64>(value, udSamples->Max());
        SetFieldText(FieldSamples, Int32Text(static_cast<std::int32_t>(limited)));
    } catch (const CalcError&) {
        // Nothing to step from.
    }
}

// ---- Starting an operation ----

void FrmMain::StartCalc(int Index) {
    m_CalcField = Index;
    m_CalcFailed = false;
    CalcValue = ToDouble(Txt[Index]->text());
}

void FrmMain::WriteBackCalcValue(int Index) {
    try {
        SetFieldText(Index, CalcValueText(CalcValue, Index == FieldSamples));
    } catch (const CalcError&) {
        // A value beyond the whole-number range: the field keeps its text.
    }
}

bool FrmMain::Txt_KeyPress(int Index, QChar KeyAscii) {
    // Tab moves the focus; it is not typed into the field.
    if (!Txt[Index]->isEnabled() || KeyAscii == u'\t')
        return false;
    // A character that the change rule strips never stays in the field, so it must not
    // reach it: it would replace a selected text. The rule runs as on its arrival instead.
    const bool stripped = StripOperatorChars(QString(KeyAscii)).isEmpty();
    auto strippedOnArrival = [this, Index] {
        SkipRecalc = false;
        Txt_Change(Index);
        return true;
    };
    if (!IsNumber(Txt[Index]->text()))
        return stripped && strippedOnArrival();
    StartCalc(Index);
    SkipRecalc = true;
    CalcDefault = 2;
    switch (KeyAscii.unicode()) {
    case u'*':
        MnuTimes_Click();
        break;
    case u'/':
        MnuDivide_Click();
        break;
    case u'\\':
        MnuDivideRnd_Click();
        break;
    case u'+':
        MnuIncDec_Click();
        break;
    case u'-':
        CalcDefault = -2;
        MnuIncDec_Click();
        break;
    case u'#':
        if (Index == FieldSamples || Index == FieldBpm)
            MnuSemitone_Click();
        break;
    default:
        SkipRecalc = false;
        return stripped && strippedOnArrival();
    }
    if (!m_CalcFailed)
        WriteBackCalcValue(Index);
    return strippedOnArrival();
}

void FrmMain::Txt_MouseDown(int Index, Qt::MouseButton Button, Qt::KeyboardModifiers Shift) {
    const Qt::KeyboardModifiers held = HeldKeys(Shift);
    if (Button != Qt::LeftButton || (held != Qt::ShiftModifier && held != Qt::ControlModifier) ||
        !Txt[Index]->isEnabled())
        return;
    MnuSemitone->setEnabled(Index == FieldSamples || Index == FieldBpm);
    if (!IsNumber(Txt[Index]->text()))
        return;
    StartCalc(Index);
    QLineEdit* field = Txt[Index];
    desktop().PopupMenu(*MnuMath, field->mapToGlobal(QPoint(field->width(), 0)));
    if (!m_CalcFailed)
        WriteBackCalcValue(Index);
}

// ---- The five operations ----

void FrmMain::MnuTimes_Click() {
    const auto entry =
        AskEntry(desktop(), CalcDefault, QStringLiteral("Enter the multiplication (*) value."),
                 QStringLiteral("Multiply"));
    if (entry)
        Apply(CalcValue, m_CalcFailed, [&] { return CalcTimes(CalcValue, *entry); });
}

void FrmMain::MnuDivide_Click() {
    const auto entry =
        AskEntry(desktop(), CalcDefault, QStringLiteral("Enter the division (/) value."),
                 QStringLiteral("Division"));
    if (entry)
        Apply(CalcValue, m_CalcFailed, [&] { return CalcDivide(CalcValue, *entry); });
}

void FrmMain::MnuDivideRnd_Click() {
    const auto entry =
        AskEntry(desktop(), CalcDefault, QStringLiteral("Enter a division (\\) value."),
                 QStringLiteral("Rounded Division"));
    if (entry)
        Apply(CalcValue, m_CalcFailed, [&] { return CalcDivideRnd(CalcValue, *entry); });
}

void FrmMain::MnuIncDec_Click() {
    const auto entry = AskEntry(desktop(), CalcDefault,
                                QStringLiteral("Enter the increcment/decrecment (+ -) value."),
                                QStringLiteral("Increcment/Decrecment"));
    if (entry)
        Apply(CalcValue, m_CalcFailed, [&] { return CalcIncDec(CalcValue, *entry); });
}

// Started from the Bpm field, the Bpm field gets the tempo of the shifted count; Samples
// follows at the next validation, as for a typed Bpm.
void FrmMain::MnuSemitone_Click() {
    const auto entry =
        AskEntry(desktop(), CalcDefault, QStringLiteral("Enter the semitone shift(#) value."),
                 QStringLiteral("Semitone Shift"));
    if (entry)
        Apply(CalcValue, m_CalcFailed, [&] {
            const QString samples = Txt[FieldSamples]->text();
            if (m_CalcField != FieldBpm)
                return CalcSemitone(samples, *entry);
            return CalcSemitoneBpm(samples, *entry, m_WaveFormat.SamplesPerSec,
                                   Txt[FieldBars]->text(), Txt[FieldBeats]->text());
        });
}

} // namespace metronel
