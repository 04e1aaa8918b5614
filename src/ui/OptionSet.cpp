#include "OptionSet.h"

#include "FileSystem.h"
#include "Global.h"
#include "JobItems.h"
#include "JobSettings.h"
#include "OutputFormats.h"
#include "ProgramFolder.h"
#include "DriveOffsetList.h"
#include "akrip32.h"
#include "akrip32Drives.h"

#include <unistd.h>

#include <atomic>
#include <thread>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const QStringList Mp3BitRates = {QStringLiteral(" 32 kbit/s"), QStringLiteral(" 40 kbit/s"), QStringLiteral(" 48 kbit/s"),
                                 QStringLiteral(" 56 kbit/s"), QStringLiteral(" 64 kbit/s"), QStringLiteral(" 80 kbit/s"),
                                 QStringLiteral(" 96 kbit/s"), QStringLiteral("112 kbit/s"), QStringLiteral("128 kbit/s"),
                                 QStringLiteral("160 kbit/s"), QStringLiteral("192 kbit/s"), QStringLiteral("224 kbit/s"),
                                 QStringLiteral("256 kbit/s"), QStringLiteral("320 kbit/s")};
const QStringList OggBitRates = {QStringLiteral(" Default"),   QStringLiteral(" 45 kbit/s"), QStringLiteral(" 48 kbit/s"),
                                 QStringLiteral(" 56 kbit/s"), QStringLiteral(" 64 kbit/s"), QStringLiteral(" 80 kbit/s"),
                                 QStringLiteral(" 96 kbit/s"), QStringLiteral("112 kbit/s"), QStringLiteral("128 kbit/s"),
                                 QStringLiteral("144 kbit/s"), QStringLiteral("160 kbit/s"), QStringLiteral("192 kbit/s"),
                                 QStringLiteral("224 kbit/s"), QStringLiteral("256 kbit/s"), QStringLiteral("320 kbit/s")};

enum Page { pgOutput, pgLame, pgOgg, pgWma, pgId3, pgCdRom, pgSecure, pgFlac, pgOpus, pgMusicBrainz };

QComboBox* List(QWidget* parent, const QStringList& items, const char* name, bool editable = false)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->addItems(items);
    box->setEditable(editable);
    return box;
}

QLineEdit* Edit(QWidget* parent, const char* name, int maxLength = 32767)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(maxLength);
    return edit;
}

// The MP3 bit rate of a combo text: its first three characters, trimmed, as a number.
bool BitRateOf(const QString& text, int32_t& rate)
{
    bool ok = false;
    rate = text.left(3).trimmed().toInt(&ok);
    return ok;
}

QString BitRateText(int32_t rate)
{
    return QString::number(rate) + QStringLiteral(" kbit/s");
}

}  // namespace

TOptionSetForm::TOptionSetForm(QWidget* owner, Dialogs& dialogs, TDiscScan& disc)
    : QDialog(owner)
    , m_dialogs(dialogs)
    , m_disc(disc)
{
    setObjectName(QStringLiteral("OptionSetForm"));
    setWindowTitle(QStringLiteral("Options"));
    setModal(true);
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setUsesScrollButtons(false);  // every tab in view
    BuildOutputPage();
    BuildLamePage();
    BuildOggPage();
    BuildWmaPage();
    BuildId3Page();
    BuildCdRomPage();
    BuildSecurePage();
    BuildFlacPage();
    BuildOpusPage();
    BuildMusicBrainzPage();

    btOk = new QPushButton(QStringLiteral("OK"), this);
    btOk->setObjectName(QStringLiteral("btOk"));
    btOk->setDefault(true);
    btCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(btOk);
    buttons->addWidget(btCancel);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(PageControl1, 1);
    layout->addLayout(buttons);
    connect(btOk, &QPushButton::clicked, this, &TOptionSetForm::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int page) {
        if (page == pgCdRom)
            FillDrives();
    });

    Fill();
    PageControl1->setCurrentIndex(pgOutput);
    setFixedSize(sizeHint());
}

