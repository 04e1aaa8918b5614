#include "MinorDialogs.h"

#include "Dialogs.h"
#include "ProgramFolder.h"

#include <QFileInfo>
#include <QFrame>
#include <QIcon>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// Centred on the owner when shown for the first time.
void CentreOn(QWidget* dialog, QWidget* owner)
{
    if (!owner)
        return;
    const QRect o = owner->frameGeometry(), d = dialog->frameGeometry();
    dialog->move(o.left() + (o.width() - d.width()) / 2, o.top() + (o.height() - d.height()) / 2);
}

QLabel* Link(QWidget* parent, const QString& text, const QString& target, std::function<void(const QString&)> open)
{
    auto* label = new QLabel(QStringLiteral("<a href=\"%1\" style=\"color:#0000ff\">%2</a>").arg(target, text.toHtmlEscaped()), parent);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    label->setCursor(Qt::PointingHandCursor);
    QObject::connect(label, &QLabel::linkActivated, label, [open = std::move(open)](const QString& link) {
        if (open)
            open(link);
    });
    return label;
}

void DrawDisc(QPainter& p, const QRectF& r)
{
    QRadialGradient shine(r.left() + r.width() * 0.35, r.top() + r.height() * 0.35, r.width() * 0.7);
    shine.setColorAt(0, QColor(250, 250, 255));
    shine.setColorAt(0.5, QColor(170, 195, 240));
    shine.setColorAt(1, QColor(100, 125, 200));
    p.setBrush(shine);
    p.setPen(QPen(QColor(60, 70, 130), std::max(1.0, r.width() / 32)));
    p.drawEllipse(r);
    p.setBrush(QColor(214, 223, 247));
    const double hole = r.width() * 0.22;
    p.drawEllipse(QRectF(r.center().x() - hole / 2, r.center().y() - hole / 2, hole, hole));
}

}  // namespace

QPixmap SonvaleIcon(int size)
{
    QPixmap icon(size, size);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    DrawDisc(p, QRectF(1, 1, size - 2, size - 2));
    // A note over the disc's lower right: the disc becomes music.
    const double s = size / 32.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 110));
    p.drawEllipse(QRectF(17 * s, 22 * s, 7 * s, 5.5 * s));
    p.drawRect(QRectF(22.5 * s, 8 * s, 1.6 * s, 17 * s));
    QPainterPath flag;
    flag.moveTo(24 * s, 8 * s);
    flag.cubicTo(28 * s, 10 * s, 30 * s, 13 * s, 27.5 * s, 17 * s);
    flag.cubicTo(28 * s, 13.5 * s, 26.5 * s, 12 * s, 24 * s, 11.5 * s);
    p.drawPath(flag);
    return icon;
}

QPixmap SonvaleBanner(int width, int height)
{
    QPixmap banner(width, height);
    QPainter p(&banner);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, width, 0);
    sky.setColorAt(0, QColor(40, 60, 140));
    sky.setColorAt(1, QColor(150, 175, 235));
    p.fillRect(banner.rect(), sky);
    // Rings spreading from a disc at the right, like sound.
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 6; ++i) {
        p.setPen(QPen(QColor(255, 255, 255, 90 - i * 12), 2));
        const double r = height * 0.45 + i * 9;
        p.drawEllipse(QPointF(width - height * 0.8, height / 2.0), r, r);
    }
    DrawDisc(p, QRectF(width - height * 1.3, height * 0.1, height * 0.8, height * 0.8));
    QFont font(QStringLiteral("DejaVu Sans"), std::max(8, height / 3));
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(12, 0, width - 24, height), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Sonvale"));
    return banner;
}

