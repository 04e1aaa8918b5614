#include "RecordWindow.h"

#include "Global.h"
#include "MinorDialogs.h"
#include "Process.h"
#include "ripForm.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QVBoxLayout>

// --- the new-file dialog -----------------------------------------------------------------------

TfrmNewRecordFile::TfrmNewRecordFile(QWidget* owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("frmNewRecordFile"));
    setWindowTitle(QStringLiteral("New sound file"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Record Property"), this);
    auto* form = new QFormLayout(group);
    cbBitSamples = new QComboBox(group);
    cbBitSamples->setObjectName(QStringLiteral("cbBitSamples"));
    cbBitSamples->setEditable(true);
    cbBitSamples->addItems({QStringLiteral("  8000"), QStringLiteral("11025"), QStringLiteral("12000"), QStringLiteral("16000"),
                            QStringLiteral("22050"), QStringLiteral("24000"), QStringLiteral("32000"), QStringLiteral("44100"),
                            QStringLiteral("48000")});
    cbBitSamples->setCurrentIndex(7);
    form->addRow(QStringLiteral("Bitrate\uFF1A"), cbBitSamples);
    const auto pair = [&](const QString& label, QRadioButton*& a, const QString& ta, QRadioButton*& b, const QString& tb) {
        auto* row = new QWidget(group);
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        a = new QRadioButton(ta, row);
        b = new QRadioButton(tb, row);
        auto* g = new QButtonGroup(row);
        g->addButton(a);
        g->addButton(b);
        h->addWidget(a);
        h->addWidget(b);
        h->addStretch();
        form->addRow(label, row);
    };
    pair(QStringLiteral("Data\uFF1A"), rb8bit, QStringLiteral("8bit"), rb16bit, QStringLiteral("16bit"));
    pair(QStringLiteral("Mode\uFF1A"), rbMono, QStringLiteral("Mono"), rbStereo, QStringLiteral("Stereo"));
    rb16bit->setChecked(true);
    rbStereo->setChecked(true);
    layout->addWidget(group);
    bOK = new QPushButton(QStringLiteral("OK"), this);
    bOK->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOK);
    buttons->addWidget(bCancel);
    layout->addLayout(buttons);
    connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(sizeHint());
}

// --- the recorder ------------------------------------------------------------------------------

