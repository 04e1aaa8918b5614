#include "main.h"

#include "Global.h"
#include "ID3Edit.h"
#include "MinorDialogs.h"
#include "OptionSet.h"
#include "Process.h"
#include "WineRegistry.h"
#include "QueryCddbForm.h"
#include "RecordWindow.h"
#include "akrip32Drives.h"
#include "ripForm.h"
#include "MediaMonitor.h"
#include "ProfileFile.h"
#include "ProgramFolder.h"

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QProcess>
#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace {

// Colours of the window's parts.
const QColor ToolBarColour(228, 228, 255);
const QColor WindowColour(214, 223, 247);
const QColor ListColour(239, 239, 255);
const QColor StatusBarColour(220, 225, 255);

// Gap between the window's edge and the list and status bar, in pixels.
constexpr int EdgeGap = 10;

void Paint(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

}  // namespace

TMainForm::TMainForm(Dialogs& dialogs, std::unique_ptr<TMediaMonitor> monitor, QWidget* parent)
    : QMainWindow(parent)
    , m_dialogs(dialogs)
    , m_disc(dialogs)
    , m_model(m_disc, std::make_unique<TCdPlayer>())
    , m_monitor(std::move(monitor))
{
    setWindowTitle(QStringLiteral("Sonvale 2.1"));
    resize(551, 501);
    BuildActions();
    BuildMenus();
    BuildToolBar();
    BuildClientArea();
    FormCreate();
    m_disc.OnChanged = [this] { ShowDisc(); };
    m_model.OnStatus = [this](const std::string& text) {
        SetStatusText(QString::fromStdString(text));
        UpdateActions();
    };
    if (m_monitor) {
        // Queued: each event reaches the window as a message of its own, after the handler that
        // noticed it has returned.
        connect(m_monitor.get(), &TMediaMonitor::VolumeArrived, this, [this] {
            m_activationReported = false;  // a new disc: the hints may be due again
            m_disc.VolumeArrived(); },
                Qt::QueuedConnection);
        connect(m_monitor.get(), &TMediaMonitor::VolumeRemoved, this, [this] { m_disc.VolumeRemoved(); },
                Qt::QueuedConnection);
    }
    UpdateActions();
}

TMainForm::~TMainForm() = default;

