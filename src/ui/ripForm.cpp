#include "ripForm.h"

#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadialGradient>
#include <QStatusBar>

namespace {

// The window's picture: a disc, drawn here rather than loaded.
QPixmap DiscPicture(int size)
{
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient shine(size * 0.35, size * 0.35, size * 0.7);
    shine.setColorAt(0, QColor(250, 250, 255));
    shine.setColorAt(0.5, QColor(180, 200, 240));
    shine.setColorAt(1, QColor(120, 140, 200));
    p.setBrush(shine);
    p.setPen(QPen(QColor(90, 100, 150), 1));
    p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    p.setBrush(QColor(214, 223, 247));
    p.drawEllipse(QRectF(size * 0.38, size * 0.38, size * 0.24, size * 0.24));
    return picture;
}

}  // namespace

TRipForm::TRipForm(QWidget* owner, Dialogs& dialogs, TMp3EncodeProcess& mp3Encoder, TWMAEncodeProcess& wmaEncoder,
                   TJobKind kind, HCDROM cdHandle, std::vector<std::string> items)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_owner(owner)
{
    setObjectName(QStringLiteral("RipForm"));
    setModal(true);
    setFont(QFont(QStringLiteral("Verdana"), 9));
    setFixedSize(273, 117);

    GroupBox1 = new QGroupBox(QStringLiteral("Extracting"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(6, 2, 261, 78);
    Label10 = new QLabel(QStringLiteral("Time elapsed:"), GroupBox1);
    Label10->setGeometry(10, 18, 110, 16);
    Label1 = new QLabel(GroupBox1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(122, 18, 80, 16);
    Label20 = new QLabel(QStringLiteral("Time estimated:"), GroupBox1);
    Label20->setGeometry(10, 36, 110, 16);
    Label2 = new QLabel(GroupBox1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(122, 36, 80, 16);
    Image1 = new QLabel(GroupBox1);
    Image1->setGeometry(215, 14, 36, 36);
    Image1->setPixmap(DiscPicture(36));
    FlatGauge1 = new QProgressBar(GroupBox1);
    FlatGauge1->setObjectName(QStringLiteral("FlatGauge1"));
    FlatGauge1->setGeometry(10, 56, 241, 16);
    FlatGauge1->setRange(0, 100);
    FlatGauge1->setValue(0);
    FlatGauge1->setTextVisible(false);
    Label3 = new QLabel(QStringLiteral("Initializing..."), GroupBox1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(FlatGauge1->geometry());
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setAttribute(Qt::WA_TransparentForMouseEvents);
    Label3->hide();
    btStop = new QPushButton(QStringLiteral("Stop"), this);
    btStop->setObjectName(QStringLiteral("btStop"));
    btStop->setGeometry(192, 86, 75, 25);
    // A stray Enter or Space must not end a rip: Stop is no default button and takes no focus
    // (the mouse, or Escape as the close box, ends the job).
    btStop->setAutoDefault(false);
    btStop->setDefault(false);
    btStop->setFocusPolicy(Qt::NoFocus);
    connect(btStop, &QPushButton::clicked, this, &TRipForm::btStopClick);
    lbEncoding = new QLabel(this);
    lbEncoding->setObjectName(QStringLiteral("lbEncoding"));
    lbEncoding->setGeometry(10, 84, 257, 16);
    lbEncoding->hide();

    m_job = std::make_unique<TRipJob>(*this, dialogs, mp3Encoder, wmaEncoder, kind, cdHandle, std::move(items));
}

TRipForm::~TRipForm()
{
    // The job goes while the window still exists: its last word may be to this view.
    m_job.reset();
}

void TRipForm::RunModal()
{
    if (!m_over)
        exec();
}

void TRipForm::DisplayChanged(const TRipDisplay& d)
{
    setWindowTitle(QString::fromStdString(d.Caption));
    GroupBox1->setTitle(QString::fromStdString(d.Stage));
    Label1->setText(QString::fromStdString(d.Elapsed));
    Label2->setText(QString::fromStdString(d.Estimated));
    FlatGauge1->setValue(std::clamp(d.Bar, 0, 100));
    FlatGauge1->setTextVisible(d.PercentShown);
    Label3->setVisible(d.InitializingShown);
    Label3->raise();
    if (d.EncodingShown && lbEncoding->isHidden()) {
        // Several encoders: a line under the group box for what they work on.
        setFixedSize(273, 135);
        btStop->move(192, 104);
        lbEncoding->show();
    }
    lbEncoding->setText(lbEncoding->fontMetrics().elidedText(QString::fromStdString(d.Encoding), Qt::ElideRight,
                                                             lbEncoding->width()));
}

void TRipForm::CloseJob()
{
    m_over = true;
    // A secure rip's verdicts in the main window's status line (unless a read offset hint is
    // there, which says more).
    if (const TRipLog& log = m_job->SecureRecord(); !log.Tracks.empty() && log.OffsetHint.empty()) {
        Notice(RipLogEndText(log));
        if (auto* line = m_owner ? m_owner->findChild<QStatusBar*>(QStringLiteral("StatusBar1")) : nullptr)
            line->setToolTip(QString::fromStdString(RipLogEndDetail(log)));
    }
    if (isVisible())
        done(QDialog::Accepted);
}

void TRipForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_placed && m_owner) {
        // Centred over the main window, halves cut toward zero.
        m_placed = true;
        const QRect main = m_owner->frameGeometry();
        const QRect self = frameGeometry();
        move(main.left() + (main.width() - self.width()) / 2, main.top() + (main.height() - self.height()) / 2);
    }
    if (m_over)  // the job ended before the window could show
        QMetaObject::invokeMethod(this, [this] { done(QDialog::Accepted); }, Qt::QueuedConnection);
}

void TRipForm::btStopClick()
{
    m_job->btStopClick();
}

void TRipForm::closeEvent(QCloseEvent* event)
{
    m_job->FormClose();
    m_over = true;
    QDialog::closeEvent(event);
}

void TRipForm::reject()
{
    // Escape ends the job as the close box does.
    m_job->FormClose();
    m_over = true;
    QDialog::reject();
}

void TRipForm::Notice(const std::string& text)
{
    // The main window's own status line (its QMainWindow status bar would be a second one,
    // made on first use under the first).
    if (!m_owner)
        return;
    if (auto* line = m_owner->findChild<QStatusBar*>(QStringLiteral("StatusBar1")))
        line->showMessage(QString::fromStdString(text), 20000);
    else if (auto* main = qobject_cast<QMainWindow*>(m_owner))
        main->statusBar()->showMessage(QString::fromStdString(text));
}
