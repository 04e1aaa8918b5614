#include "QueryCddbForm.h"

#include "Global.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

// gnudb is the public CDDB database that still answers the protocol; no other host is known to.
const QStringList CddbServers = {QStringLiteral("gnudb.gnudb.org")};

namespace {

const char* DefaultScript = "/~cddb/cddb.cgi";

}  // namespace

// --- the wait dialog -------------------------------------------------------------------------

TfrmStopQuery::TfrmStopQuery(QWidget* parent, int firstTrack, int lastTrack, HCDROM handle,
                             std::function<void(const TCddbFields&)> apply)
    : TfrmStopQuery(parent, std::make_unique<TCddbLookup>(firstTrack, lastTrack, handle), QStringLiteral("Query CDDB..."),
                    {QStringLiteral("No match found,perhaps:"), QStringLiteral("1.No information in CDDB server"),
                     QStringLiteral("2.error CDDB options"), QStringLiteral("3.check the network")},
                    std::move(apply))
{
}

TfrmStopQuery::TfrmStopQuery(QWidget* parent, std::unique_ptr<TDiscLookup> lookup, const QString& caption,
                             const QStringList& noMatchLines, std::function<void(const TCddbFields&)> apply)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_lookup(std::move(lookup))
{
    setObjectName(QStringLiteral("frmStopQuery"));
    setWindowTitle(caption);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    Label1 = new QLabel(caption, this);
    Label1->setAlignment(Qt::AlignCenter);
    layout->addWidget(Label1);
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* panel = new QVBoxLayout(Panel1);
    for (const QString& line : noMatchLines)
        panel->addWidget(new QLabel(line, Panel1));
    lbReason = new QLabel(Panel1);
    lbReason->setObjectName(QStringLiteral("lbReason"));
    lbReason->setWordWrap(true);
    panel->addWidget(lbReason);
    Panel1->hide();
    layout->addWidget(Panel1);
    bStop = new QPushButton(QStringLiteral("Stop"), this);
    bStop->setObjectName(QStringLiteral("bStop"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bStop);
    buttons->addStretch();
    layout->addLayout(buttons);
    setMinimumWidth(260);
    connect(bStop, &QPushButton::clicked, this, &TfrmStopQuery::reject);

    m_lookup->OnNoMatch = [this] {
        lbReason->setText(QString::fromStdString(m_lookup->NoMatchReason()));
        Label1->hide();
        Panel1->show();
        bStop->setText(QStringLiteral("Close"));
        adjustSize();
    };
    m_lookup->OnApply = std::move(apply);
    m_lookup->OnOver = [this] { done(QDialog::Accepted); };
}

TfrmStopQuery::~TfrmStopQuery() = default;

void TfrmStopQuery::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_started) {
        m_started = true;
        m_lookup->Start();
    }
}

void TfrmStopQuery::reject()
{
    // Stop or Close: the lookup is abandoned; nothing it finds later is applied.
    m_lookup->Abandon();
    QDialog::reject();
}

// --- the choice of a release -----------------------------------------------------------------

TfrmChooseRelease::TfrmChooseRelease(QWidget* parent, const std::vector<TMbRelease>& releases)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmChooseRelease"));
    setWindowTitle(QStringLiteral("Choose the release"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Several releases hold this disc. Which is yours?"), this));
    lvReleases = new QTreeWidget(this);
    lvReleases->setObjectName(QStringLiteral("lvReleases"));
    lvReleases->setRootIsDecorated(false);
    lvReleases->setHeaderLabels({QStringLiteral("Title"), QStringLiteral("Artist"), QStringLiteral("Date"),
                                 QStringLiteral("Country"), QStringLiteral("Label"), QStringLiteral("Catalog No."),
                                 QStringLiteral("Format"), QStringLiteral("Tracks")});
    for (const TMbRelease& r : releases) {
        const QString format = QString::fromStdString(r.Format.empty() ? std::string("Medium") : r.Format) +
                               (r.MediumCount > 1 ? QStringLiteral(" %1 of %2").arg(r.Medium).arg(r.MediumCount) : QString()) +
                               (r.Fuzzy ? QStringLiteral(" (by track lengths)") : QString());
        new QTreeWidgetItem(lvReleases, {QString::fromStdString(r.Title), QString::fromStdString(r.Artist),
                                         QString::fromStdString(r.Date), QString::fromStdString(r.Country),
                                         QString::fromStdString(r.Label), QString::fromStdString(r.CatalogNumber), format,
                                         QString::number(r.Tracks.size())});
    }
    for (int c = 0; c < lvReleases->columnCount(); ++c)
        lvReleases->resizeColumnToContents(c);
    if (lvReleases->topLevelItemCount() > 0)
        lvReleases->setCurrentItem(lvReleases->topLevelItem(0));
    layout->addWidget(lvReleases);
    bOk = new QPushButton(QStringLiteral("OK"), this);
    bOk->setObjectName(QStringLiteral("bOk"));
    bOk->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("Cancel"), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOk);
    buttons->addWidget(bCancel);
    layout->addLayout(buttons);
    connect(bOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lvReleases, &QTreeWidget::itemActivated, this, &QDialog::accept);
    resize(std::min(900, lvReleases->header()->length() + 60), 320);
}