void TMainForm::BuildActions()
{
    const auto make = [this](QAction*& action, const char* name, const QString& caption,
                             const QString& hint, const QKeySequence& shortcut = {}) {
        action = new QAction(caption, this);
        action->setObjectName(QLatin1String(name));
        action->setStatusTip(hint);
        action->setToolTip(hint.isEmpty() ? QString(caption).remove(QLatin1Char('&')) : hint);
        action->setShortcut(shortcut);
    };

    make(ActionExtract, "ActionExtract", QStringLiteral("E&xtract"), QStringLiteral("Extract the selected track"),
         QKeySequence(Qt::CTRL | Qt::Key_X));
    make(ActionSelectAll, "ActionSelectAll", QStringLiteral("Select &All"), QStringLiteral("Select all tracks"),
         QKeySequence(Qt::CTRL | Qt::Key_A));
    make(ActionNoSelect, "ActionNoSelect", QStringLiteral("Select &None"), QStringLiteral("Cancel selected track"),
         QKeySequence(Qt::CTRL | Qt::Key_N));
    make(ActionOptionSet, "ActionOptionSet", QStringLiteral("&Options"), QStringLiteral("Options"),
         QKeySequence(Qt::CTRL | Qt::Key_O));
    make(ActionExit, "ActionExit", QStringLiteral("E&xit"), QStringLiteral("Exit the program"));
    make(ActionRecord, "ActionRecord", QStringLiteral("&Record"), QStringLiteral("Record to wav or mp3"),
         QKeySequence(Qt::CTRL | Qt::Key_R));
    make(ActionWavToMp3, "ActionWavToMp3", QStringLiteral("&WAV to MP3"), QStringLiteral("Convert  WAV file to MP3 file"),
         QKeySequence(Qt::CTRL | Qt::Key_W));
    make(aPlay, "aPlay", QStringLiteral("&Play"), QStringLiteral("Play the current track"), QKeySequence(Qt::CTRL | Qt::Key_P));
    make(aPause, "aPause", QStringLiteral("P&ause"), QStringLiteral("Pause the current track"));
    make(aStop, "aStop", QStringLiteral("&Stop"), QStringLiteral("Stop the current track"));
    make(aID3Edit, "aID3Edit", QStringLiteral("&ID3 Tag Edit"), QStringLiteral("MP3 ID3 edit"));
    make(aEditTrackName, "aEditTrackName", QStringLiteral("Rename &Title"), QStringLiteral("Rename track title"),
         QKeySequence(Qt::Key_F2));
    make(aQueryCDDB, "aQueryCDDB", QStringLiteral("&Query Freedb"), QString());
    make(aQueryMusicBrainz, "aQueryMusicBrainz", QStringLiteral("Query &MusicBrainz"),
         QStringLiteral("Titles, artist and album from MusicBrainz"));

    make(mnuMp3ToWav, "mnuMp3ToWav", QStringLiteral("&MP3 to WAV..."), QStringLiteral("Convert  MP3 file to WAV file"));
    make(miWAVtoOGG, "miWAVtoOGG", QStringLiteral("WAV to O&GG..."), QString());
    make(miWAVtoWMA, "miWAVtoWMA", QStringLiteral("WAV to WM&A..."), QString());
    make(miWAVtoFLAC, "miWAVtoFLAC", QStringLiteral("WAV to &FLAC..."), QStringLiteral("Convert WAV files to FLAC files"));
    make(miWAVtoOpus, "miWAVtoOpus", QStringLiteral("WAV to &Opus..."), QStringLiteral("Convert WAV files to Opus files"));
    make(miFLACtoWAV, "miFLACtoWAV", QStringLiteral("F&LAC to WAV..."), QStringLiteral("Convert FLAC files to WAV files"));
    make(Openoutputdirectory1, "Openoutputdirectory1", QStringLiteral("&Open output directory..."), QString());
    make(bRefresh, "bRefresh", QStringLiteral("&Refresh"), QString());
    make(EjectMenu, "EjectMenu", QStringLiteral("&Eject CD"), QString(), QKeySequence(Qt::CTRL | Qt::Key_E));
    make(CloseCdRomMenu, "CloseCdRomMenu", QStringLiteral("&Close CD"), QString(), QKeySequence(Qt::CTRL | Qt::Key_L));
    make(VolumeControlMenu, "VolumeControlMenu", QStringLiteral("&Volume Control..."), QString(),
         QKeySequence(Qt::CTRL | Qt::Key_V));
    make(miRealOnePlayer, "miRealOnePlayer", QStringLiteral("&RealPlayer"), QString());
    make(miWindowsMediaPlayer, "miWindowsMediaPlayer", QStringLiteral("&Windows Media Player"), QString());
    make(mnuHelp, "mnuHelp", QStringLiteral("&Help"), QString(), QKeySequence(Qt::Key_F1));
    make(mnuHomePage, "mnuHomePage", QStringLiteral("Sonvale &Home Page"), QString());
    make(mnuAbout, "mnuAbout", QStringLiteral("&About..."), QString());

    // Icons of our own, one style and one size.
    ActionExtract->setIcon(ActionIcon(QStringLiteral("extract")));
    ActionWavToMp3->setIcon(ActionIcon(QStringLiteral("encode")));
    ActionRecord->setIcon(ActionIcon(QStringLiteral("record")));
    ActionOptionSet->setIcon(ActionIcon(QStringLiteral("options")));
    ActionExit->setIcon(ActionIcon(QStringLiteral("exit")));
    aPlay->setIcon(ActionIcon(QStringLiteral("play")));
    aPause->setIcon(ActionIcon(QStringLiteral("pause")));
    aStop->setIcon(ActionIcon(QStringLiteral("stop")));

    connect(ActionSelectAll, &QAction::triggered, this, &TMainForm::ActionSelectAllExecute);
    connect(ActionNoSelect, &QAction::triggered, this, &TMainForm::ActionNoSelectExecute);
    connect(ActionExit, &QAction::triggered, this, &QWidget::close);
    connect(Openoutputdirectory1, &QAction::triggered, this, &TMainForm::OpenOutputDirectoryClick);
    connect(bRefresh, &QAction::triggered, this, [this] { m_disc.Refresh(); });
    connect(ActionExtract, &QAction::triggered, this, &TMainForm::ActionExtractExecute);
    connect(aPlay, &QAction::triggered, this, [this] {
        UpdateActions();  // each run checks its rule again
        m_model.Play();
        UpdateActions();
    });
    connect(aPause, &QAction::triggered, this, [this] {
        UpdateActions();
        m_model.Pause();
        UpdateActions();
    });
    connect(aStop, &QAction::triggered, this, [this] {
        UpdateActions();
        m_model.Stop();
        UpdateActions();
    });
    connect(aQueryCDDB, &QAction::triggered, this, &TMainForm::aQueryCDDBExecute);
    connect(aQueryMusicBrainz, &QAction::triggered, this, &TMainForm::aQueryMusicBrainzExecute);
    connect(ActionOptionSet, &QAction::triggered, this, &TMainForm::ActionOptionSetExecute);
    connect(ActionRecord, &QAction::triggered, this, [this] {
        TfrmRecord recorder(this, m_dialogs, *Mp3Encoder, *WMAEncoder, m_disc.CDHandle);
        m_dialogs.ShowModal(recorder);
    });
    connect(aEditTrackName, &QAction::triggered, this, &TMainForm::aEditTrackNameExecute);
    connect(aID3Edit, &QAction::triggered, this, &TMainForm::aID3EditExecute);
    connect(mnuAbout, &QAction::triggered, this, &TMainForm::mnuAboutClick);
    connect(mnuHomePage, &QAction::triggered, this, [this] { OpenLink(QStringLiteral("https://sonvale.org/")); });
    connect(ActionWavToMp3, &QAction::triggered, this, [this] { ConvertFiles(jkWavToMp3); });
    connect(mnuMp3ToWav, &QAction::triggered, this, [this] { ConvertFiles(jkMp3ToWav); });
    connect(miWAVtoOGG, &QAction::triggered, this, [this] { ConvertFiles(jkWavToOgg); });
    connect(miWAVtoWMA, &QAction::triggered, this, [this] { ConvertFiles(jkWavToWma); });
    connect(miWAVtoFLAC, &QAction::triggered, this, [this] { ConvertFiles(jkWavToFlac); });
    connect(miWAVtoOpus, &QAction::triggered, this, [this] { ConvertFiles(jkWavToOpus); });
    connect(miFLACtoWAV, &QAction::triggered, this, [this] { ConvertFiles(jkFlacToWav); });

    // Commands whose windows and workers are not part of the program yet stay disabled.
    // The tray: nothing for a disc image, and no message either way.
    connect(EjectMenu, &QAction::triggered, this, [this] { AkripEject(m_disc.CDHandle); });
    connect(CloseCdRomMenu, &QAction::triggered, this, [this] { AkripCloseTray(m_disc.CDHandle); });
    connect(VolumeControlMenu, &QAction::triggered, this, [this] {
        // The sound settings' output devices.
        const std::string program = FindProgram("pavucontrol");
        if (program.empty())
            m_dialogs.MessageBox(QStringLiteral("The volume control needs the program pavucontrol. Install it with:\n"
                                                "sudo apt-get install pavucontrol"),
                                 Dialogs::Icon::Information);
        else
            QProcess::startDetached(QString::fromStdString(program), {QStringLiteral("--tab=3")});
    });
    connect(mnuHelp, &QAction::triggered, this, [this] { OpenLink(QStringLiteral("Tavrel.html")); });
    // The recent-file lists of two players run under Wine, in Wine's registry.
    const auto clear = [this](const char* exe, const QString& ask, int (*clearer)(const std::string&)) {
        if (WineProgramRunning(exe) &&
            m_dialogs.AskYesNo(ask, Dialogs::Icon::Information, Dialogs::Answer::No) != Dialogs::Answer::Yes)
            return;
        const std::string registry = WineUserRegistry();
        const int count = clearer(registry);
        // A list that could not be cleared still reads "0 ... deleted", with the reason beside it,
        // so nobody takes a history that is still there for an empty one.
        if (count < 0)
            m_dialogs.MessageBox(QStringLiteral("0 list records are deleted!\n\nThe list could not be changed: Wine is running, "
                                                "or \"%1\" cannot be read or written. Close every Windows program "
                                                "and try again.\n\nTo end Wine: wineserver -k")
                                     .arg(QString::fromStdString(registry)),
                                 Dialogs::Icon::Warning);
        else
            m_dialogs.MessageBox(QString::number(count) + QStringLiteral(" list records are deleted!"), Dialogs::Icon::Information);
    };
    connect(miRealOnePlayer, &QAction::triggered, this, [clear] {
        clear("realplay.exe", QStringLiteral("Please close RealOne Player firstly.Continue?"), ClearRealPlayerHistory);
    });
    connect(miWindowsMediaPlayer, &QAction::triggered, this, [clear] {
        clear("wmplayer.exe", QStringLiteral("Please close Windows Media Player firstly.Continue?"), ClearMediaPlayerHistory);
    });
}

