#pragma once
// The recorder window (TfrmRecord) and its new-file dialog (TfrmNewRecordFile). The window shows
// a TRecorder and passes it the user's clicks; the MP3 copy runs as a job in the job window.
// Modal; UI thread.

#include "Dialogs.h"
#include "RecordForm.h"

#include <QDialog>

#include <map>

class QAction;
class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QSlider;
class TAfStartButton;
class TMp3EncodeProcess;
class TWMAEncodeProcess;

class TfrmNewRecordFile : public QDialog {
    Q_OBJECT
public:
    explicit TfrmNewRecordFile(QWidget* owner);

    QComboBox* cbBitSamples;
    QRadioButton* rb8bit;
    QRadioButton* rb16bit;
    QRadioButton* rbMono;
    QRadioButton* rbStereo;
    QPushButton* bOK;
    QPushButton* bCancel;
};

class TfrmRecord : public QDialog {
    Q_OBJECT
public:
    // driveHandle: the main window's drive, for the MP3 copy (0: none open).
    TfrmRecord(QWidget* owner, Dialogs& dialogs, TMp3EncodeProcess& mp3, TWMAEncodeProcess& wma, int32_t driveHandle,
               std::unique_ptr<TWaveAudio> device = std::make_unique<TWaveAudio>());

    TRecorder& Recorder() { return m_recorder; }

    QLabel* lbState;
    QLabel* panRecordTime;
    QLabel* lbPosition;
    QLabel* lbLength;
    QSlider* TrackBar1;
    std::map<TRecorder::TButton, QPushButton*> MediaPlayer1;
    TAfStartButton* AfStartButton1;
    QMenu* PopupMenu1;
    QAction* miNew;
    QAction* miOpen;
    QAction* miSave;
    QAction* miSaveAs;
    QAction* miUndo;
    QAction* miRecordOptionSet;
    QAction* miSaveMp3;
    QAction* pmExit;
    QLabel* lHomePage;

    // "&Recording Control...": the sound settings' input page.
    void miRecordOptionSetClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void showEvent(QShowEvent* event) override;

private:
    void Show();

    Dialogs& m_dialogs;
    TRecorder m_recorder;
    bool m_closing = false;
    bool m_placed = false;
};
