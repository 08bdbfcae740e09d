// SPDX-License-Identifier: MIT
#include "FrmMain.h"

#include "LoopPlayer.h"
#include "mdlWaveFile.h"
#include "toolkit/BlackText.h"
#include "toolkit/UpDown.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

#include <algorithm>

namespace {
// The pictures are XPM text, drawn for this program.
#include "../resources/goto16.xpm"
#include "../resources/metronel16.xpm"
#include "../resources/metronel32.xpm"
} // namespace

namespace metronel {

namespace {
// The window was laid out in twips, 15 to a pixel.
QRect Twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

const QString kFileTypeTitle = QStringLiteral("File Type Unknown");
const QString kFileTypeText = QStringLiteral("Incorrect file type or corrupt file header.");
} // namespace

FrmMain::FrmMain(Desktop& desktop, QString commandLine, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      cDlg(desktop), m_Desktop(desktop), m_CommandLine(std::move(commandLine)) {
    setWindowTitle(QString::fromLatin1(kAppTitle));
    QIcon icon;
    icon.addPixmap(QPixmap(metronel32_xpm));
    icon.addPixmap(QPixmap(metronel16_xpm));
    // The installed theme icon has every size, the scalable one included.
    setWindowIcon(QIcon::fromTheme(QStringLiteral("metronel"), icon));
    setAcceptDrops(true);

    createControls();
    createMenus();
    connectTempoFields();
    createAccessibility();

    // The client area is fixed; the menu bar sits above it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

FrmMain::~FrmMain() {
    StopPlaying();
}

void FrmMain::createControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(291, 159);
    setCentralWidget(client);
    QFont small = client->font();
    small.setPixelSize(11);
    client->setFont(small);

    auto label = [client](const QString& caption, const QRect& at, bool black) {
        auto* l = new QLabel(caption, client);
        // The captions were sized for a narrower font; a wider one must not clip them.
        QRect fitted = at;
        fitted.setWidth(std::max(at.width(), l->fontMetrics().horizontalAdvance(caption) + 1));
        l->setGeometry(fitted);
        if (black)
            SetBlackText(*l);
        return l;
    };
    auto field = [this, client](const QRect& at) {
        auto* t = new QLineEdit(client);
        t->setGeometry(at);
        t->setEnabled(false);
        // A file dropped on a field is meant for the window.
        t->setAcceptDrops(false);
        t->installEventFilter(this);
        return t;
    };

    Lbl[2] = label(QStringLiteral("Beats"), Twips(360, 120, 405, 195), false);
    Txt[FieldBeats] = field(Twips(960, 120, 855, 285));
    Lbl[3] = label(QStringLiteral("Bars"), Twips(2040, 120, 315, 195), false);
    Txt[FieldBars] = field(Twips(2520, 120, 855, 285));

    CmdGoto = new QToolButton(client);
    CmdGoto->setGeometry(Twips(3600, 0, 495, 495));
    CmdGoto->setIcon(QIcon(QPixmap(goto16_xpm)));
    CmdGoto->setIconSize(QSize(16, 16));
    CmdGoto->setToolTip(QStringLiteral("Goto current file folder."));
    CmdGoto->setFocusPolicy(Qt::StrongFocus);
    CmdGoto->setEnabled(false);

    // A line from (120, 600) to (4200, 600).
    Line1 = new QFrame(client);
    Line1->setGeometry(Twips(120, 600, 4200 - 120, 15));
    Line1->setFrameShape(QFrame::NoFrame);
    Line1->setAutoFillBackground(true);
    QPalette grey = Line1->palette();
    grey.setColor(QPalette::Window, QColor(128, 128, 128));
    Line1->setPalette(grey);

    Lbl[0] = label(QStringLiteral("Samples:"), Twips(120, 840, 645, 195), true);
    Txt[FieldSamples] = field(Twips(960, 840, 2415, 285));

    CmdReset = new QPushButton(QStringLiteral("!"), client);
    CmdReset->setGeometry(Twips(3720, 840, 375, 375));
    CmdReset->setToolTip(QStringLiteral("Reset to original settings."));
    CmdReset->setEnabled(false);

    Lbl[1] = label(QStringLiteral("Bpm:"), Twips(360, 1200, 360, 195), true);
    Txt[FieldBpm] = field(Twips(960, 1200, 2415, 285));

    // Created after the fields and buttons: it never takes the focus itself, so its place
    // at the end of the tab order comes from creation order.
    udSamples = new UpDown(client);
    udSamples->setGeometry(Twips(3360, 840, 240, 285));
    udSamples->setEnabled(false);

    pBar = new QProgressBar(client);
    pBar->setGeometry(Twips(360, 1920, 3615, 255));
    pBar->setRange(0, 100);
    pBar->setValue(0);
    pBar->setTextVisible(false);

    setTabOrder(Txt[FieldBeats], Txt[FieldBars]);
    setTabOrder(Txt[FieldBars], Txt[FieldSamples]);
    setTabOrder(Txt[FieldSamples], Txt[FieldBpm]);
    setTabOrder(Txt[FieldBpm], CmdGoto);
    setTabOrder(CmdGoto, CmdReset);
    setTabOrder(CmdReset, udSamples);

    connect(CmdGoto, &QToolButton::clicked, this, &FrmMain::CmdGoto_Click);
    connect(CmdReset, &QPushButton::clicked, this, &FrmMain::CmdReset_Click);
}

void FrmMain::createMenus() {
    MnuFile = menuBar()->addMenu(QStringLiteral("File"));
    MnuOpenFile = MnuFile->addAction(QStringLiteral("Open"));
    MnuCloseFile = MnuFile->addAction(QStringLiteral("Close"));
    MnuFile->addSeparator();
    MnuSaveAs = MnuFile->addAction(QStringLiteral("Save As.."));
    MnuSplitAs = MnuFile->addAction(QStringLiteral("Split As..."));
    MnuFile->addSeparator();
    MnuProperties = MnuFile->addAction(QStringLiteral("Properties"));
    MnuFile->addSeparator();
    MnuExit = MnuFile->addAction(QStringLiteral("Exit"));
    MnuCloseFile->setEnabled(false);
    MnuSaveAs->setEnabled(false);
    MnuSplitAs->setEnabled(false);
    MnuProperties->setEnabled(false);

    // Popped up from the tempo fields only; never in the menu bar.
    MnuMath = new QMenu(QStringLiteral("Maths"), this);
    MnuTimes = MnuMath->addAction(QStringLiteral("Multiplication (*)"));
    MnuDivide = MnuMath->addAction(QStringLiteral("Division (/)"));
    MnuDivideRnd = MnuMath->addAction(QStringLiteral("Rounded Division (\\)"));
    MnuMath->addSeparator();
    MnuIncDec = MnuMath->addAction(QStringLiteral("Increcment/Decrecment (+ -)"));
    MnuMath->addSeparator();
    MnuSemitone = MnuMath->addAction(QStringLiteral("Semitone Shift (#)"));

    createSoundMenu();
    MnuAbout = menuBar()->addAction(QStringLiteral("About/Support"));

    connect(MnuFile, &QMenu::aboutToShow, this, &FrmMain::MnuFile_Click);
    connect(MnuOpenFile, &QAction::triggered, this, &FrmMain::MnuOpenFile_Click);
    connect(MnuCloseFile, &QAction::triggered, this, &FrmMain::MnuCloseFile_Click);
    connect(MnuSaveAs, &QAction::triggered, this, &FrmMain::MnuSaveAs_Click);
    connect(MnuSplitAs, &QAction::triggered, this, &FrmMain::MnuSplitAs_Click);
    connect(MnuProperties, &QAction::triggered, this, &FrmMain::ShowProperties);
    connect(MnuExit, &QAction::triggered, this, &FrmMain::MnuExit_Click);
    connect(MnuTimes, &QAction::triggered, this, &FrmMain::MnuTimes_Click);
    connect(MnuDivide, &QAction::triggered, this, &FrmMain::MnuDivide_Click);
    connect(MnuDivideRnd, &QAction::triggered, this, &FrmMain::MnuDivideRnd_Click);
    connect(MnuIncDec, &QAction::triggered, this, &FrmMain::MnuIncDec_Click);
    connect(MnuSemitone, &QAction::triggered, this, &FrmMain::MnuSemitone_Click);
    connect(MnuAbout, &QAction::triggered, this, &FrmMain::MnuAbout_Click);
}

// ---- Start and end ----

void FrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_Loaded)
        Form_Load();
}