void TMainForm::BuildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(ActionWavToMp3);
    file->addAction(mnuMp3ToWav);
    file->addAction(miWAVtoOGG);
    file->addAction(miWAVtoWMA);
    file->addAction(miWAVtoFLAC);
    file->addAction(miWAVtoOpus);
    file->addAction(miFLACtoWAV);
    file->addSeparator();
    file->addAction(Openoutputdirectory1);
    file->addSeparator();
    file->addAction(bRefresh);
    file->addSeparator();
    file->addAction(EjectMenu);
    file->addAction(CloseCdRomMenu);
    file->addSeparator();
    file->addAction(ActionExit);

    QMenu* actions = menuBar()->addMenu(QStringLiteral("&Actions"));
    actions->addAction(ActionExtract);
    actions->addSeparator();
    actions->addAction(ActionRecord);
    actions->addSeparator();
    actions->addAction(aPlay);
    actions->addAction(aPause);
    actions->addAction(aStop);
    actions->addSeparator();
    actions->addAction(VolumeControlMenu);
    actions->addSeparator();
    QMenu* history = actions->addMenu(QStringLiteral("&Clear History"));
    history->addAction(miRealOnePlayer);
    history->addAction(miWindowsMediaPlayer);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->addAction(ActionSelectAll);
    edit->addAction(ActionNoSelect);
    edit->addSeparator();
    edit->addAction(aQueryCDDB);
    edit->addAction(aQueryMusicBrainz);
    edit->addSeparator();
    edit->addAction(aEditTrackName);
    edit->addAction(aID3Edit);
    edit->addSeparator();
    edit->addAction(ActionOptionSet);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(mnuHelp);
    help->addSeparator();
    help->addAction(mnuHomePage);
    help->addSeparator();
    help->addAction(mnuAbout);

    // Menu entries whose caption differs from their action's.
    const auto menuCaption = [](QMenu* menu, QAction* action, const QString& caption) {
        auto* item = new QAction(caption, menu);
        // Shown in the menu; the key itself stays the action's (two window-wide owners of one
        // key would make it ambiguous, and it would do nothing).
        item->setShortcut(action->shortcut());
        item->setShortcutContext(Qt::WidgetShortcut);
        item->setIcon(action->icon());
        item->setStatusTip(action->statusTip());
        item->setEnabled(action->isEnabled());
        QObject::connect(item, &QAction::triggered, action, &QAction::trigger);
        QObject::connect(action, &QAction::enabledChanged, item, &QAction::setEnabled);
        menu->insertAction(action, item);
        menu->removeAction(action);
    };
    menuCaption(file, ActionWavToMp3, QStringLiteral("&WAV to MP3..."));
    menuCaption(actions, ActionRecord, QStringLiteral("&Record..."));
    menuCaption(edit, ActionOptionSet, QStringLiteral("&Options..."));
}

