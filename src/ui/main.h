#pragma once
// The main window: the track list of the disc in the open drive, and every command of the
// program. Lives on the UI thread for the program's lifetime.

#include "Dialogs.h"
#include "DiscScan.h"
#include "MediaMonitor.h"
#include "QueryCddb.h"
#include "Mp3EncodeThread.h"
#include "WMAEncodeThread.h"
#include "mainModel.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QMenu;
class QStatusBar;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;
class QLabel;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // monitor: media arrival and removal in the CD drives; none when null.
    explicit TMainForm(Dialogs& dialogs, std::unique_ptr<TMediaMonitor> monitor = nullptr, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Track list columns.
    enum Column { colNo, colTitle, colLength, colSize };

    // Re-evaluates every action's enabling rule; runs whenever the state behind a rule changes.
    void UpdateActions();

    // The program's two encoder runs; the jobs use them one run at a time.
    std::unique_ptr<TMp3EncodeProcess> Mp3Encoder;
    std::unique_ptr<TWMAEncodeProcess> WMAEncoder;

    // The drive, its disc and the track list behind ListView1.
    TDiscScan& Disc() { return m_disc; }
    // The window's logic: playback, the actions' rules.
    TMainModel& Model() { return m_model; }

    // Runs each time the window becomes the active one: tells the user, once after start-up,
    // that no drive was found or that the drive holds no audio disc.
    void FormActivate();

    // The Extract command's list: for every checked row, its position (from 1) in two digits and
    // its title ("03Intro").
    std::vector<std::string> ExtractItems() const;

    // The text of the status bar's one panel.
    QString StatusText() const;
    void SetStatusText(const QString& text);

    // Actions, named as the program's commands are.
    QAction* ActionExtract;
    QAction* ActionSelectAll;
    QAction* ActionNoSelect;
    QAction* ActionOptionSet;
    QAction* ActionExit;
    QAction* ActionRecord;
    QAction* ActionWavToMp3;
    QAction* aPlay;
    QAction* aPause;
    QAction* aStop;
    QAction* aID3Edit;
    QAction* aEditTrackName;
    QAction* aQueryCDDB;
    QAction* aQueryMusicBrainz;

    // Menu items without an action of their own.
    QAction* mnuMp3ToWav;
    QAction* miWAVtoOGG;
    QAction* miWAVtoWMA;
    QAction* miWAVtoFLAC;
    QAction* miWAVtoOpus;
    QAction* miFLACtoWAV;
    QAction* Openoutputdirectory1;
    QAction* bRefresh;
    QAction* EjectMenu;
    QAction* CloseCdRomMenu;
    QAction* VolumeControlMenu;
    QAction* miRealOnePlayer;
    QAction* miWindowsMediaPlayer;
    QAction* mnuHelp;
    QAction* mnuHomePage;
    QAction* mnuAbout;

    QToolBar* ToolBar1;
    QTreeWidget* ListView1;
    QMenu* PopupMenu1;
    QStatusBar* StatusBar1;

protected:
    // No menu of the tool bars: the tool bar is part of the window.
    QMenu* createPopupMenu() override { return nullptr; }
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    // Stops running encoders; the close is never refused for them.
    void FormCloseQuery();
    // False when the close must be abandoned (the options could not be saved).
    bool FormClose();

    // The hint shown once after start-up when no drive is open, naming the disc images that
    // could not be opened.
    void ShowNoDeviceHint();
    // Opens a link of the program's dialogs: a web address, or a page of the help beside the
    // program ("drives.html#images").
    void OpenLink(const QString& link);

public:
    // Shows Rows and the status text.
    void ShowDisc();

private:
    void ListItemChanged(QTreeWidgetItem* item);

    void ActionSelectAllExecute();
    void ActionNoSelectExecute();
    void OpenOutputDirectoryClick();
    void ActionExtractExecute();
    void ActionOptionSetExecute();
    void aEditTrackNameExecute();
    void aID3EditExecute();
    void mnuAboutClick();
    // The lookup: the table's first and last track, then the settings dialog.
    void aQueryCDDBExecute();
    void aQueryMusicBrainzExecute();
    // A lookup's result into the track list and the disc's information.
    void ApplyLookup(const TCddbFields& fields);
    // WAV to MP3, MP3 to WAV, WAV to OGG, WAV to WMA: files chosen, then the job.
    void ConvertFiles(TJobKind kind);
    // Shows the job window for the job until it is over; an error starting it is shown.
    void RunJob(TJobKind kind, HCDROM cdHandle, std::vector<std::string> items);
    // Extract stops a playing track first. The CD player is not part of the program yet, so
    // nothing can be playing; this is where its Stop command is called once it is.
    void StopPlaybackBeforeJob() { m_model.StopPlayback(); }

    void BuildActions();
    void BuildMenus();
    void BuildToolBar();
    void BuildClientArea();

    Dialogs& m_dialogs;
    TDiscScan m_disc;
    TMainModel m_model;
    std::unique_ptr<TMediaMonitor> m_monitor;
    QLabel* m_statusPanel;
    bool m_shown = false;
    bool m_activationReported = false;
};