void TOptionSetForm::BuildOutputPage()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* dir = new QGroupBox(QStringLiteral("Output directory(WAV/MP3)"), page);
    auto* dirLayout = new QGridLayout(dir);
    editOutputDir = Edit(dir, "editOutputDir");
    editOutputDir->setMinimumWidth(260);
    btBrowser = new QPushButton(QStringLiteral("..."), dir);
    btBrowser->setObjectName(QStringLiteral("btBrowser"));
    btBrowser->setFixedWidth(32);
    ckbKeepWav = new QCheckBox(QStringLiteral("Delete WAV file after processing"), dir);
    ckbKeepWav->setObjectName(QStringLiteral("ckbKeepWav"));
    dirLayout->addWidget(editOutputDir, 0, 0);
    dirLayout->addWidget(btBrowser, 0, 1);
    dirLayout->addWidget(ckbKeepWav, 1, 0, 1, 2);
    v->addWidget(dir);

    auto* naming = new QGroupBox(QStringLiteral("File names"), page);
    auto* namingLayout = new QVBoxLayout(naming);
    eNamingTemplate = Edit(naming, "eNamingTemplate");
    eNamingTemplate->setToolTip(QStringLiteral("%title% %artist% %album% %year% %track% %format%, and \"/\" for folders"));
    namingLayout->addWidget(eNamingTemplate);
    auto* namingHelp =
        new QLabel(QStringLiteral("%title% %artist% %album% %year% %track% %format%; \"/\" makes folders"), naming);
    namingHelp->setWordWrap(true);
    namingLayout->addWidget(namingHelp);
    v->addWidget(naming);

    auto* format = new QGroupBox(QStringLiteral("Output format"), page);
    auto* f = new QGridLayout(format);
    QStringList formats;
    for (const TOutputFormat& f : OutputFormats())
        formats << QString::fromUtf8(f.ListText.data(), static_cast<qsizetype>(f.ListText.size()));
    cbOutputFormat = List(format, formats, "cbOutputFormat");
    f->addWidget(new QLabel(QStringLiteral("Format\uFF1A"), format), 0, 0);
    f->addWidget(cbOutputFormat, 0, 1, 1, 3);
    ckNormalize = new QCheckBox(QStringLiteral("Normalize"), format);
    ckNormalize->setObjectName(QStringLiteral("ckNormalize"));
    SpinEdit1 = new QSpinBox(format);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setRange(0, 100);
    // Changed by its arrows only.
    if (auto* text = SpinEdit1->findChild<QLineEdit*>()) {
        text->setReadOnly(true);
        text->setMaxLength(3);
    }
    f->addWidget(ckNormalize, 1, 0);
    f->addWidget(SpinEdit1, 1, 1);
    f->addWidget(new QLabel(QStringLiteral("%"), format), 1, 2);
    // Files encoded at once while the drive reads on; 1 reads and encodes in turn.
    seEncoders = new QSpinBox(format);
    seEncoders->setObjectName(QStringLiteral("seEncoders"));
    seEncoders->setRange(0, MaxEncoders);
    seEncoders->setSpecialValueText(QStringLiteral("One per processor"));
    seEncoders->setToolTip(QStringLiteral("How many tracks or files are encoded at the same time"));
    f->addWidget(new QLabel(QStringLiteral("Encoders at once:"), format), 2, 0);
    f->addWidget(seEncoders, 2, 1, 1, 2);
    // A rip also encodes each track to these, from the one read, each in a folder of its own.
    auto* also = new QHBoxLayout;
    for (const TOutputFormat& of : OutputFormats()) {
        if (!of.Encoded)
            continue;
        auto* box = new QCheckBox(QString::fromUtf8(of.Key.data(), static_cast<qsizetype>(of.Key.size())), format);
        box->setObjectName(QStringLiteral("ckAlso_") + QString::fromUtf8(of.Key.data(), static_cast<qsizetype>(of.Key.size())));
        ckAlso.push_back({of.Stored, box});
        also->addWidget(box);
        connect(box, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
    }
    also->addStretch();
    f->addWidget(new QLabel(QStringLiteral("Also encode to:"), format), 3, 0);
    f->addLayout(also, 3, 1, 1, 3);
    f->setColumnStretch(3, 1);
    v->addWidget(format);

    // Kept in the settings but not offered.
    gbRipTime = new QGroupBox(page);
    auto* r = new QHBoxLayout(gbRipTime);
    cbRipTime = new QCheckBox(QStringLiteral("Enable to set the length to extract"), gbRipTime);
    cbRipTime->setObjectName(QStringLiteral("cbRipTime"));
    eRipTime = Edit(gbRipTime, "eRipTime");
    r->addWidget(cbRipTime);
    r->addWidget(new QLabel(QStringLiteral("The song length:"), gbRipTime));
    r->addWidget(eRipTime);
    r->addWidget(new QLabel(QStringLiteral("Second"), gbRipTime));
    gbRipTime->hide();
    v->addWidget(gbRipTime);
    v->addStretch();
    PageControl1->addTab(page, QStringLiteral("Output"));

    connect(btBrowser, &QPushButton::clicked, this, &TOptionSetForm::btBrowserClick);
    connect(ckNormalize, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
    connect(cbRipTime, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
    connect(cbOutputFormat, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabling(); });
}

void TOptionSetForm::BuildLamePage()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    ckbSelectVBR = new QCheckBox(QStringLiteral("Enable Variable Bitrate(VBR)"), page);
    ckbSelectVBR->setObjectName(QStringLiteral("ckbSelectVBR"));
    ckbVBRHead = new QCheckBox(QStringLiteral("Disable writing of the VBR Tag"), page);
    ckbVBRHead->setObjectName(QStringLiteral("ckbVBRHead"));
    v->addWidget(ckbSelectVBR);
    v->addWidget(ckbVBRHead);
    auto* form = new QFormLayout;
    cbBitRate = List(page, Mp3BitRates, "cbBitRate", true);
    cbMaxBitRate = List(page, Mp3BitRates, "cbMaxBitRate", true);
    QStringList qualities;
    for (int q = 0; q <= 9; ++q)
        qualities << QString::number(q);
    cbVBRQuality = List(page, qualities, "cbVBRQuality");
    cbMpegQuality = List(page, {QStringLiteral("Default"), QStringLiteral("Faster encode/Lower quality"),
                                QStringLiteral("Slower encode/Higher quality")},
                         "cbMpegQuality");
    cbStereoMode = List(page, {QStringLiteral("Stereo"), QStringLiteral("Joint Stereo"), QStringLiteral("Forced Joint Stereo"),
                               QStringLiteral("Dual Channels"), QStringLiteral("Mono")},
                        "cbStereoMode");
    form->addRow(QStringLiteral("Minimum bitrate:"), cbBitRate);
    form->addRow(QStringLiteral("Maximum bitrate:"), cbMaxBitRate);
    form->addRow(QStringLiteral("VBR Quality:"), cbVBRQuality);
    form->addRow(QStringLiteral("Speed/Quality:"), cbMpegQuality);
    form->addRow(QStringLiteral("Mode:"), cbStereoMode);
    v->addLayout(form);
    bDefault = new QPushButton(QStringLiteral("&Default"), page);
    bDefault->setObjectName(QStringLiteral("bDefault"));
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(bDefault);
    v->addLayout(row);
    v->addStretch();
    PageControl1->addTab(page, QStringLiteral("LAME"));
    connect(ckbSelectVBR, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
    connect(bDefault, &QPushButton::clicked, this, &TOptionSetForm::bDefaultClick);
}

void TOptionSetForm::BuildOggPage()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    cbUseCompress = new QCheckBox(QStringLiteral("Use Quality setting"), page);
    cbUseCompress->setObjectName(QStringLiteral("cbUseCompress"));
    v->addWidget(cbUseCompress);
    auto* slider = new QHBoxLayout;
    tbCompression = new QSlider(Qt::Horizontal, page);
    tbCompression->setObjectName(QStringLiteral("tbCompression"));
    tbCompression->setRange(30, 100);
    tbCompression->setTickPosition(QSlider::NoTicks);
    slider->addWidget(tbCompression, 1);
    slider->addWidget(new QLabel(QStringLiteral("-> Highest quality"), page));
    v->addLayout(slider);
    auto* manager = new QGroupBox(QStringLiteral("Use Bitrate manager"), page);
    auto* form = new QFormLayout(manager);
    cbOggNomBit = List(manager, OggBitRates, "cbOggNomBit");
    cbOggMaxBit = List(manager, OggBitRates, "cbOggMaxBit");
    cbOggMinBit = List(manager, OggBitRates, "cbOggMinBit");
    form->addRow(QStringLiteral("Nominal bitrate:"), cbOggNomBit);
    form->addRow(QStringLiteral("Maximum bitrate:"), cbOggMaxBit);
    form->addRow(QStringLiteral("Minimum bitrate:"), cbOggMinBit);
    v->addWidget(manager);
    v->addStretch();
    PageControl1->addTab(page, QStringLiteral("OGG"));
}

