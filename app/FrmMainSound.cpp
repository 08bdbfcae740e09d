// SPDX-License-Identifier: MIT
// The Sound menu: playing the open sound at the length in Samples, the choice of how Save
// As, Split As and Play bring it there, and carrying its loop points and tags along. With
// the choices at their defaults Save As and Split As take their own paths unchanged.
#include "FrmMain.h"

#include "mdlLength.h"
#include "mdlWaveFile.h"

#include "LoopPlayer.h"
#include "mdlMetadata.h"
#include "mdlSafeWrite.h"
#include "mdlWaveOut.h"

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace metronel {

namespace {

const QString kSection = QStringLiteral("Settings");
const QString kMethodKey = QStringLiteral("LengthMethod");
const QString kKeepKey = QStringLiteral("KeepLoopPointsAndTags");
const QString kPickFrames = QStringLiteral("PickFrames");
const QString kHighQuality = QStringLiteral("HighQuality");
const QString kKeepPitch = QStringLiteral("KeepPitch");
const QString kPlay = QStringLiteral("&Play");
const QString kStop = QStringLiteral("Stop");

bool IsSpace(const QEvent* event) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    return key->key() == Qt::Key_Space &&
           (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace

// ---- The menu ----

void FrmMain::createSoundMenu() {
    MnuSound = menuBar()->addMenu(QStringLiteral("&Sound"));
    MnuPlay = MnuSound->addAction(kPlay);
    MnuPlay->setShortcut(QKeySequence(Qt::Key_Space));
    MnuPlay->setEnabled(false);
    MnuSound->addSeparator();

    auto* methods = new QActionGroup(this);
    methods->setExclusive(true);
    auto choice = [this, methods](const QString& caption) {
        QAction* a = MnuSound->addAction(caption);
        a->setCheckable(true);
        methods->addAction(a);
        return a;
    };
    MnuPickFrames = choice(QStringLiteral("Tape (Pick &Frames)"));
    MnuHighQuality = choice(QStringLiteral("Tape (&High Quality)"));
    MnuKeepPitch = choice(QStringLiteral("Keep P&itch"));
    MnuPickFrames->setChecked(true);
    MnuSound->addSeparator();

    MnuKeepLoopPoints = MnuSound->addAction(QStringLiteral("&Keep Loop Points and Tags"));
    MnuKeepLoopPoints->setCheckable(true);

    m_PrepareTimer = new QTimer(this);
    m_PrepareTimer->setSingleShot(true);
    m_PrepareTimer->setInterval(150); // typing settles first
    connect(m_PrepareTimer, &QTimer::timeout, this, &FrmMain::PrepareAhead);
    CmdGoto->installEventFilter(this);
    CmdReset->installEventFilter(this);
    connect(MnuPlay, &QAction::triggered, this, &FrmMain::MnuPlay_Click);
    connect(methods, &QActionGroup::triggered, this, &FrmMain::PlayingLengthChanged);
    for (int i : {FieldSamples, FieldBpm})
        connect(Txt[i], &QLineEdit::textChanged, this, &FrmMain::PlayingLengthChanged);
}

void FrmMain::LoadSoundSettings() {
    const QString method = m_Desktop.GetSetting(kSection, kMethodKey, kPickFrames);
    if (method == kHighQuality)
        MnuHighQuality->setChecked(true);
    else if (method == kKeepPitch)
        MnuKeepPitch->setChecked(true);
    else
        MnuPickFrames->setChecked(true);
    MnuKeepLoopPoints->setChecked(m_Desktop.GetSetting(kSection, kKeepKey, QStringLiteral("0")) ==
                                  QStringLiteral("1"));
}

void FrmMain::SaveSoundSettings() {
    // Only a choice that differs from what is stored is written: with the defaults and
    // nothing stored, the settings stay as they were.
    auto save = [this](const QString& key, const QString& value, const QString& defaultValue) {
        if (m_Desktop.GetSetting(kSection, key, defaultValue) != value)
            m_Desktop.SaveSetting(kSection, key, value);
    };
    save(kMethodKey,
         MnuHighQuality->isChecked() ? kHighQuality
         : MnuKeepPitch->isChecked() ? kKeepPitch
                                     : kPickFrames,
         kPickFrames);
    save(kKeepKey, MnuKeepLoopPoints->isChecked() ? QStringLiteral("1") : QStringLiteral("0"),
         QStringLiteral("0"));
}

Resampler FrmMain::LengthMethod() const {
    return MnuHighQuality->isChecked() ? Resampler::Hq
           : MnuKeepPitch->isChecked() ? Resampler::KeepPitch
                                       : Resampler::Pick;
}

bool FrmMain::DefaultSoundChoices() const {
    return LengthMethod() == Resampler::Pick && !MnuKeepLoopPoints->isChecked();
}

// ---- Space ----

bool FrmMain::SoundKey(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return false;
    if (!IsSpace(event))
        return false;
    const bool field = std::find(Txt.begin(), Txt.end(), watched) != Txt.end();
    if (watched == CmdGoto || watched == CmdReset) {
        // A focused button keeps Space for itself: it is how the keyboard presses it.
        if (event->type() == QEvent::ShortcutOverride)
            event->accept();
        return false;
    }
    if (!field)
        return false;
    // In a tempo field Space is the Play shortcut, never a character: the override is left
    // unaccepted so the shortcut runs, and a key that still arrives is dropped.
    return true;
}

// ---- Playing ----

std::shared_ptr<const WaveFile> FrmMain::WholeSound(QString& error) {
    if (m_WholeSound)
        return m_WholeSound;
    if (!m_Reader) {
        error = QStringLiteral("no file is open");
        return nullptr;
    }
    auto wave = std::make_shared<WaveFile>();
    // The window's reader stands on "data" for Save As: it is put back there.
    const std::int32_t position = m_Reader->Position();
    const WaveOutResult read = ReadWave(m_Reader, m_FilePath + m_FileTitle, *wave);
    SkipOnError([&] { m_Reader->MoveTo(position); });
    if (!read.Written()) {
        error = QString::fromStdString(read.OneLine());
        return nullptr;
    }
    m_WholeSound = std::move(wave);
    return m_WholeSound;
}

std::optional<std::int32_t> FrmMain::PlayingLength() const {
    std::optional<std::int32_t> frames;
    SkipOnError([&] {
        // A Bpm being typed is heard before it is taken in, at the count it will give.
        QLineEdit* bpm = Txt[FieldBpm];
        if (bpm->isModified() && IsNumber(bpm->text()) && ToDouble(bpm->text()) >= 1)
            frames =
                SamplesFromBpm(ToDouble(bpm->text()), m_WaveFormat.SamplesPerSec,
                               ToSingle(Txt[FieldBars]->text()), ToSingle(Txt[FieldBeats]->text()));
        else
            frames = ToInt32(Txt[FieldSamples]->text());
    });
    if (frames && (*frames < 1 || std::int64_t{*frames} * m_WaveFormat.BlockAlign > INT32_MAX))
        return std::nullopt;
    return frames;
}

void FrmMain::MnuPlay_Click() {
    if (m_Player && m_Player->IsPlaying()) {
        StopPlaying();
        return;
    }
    if (!m_Reader)
        return;
    MnuFile_Click(); // a typed Bpm is taken in first, as for the File commands
    const QString title = QString::fromLatin1(kAppTitle);
    const std::optional<std::int32_t> frames = PlayingLength();
    if (!frames) {
        m_Desktop.MsgBox(QStringLiteral("Metronel cannot play: Samples holds no length from 1 "
                                        "frame to 2 GiB."),
                         MsgIcon::Exclamation, title);
        return;
    }
    MakePlayer();
    if (!LoopPlayer::HasOutput()) {
        m_Desktop.MsgBox(LoopPlayer::NoOutputText(), MsgIcon::Exclamation, title);
        return;
    }
    QString error;
    std::shared_ptr<const WaveFile> wave;
    {
        m_Desktop.SetMousePointer(*this, MousePointer::Hourglass);
        wave = WholeSound(error);
        m_Desktop.SetMousePointer(*this, MousePointer::Arrow);
    }
    if (!wave) {
        m_Desktop.MsgBox(QStringLiteral("Metronel cannot play: ") + error + u'.',
                         MsgIcon::Exclamation, title);
        return;
    }
    if (!m_Player->Play(std::move(wave), *frames, LengthMethod())) {
        m_Desktop.MsgBox(m_Player->Reason(), MsgIcon::Exclamation, title);
        return;
    }
    MnuPlay->setText(kStop);
}

void FrmMain::MakePlayer() {
    if (m_Player)
        return;
    m_Player = std::make_unique<LoopPlayer>();
    connect(m_Player.get(), &LoopPlayer::stopped, this, [this] {
        MnuPlay->setText(kPlay);
        m_Desktop.MsgBox(m_Player->Reason(), MsgIcon::Exclamation, QString::fromLatin1(kAppTitle));
    });
}

void FrmMain::PrepareAhead() {
    // Frame picking starts at once anyway; a high-quality or pitch-keeping pass is made ahead, for
    // sounds of a size that reading and holding twice costs little, and never while a split runs.
    constexpr std::int32_t kLimit = 32 << 20;
    if (IsPlaying() || !m_Reader || LengthMethod() == Resampler::Pick ||
        m_DataInfo.RecordSize > kLimit || !menuBar()->isEnabled())
        return;
    const std::optional<std::int32_t> frames = PlayingLength();
    QString error;
    if (!frames)
        return;
    std::shared_ptr<const WaveFile> wave = WholeSound(error);
    if (!wave)
        return;
    MakePlayer();
    m_Player->Prepare(std::move(wave), *frames, LengthMethod());
}

void FrmMain::StopPlaying() {
    if (m_Player)
        m_Player->Stop();
    if (MnuPlay)
        MnuPlay->setText(kPlay);
}

bool FrmMain::IsPlaying() const {
    return m_Player && m_Player->IsPlaying();
}

void FrmMain::PlayingLengthChanged() {
    if (!IsPlaying()) {
        m_PrepareTimer->start();
        return;
    }
    if (const std::optional<std::int32_t> frames = PlayingLength())
        m_Player->SetLength(*frames, LengthMethod());
}

// ---- Save As and Split As with the Sound menu's choices ----

std::int32_t FrmMain::SourceFrames(const WaveFile& wave) {
    return RoundToInt32(static_cast<double>(wave.Data().size()) /
                        static_cast<double>(wave.BlockAlign()));
}

WaveOutResult FrmMain::SaveSoundChosen(const QString& path, std::int32_t n) {
    QString error;
    const std::shared_ptr<const WaveFile> whole = WholeSound(error);
    if (!whole)
        return WaveOutFailure(chunkwell::mfec_ReadDataFailed);
    RemoveStaleTemporaries(GetFolder(path));
    if (n < 1 || std::int64_t{n} * whole->BlockAlign() > INT32_MAX)
        return WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
    std::vector<std::byte> data;
    try {
        data = BringToLength(*whole, n, LengthMethod());
    } catch (const std::bad_alloc&) {
        // Told as frame picking tells it, not skipped without a word.
        return WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
    }
    if (!MnuKeepLoopPoints->isChecked())
        return WriteWaveFile(msl, path, m_WaveFormat, data, true);

    WaveFile wave = *whole;
    wave.Data() = std::move(data);
    const float bars = ToSingle(Txt[FieldBars]->text());
    const float beats = ToSingle(Txt[FieldBeats]->text());
    AdjustMetadata(wave.records, {SourceFrames(*whole), n, 0, n},
                   BpmFromSamples(n, m_WaveFormat.SamplesPerSec, bars, beats), double{bars} * beats,
                   LengthMethod() == Resampler::KeepPitch);
    return WriteWave(msl, path, wave, true);
}

void FrmMain::SplitSoundChosen(std::uint8_t parts, SplitProgress& progress) {
    QString error;
    const std::shared_ptr<const WaveFile> whole = WholeSound(error);
    if (!whole) {
        ShowWaveOutError(desktop(), WaveOutFailure(chunkwell::mfec_ReadDataFailed));
        return;
    }
    const std::int32_t n = ToInt32(Txt[FieldSamples]->text());
    std::vector<std::byte> frames;
    try {
        if (n < 1 || std::int64_t{n} * whole->BlockAlign() > INT32_MAX)
            throw chunkwell::OverflowError("the new length leaves 32 bits");
        frames = BringToLength(*whole, n, LengthMethod());
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
    if (!MnuKeepLoopPoints->isChecked()) {
        const SplitResult split =
            WriteSplitFiles(frames, m_WaveFormat, parts, baseName, msl, progress);
        if (!split.failure.Written())
            ShowWaveOutError(desktop(), split.failure);
        return;
    }

    // Each piece carries the records, its loop points and cues moved into it and the tempo
    // tag counting its share of the beats; as without tags, each piece is named as soon as
    // it is complete.
    const auto align = static_cast<std::size_t>(whole->BlockAlign());
    const SplitPlan plan = PlanSplit(frames.size(), whole->BlockAlign(), parts, baseName);
    const float bars = ToSingle(Txt[FieldBars]->text());
    const float beats = ToSingle(Txt[FieldBeats]->text());
    const double bpm = BpmFromSamples(n, m_WaveFormat.SamplesPerSec, bars, beats);
    const bool keepPitch = LengthMethod() == Resampler::KeepPitch;
    WaveFile base = *whole;
    base.Data().clear();
    RemoveStaleTemporaries(GetFolder(baseName));
    const int minimum = parts == 1 ? 0 : 1;
    progress.SetRange(minimum, parts);
    progress.SetValue(minimum);
    const SplitResult split = WriteSplitPieces(
        msl, plan, SplitCommit::EachPiece, false,
        [&](std::size_t k) {
            const SplitPlan::Piece& at = plan.pieces[k];
            WaveFile piece = base;
            const auto start = frames.begin() + static_cast<std::ptrdiff_t>(at.first * align);
            piece.Data().assign(start, start + static_cast<std::ptrdiff_t>(at.count * align));
            AdjustMetadata(
                piece.records, {SourceFrames(*whole), plan.totalFrames, at.first, at.count}, bpm,
                double{bars} * beats * at.count / std::max<std::int32_t>(plan.totalFrames, 1),
                keepPitch);
            return piece;
        },
        &progress);
    progress.SetValue(minimum);
    if (!split.failure.Written())
        ShowWaveOutError(desktop(), split.failure);
}

} // namespace metronel