void FrmMain::Form_Load() {
    if (m_Loaded)
        return;
    m_Loaded = true;
    LoadSoundSettings();
    udSamples->Max(2147483647);
    ResetTempoFields();
    QString name = m_CommandLine;
    name.remove(u'"');
    if (!name.isEmpty()) {
        cDlg.FileName = name;
        OpenFile(cDlg.FileName);
    }
}

void FrmMain::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void FrmMain::Form_Unload() {
    if (m_Unloaded)
        return;
    m_Unloaded = true;
    StopPlaying();
    if (MnuCloseFile->isEnabled())
        MnuCloseFile_Click();
    SaveSettings(m_Desktop);
    SaveSoundSettings();
}

void FrmMain::EnableControls(bool Enable) {
    Txt[FieldBpm]->setText(QStringLiteral("1"));
    for (QLineEdit* t : Txt)
        t->setEnabled(Enable);
    CmdGoto->setEnabled(Enable);
    CmdReset->setEnabled(Enable);
    MnuSaveAs->setEnabled(Enable);
    MnuOpenFile->setEnabled(!Enable);
    MnuCloseFile->setEnabled(Enable);
    MnuSplitAs->setEnabled(Enable);
    MnuProperties->setEnabled(Enable);
    MnuPlay->setEnabled(Enable);
    udSamples->setEnabled(Enable);
}