void TOptionSetForm::BuildWmaPage()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    QStringList profiles;
    for (const TWMAProfile& p : WMAProfiles)
        profiles << QString::fromUtf8(p.Text);
    cbWMABitrate = List(page, profiles, "cbWMABitrate");
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Audio Bitrate:"), cbWMABitrate);
    v->addLayout(form);
    bWMADefault = new QPushButton(QStringLiteral("&Default"), page);
    bWMADefault->setObjectName(QStringLiteral("bWMADefault"));
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(bWMADefault);
    v->addLayout(row);
    v->addStretch();
    PageControl1->addTab(page, QStringLiteral("WMA"));
    connect(bWMADefault, &QPushButton::clicked, this, &TOptionSetForm::bWMADefaultClick);
}

// A page with one number to set: its caption, the box's range and the words after it.
QSpinBox* TOptionSetForm::AddNumberPage(const QString& tab, const QString& caption, int low, int high,
                                        const QString& unit, const char* name)
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* box = new QSpinBox(page);
    box->setObjectName(QLatin1String(name));
    box->setRange(low, high);
    auto* row = new QHBoxLayout;
    row->addWidget(box);
    row->addWidget(new QLabel(unit, page));
    row->addStretch();
    auto* form = new QFormLayout;
    form->addRow(caption, row);
    v->addLayout(form);
    v->addStretch();
    PageControl1->addTab(page, tab);
    return box;
}

void TOptionSetForm::BuildFlacPage()
{
    seFlacLevel = AddNumberPage(QStringLiteral("FLAC"), QStringLiteral("Compression level:"), 0, 8,
                                QStringLiteral("(0 fastest, 8 smallest; every level is lossless)"), "seFlacLevel");
}

void TOptionSetForm::BuildOpusPage()
{
    seOpusBitRate = AddNumberPage(QStringLiteral("Opus"), QStringLiteral("Bit rate:"), 6, 256, QStringLiteral("kbit/s"),
                                  "seOpusBitRate");
}

void TOptionSetForm::BuildMusicBrainzPage()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* form = new QFormLayout;
    eMusicBrainzServer = Edit(page, "eMusicBrainzServer");
    eCoverArtServer = Edit(page, "eCoverArtServer");
    form->addRow(QStringLiteral("Server:"), eMusicBrainzServer);
    form->addRow(QStringLiteral("Cover Art Archive:"), eCoverArtServer);
    v->addLayout(form);
    ckFetchCover = new QCheckBox(QStringLiteral("&Fetch the front cover for a rip after a MusicBrainz lookup"), page);
    ckFetchCover->setObjectName(QStringLiteral("ckFetchCover"));
    v->addWidget(ckFetchCover);
    v->addStretch();
    PageControl1->addTab(page, QStringLiteral("MusicBrainz"));
}

