// SPDX-License-Identifier: MIT
#pragma once

// The main window. Its handlers are spread over several files by feature:
//   FrmMain.cpp         layout, start and end, opening and closing files, drops, properties
//   FrmMainTempo.cpp    the tempo fields, the spin control and the Maths menu
//   FrmMainWaveOut.cpp  Save As and Split As
//   FrmMainAccess.cpp   names for screen readers, the spin control's keys and wheel
//   FrmMainSound.cpp    the Sound menu: playing, the length method, loop points and tags
// Controls are public, as on a form, so that tests can drive them.

#include "mdlMain.h"
#include "mdlMainSettings.h"
#include "toolkit/CommonDialog.h"
#include "toolkit/Desktop.h"

#include <chunkwell/MediaSystemLicence.h>

#include <QMainWindow>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;

namespace metronel {

class LoopPlayer;
class SplitProgress;
class UpDown;
enum class Resampler;
struct WaveFile;
struct WaveOutResult;

// Shows the critical box of a failed write: the library's text, titled "Error: " + code.
void ShowWaveOutError(Desktop& desktop, const WaveOutResult& result);

class FrmMain : public QMainWindow {
    Q_OBJECT

public:
    // Tempo field indexes of Txt.
    static constexpr int FieldBeats = 0;
    static constexpr int FieldBars = 1;
    static constexpr int FieldSamples = 2;
    static constexpr int FieldBpm = 3;

    // Builds the window; Form_Load runs when it is first shown (or when called by tests).
    FrmMain(Desktop& desktop, QString commandLine, QWidget* parent = nullptr);
    ~FrmMain() override;

    // ---- Controls ----
    std::array<QLineEdit*, 4> Txt{};
    std::array<QLabel*, 4> Lbl{};
    QToolButton* CmdGoto = nullptr;
    QPushButton* CmdReset = nullptr;
    UpDown* udSamples = nullptr;
    QProgressBar* pBar = nullptr;
    QFrame* Line1 = nullptr;
    CommonDialog cDlg;
    chunkwell::MediaSystemLicence msl;

    QMenu* MnuFile = nullptr;
    QAction* MnuOpenFile = nullptr;
    QAction* MnuCloseFile = nullptr;
    QAction* MnuSaveAs = nullptr;
    QAction* MnuSplitAs = nullptr;
    QAction* MnuProperties = nullptr;
    QAction* MnuExit = nullptr;
    QMenu* MnuMath = nullptr;
    QAction* MnuTimes = nullptr;
    QAction* MnuDivide = nullptr;
    QAction* MnuDivideRnd = nullptr;
    QAction* MnuIncDec = nullptr;
    QAction* MnuSemitone = nullptr;
    QMenu* MnuSound = nullptr;
    QAction* MnuPlay = nullptr;
    QAction* MnuPickFrames = nullptr;
    QAction* MnuHighQuality = nullptr;
    QAction* MnuKeepPitch = nullptr;
    QAction* MnuKeepLoopPoints = nullptr;
    QAction* MnuAbout = nullptr;

    // ---- File state ----
    std::shared_ptr<chunkwell::MediaFileReader> m_Reader;
    chunkwell::MEDIARECORDINFO m_DataInfo{};
    WAVEFORMATINFO m_WaveFormat{};
    QString m_FilePath;
    QString m_FileTitle;

    // ---- Tempo state ----
    bool SkipRecalc = false;
    double CalcValue = 0.0;
    double CalcDefault = 0.0;

    // ---- Lifecycle, enabling, folders (FrmMain.cpp) ----
    void Form_Load();
    void Form_Unload();
    void EnableControls(bool Enable);
    void RememberFolder();
    void MnuFile_Click();
    void CmdGoto_Click();
    void CmdReset_Click();
    void MnuExit_Click();

    // ---- Loading (FrmMain.cpp) ----
    bool OpenFile(const QString& FileName);
    std::int32_t CheckWaveFormat(const WAVEFORMATINFO& format);
    void MnuOpenFile_Click();
    void MnuCloseFile_Click();
    void DropFiles(const QStringList& localFiles);
    void ShowProperties();