void TMainForm::BuildToolBar()
{
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->addAction(ActionExtract);
    ToolBar1->addAction(ActionWavToMp3);
    ToolBar1->addSeparator();
    ToolBar1->addAction(ActionRecord);
    ToolBar1->addSeparator();
    ToolBar1->addAction(ActionOptionSet);
    ToolBar1->addSeparator();
    ToolBar1->addAction(ActionExit);
    // The buttons show the short command names; their tool tips give the hints.
    ActionExtract->setIconText(QStringLiteral("Extract"));
    ActionWavToMp3->setIconText(QStringLiteral("Encode"));
    ActionRecord->setIconText(QStringLiteral("Record"));
    ActionOptionSet->setIconText(QStringLiteral("Options"));
    ActionExit->setIconText(QStringLiteral("Exit"));
    // Flat, in its own colour, not the style's gradient.
    Paint(ToolBar1, QPalette::Window, ToolBarColour);
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { background: rgb(228, 228, 255); border: none; }"));
    ToolBar1->setIconSize(QSize(24, 24));
}

void TMainForm::BuildClientArea()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    Paint(client, QPalette::Window, WindowColour);
    auto* layout = new QVBoxLayout(client);
    // The list fills the window below the tool bar, 10 pixels in from the sides; the status bar
    // sits under it, 10 pixels above the bottom edge.
    layout->setContentsMargins(EdgeGap, 0, EdgeGap, EdgeGap);
    layout->setSpacing(0);

    ListView1 = new QTreeWidget(client);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setColumnCount(4);
    ListView1->setHeaderLabels({QStringLiteral("No."), QStringLiteral("Title"), QStringLiteral("Length(min)"),
                                QStringLiteral("Size(MB)")});
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setUniformRowHeights(true);
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsMovable(false);
    ListView1->setColumnWidth(colNo, 90);
    ListView1->setColumnWidth(colTitle, 230);
    ListView1->setColumnWidth(colLength, 100);
    ListView1->setColumnWidth(colSize, 90);
    ListView1->headerItem()->setTextAlignment(colLength, Qt::AlignCenter);
    ListView1->headerItem()->setTextAlignment(colSize, Qt::AlignCenter);
    Paint(ListView1, QPalette::Base, ListColour);
    layout->addWidget(ListView1, 1);

    PopupMenu1 = new QMenu(ListView1);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->addAction(ActionExtract);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(ActionSelectAll);
    PopupMenu1->addAction(ActionNoSelect);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(aPlay);
    PopupMenu1->addAction(aPause);
    PopupMenu1->addAction(aStop);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(aEditTrackName);
    ListView1->viewport()->installEventFilter(this);
    // The header keeps the style's own colours, also right of its last column.
    ListView1->header()->setPalette(QApplication::palette(ListView1->header()));
    ListView1->header()->setAutoFillBackground(true);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(ListView1->viewport()->mapToGlobal(at)); });
    connect(ListView1, &QTreeWidget::itemChanged, this, &TMainForm::ListItemChanged);
    connect(ListView1, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateActions(); });
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (ListView1->currentItem() && ListView1->currentItem()->isSelected())
            aEditTrackNameExecute();
    });

    StatusBar1 = new QStatusBar(client);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    m_statusPanel = new QLabel(StatusBar1);
    StatusBar1->addWidget(m_statusPanel, 1);
    Paint(StatusBar1, QPalette::Window, StatusBarColour);
    layout->addWidget(StatusBar1);

    setCentralWidget(client);
    // The window's own status bar would sit flush with the edge; this one is part of the client.
    setStatusBar(nullptr);
}