QIcon ActionIcon(const QString& kind)
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 24.0, size / 24.0);
        const QColor ink(40, 60, 140);
        p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        if (kind == QLatin1String("extract")) {
            DrawDisc(p, QRectF(2, 2, 15, 15));
            p.setPen(QPen(QColor(30, 130, 60), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawLine(QPointF(18, 11), QPointF(18, 21));
            p.drawPolyline(QPolygonF({QPointF(14.5, 17.5), QPointF(18, 21), QPointF(21.5, 17.5)}));
        } else if (kind == QLatin1String("encode")) {
            p.setBrush(QColor(250, 250, 255));
            p.drawRoundedRect(QRectF(4, 2, 16, 20), 2, 2);
            p.setBrush(ink);
            p.drawEllipse(QRectF(8, 14, 5, 4));
            p.drawLine(QPointF(12.5, 16), QPointF(12.5, 6.5));
            p.drawLine(QPointF(12.5, 6.5), QPointF(16, 8));
        } else if (kind == QLatin1String("record")) {
            p.setPen(QPen(QColor(120, 0, 0), 1.2));
            p.setBrush(QColor(210, 30, 30));
            p.drawEllipse(QRectF(4, 4, 16, 16));
        } else if (kind == QLatin1String("options")) {
            for (int i = 0; i < 3; ++i) {
                const double y = 5 + i * 7;
                p.drawLine(QPointF(3, y), QPointF(21, y));
                p.setBrush(QColor(250, 250, 255));
                p.drawEllipse(QPointF(i == 1 ? 15 : 8 + i * 3, y), 2.6, 2.6);
            }
        } else if (kind == QLatin1String("exit")) {
            p.setPen(QPen(QColor(170, 30, 30), 2.6, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(6, 6), QPointF(18, 18));
            p.drawLine(QPointF(18, 6), QPointF(6, 18));
        } else if (kind == QLatin1String("play")) {
            p.setBrush(QColor(30, 130, 60));
            p.setPen(Qt::NoPen);
            p.drawPolygon(QPolygonF({QPointF(7, 4), QPointF(20, 12), QPointF(7, 20)}));
        } else if (kind == QLatin1String("pause")) {
            p.setBrush(ink);
            p.setPen(Qt::NoPen);
            p.drawRect(QRectF(6, 5, 4, 14));
            p.drawRect(QRectF(14, 5, 4, 14));
        } else if (kind == QLatin1String("stop")) {
            p.setBrush(ink);
            p.setPen(Qt::NoPen);
            p.drawRect(QRectF(6, 6, 12, 12));
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// --- rename ----------------------------------------------------------------------------------

TfrmEditTrackName::TfrmEditTrackName(QWidget* owner, const QString& title)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("frmEditTrackName"));
    setWindowTitle(QStringLiteral("Rename Track Title"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Please enter the new track title"), this);
    auto* g = new QVBoxLayout(group);
    eName = new QLineEdit(title, group);
    eName->setObjectName(QStringLiteral("eName"));
    eName->setMinimumWidth(280);
    // A flat box: white, with a thin border of its own colour.
    eName->setStyleSheet(QStringLiteral("QLineEdit { background: white; border: 1px solid rgb(175, 168, 153); padding: 2px; }"));
    g->addWidget(eName);
    layout->addWidget(group);
    bOK = new QPushButton(QStringLiteral("&OK"), this);
    bOK->setObjectName(QStringLiteral("bOK"));
    bCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    // Enter is the edit box's own: it closes with OK whatever the box holds.
    bOK->setAutoDefault(false);
    bCancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOK);
    buttons->addWidget(bCancel);
    layout->addLayout(buttons);
    connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(eName, &QLineEdit::returnPressed, this, &QDialog::accept);
    connect(eName, &QLineEdit::textChanged, this, [this](const QString& text) { bOK->setEnabled(!text.isEmpty()); });
    bOK->setEnabled(!title.isEmpty());
    setFixedSize(sizeHint());
}

QString TfrmEditTrackName::Title() const
{
    return eName->text();
}

void TfrmEditTrackName::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOn(this, parentWidget());
    eName->selectAll();
    eName->setFocus();
}

// --- no drive --------------------------------------------------------------------------------

TfrmNoDeviceHint::TfrmNoDeviceHint(QWidget* owner, const QStringList& problems, std::function<void(const QString&)> openLink)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("frmNoDeviceHint"));
    setWindowTitle(QStringLiteral("Sonvale"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* p = new QVBoxLayout(panel);
    const auto line = [&](const QString& text) {
        auto* label = new QLabel(text, panel);
        label->setObjectName(QStringLiteral("line"));
        p->addWidget(label);
    };
    line(QStringLiteral("The Software couldn't find CD devices.Please check the following problems:"));
    line(QStringLiteral("1.CD devices are locked by another application.Such as a CD player or a "));
    line(QStringLiteral("multimedia player, or other CD-ripping software."));
    line(QStringLiteral("2.Your right permissions: reading a CD drive needs read access to its device"));
    line(QStringLiteral("node (/dev/sr0), which members of the group cdrom have: sudo usermod -aG cdrom $USER"));
    p->addWidget(Link(panel, QStringLiteral("Drive permissions"), QStringLiteral("drives.html#permissions"), openLink));
    line(QStringLiteral("3.No CD drive and no disc image: name disc images (.cue, .toc, .nrg) in"));
    line(QStringLiteral("SONVALE_DISC_IMAGES, separated by \":\", for example SONVALE_DISC_IMAGES=/music/disc.cue"));
    p->addWidget(Link(panel, QStringLiteral("Disc images"), QStringLiteral("drives.html#images"), openLink));
    if (!problems.isEmpty()) {
        line(QStringLiteral("These disc images could not be opened:"));
        for (const QString& problem : problems)
            line(QStringLiteral("    ") + problem);
    }
    layout->addWidget(panel);
    bClose = new QPushButton(QStringLiteral("&Close"), this);
    bClose->setObjectName(QStringLiteral("bClose"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bClose);
    layout->addLayout(buttons);
    connect(bClose, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(sizeHint());
    CentreOn(this, owner);
}

QStringList TfrmNoDeviceHint::Texts() const
{
    QStringList texts;
    for (const QLabel* label : findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

// --- about -----------------------------------------------------------------------------------

TfrmAbout::TfrmAbout(QWidget* owner, std::function<void(const QString&)> openLink)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Sonvale"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 10);
    Image1 = new QLabel(this);
    Image1->setPixmap(SonvaleBanner(360, 50));
    Image1->setFixedSize(360, 50);
    layout->addWidget(Image1);
    auto* body = new QHBoxLayout;
    body->setContentsMargins(12, 8, 12, 0);
    Icon1 = new QLabel(this);
    Icon1->setPixmap(SonvaleIcon(32));
    Icon1->setFixedSize(32, 32);
    body->addWidget(Icon1, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    auto* name = new QLabel(QStringLiteral("Sonvale"), this);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    texts->addWidget(name);
    texts->addWidget(new QLabel(QStringLiteral("Version: 2.1   Bulid 20061219"), this));
    auto* separator = new QFrame(this);
    separator->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    texts->addWidget(separator);
    lHomePage = Link(this, QStringLiteral("https://sonvale.org/"), QStringLiteral("https://sonvale.org/"), openLink);
    lHomePage->setText(QStringLiteral("<a href=\"https://sonvale.org/\" style=\"color:#0000ff; text-decoration:underline\">https://sonvale.org/</a>"));
    lUpdate = Link(this, QStringLiteral("Check for Update..."), QStringLiteral("https://sonvale.org/update"), openLink);
    texts->addWidget(lHomePage);
    texts->addWidget(lUpdate);
    body->addLayout(texts, 1);
    layout->addLayout(body);
    bOK = new QPushButton(QStringLiteral("OK"), this);
    bOK->setObjectName(QStringLiteral("bOK"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOK);
    buttons->addSpacing(12);
    layout->addLayout(buttons);
    connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(360, sizeHint().height());
    CentreOn(this, owner);
}

// --- the start button ------------------------------------------------------------------------

int StartMenuHeight(int items, int separators, int itemHeight, int separatorHeight)
{
    return (items - separators) * itemHeight + separators * separatorHeight + 6;
}

int StartMenuTop(int menuHeight, int buttonTop, int buttonHeight)
{
    return menuHeight < buttonTop ? buttonTop - menuHeight : buttonTop + buttonHeight;
}

TAfStartButton::TAfStartButton(QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("AfStartButton1"));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    m_caption = new QLabel(this);
    m_caption->setAlignment(Qt::AlignCenter);
    m_caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    setMinimumSize(60, 24);
}

void TAfStartButton::SetCaption(const QString& caption)
{
    m_caption->setText(caption);
}

QString TAfStartButton::Caption() const
{
    return m_caption->text();
}

void TAfStartButton::SetImage(const QPixmap& picture)
{
    if (!m_Image) {
        m_Image = new QLabel(this);
        m_Image->setAttribute(Qt::WA_TranslucentBackground);
        m_Image->installEventFilter(this);
    }
    m_Image->setPixmap(picture);
    m_Image->adjustSize();
    PlaceImage();
}

void TAfStartButton::PlaceImage()
{
    m_caption->setGeometry(rect());
    if (!m_Image)
        return;
    const int h = m_Image->height();
    const int y = h <= height() ? (height() - h) / 2 : 0;
    m_Image->move(m_pressed ? 1 : 0, y + (m_pressed ? 1 : 0));
}

void TAfStartButton::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    PlaceImage();
}

void TAfStartButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    setFrameShadow(QFrame::Sunken);
    PlaceImage();
}

void TAfStartButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressed)
        return;
    m_pressed = false;
    setFrameShadow(QFrame::Raised);
    PlaceImage();
    if (rect().contains(event->position().toPoint()))
        Click();
}

bool TAfStartButton::eventFilter(QObject* watched, QEvent* event)
{
    // The picture's presses and releases are the button's, moved by the picture's offset.
    if (watched == m_Image && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)) {
        auto* e = static_cast<QMouseEvent*>(event);
        QMouseEvent moved(e->type(), e->position() + m_Image->pos(), e->globalPosition(), e->button(), e->buttons(),
                          e->modifiers());
        if (event->type() == QEvent::MouseButtonPress)
            mousePressEvent(&moved);
        else
            mouseReleaseEvent(&moved);
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void TAfStartButton::Click()
{
    if (OnClick)
        OnClick();
    if (!m_PopupMenu)
        return;
    int items = 0, separators = 0;
    QAction* lastSeparator = nullptr;
    QAction* first = nullptr;
    for (QAction* a : m_PopupMenu->actions()) {
        ++items;
        if (!first)
            first = a;
        if (a->isSeparator()) {
            ++separators;
            lastSeparator = a;
        }
    }
    const QScreen* s = screen();
    int h = s && s->logicalDotsPerInch() >= 120 ? 21 : 17;
    int g = 9;
    m_PopupMenu->ensurePolished();
    m_PopupMenu->adjustSize();
    if (first && m_PopupMenu->actionGeometry(first).height() > 0)
        h = m_PopupMenu->actionGeometry(first).height();
    if (lastSeparator && m_PopupMenu->actions().indexOf(lastSeparator) > 0 && m_PopupMenu->actionGeometry(lastSeparator).height() > 0)
        g = m_PopupMenu->actionGeometry(lastSeparator).height();
    const int menuHeight = StartMenuHeight(items, separators, h, g);
    const QPoint corner = mapToGlobal(QPoint(0, 0));
    LastMenuPosition = QPoint(corner.x(), StartMenuTop(menuHeight, corner.y(), height()));
    m_PopupMenu->popup(LastMenuPosition);
}

void OpenLinkOrSay(Dialogs& dialogs, const QString& link)
{
    QString target = link;
    if (!link.startsWith(QLatin1String("https://")) && !link.startsWith(QLatin1String("http://"))) {
        // A page of the help, beside the program or installed with it.
        const QString page = QString::fromStdString(DocFolder()) + link.section(QLatin1Char('#'), 0, 0);
        if (!QFileInfo::exists(page)) {
            // A system that leaves out /usr/share/doc (a minimal or container install) has none.
            dialogs.MessageBox(QStringLiteral("The help page ") + page + QStringLiteral(" is not installed."),
                               Dialogs::Icon::Information);
            return;
        }
        QUrl url = QUrl::fromLocalFile(page);
        url.setFragment(link.section(QLatin1Char('#'), 1));
        target = url.toString();
    }
    if (!dialogs.OpenWithShell(target))
        dialogs.MessageBox(QStringLiteral("Could not open ") + target +
                               QStringLiteral(": no program to open it was found (install xdg-utils and a web browser)."),
                           Dialogs::Icon::Information);
}