TfrmRecord::TfrmRecord(QWidget* owner, Dialogs& dialogs, TMp3EncodeProcess& mp3, TWMAEncodeProcess& wma,
                       int32_t driveHandle, std::unique_ptr<TWaveAudio> device)
    : QDialog(owner)
    , m_dialogs(dialogs)
    , m_recorder(dialogs, std::move(device))
{
    setObjectName(QStringLiteral("frmRecord"));
    setWindowTitle(QStringLiteral("Record"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Record"), this);
    auto* g = new QVBoxLayout(group);
    auto* top = new QHBoxLayout;
    lbState = new QLabel(group);
    lbState->setObjectName(QStringLiteral("lbState"));
    lbState->setMinimumWidth(120);
    panRecordTime = new QLabel(group);
    panRecordTime->setObjectName(QStringLiteral("panRecordTime"));
    panRecordTime->setToolTip(QStringLiteral("The time length of current recording"));
    panRecordTime->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panRecordTime->setAlignment(Qt::AlignCenter);
    panRecordTime->setMinimumWidth(110);
    top->addWidget(lbState, 1);
    top->addWidget(panRecordTime);
    g->addLayout(top);
    auto* boxes = new QHBoxLayout;
    const auto box = [&](const QString& title, QLabel*& label, const char* name) {
        auto* b = new QGroupBox(title, group);
        auto* v = new QVBoxLayout(b);
        label = new QLabel(b);
        label->setObjectName(QLatin1String(name));
        v->addWidget(label);
        boxes->addWidget(b);
    };
    box(QStringLiteral("Position"), lbPosition, "lbPosition");
    box(QStringLiteral("Length"), lbLength, "lbLength");
    g->addLayout(boxes);
    TrackBar1 = new QSlider(Qt::Horizontal, group);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setRange(0, 400);
    TrackBar1->setTickInterval(40);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    g->addWidget(TrackBar1);
    auto* player = new QHBoxLayout;
    const QStyle* s = style();
    const struct {
        TRecorder::TButton button;
        const char* name;
        QStyle::StandardPixmap icon;
        const char* tip;
    } buttons[] = {
        {TRecorder::btPlay, "btPlay", QStyle::SP_MediaPlay, "Play"},
        {TRecorder::btPause, "btPause", QStyle::SP_MediaPause, "Pause"},
        {TRecorder::btStop, "btStop", QStyle::SP_MediaStop, "Stop"},
        {TRecorder::btNext, "btNext", QStyle::SP_MediaSkipForward, "Next"},
        {TRecorder::btPrev, "btPrev", QStyle::SP_MediaSkipBackward, "Previous"},
        {TRecorder::btStep, "btStep", QStyle::SP_MediaSeekForward, "Step"},
        {TRecorder::btBack, "btBack", QStyle::SP_MediaSeekBackward, "Back"},
        {TRecorder::btRecord, "btRecord", QStyle::SP_DialogYesButton, "Record"},
    };
    for (const auto& b : buttons) {
        auto* button = new QPushButton(s->standardIcon(b.icon), QString(), group);
        button->setObjectName(QLatin1String(b.name));
        button->setToolTip(QString::fromLatin1(b.tip));
        button->setAutoDefault(false);
        if (b.button == TRecorder::btRecord) {
            button->setText(QStringLiteral("\u25CF"));  // a red dot, the usual sign
            button->setIcon(QIcon());
            button->setStyleSheet(QStringLiteral("QPushButton:enabled { color: #c00000; }"));
        }
        MediaPlayer1[b.button] = button;
        player->addWidget(button);
    }
    group->setToolTip(QStringLiteral("The buttons are Play,Stop,Next, Previous, Step, Back, StartRecording, and Eject."));
    g->addLayout(player);
    layout->addWidget(group);

    auto* bottom = new QHBoxLayout;
    AfStartButton1 = new TAfStartButton(this);
    AfStartButton1->SetCaption(QStringLiteral("Start"));
    AfStartButton1->SetImage(SonvaleIcon(20));
    AfStartButton1->setFixedSize(80, 26);
    lHomePage = new QLabel(QStringLiteral("<a href=\"https://sonvale.org/\" style=\"color:#0000ff\">https://sonvale.org/</a>"), this);
    lHomePage->setCursor(Qt::PointingHandCursor);
    connect(lHomePage, &QLabel::linkActivated, this, [this](const QString& link) { OpenLinkOrSay(m_dialogs, link); });
    bottom->addWidget(AfStartButton1);
    bottom->addStretch();
    bottom->addWidget(lHomePage);
    layout->addLayout(bottom);

    PopupMenu1 = new QMenu(this);
    miNew = PopupMenu1->addAction(QStringLiteral("&New..."));
    miOpen = PopupMenu1->addAction(QStringLiteral("&Open..."));
    miSave = PopupMenu1->addAction(QStringLiteral("&Save"));
    miSaveAs = PopupMenu1->addAction(QStringLiteral("Save &As..."));
    miUndo = PopupMenu1->addAction(QStringLiteral("&Undo"));
    PopupMenu1->addSeparator();
    miRecordOptionSet = PopupMenu1->addAction(QStringLiteral("&Recording Control..."));
    PopupMenu1->addSeparator();
    miSaveMp3 = PopupMenu1->addAction(QStringLiteral("&MP3 format"));
    miSaveMp3->setCheckable(true);
    PopupMenu1->addSeparator();
    pmExit = PopupMenu1->addAction(QStringLiteral("&Exit"));
    AfStartButton1->m_PopupMenu = PopupMenu1;
    // The rules, evaluated each time the menu opens.
    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] {
        miSave->setEnabled(m_recorder.SaveEnabled());
        miSaveAs->setEnabled(m_recorder.SaveEnabled());
        miUndo->setEnabled(m_recorder.UndoEnabled());
        miSaveMp3->setChecked(m_recorder.SaveMp3);
    });

    TRecorder& r = m_recorder;
    connect(miNew, &QAction::triggered, this, [&r] { r.New(); });
    connect(miOpen, &QAction::triggered, this, [&r] { r.Open(); });
    connect(miSave, &QAction::triggered, this, [&r] {
        if (r.SaveEnabled())
            r.SaveWork(false);
    });
    connect(miSaveAs, &QAction::triggered, this, [&r] {
        if (r.SaveEnabled())
            r.SaveAs();
    });
    connect(miUndo, &QAction::triggered, this, [&r] { r.Undo(); });
    connect(miRecordOptionSet, &QAction::triggered, this, &TfrmRecord::miRecordOptionSetClick);
    connect(miSaveMp3, &QAction::toggled, this, [&r](bool on) { r.SaveMp3 = on; });
    connect(pmExit, &QAction::triggered, this, &QDialog::close);
    connect(MediaPlayer1[TRecorder::btPlay], &QPushButton::clicked, this, [&r] { r.Play(); });
    connect(MediaPlayer1[TRecorder::btPause], &QPushButton::clicked, this, [&r] { r.Pause(); });
    connect(MediaPlayer1[TRecorder::btStop], &QPushButton::clicked, this, [&r] { r.Stop(); });
    connect(MediaPlayer1[TRecorder::btNext], &QPushButton::clicked, this, [&r] { r.Next(); });
    connect(MediaPlayer1[TRecorder::btPrev], &QPushButton::clicked, this, [&r] { r.Previous(); });
    connect(MediaPlayer1[TRecorder::btRecord], &QPushButton::clicked, this, [&r] { r.Record(); });
    connect(TrackBar1, &QSlider::valueChanged, this, [&r](int v) {
        if (v != r.Slider)
            r.SliderChanged(v);
    });

    r.OnChanged = [this] { Show(); };
    r.OnCloseRequest = [this] { QMetaObject::invokeMethod(this, &QDialog::close, Qt::QueuedConnection); };
    r.DriveOpen = [driveHandle] { return driveHandle != 0; };
    r.RunMp3Job = [this, &mp3, &wma, driveHandle](const std::string& wav) {
        TRipForm job(this, m_dialogs, mp3, wma, jkRecordToMp3, driveHandle, {wav});
        try {
            job.Start();
        } catch (const std::exception& e) {
            m_dialogs.MessageBox(QString::fromUtf8(e.what()), Dialogs::Icon::Error);
            return;
        }
        job.RunModal();
    };
    r.AskNewFile = [this](std::string& rate, int& bits, int& channels) {
        TfrmNewRecordFile dialog(this);
        if (m_dialogs.ShowModal(dialog) != QDialog::Accepted)
            return false;
        rate = dialog.cbBitSamples->currentText().trimmed().toStdString();
        bits = dialog.rb8bit->isChecked() ? 8 : 16;
        channels = dialog.rbMono->isChecked() ? 1 : 2;
        return true;
    };
    miSaveMp3->setChecked(r.SaveMp3);
    Show();
    setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
}