void FrmMain::RememberFolder() {
    g_UserFilePath = GetFolder(cDlg.FileName);
    cDlg.InitDir = g_UserFilePath;
}

// A typed Bpm is taken in before any File command runs.
void FrmMain::MnuFile_Click() {
    if (Txt[FieldBeats]->isEnabled()) {
        bool cancel = false;
        Txt_Validate(FieldBpm, cancel);
    }
}

void FrmMain::CmdGoto_Click() {
    m_Desktop.OpenUrl(QUrl::fromLocalFile(m_FilePath));
}

void FrmMain::CmdReset_Click() {
    ResetSamplesFromData();
}

void FrmMain::MnuExit_Click() {
    MnuCloseFile_Click();
    close();
}

// ---- Opening and closing ----

void FrmMain::MnuOpenFile_Click() {
    const bool ready = SkipOnError([this] {
        cDlg.InitDir = g_UserFilePath;
        cDlg.FileName.clear();
        cDlg.DialogTitle = QStringLiteral("Select a wave file to open.");
        cDlg.Flags = CommonDialog::OFN_FILEMUSTEXIST | CommonDialog::OFN_HIDEREADONLY;
    });
    try {
        cDlg.ShowOpen();
    } catch (const DialogCancelled&) {
        return;
    }
    if (ready)
        OpenFile(cDlg.FileName);
}

bool FrmMain::OpenFile(const QString& FileName) {
    SkipOnError([&] { m_Reader = msl.OpenMediaFile(QFile::encodeName(FileName).toStdString()); });

    auto fail = [this] {
        m_Reader.reset();
        return false;
    };

    if (!m_Reader) {
        // The library gives no text for a header it cannot take (a size beyond its limit):
        // that is a corrupt header, and an empty box would tell the user nothing.
        const QString error = QString::fromStdString(msl.DisplayError());
        if (error.isEmpty())
            m_Desktop.MsgBox(kFileTypeText, MsgIcon::Critical, kFileTypeTitle);
        else
            m_Desktop.MsgBox(error, MsgIcon::None, QString::fromLatin1(kAppTitle));
        return fail();
    }

    bool isWave = false;
    SkipOnError([&] {
        isWave = msl.FormatRecordID(m_Reader->ChunkID()) == "RIFF" &&
                 msl.FormatRecordID(m_Reader->ChunkType()) == "WAVE";
    });
    if (!isWave) {
        m_Desktop.MsgBox(kFileTypeText, MsgIcon::Critical, kFileTypeTitle);
        return fail();
    }

    // The one walk, up to the "data" record. A format must have been met before it, or
    // nothing that follows could use the sound; each format met is checked as it stands.
    const WaveWalk walk = WalkWave(*m_Reader, WalkTo::Data);
    bool haveFormat = false;
    const bool haveData = walk.data.has_value();
    for (const RecordPlace& record : walk.records) {
        if (record.id != FourCC("fmt "))
            continue;
        // Only the first 16 bytes are the record's fields; a shorter record leaves the rest
        // zero, and a failed read fails the check.
        std::array<std::byte, WAVEFORMATINFO::kSize> bytes{};
        SkipOnError([&] {
            m_Reader->MoveTo(record.position);
            const std::int32_t size =
                std::clamp<std::int32_t>(record.size, 0, WAVEFORMATINFO::kSize);
            if (size > 0)
                (void)m_Reader->ReadRecord(bytes, 0, size);
        });
        m_WaveFormat = WAVEFORMATINFO::FromBytes(bytes);
        std::int32_t check = -1;
        SkipOnError([&] { check = CheckWaveFormat(m_WaveFormat); });
        if (check != 0)
            return fail();
        haveFormat = true;
    }
    if (haveData)
        SkipOnError([&] {
            m_Reader->MoveTo(walk.records[*walk.data].position);
            m_DataInfo = m_Reader->RecordInfo();
        });
    if (!haveFormat || !haveData) {
        m_Desktop.MsgBox(kFileTypeText, MsgIcon::Critical, kFileTypeTitle);
        return fail();
    }

    SkipOnError([this] { EnableControls(true); });
    SkipOnError([this] { ResetSamplesFromData(); });
    SkipOnError([this] { m_FileTitle = GetFileTitle(cDlg.FileName); });
    SkipOnError([this] { RememberFolder(); });
    SkipOnError([this] { m_FilePath = g_UserFilePath; });
    return true;
}