void TOptionSetForm::BuildId3Page()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    cbUseID3 = new QCheckBox(QStringLiteral("Use ID3 tag"), page);
    cbUseID3->setObjectName(QStringLiteral("cbUseID3"));
    v->addWidget(cbUseID3);
    auto* form = new QFormLayout;
    // Whole names: FLAC, Ogg, Opus and ID3v2 tags keep them; the ID3v1 block takes its 30.
    ID3artist = Edit(page, "ID3artist");
    ID3album = Edit(page, "ID3album");
    ID3year = Edit(page, "ID3year", 4);
    QStringList genres{QString()};
    for (const TGenreName& g : GenreNames)
        genres << QString::fromLatin1(g.Name);
    ID3genre = List(page, genres, "ID3genre");
    ID3comment = Edit(page, "ID3comment");
    form->addRow(QStringLiteral("Artist:"), ID3artist);
    form->addRow(QStringLiteral("Album:"), ID3album);
    form->addRow(QStringLiteral("Year:"), ID3year);
    form->addRow(QStringLiteral("Genre:"), ID3genre);
    form->addRow(QStringLiteral("Comment:"), ID3comment);
    v->addLayout(form);
    ckReplayGain = new QCheckBox(QStringLiteral("Write &ReplayGain into ripped files' tags (EBU R128)"), page);
    ckReplayGain->setObjectName(QStringLiteral("ckReplayGain"));
    v->addWidget(ckReplayGain);
    v->addStretch();
    PageControl1->addTab(page, QStringLiteral("ID3 Tag"));
}

void TOptionSetForm::BuildCdRomPage()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    cbCDList = List(page, {}, "cbCDList");
    cbCDList->setMinimumWidth(220);
    row->addWidget(new QLabel(QStringLiteral("Device\uFF1A"), page));
    row->addWidget(cbCDList, 1);
    v->addLayout(row);
    ckbCDDb = new QCheckBox(QStringLiteral("Get CD information from CD DB"), page);
    ckbCDDb->setObjectName(QStringLiteral("ckbCDDb"));
    ckbCDDb->hide();
    v->addWidget(ckbCDDb);
    v->addStretch();
    PageControl1->addTab(page, QStringLiteral("CD-ROM"));
}

void TOptionSetForm::BuildSecurePage()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    const auto check = [page, v](const char* text, const char* name) {
        auto* box = new QCheckBox(QString::fromUtf8(text), page);
        box->setObjectName(QLatin1String(name));
        v->addWidget(box);
        return box;
    };
    ckSecureMode = check("Secure mode: verify every sector with repeated reads", "ckSecureMode");
    auto* row = new QHBoxLayout;
    seReadOffset = new QSpinBox(page);
    seReadOffset->setObjectName(QStringLiteral("seReadOffset"));
    seReadOffset->setRange(-5880, 5880);
    seReadOffset->setSuffix(QStringLiteral(" samples"));
    row->addWidget(new QLabel(QStringLiteral("Drive read offset\uFF1A"), page));
    row->addWidget(seReadOffset);
    btFindOffset = new QPushButton(QStringLiteral("Find..."), page);
    btFindOffset->setObjectName(QStringLiteral("btFindOffset"));
    btFindOffset->setToolTip(QStringLiteral("Find this drive's offset with the disc in it, when AccurateRip knows the disc"));
    row->addWidget(btFindOffset);
    btLookUpOffset = new QPushButton(QStringLiteral("Look up"), page);
    btLookUpOffset->setObjectName(QStringLiteral("btLookUpOffset"));
    btLookUpOffset->setToolTip(QStringLiteral("The offset of this drive's model in the AccurateRip drive list"));
    row->addWidget(btLookUpOffset);
    row->addStretch();
    v->addLayout(row);
    lbOffsetSource = new QLabel(page);
    lbOffsetSource->setObjectName(QStringLiteral("lbOffsetSource"));
    lbOffsetSource->setWordWrap(true);
    v->addWidget(lbOffsetSource);
    connect(btLookUpOffset, &QPushButton::clicked, this, [this] { LookUpOffset(); });
    connect(btFindOffset, &QPushButton::clicked, this, [this] { FindOffset(); });
    ckRefuseDamaged = check("Fail a track with a sector that cannot be read", "ckRefuseDamaged");
    // A database's address: its label, then the field over the rest of the row.
    const auto server = [page, v](const char* label, const char* name) {
        auto* row = new QHBoxLayout;
        auto* edit = new QLineEdit(page);
        edit->setObjectName(QLatin1String(name));
        row->addWidget(new QLabel(QString::fromUtf8(label), page));
        row->addWidget(edit, 1);
        v->addLayout(row);
        return edit;
    };
    ckAccurateRip = check("Check the tracks with AccurateRip", "ckAccurateRip");
    eAccurateRipServer = server("AccurateRip server\uFF1A", "eAccurateRipServer");
    ckCtdb = check("Check the tracks with the CUETools database (CTDB) too", "ckCtdb");
    eCtdbServer = server("CTDB server\uFF1A", "eCtdbServer");
    ckBurstFirst = check("Burst first: read each track once, again securely only when neither database "
                         "confirms it",
                         "ckBurstFirst");
    ckWriteLog = check("Write a log of the rip beside the tracks", "ckWriteLog");
    ckWriteCue = check("Write a cue sheet when the whole disc is ripped", "ckWriteCue");
    ckRipHiddenTrack = check("Rip audio hidden before the first track", "ckRipHiddenTrack");
    ckImage = check("Copy the whole disc as one file with a cue sheet (WAV or FLAC)", "ckImage");
    v->addStretch();
    for (QCheckBox* box : {ckSecureMode, ckAccurateRip, ckCtdb})
        connect(box, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
    PageControl1->addTab(page, QStringLiteral("Secure"));
}