QString TMainForm::StatusText() const
{
    return m_statusPanel->text();
}

void TMainForm::SetStatusText(const QString& text)
{
    m_statusPanel->setText(text);
}

void TMainForm::UpdateActions()
{
    QTreeWidgetItem* current = ListView1->currentItem();
    m_model.SelectedRow = current && current->isSelected() ? ListView1->indexOfTopLevelItem(current) : -1;
    ActionExtract->setEnabled(m_model.ExtractEnabled());
    aQueryCDDB->setEnabled(m_model.QueryEnabled());
    aQueryMusicBrainz->setEnabled(m_model.QueryEnabled());
    aEditTrackName->setEnabled(m_model.RenameEnabled());
    aPlay->setEnabled(m_model.PlayEnabled());
    aPause->setEnabled(m_model.PauseEnabled());
    aStop->setEnabled(m_model.StopEnabled());
}

void TMainForm::FormCreate()
{
    LoadSaveOptions(true);
    CheckLoadedNaming(Options);
    // What the settings file said that could not be used, shown a while over the drive's status
    // once the window is up (the first, and "(+1)" for each more; all of them in the tip).
    QStringList notes;
    for (const std::string& note : OptionsLoadNotes)
        notes << QString::fromStdString(note);
    if (!notes.isEmpty()) {
        StatusBar1->setToolTip(notes.join(QLatin1Char('\n')));
        const QString first =
            notes.size() == 1 ? notes.front() : notes.front() + QStringLiteral(" (+%1)").arg(notes.size() - 1);
        QTimer::singleShot(0, this, [this, first] { StatusBar1->showMessage(first, 20000); });
    }
    Mp3Encoder = std::make_unique<TMp3EncodeProcess>(m_dialogs);
    WMAEncoder = std::make_unique<TWMAEncodeProcess>(m_dialogs);
}