void TfrmRecord::Show()
{
    const TRecorder& r = m_recorder;
    setWindowTitle(QString::fromStdString(r.Caption));
    lbState->setText(QString::fromStdString(r.State));
    panRecordTime->setText(QString::fromStdString(r.RecordTime));
    lbPosition->setText(QString::fromStdString(r.PositionText));
    lbLength->setText(QString::fromStdString(r.LengthText));
    if (TrackBar1->value() != r.Slider) {
        const QSignalBlocker blocker(TrackBar1);
        TrackBar1->setValue(r.Slider);
    }
    for (auto& [button, widget] : MediaPlayer1)
        widget->setEnabled(r.Enabled.count(button) > 0);
}

void TfrmRecord::miRecordOptionSetClick()
{
    // PulseAudio's (or PipeWire's) volume control, on its input devices.
    const std::string program = FindProgram("pavucontrol");
    if (program.empty()) {
        m_dialogs.MessageBox(QStringLiteral("The recording control needs the program pavucontrol. Install it with:\n"
                                            "sudo apt-get install pavucontrol"),
                             Dialogs::Icon::Information);
        return;
    }
    // It lives on after this call (tab 4: the input devices); it is not ours to wait for.
    QProcess::startDetached(QString::fromStdString(program), {QStringLiteral("--tab=4")});
}

void TfrmRecord::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_placed && parentWidget()) {
        m_placed = true;
        const QRect o = parentWidget()->frameGeometry(), d = frameGeometry();
        move(o.left() + (o.width() - d.width()) / 2, o.top() + (o.height() - d.height()) / 2);
    }
}

void TfrmRecord::closeEvent(QCloseEvent* event)
{
    if (!m_closing && !m_recorder.Close()) {
        event->ignore();
        return;
    }
    m_closing = true;
    QDialog::closeEvent(event);
}

void TfrmRecord::reject()
{
    // Escape closes as the close box does.
    if (!m_closing && !m_recorder.Close())
        return;
    m_closing = true;
    QDialog::reject();
}