void TOptionSetForm::ShowOffsetSource(const std::string& source)
{
    lbOffsetSource->setText(QString::fromStdString(m_driveKey + ": " + SignedSamples(seReadOffset->value()) + ", " + source));
}

void TOptionSetForm::LookUpOffset()
{
    const QString server = eAccurateRipServer->text().trimmed();
    const TDriveOffsetList list = LoadDriveOffsetList(server.isEmpty() ? std::string(DefaultAccurateRipServer) : server.toStdString(),
                                                      CacheFolder(), true);
    const std::vector<TDriveOffsetEntry> listed = EntriesForDrive(list.Entries, m_driveVendor, m_driveProduct);
    if (listed.empty()) {
        m_dialogs.MessageBox(QString::fromStdString(
                                 (list.Entries.empty() ? list.Note : "The AccurateRip drive list has no entry for " + m_driveKey + ".") +
                                 " Find the offset with a disc AccurateRip knows: sonvale-cli offset find --apply."),
                             Dialogs::Icon::Information);
        return;
    }
    seReadOffset->setValue(listed.front().Offset);
    m_shownOffset = {listed.front().Offset, TOffsetSource::Listed};
    m_offsetSource = TOffsetSource::Listed;
    ShowOffsetSource("from the AccurateRip drive list (" + std::to_string(listed.front().Submissions) + " submissions)");
}