void TMainForm::FormCloseQuery()
{
    if (Mp3Encoder->Engaged)
        Mp3Encoder->KillProcess(0);
    if (WMAEncoder->Engaged)
        WMAEncoder->KillProcess(0);
}

void TMainForm::FormShow()
{
    // Centred on the screen the first time it appears.
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    // A drive that misbehaves at start-up must not keep the program from starting: the status
    // bar already says what is wrong.
    try {
        m_disc.FormShow();
    } catch (...) {
    }
    ListView1->setFocus();  // the keys move in the list from the start
    // A disc image that cannot be opened is said where a user starting from a terminal sees it.
    for (const std::string& problem : DiscImageProblems())
        std::fprintf(stderr, "sonvale: %s\n", problem.c_str());
}

void TMainForm::FormActivate()
{
    if (m_activationReported)
        return;
    m_activationReported = true;
    if (m_disc.CDHandle == 0)
        ShowNoDeviceHint();
    if (m_disc.NoAudioCD)
        m_dialogs.MessageBox(QStringLiteral("Please check if have Audio CD in your CD device."), Dialogs::Icon::Error);
}

void TMainForm::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // After the activation has been handled, so a message box does not open inside it.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !m_activationReported)
        QMetaObject::invokeMethod(this, &TMainForm::FormActivate, Qt::QueuedConnection);
}

void TMainForm::ShowDisc()
{
    const QSignalBlocker blocker(ListView1);
    ListView1->clear();
    for (const TTrackRow& row : m_disc.Rows) {
        auto* item = new QTreeWidgetItem(ListView1);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(colNo, row.Checked ? Qt::Checked : Qt::Unchecked);
        item->setText(colNo, QString::number(row.TrackNumber));
        item->setText(colTitle, QString::fromStdString(row.Title));
        item->setText(colLength, QString::fromStdString(row.LengthText));
        item->setText(colSize, QString::fromStdString(row.SizeText));
        item->setTextAlignment(colLength, Qt::AlignCenter);
        item->setTextAlignment(colSize, Qt::AlignCenter);
    }
    SetStatusText(QString::fromStdString(m_disc.StatusText()));
    UpdateActions();
}

