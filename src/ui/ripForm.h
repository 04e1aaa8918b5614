#pragma once
// The job window: shows what the rip-and-convert job (TRipJob) is doing, with its Stop button.
// Modal; created for one job, shown until the job closes it, then freed. Lives on the UI thread.

#include "rip.h"

#include <QDialog>

#include <memory>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

class TRipForm : public QDialog, public TRipView {
    Q_OBJECT
public:
    TRipForm(QWidget* owner, Dialogs& dialogs, TMp3EncodeProcess& mp3Encoder, TWMAEncodeProcess& wmaEncoder,
             TJobKind kind, HCDROM cdHandle, std::vector<std::string> items);
    ~TRipForm() override;

    // Starts the job; raises when its first stage cannot start (the window is then not shown).
    void Start() { m_job->Start(); }
    // Shows the window modally until the job is over.
    void RunModal();

    TRipJob& Job() { return *m_job; }

    void DisplayChanged(const TRipDisplay& display) override;
    void CloseJob() override;
    // In the main window's status bar.
    void Notice(const std::string& text) override;

    QGroupBox* GroupBox1;
    QLabel* Label10;
    QLabel* Label20;
    QLabel* Label1;
    QLabel* Label2;
    QProgressBar* FlatGauge1;
    QLabel* Label3;
    QPushButton* btStop;
    QLabel* Image1;
    QLabel* lbEncoding;  // several encoders: "Encoding 3 tracks: 04, 05, 06"

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void btStopClick();

    QWidget* m_owner;
    std::unique_ptr<TRipJob> m_job;
    bool m_over = false;      // the job has closed the window (or asked to, before it was shown)
    bool m_placed = false;
};