int TfrmChooseRelease::Chosen() const
{
    return result() == QDialog::Accepted && lvReleases->currentItem() ? lvReleases->indexOfTopLevelItem(lvReleases->currentItem())
                                                                       : -1;
}

// --- the settings dialog ---------------------------------------------------------------------

TfrmQueryCDDB::TfrmQueryCDDB(QWidget* parent, int firstTrack, int lastTrack, HCDROM handle,
                             std::function<void(const TCddbFields&)> apply)
    : QDialog(parent)
    , m_first(firstTrack)
    , m_last(lastTrack)
    , m_handle(handle)
    , m_apply(std::move(apply))
{
    setObjectName(QStringLiteral("frmQueryCDDB"));
    setWindowTitle(QStringLiteral("Query CDDB"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);

    auto* server = new QGroupBox(QStringLiteral("Server"), this);
    auto* serverForm = new QFormLayout(server);
    cbServer = new QComboBox(server);
    cbServer->setObjectName(QStringLiteral("cbServer"));
    cbServer->setEditable(true);
    cbServer->addItems(CddbServers);
    cbServer->setMinimumWidth(220);
    serverForm->addRow(QStringLiteral("Freedb Server:"), cbServer);
    eScript = new QLineEdit(server);
    eScript->setObjectName(QStringLiteral("eScript"));
    serverForm->addRow(QStringLiteral("Query Script:"), eScript);
    layout->addWidget(server);

    auto* proxy = new QGroupBox(QStringLiteral("Proxy server"), this);
    auto* proxyForm = new QFormLayout(proxy);
    cbProxy = new QCheckBox(QStringLiteral("Use a proxy server"), proxy);
    cbProxy->setObjectName(QStringLiteral("cbProxy"));
    proxyForm->addRow(cbProxy);
    eAddress = new QLineEdit(proxy);
    eAddress->setObjectName(QStringLiteral("eAddress"));
    eAddress->setEnabled(false);
    proxyForm->addRow(QStringLiteral("Address:"), eAddress);
    ePort = new QLineEdit(proxy);
    ePort->setObjectName(QStringLiteral("ePort"));
    ePort->setEnabled(false);
    proxyForm->addRow(QStringLiteral("Port:"), ePort);
    layout->addWidget(proxy);
    connect(cbProxy, &QCheckBox::toggled, this, [this](bool on) {
        eAddress->setEnabled(on);
        ePort->setEnabled(on);
    });

    auto* buttons = new QHBoxLayout;
    bQuery = new QPushButton(QStringLiteral("Query"), this);
    bQuery->setObjectName(QStringLiteral("bQuery"));
    bQuery->setDefault(true);
    bClose = new QPushButton(QStringLiteral("Close"), this);
    bClose->setObjectName(QStringLiteral("bClose"));
    bDefault = new QPushButton(QStringLiteral("Default"), this);
    bDefault->setObjectName(QStringLiteral("bDefault"));
    buttons->addWidget(bQuery);
    buttons->addWidget(bClose);
    buttons->addWidget(bDefault);
    layout->addLayout(buttons);
    connect(bQuery, &QPushButton::clicked, this, &TfrmQueryCDDB::bQueryClick);
    connect(bClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(bDefault, &QPushButton::clicked, this, &TfrmQueryCDDB::bDefaultClick);
    FormShow();
}

void TfrmQueryCDDB::FormShow()
{
    const TQueryCDDB& q = Options.QueryCDDB;
    const int at = cbServer->findText(QString::fromStdString(q.Server), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (at >= 0)
        cbServer->setCurrentIndex(at);
    else if (!q.Server.empty())
        cbServer->setEditText(QString::fromStdString(q.Server));  // a server typed earlier
    else
        cbServer->setCurrentIndex(0);
    eScript->setText(QString::fromStdString(q.Script));
    cbProxy->setChecked(q.UseProxy);
    eAddress->setEnabled(q.UseProxy);
    ePort->setEnabled(q.UseProxy);
    eAddress->setText(QString::fromStdString(q.ProxyAddress));
    ePort->setText(QString::fromStdString(q.Port));
}

void TfrmQueryCDDB::bDefaultClick()
{
    cbServer->setCurrentIndex(0);
    eScript->setText(QString::fromLatin1(DefaultScript));
    cbProxy->setChecked(false);
}

void TfrmQueryCDDB::bQueryClick()
{
    TQueryCDDB& q = Options.QueryCDDB;
    q.Server = cbServer->currentText().trimmed().toStdString();
    q.Script = eScript->text().trimmed().toStdString();
    q.UseProxy = cbProxy->isChecked();
    q.ProxyAddress = eAddress->text().trimmed().toStdString();
    q.Port = ePort->text().trimmed().toStdString();
    TfrmStopQuery wait(this, m_first, m_last, m_handle, m_apply);
    if (RunWaitDialog(wait) == QDialog::Accepted)
        accept();
}