void TMainForm::ListItemChanged(QTreeWidgetItem* item)
{
    const int row = ListView1->indexOfTopLevelItem(item);
    if (row >= 0 && row < static_cast<int>(m_disc.Rows.size()))
        m_disc.Rows[row].Checked = item->checkState(colNo) == Qt::Checked;
    UpdateActions();
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

bool TMainForm::FormClose()
{
    try {
        m_disc.FormClose();
        m_model.StopPlayback();
        LoadSaveOptions(false);
    } catch (const EProfileWriteError& e) {
        // Closing now would lose the titles or the settings: say so and stay open, so the user
        // can make the folder writable and close again.
        m_dialogs.MessageBox(QString::fromUtf8(e.what()), Dialogs::Icon::Error);
        return false;
    }
    return true;
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    FormCloseQuery();
    if (FormClose())
        event->accept();
    else
        event->ignore();
}

void TMainForm::ActionSelectAllExecute()
{
    // Each change reaches the row through ListItemChanged.
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setCheckState(colNo, Qt::Checked);
}

void TMainForm::ActionNoSelectExecute()
{
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setCheckState(colNo, Qt::Unchecked);
}

void TMainForm::OpenOutputDirectoryClick()
{
    const QString folder = QString::fromStdString(Options.CommonOptions.OutputFolder);
    if (QDir(folder).exists() && !folder.isEmpty()) {
        if (!m_dialogs.OpenWithShell(folder))
            m_dialogs.MessageBox(QStringLiteral("Could not open ") + folder +
                                     QStringLiteral(": no program to show folders was found (install xdg-utils)."),
                                 Dialogs::Icon::Information);
    } else
        m_dialogs.MessageBox(folder + QStringLiteral(",") + QStringLiteral("The output directory does not exist."),
                             Dialogs::Icon::Error);
}

std::vector<std::string> TMainForm::ExtractItems() const
{
    return m_model.ExtractItems();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    // Ctrl+click toggles the row's check box and selects the row (the list alone would take the
    // selection away instead).
    if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ControlModifier)) {
            if (QTreeWidgetItem* item = ListView1->itemAt(e->position().toPoint())) {
                ListView1->setCurrentItem(item);
                item->setSelected(true);
                item->setCheckState(colNo, item->checkState(colNo) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::ActionExtractExecute()
{
    if (!m_disc.AnyTrackChecked())
        return;  // the action's rule, evaluated again when it runs
    if (m_disc.CDHandle == 0) {
        m_dialogs.MessageBox(QStringLiteral("Please access CD devices rightly above all!"), Dialogs::Icon::Information);
        return;
    }
    if (!m_disc.AnyTrackChecked()) {
        m_dialogs.MessageBox(QStringLiteral("Please select a track at least!"), Dialogs::Icon::Information);
        return;
    }
    const QString folder = QString::fromStdString(Options.CommonOptions.OutputFolder);
    if (folder.isEmpty() || !QDir(folder).exists()) {
        const QString question = folder + QStringLiteral(",") + QStringLiteral("The output directory does not exist.") +
                                 QStringLiteral("\n") + QStringLiteral("creates a new directory?");
        if (m_dialogs.AskYesNo(question, Dialogs::Icon::Information, Dialogs::Answer::Yes) != Dialogs::Answer::Yes)
            return;
        if (!MakeOutputFolder(folder.toStdString())) {
            m_dialogs.MessageBox(QStringLiteral("Cannot create ") + folder, Dialogs::Icon::Error);
            return;
        }
    }
    StopPlaybackBeforeJob();
    std::vector<std::string> items = ExtractItems();
    if (!m_disc.OutputFolderExists())
        return;
    RunJob(jkRipTracks, m_disc.CDHandle, std::move(items));
}

void TMainForm::ConvertFiles(TJobKind kind)
{
    const QString filter = kind == jkMp3ToWav    ? QStringLiteral("MP3 file(*.mp3)|*.mp3| Any file(*.*)|*.*")
                           : kind == jkFlacToWav ? QStringLiteral("FLAC file(*.flac)|*.flac| Any file(*.*)|*.*")
                                                 : QStringLiteral("Sound file(*.wav)|*.wav| Any file(*.*)|*.*");
    const QStringList files = m_dialogs.OpenFiles(filter, true);
    if (files.isEmpty())
        return;
    if (!m_disc.OutputFolderExists())
        return;
    std::vector<std::string> items;
    for (const QString& file : files)
        items.push_back(file.toStdString());
    RunJob(kind, 0, std::move(items));
}

void TMainForm::RunJob(TJobKind kind, HCDROM cdHandle, std::vector<std::string> items)
{
    TRipForm form(this, m_dialogs, *Mp3Encoder, *WMAEncoder, kind, cdHandle, std::move(items));
    try {
        form.Start();
    } catch (const std::exception& e) {
        // Whatever the job, the user learns why nothing was converted.
        m_dialogs.MessageBox(QString::fromUtf8(e.what()), Dialogs::Icon::Error);
        return;
    }
    form.RunModal();
    UpdateActions();
}

void TMainForm::aQueryCDDBExecute()
{
    if (m_disc.Rows.empty())
        return;  // the action's rule, evaluated again when it runs
    TTOC toc{};
    if (!ReadMsfToc(m_disc.CDHandle, toc)) {
        m_dialogs.MessageBox(QStringLiteral("Error while reading TOC information!"), Dialogs::Icon::Error);
        return;
    }
    TfrmQueryCDDB dialog(this, toc.FirstTrack, toc.LastTrack, m_disc.CDHandle,
                         [this](const TCddbFields& fields) { ApplyLookup(fields); });
    dialog.exec();
}

void TMainForm::ApplyLookup(const TCddbFields& fields)
{
    ApplyCddbResult(fields, m_disc.Rows, Options.CDInfo);
    ShowDisc();
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setTextAlignment(colTitle, Qt::AlignLeft | Qt::AlignVCenter);
}

void TMainForm::aQueryMusicBrainzExecute()
{
    if (m_disc.Rows.empty())
        return;  // the action's rule, evaluated again when it runs
    auto lookup = std::make_unique<TMusicBrainzLookup>(m_disc.CDHandle, Options.MusicBrainz);
    lookup->OnChoose = [this](const std::vector<TMbRelease>& releases) {
        TfrmChooseRelease choice(this, releases);
        m_dialogs.ShowModal(choice);
        return choice.Chosen();
    };
    TfrmStopQuery wait(this, std::move(lookup), QStringLiteral("Query MusicBrainz..."),
                       {QStringLiteral("No match found,perhaps:"), QStringLiteral("1.No information in MusicBrainz"),
                        QStringLiteral("2.error MusicBrainz options"), QStringLiteral("3.check the network")},
                       [this](const TCddbFields& fields) { ApplyLookup(fields); });
    m_dialogs.ShowModal(wait);
}

void TMainForm::OpenLink(const QString& link)
{
    OpenLinkOrSay(m_dialogs, link);
}

void TMainForm::ShowNoDeviceHint()
{
    QStringList problems;
    for (const std::string& p : DiscImageProblems())
        problems << QString::fromStdString(p);
    TfrmNoDeviceHint hint(this, problems, [this](const QString& link) { OpenLink(link); });
    m_dialogs.ShowModal(hint);
}

void TMainForm::ActionOptionSetExecute()
{
    TOptionSetForm options(this, m_dialogs, m_disc);
    m_dialogs.ShowModal(options);
    // The list is rebuilt only for another drive's disc: Cancel, or OK on the same drive, keeps
    // the selection and what the status bar says of a playing track.
    if (options.DriveChanged())
        ShowDisc();
}

void TMainForm::aEditTrackNameExecute()
{
    QTreeWidgetItem* item = ListView1->currentItem();
    const int row = item ? ListView1->indexOfTopLevelItem(item) : -1;
    if (row < 0 || row >= static_cast<int>(m_disc.Rows.size()) || !item->isSelected())
        return;
    TfrmEditTrackName rename(this, QString::fromStdString(m_disc.Rows[static_cast<std::size_t>(row)].Title));
    if (m_dialogs.ShowModal(rename) != QDialog::Accepted)
        return;
    m_disc.Rows[static_cast<std::size_t>(row)].Title = rename.Title().toStdString();
    const QSignalBlocker blocker(ListView1);
    item->setText(colTitle, rename.Title());
}

void TMainForm::aID3EditExecute()
{
    TfrmID3Edit editor(this, m_dialogs);
    m_dialogs.ShowModal(editor);
}

void TMainForm::mnuAboutClick()
{
    TfrmAbout about(this, [this](const QString& link) { OpenLink(link); });
    m_dialogs.ShowModal(about);
}