void TOptionSetForm::FindOffset()
{
    TTOC toc{};
    const HCDROM handle = m_disc.CDHandle;
    if (handle == 0 || !ReadMsfToc(handle, toc) || !IsAudioDisc(toc)) {
        m_dialogs.MessageBox(QString::fromStdString(NoAudioDiscText(handle)), Dialogs::Icon::Information);
        return;
    }
    const QString typed = eAccurateRipServer->text().trimmed();
    const std::string server = typed.isEmpty() ? std::string(DefaultAccurateRipServer) : typed.toStdString();
    std::vector<int> modelOffsets;
    for (const TDriveOffsetEntry& e :
         EntriesForDrive(LoadDriveOffsetList(server, CacheFolder(), false).Entries, m_driveVendor, m_driveProduct))
        modelOffsets.push_back(e.Offset);
    // The search reads on a thread of its own; the window shows how far it is and Stop ends it.
    QProgressDialog progress(QStringLiteral("Asking AccurateRip about the disc..."), QStringLiteral("Stop"), 0, 100, this);
    progress.setObjectName(QStringLiteral("OffsetProgress"));
    progress.setWindowTitle(QStringLiteral("Finding the read offset"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.show();
    std::atomic<bool> cancel{false};
    connect(&progress, &QProgressDialog::canceled, this, [&cancel] { cancel = true; });
    QEventLoop loop;
    TOffsetFindResult result;
    std::thread worker([&] {
        result = FindDriveOffset(handle, toc, DefaultOffsetTracks(toc), server, modelOffsets,
                                 [&progress](int track, int percent) {
                                     // Discarded once the window is gone (its context object).
                                     QMetaObject::invokeMethod(&progress, [&progress, track, percent] {
                                         progress.setLabelText(QStringLiteral("Reading track %1 once, with 5 sectors beyond each end")
                                                                   .arg(track, 2, 10, QLatin1Char('0')));
                                         progress.setValue(percent);
                                     });
                                 },
                                 &cancel);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    progress.hide();
    if (!result.Offset) {
        if (result.Failure != "stopped")
            m_dialogs.MessageBox(QString::fromStdString((result.TracksRead.empty() ? result.Failure
                                                                                    : "No read offset found: " + result.Failure) +
                                                        "."),
                                 Dialogs::Icon::Information);
        return;
    }
    std::string matched;
    for (const auto& [track, confidence] : result.MatchedOn)
        matched += std::string(matched.empty() ? "" : ", ") + "track " + TwoDigits(track) + " (confidence " +
                   std::to_string(confidence) + ")";
    const QString question = QString::fromStdString("AccurateRip matches " + matched + " read with offset " +
                                                    SignedSamples(*result.Offset) + ". Use it for " + m_driveKey + "?");
    if (m_dialogs.AskYesNo(question, Dialogs::Icon::Information, Dialogs::Answer::Yes) != Dialogs::Answer::Yes)
        return;
    seReadOffset->setValue(*result.Offset);
    m_shownOffset = {*result.Offset, TOffsetSource::Found};
    m_offsetSource = TOffsetSource::Found;
    ShowOffsetSource("found on this drive");
}

void TOptionSetForm::Fill()
{
    const TOptionsSetting& o = Options;
    editOutputDir->setText(QString::fromStdString(o.CommonOptions.OutputFolder));
    ckbKeepWav->setChecked(!o.CommonOptions.IsKeepWav);
    eNamingTemplate->setText(QString::fromStdString(o.Naming.Template));
    // The row of the stored format; a number naming none shows no row, as it always did.
    int formatRow = -1;
    for (std::size_t row = 0; row < OutputFormats().size(); ++row)
        if (OutputFormats()[row].Stored == o.CommonOptions.OutputFormat)
            formatRow = static_cast<int>(row);
    cbOutputFormat->setCurrentIndex(formatRow);
    ckNormalize->setChecked(o.CommonOptions.IsNormalize);
    SpinEdit1->setValue(o.CommonOptions.NormalizePercent);
    cbRipTime->setChecked(o.CommonOptions.EnableRipTime);
    eRipTime->setText(QString::number(o.CommonOptions.RipTime));

    ckbSelectVBR->setChecked(o.Mp3Options.IsSelectVBR);
    ckbVBRHead->setChecked(o.Mp3Options.IsVBRHead);
    cbBitRate->setEditText(BitRateText(o.Mp3Options.BitRate));
    cbMaxBitRate->setEditText(BitRateText(o.Mp3Options.MaxBitRate));
    cbVBRQuality->setCurrentIndex(o.Mp3Options.VBRQuality);
    cbMpegQuality->setCurrentIndex(o.Mp3Options.MpegQuality);
    cbStereoMode->setCurrentIndex(o.Mp3Options.StereoMode);

    cbUseCompress->setChecked(o.OggOptions.IsUseCompress);
    tbCompression->setValue(o.OggOptions.CompressPosition);
    cbOggNomBit->setCurrentIndex(o.OggOptions.NomalBitRate);
    cbOggMaxBit->setCurrentIndex(o.OggOptions.MaxBitRate);
    cbOggMinBit->setCurrentIndex(o.OggOptions.MinBitRate);

    cbWMABitrate->setCurrentIndex(o.WMAOptions.BitRate);

    cbUseID3->setChecked(o.UseID3);
    ID3artist->setText(QString::fromStdString(o.CDInfo.Artist));
    ID3album->setText(QString::fromStdString(o.CDInfo.Album));
    ID3year->setText(QString::fromStdString(o.CDInfo.Year));
    ID3genre->setCurrentIndex(o.CDInfo.Genre);
    ID3comment->setText(QString::fromStdString(o.CDInfo.Comment));

    m_shownDrive = std::max(o.CDOptions.Index, 0);
    m_shownCDDb = o.CDOptions.CDDb;
    ckbCDDb->setChecked(o.CDOptions.CDDb);

    ckSecureMode->setChecked(o.SecureOptions.SecureMode);
    // With a drive open, the box shows that drive's offset as a rip would take it, and whence;
    // without one, the offset set by hand for every drive.
    m_driveKey.clear();
    m_offsetSource.reset();
    const std::shared_ptr<TDriveBackend> drive = m_disc.CDHandle != 0 ? AkripDrive(m_disc.CDHandle) : nullptr;
    if (drive) {
        m_driveVendor = drive->Vendor();
        m_driveProduct = drive->Product();
        m_driveKey = DriveModelKey(m_driveVendor, m_driveProduct);
        const std::vector<TDriveOffsetEntry> listed = EntriesForDrive(
            LoadDriveOffsetList(o.SecureOptions.AccurateRipServer, CacheFolder(), false).Entries, m_driveVendor, m_driveProduct);
        m_shownOffset = ChooseReadOffset({}, o.DriveOffsets, m_driveKey, o.SecureOptions.ReadOffset, listed);
        seReadOffset->setValue(m_shownOffset.Samples);
        ShowOffsetSource(m_shownOffset.SourceText());
    } else {
        seReadOffset->setValue(o.SecureOptions.ReadOffset);
        lbOffsetSource->setText(QStringLiteral("No drive is open: the offset set here is every drive's."));
    }
    ckRefuseDamaged->setChecked(o.SecureOptions.RefuseDamaged);
    ckAccurateRip->setChecked(o.SecureOptions.AccurateRip);
    eAccurateRipServer->setText(QString::fromStdString(o.SecureOptions.AccurateRipServer));
    ckWriteLog->setChecked(o.SecureOptions.WriteLog);
    ckBurstFirst->setChecked(o.SecureOptions.BurstFirst);
    ckWriteCue->setChecked(o.SecureOptions.WriteCue);
    ckRipHiddenTrack->setChecked(o.SecureOptions.RipHiddenTrack);
    ckImage->setChecked(o.SecureOptions.Image);
    ckCtdb->setChecked(o.Ctdb.Use);
    eCtdbServer->setText(QString::fromStdString(o.Ctdb.Server));
    seEncoders->setValue(o.JobOptions.Encoders);
    for (const auto& [stored, box] : ckAlso) {
        const std::vector<int32_t> also = FormatsOfKeys(o.JobOptions.Formats);
        box->setChecked(std::find(also.begin(), also.end(), stored) != also.end());
    }
    seFlacLevel->setValue(o.FlacOptions.Level);
    seOpusBitRate->setValue(o.OpusOptions.BitRate);
    ckReplayGain->setChecked(o.Tags.ReplayGain);
    eMusicBrainzServer->setText(QString::fromStdString(o.MusicBrainz.Server));
    eCoverArtServer->setText(QString::fromStdString(o.MusicBrainz.CoverArtServer));
    ckFetchCover->setChecked(o.MusicBrainz.FetchCover);
    UpdateEnabling();
}

void TOptionSetForm::UpdateEnabling()
{
    SpinEdit1->setEnabled(ckNormalize->isChecked());
    const bool vbr = ckbSelectVBR->isChecked();
    ckbVBRHead->setEnabled(vbr);
    cbMaxBitRate->setEnabled(vbr);
    cbVBRQuality->setEnabled(vbr);
    eRipTime->setEnabled(cbRipTime->isChecked());
    // Keeping the WAV means something only where the WAV is not itself the output.
    const int formatRow = cbOutputFormat->currentIndex();
    ckbKeepWav->setEnabled(formatRow < 0 || OutputFormats()[static_cast<std::size_t>(formatRow)].Encoded);
    // The output format itself is no further one.
    for (const auto& [stored, box] : ckAlso)
        box->setEnabled(formatRow < 0 || OutputFormats()[static_cast<std::size_t>(formatRow)].Stored != stored);
    // The offset, the damage rule, the database and the log belong to secure reads.
    const bool secure = ckSecureMode->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{seReadOffset, ckRefuseDamaged, ckAccurateRip, ckWriteLog, ckWriteCue,
                                                      ckRipHiddenTrack, ckCtdb, ckImage})
        w->setEnabled(secure);
    eAccurateRipServer->setEnabled(secure && ckAccurateRip->isChecked());
    eCtdbServer->setEnabled(secure && ckCtdb->isChecked());
    btLookUpOffset->setEnabled(secure && !m_driveKey.empty());
    btFindOffset->setEnabled(secure && !m_driveKey.empty());
    ckBurstFirst->setEnabled(secure && (ckAccurateRip->isChecked() || ckCtdb->isChecked()));
}

void TOptionSetForm::FillDrives()
{
    TCDList list{};
    list.Max = MaxCDList;
    GetCDList(&list);
    cbCDList->clear();
    for (int i = 0; i < list.Num; ++i)
        cbCDList->addItem(QString::fromStdString(DriveDisplayName(list.Cd[i])).trimmed());
    if (m_shownDrive < list.Num)
        cbCDList->setCurrentIndex(m_shownDrive);
}

void TOptionSetForm::bDefaultClick()
{
    ckbSelectVBR->setChecked(false);
    ckbVBRHead->setChecked(false);
    cbBitRate->setCurrentIndex(8);
    cbMaxBitRate->setCurrentIndex(13);
    cbVBRQuality->setCurrentIndex(4);
    cbMpegQuality->setCurrentIndex(0);
    cbStereoMode->setCurrentIndex(1);
}

void TOptionSetForm::bWMADefaultClick()
{
    cbWMABitrate->setCurrentIndex(DefaultWMAProfile);
}

void TOptionSetForm::btBrowserClick()
{
    const QString start = QString::fromStdString(DialogStartFolder());
    const QString folder =
        m_dialogs.BrowseFolder(QStringLiteral("Please select the directory to save mp3 and wav file"),
                               QDir(start).exists() ? start : QString());
    if (!folder.isEmpty())
        editOutputDir->setText(folder);
}

void TOptionSetForm::Refuse(const QString& text, int page, QWidget* focus)
{
    m_dialogs.MessageBox(text, Dialogs::Icon::Error);
    if (page >= 0 && PageControl1->currentIndex() == page && focus)
        focus->setFocus();
}

void TOptionSetForm::btOkClick()
{
    // Every check comes before anything is stored: a refusal leaves the settings as they were.
    const QString folder = editOutputDir->text();
    if (!folder.isEmpty() && !QFileInfo::exists(folder)) {
        // A folder not made yet (the default one on a fresh install): offered, as Extract does.
        const QString question = folder + QStringLiteral(",") + QStringLiteral("The output directory does not exist.") +
                                 QStringLiteral("\n") + QStringLiteral("creates a new directory?");
        if (m_dialogs.AskYesNo(question, Dialogs::Icon::Information, Dialogs::Answer::Yes) != Dialogs::Answer::Yes) {
            if (PageControl1->currentIndex() == pgOutput)
                editOutputDir->setFocus();
            return;
        }
        if (!QDir().mkpath(folder)) {
            Refuse(QStringLiteral("Cannot create ") + folder, pgOutput, editOutputDir);
            return;
        }
    }
    const QFileInfo dir(folder);
    if (folder.isEmpty() || !dir.isDir()) {
        Refuse(folder + QStringLiteral(",") + QStringLiteral("The output directory does not exist."), pgOutput, editOutputDir);
        return;
    }
    if (IsReadOnlyFile(folder.toStdString()) || access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        Refuse(folder + QStringLiteral(",") + QStringLiteral("The output directory can not be written."), pgOutput,
               editOutputDir);
        return;
    }
    if (const std::string problem = NamingTemplateProblem(eNamingTemplate->text().toStdString()); !problem.empty()) {
        PageControl1->setCurrentIndex(pgOutput);
        Refuse(QString::fromStdString(problem), pgOutput, eNamingTemplate);
        return;
    }
    static const QRegularExpression decimal(QStringLiteral("^\\s*[+-]?\\d+\\s*$"));
    bool ripTimeOk = false;
    const int ripTime = eRipTime->text().trimmed().toInt(&ripTimeOk);
    if (!decimal.match(eRipTime->text()).hasMatch() || !ripTimeOk) {
        Refuse(QStringLiteral("Please check the song length to extract."), -1, nullptr);
        return;
    }
    int32_t bitRate = 0, maxBitRate = 0;
    for (QComboBox* box : {cbBitRate, cbMaxBitRate}) {
        if (!BitRateOf(box->currentText(), box == cbBitRate ? bitRate : maxBitRate)) {
            PageControl1->setCurrentIndex(pgLame);
            m_dialogs.MessageBox(QStringLiteral("Please check the bit rate."), Dialogs::Icon::Error);
            box->setFocus();
            return;
        }
    }

    TOptionsSetting& o = Options;
    o.CommonOptions.OutputFolder = folder.toStdString();
    o.CommonOptions.IsKeepWav = !ckbKeepWav->isChecked();
    const int formatRow = cbOutputFormat->currentIndex();
    o.CommonOptions.OutputFormat = formatRow < 0 ? -1 : OutputFormats()[static_cast<std::size_t>(formatRow)].Stored;
    o.CommonOptions.IsNormalize = ckNormalize->isChecked();
    o.CommonOptions.NormalizePercent = SpinEdit1->value();
    o.CommonOptions.EnableRipTime = cbRipTime->isChecked();
    o.CommonOptions.RipTime = ripTime;
    o.Mp3Options.IsSelectVBR = ckbSelectVBR->isChecked();
    o.Mp3Options.IsVBRHead = ckbVBRHead->isChecked();
    o.Mp3Options.BitRate = bitRate;
    o.Mp3Options.MaxBitRate = maxBitRate;
    o.Mp3Options.VBRQuality = cbVBRQuality->currentIndex();
    o.Mp3Options.MpegQuality = cbMpegQuality->currentIndex();
    o.Mp3Options.StereoMode = cbStereoMode->currentIndex();
    o.OggOptions.IsUseCompress = cbUseCompress->isChecked();
    o.OggOptions.CompressPosition = tbCompression->value();
    o.OggOptions.NomalBitRate = cbOggNomBit->currentIndex();
    o.OggOptions.MaxBitRate = cbOggMaxBit->currentIndex();
    o.OggOptions.MinBitRate = cbOggMinBit->currentIndex();
    o.WMAOptions.BitRate = cbWMABitrate->currentIndex();
    o.UseID3 = cbUseID3->isChecked();
    o.CDInfo.Artist = ID3artist->text().toStdString();
    o.CDInfo.Album = ID3album->text().toStdString();
    o.CDInfo.Year = ID3year->text().toStdString();
    o.CDInfo.Genre = ID3genre->currentIndex();
    o.CDInfo.Comment = ID3comment->text().toStdString();
    o.CDOptions.Index = cbCDList->currentIndex();
    o.CDOptions.CDDb = ckbCDDb->isChecked();
    o.SecureOptions.SecureMode = ckSecureMode->isChecked();
    if (m_driveKey.empty()) {
        o.SecureOptions.ReadOffset = seReadOffset->value();
    } else if (m_offsetSource || seReadOffset->value() != m_shownOffset.Samples) {
        // The open drive's own entry: as looked up, or as typed.
        o.DriveOffsets[m_driveKey] =
            StoredOffsetText({seReadOffset->value(), m_offsetSource && seReadOffset->value() == m_shownOffset.Samples
                                                         ? *m_offsetSource
                                                         : TOffsetSource::Manual});
    }
    o.SecureOptions.RefuseDamaged = ckRefuseDamaged->isChecked();
    o.SecureOptions.AccurateRip = ckAccurateRip->isChecked();
    o.SecureOptions.AccurateRipServer = eAccurateRipServer->text().trimmed().isEmpty()
                                            ? std::string(DefaultAccurateRipServer)
                                            : eAccurateRipServer->text().trimmed().toStdString();
    o.SecureOptions.WriteLog = ckWriteLog->isChecked();
    o.SecureOptions.BurstFirst = ckBurstFirst->isChecked();
    o.SecureOptions.WriteCue = ckWriteCue->isChecked();
    o.SecureOptions.RipHiddenTrack = ckRipHiddenTrack->isChecked();
    o.SecureOptions.Image = ckImage->isChecked();
    o.Ctdb.Use = ckCtdb->isChecked();
    o.Ctdb.Server = eCtdbServer->text().trimmed().isEmpty() ? std::string(DefaultCtdbServer)
                                                            : eCtdbServer->text().trimmed().toStdString();
    o.FlacOptions.Level = seFlacLevel->value();
    o.OpusOptions.BitRate = seOpusBitRate->value();
    o.Tags.ReplayGain = ckReplayGain->isChecked();
    o.Naming.Template = eNamingTemplate->text().toStdString();
    // An emptied address is the service's own.
    const auto address = [](QLineEdit* edit, const char* fallback) {
        const QString text = edit->text().trimmed();
        return text.isEmpty() ? std::string(fallback) : text.toStdString();
    };
    o.MusicBrainz.Server = address(eMusicBrainzServer, "https://musicbrainz.org");
    o.MusicBrainz.CoverArtServer = address(eCoverArtServer, "https://coverartarchive.org");
    o.MusicBrainz.FetchCover = ckFetchCover->isChecked();
    o.JobOptions.Encoders = seEncoders->value();
    o.JobOptions.Formats.clear();
    for (const auto& [stored, box] : ckAlso)
        if (box->isChecked() && box->isEnabled())
            o.JobOptions.Formats += (o.JobOptions.Formats.empty() ? "" : ",") + std::string(FormatOfStored(stored).Key);

    if (cbCDList->count() > 0 && (cbCDList->currentIndex() != m_shownDrive || ckbCDDb->isChecked() != m_shownCDDb))
    {
        m_disc.ChangeDrive(cbCDList->currentIndex());
        m_driveChanged = true;
    }
    accept();
}

void TOptionSetForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_placed)
        editOutputDir->setFocus();  // the first page's first box
    if (!m_placed && parentWidget()) {
        // Centred over the main window, whatever position was set before.
        m_placed = true;
        const QRect main = parentWidget()->frameGeometry();
        const QRect self = frameGeometry();
        move(main.left() + (main.width() - self.width()) / 2, main.top() + (main.height() - self.height()) / 2);
    }
}