    // ---- Tempo fields and Maths menu (FrmMainTempo.cpp) ----
    void Txt_Change(int Index);
    void Txt_Validate(int Index, bool& Cancel);
    void ResetTempoFields();
    void ResetSamplesFromData();
    void udSamples_MouseButton(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    // Returns true when the typed character must not reach the field.
    bool Txt_KeyPress(int Index, QChar KeyAscii);
    void Txt_MouseDown(int Index, Qt::MouseButton Button, Qt::KeyboardModifiers Shift);
    void MnuTimes_Click();
    void MnuDivide_Click();
    void MnuDivideRnd_Click();
    void MnuIncDec_Click();
    void MnuSemitone_Click();

    // ---- Wave output (FrmMainWaveOut.cpp) ----
    void MnuSaveAs_Click();
    void MnuSplitAs_Click();

    // ---- The Sound menu (FrmMainSound.cpp) ----
    // Plays the open sound at the length in Samples, looped; while it plays, stops it.
    void MnuPlay_Click();
    void StopPlaying();
    bool IsPlaying() const;
    // The method the Sound menu has chosen for Save As, Split As and Play.
    Resampler LengthMethod() const;
    // Tells whether Save As and Split As take their own paths: frame picking, no tags.
    bool DefaultSoundChoices() const;
    // Save As and Split As by the Sound menu's choices; the sound read whole beforehand.
    WaveOutResult SaveSoundChosen(const QString& path, std::int32_t n);
    void SplitSoundChosen(std::uint8_t parts, SplitProgress& progress);
    // The player, once Play has made it.
    LoopPlayer* Player() const { return m_Player.get(); }

    // ---- Keyboard and wheel (FrmMainAccess.cpp) ----
    // A key going down in field Index before the field sees it: the spin control's keys in
    // Samples, the menu key and Shift+F10 anywhere. Returns true when it was taken here.
    bool Txt_NavigationKey(int Index, int KeyCode, Qt::KeyboardModifiers Shift);
    // The wheel over Samples or its spin control: one step of 1 for each whole notch.
    void udSamples_Wheel(int AngleDelta);

    // ---- About (frmAbout.cpp) ----
    void MnuAbout_Click();

    Desktop& desktop() { return m_Desktop; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createMenus();
    void connectTempoFields(); // FrmMainTempo.cpp

    // ---- Sound menu: private state and helpers (FrmMainSound.cpp) ----
    void createSoundMenu();
    void LoadSoundSettings();
    void SaveSoundSettings();
    // Takes Space from a tempo field for Play, and leaves it to a focused button; returns
    // true when the event must not reach watched.
    bool SoundKey(QObject* watched, QEvent* event);
    // The length Play plays: Samples, or a Bpm being typed; nothing without a usable one.
    std::optional<std::int32_t> PlayingLength() const;
    void PlayingLengthChanged();
    // The open sound read whole, every record, once per file; empty with error on failure.
    std::shared_ptr<const WaveFile> WholeSound(QString& error);
    static std::int32_t SourceFrames(const WaveFile& wave);
    // Makes the player, once.
    void MakePlayer();
    // Renders the pass Play would play ahead of it, where that is worth it.
    void PrepareAhead();
    QTimer* m_PrepareTimer = nullptr;
    std::shared_ptr<const WaveFile> m_WholeSound;
    std::unique_ptr<LoopPlayer> m_Player;

    // ---- Keyboard and screen readers (FrmMainAccess.cpp) ----
    void createAccessibility();
    int m_WheelAngle = 0; // the part of a wheel notch not yet stepped

    // ---- Tempo fields: private state and helpers (FrmMainTempo.cpp) ----
    int m_CalcField = -1;      // the field the running operation was started from
    bool m_CalcFailed = false; // the operation was abandoned on an arithmetic fault
    void SetFieldText(int Index, const QString& Text);
    void StartCalc(int Index);
    void WriteBackCalcValue(int Index);
    void udSamples_Stepped(int Direction);

    Desktop& m_Desktop;
    QString m_CommandLine;
    bool m_Loaded = false;
    bool m_Unloaded = false;
};

} // namespace metronel