std::int32_t FrmMain::CheckWaveFormat(const WAVEFORMATINFO& format) {
    FormatCheck check = FormatCheck::Inconsistent;
    try {
        check = CheckFormat(format);
    } catch (const chunkwell::OverflowError&) {
        // A byte rate beyond 32 bits cannot match the one stored: the format is corrupt, and
        // the user is told so rather than seeing the open fail without a word.
    }
    switch (check) {
    case FormatCheck::NotPcm:
        m_Desktop.MsgBox(QStringLiteral("This application only accepts wave pcm format!."),
                         MsgIcon::Critical, QStringLiteral("Format Error"));
        return 1;
    case FormatCheck::Inconsistent:
        m_Desktop.MsgBox(QStringLiteral("The format for this file is corrupt."), MsgIcon::Critical,
                         QStringLiteral("Format Corruption Error"));
        return 2;
    case FormatCheck::Accepted:
        break;
    }
    return 0;
}

void FrmMain::MnuCloseFile_Click() {
    StopPlaying();
    m_WholeSound.reset();
    if (m_Player)
        m_Player->Forget();
    EnableControls(false);
    m_Reader.reset();
    ResetTempoFields();
}

void FrmMain::DropFiles(const QStringList& localFiles) {
    if (localFiles.isEmpty())
        return;
    MnuCloseFile_Click();
    cDlg.FileName = localFiles.constFirst();
    OpenFile(cDlg.FileName);
}

void FrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void FrmMain::dropEvent(QDropEvent* event) {
    QStringList localFiles;
    if (event->mimeData()->hasUrls())
        for (const QUrl& url : event->mimeData()->urls())
            if (url.isLocalFile())
                localFiles << url.toLocalFile();
    DropFiles(localFiles);
}

// ---- Properties ----

void FrmMain::ShowProperties() {
    const QChar cr = u'\r';
    const QString text = m_FilePath + m_FileTitle + cr + cr +
                         QString::number(m_WaveFormat.SamplesPerSec) + QStringLiteral(" Hz") + cr +
                         QString::number(m_WaveFormat.Channels) + QStringLiteral(" channel(s)") +
                         cr + QString::number(m_WaveFormat.BitsPerSample) + QStringLiteral(" bit");
    m_Desktop.MsgBox(text, MsgIcon::None, QStringLiteral("File Properties"));
}

// ---- Keys and clicks of the tempo fields ----

bool FrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (SoundKey(watched, event))
        return true;
    const auto field = std::find(Txt.begin(), Txt.end(), watched);
    if (field == Txt.end())
        return QMainWindow::eventFilter(watched, event);
    const int index = static_cast<int>(field - Txt.begin());
    if (event->type() == QEvent::KeyPress) {
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        if (!typed.isEmpty() && Txt_KeyPress(index, typed.front()))
            return true;
    } else if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        Txt_MouseDown(index, mouse->button(), mouse->modifiers());
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace metronel
