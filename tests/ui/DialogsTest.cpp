#include "AccurateRip.h"
#include "ID3Edit.h"
#include "Mp3EncodeThread.h"
#include "RecordWindow.h"
#include "WMAEncodeThread.h"
#include "MinorDialogs.h"
#include "OptionSet.h"
#include "QueryCddbForm.h"
#include "main.h"
#include "ProgramFolder.h"

#include "Global.h"
#include "DriveTestSupport.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "akrip32Drives.h"
#include "id3.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTreeWidget>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest/QTest>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <tuple>

namespace {

// Every field of the settings and the disc information, as text: two records are the same
// exactly when their dumps are.
std::string Dump(const TOptionsSetting& o)
{
    std::ostringstream s;
    const auto& c = o.CommonOptions;
    s << c.OutputFolder << '|' << c.OutputFormat << c.IsKeepWav << c.IsNormalize << c.NormalizePercent << '|'
      << c.EnableRipTime << c.RipTime << '|';
    const auto& m = o.Mp3Options;
    s << m.IsSelectVBR << m.IsVBRHead << m.BitRate << '|' << m.MaxBitRate << m.MpegQuality << m.VBRQuality << m.StereoMode << '|';
    const auto& g = o.OggOptions;
    s << g.IsUseCompress << g.CompressPosition << '|' << g.MaxBitRate << g.NomalBitRate << g.MinBitRate << '|';
    s << o.WMAOptions.BitRate << '|' << o.CDOptions.Index << o.CDOptions.CDDb << o.RecordOptions.SaveMp3 << '|';
    s << o.QueryCDDB.Server << o.QueryCDDB.Script << o.QueryCDDB.UseProxy << o.QueryCDDB.ProxyAddress << o.QueryCDDB.Port << '|';
    const auto& i = o.CDInfo;
    s << i.Artist << '|' << i.Album << '|' << i.Year << '|' << i.Genre << '|' << i.Comment << '|' << i.TrackNumber;
    for (const auto& t : i.Tracks)
        s << '|' << t;
    const auto& x = o.SecureOptions;
    s << '|' << x.SecureMode << x.ReadOffset << '|' << x.RefuseDamaged << x.AccurateRip << x.WriteLog << x.AccurateRipServer;
    s << '|' << o.FlacOptions.Level << '|' << o.OpusOptions.BitRate << '|' << o.Tags.ReplayGain << '|' << o.Naming.Template;
    s << '|' << o.MusicBrainz.Server << '|' << o.MusicBrainz.CoverArtServer << '|' << o.MusicBrainz.FetchCover;
    s << '|' << x.Image << '|' << o.Ctdb.Use << o.Ctdb.Server;
    return s.str() + (o.UseID3 ? "|id3" : "|");
}

class DialogTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        Options.Ctdb.Server = "http://127.0.0.1:1";  // no test asks a real host
        LoadSaveOptions(true);
        std::filesystem::create_directory(Path("Output"));
        Options.CommonOptions.OutputFolder = Path("Output");
        Options.CDInfo.Genre = -1;
        Options.CDInfo.Artist = "Artist";
    }
    void TearDown() override
    {
        AkripUseDrives({});
        TempDirTest::TearDown();
    }
    ScriptedDialogs dialogs;
};

// Opened and confirmed untouched: nothing changes but the drive index (-1, the CD-ROM page not
// shown). Edited and cancelled, or closed by its box: nothing at all changes.
TEST_F(DialogTest, OptionsUntouchedOrCancelledChangeNothing)
{
    TDiscScan disc(dialogs);
    Options.CDOptions.Index = 0;
    TOptionsSetting before = Options;
    {
        TOptionSetForm form(nullptr, dialogs, disc);
        EXPECT_EQ(form.windowTitle(), "Options");
        QStringList pages;
        for (int i = 0; i < form.PageControl1->count(); ++i)
            pages << form.PageControl1->tabText(i);
        EXPECT_EQ(pages, (QStringList{"Output", "LAME", "OGG", "WMA", "ID3 Tag", "CD-ROM", "Secure", "FLAC", "Opus", "MusicBrainz"}));
        form.btOk->click();
        EXPECT_EQ(form.result(), QDialog::Accepted);
    }
    before.CDOptions.Index = -1;
    EXPECT_EQ(Dump(Options), Dump(before));
    EXPECT_TRUE(dialogs.shown.empty());

    for (const bool closeBox : {false, true}) {
        TOptionSetForm form(nullptr, dialogs, disc);
        form.show();
        form.editOutputDir->setText(QString::fromStdString(Path("elsewhere")));
        form.cbOutputFormat->setCurrentIndex(2);
        form.ckbSelectVBR->setChecked(true);
        form.tbCompression->setValue(77);
        form.ID3artist->setText("Changed");
        form.ID3genre->setCurrentIndex(5);
        form.ckSecureMode->setChecked(true);
        form.seReadOffset->setValue(667);
        form.seFlacLevel->setValue(8);
        form.seOpusBitRate->setValue(64);
        form.ckReplayGain->setChecked(true);
        form.eMusicBrainzServer->setText("http://elsewhere");
        form.ckFetchCover->setChecked(false);
        form.PageControl1->setCurrentIndex(5);
        if (closeBox)
            form.close();
        else
            form.btCancel->click();
        EXPECT_EQ(Dump(Options), Dump(before)) << closeBox;
    }
}

// The Secure page: filled from the settings; the offset, the damage rule, the database and the
// log follow the mode; OK stores them, an empty database address being the default one.
TEST_F(DialogTest, OptionsSecurePage)
{
    TDiscScan disc(dialogs);
    Options.SecureOptions.ReadOffset = -30;
    Options.SecureOptions.AccurateRipServer = "http://example.test";
    TOptionSetForm form(nullptr, dialogs, disc);
    EXPECT_FALSE(form.ckSecureMode->isChecked());
    EXPECT_EQ(form.seReadOffset->value(), -30);
    EXPECT_FALSE(form.seReadOffset->isEnabled());
    EXPECT_FALSE(form.eAccurateRipServer->isEnabled());
    form.ckSecureMode->setChecked(true);
    EXPECT_TRUE(form.seReadOffset->isEnabled());
    EXPECT_TRUE(form.eAccurateRipServer->isEnabled());
    form.ckAccurateRip->setChecked(false);
    EXPECT_FALSE(form.eAccurateRipServer->isEnabled());
    // Burst-first needs a database to confirm its reads: either will do.
    EXPECT_TRUE(form.ckBurstFirst->isEnabled());
    form.ckCtdb->setChecked(false);
    EXPECT_FALSE(form.ckBurstFirst->isEnabled());
    EXPECT_FALSE(form.eCtdbServer->isEnabled());
    form.ckCtdb->setChecked(true);
    EXPECT_TRUE(form.ckBurstFirst->isEnabled());
    EXPECT_TRUE(form.eCtdbServer->isEnabled());
    form.ckAccurateRip->setChecked(true);
    form.seReadOffset->setValue(-5881);  // held at the range's end
    form.ckRefuseDamaged->setChecked(true);
    form.eAccurateRipServer->setText("  ");
    form.eCtdbServer->setText(" ");
    form.ckImage->setChecked(true);
    form.btOk->click();
    EXPECT_TRUE(Options.SecureOptions.SecureMode);
    EXPECT_EQ(Options.SecureOptions.ReadOffset, -5880);
    EXPECT_TRUE(Options.SecureOptions.RefuseDamaged);
    EXPECT_EQ(Options.SecureOptions.AccurateRipServer, DefaultAccurateRipServer);
    EXPECT_EQ(Options.Ctdb.Server, DefaultCtdbServer);
    EXPECT_TRUE(Options.SecureOptions.Image);
}

// With a drive open the Secure page shows that drive's offset and whence: the AccurateRip drive
// list's entry as kept in the cache; a value typed is stored as the drive's own ("manual"), a
// look-up as "list"; the offset set for every drive is left as it was.
TEST_F(DialogTest, TheSecurePageShowsTheOpenDrivesOffset)
{
    std::string record(69, '\0');
    record[0] = 102;  // +102
    record.replace(2, 16, "PLEXTOR - PX-760");
    record[35] = 40;
    std::string other = record;
    other[0] = 30;
    TTestHttpServer server([&](const std::string&) { return other; });
    Options.SecureOptions.AccurateRipServer = "http://127.0.0.1:" + std::to_string(server.Port());
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.ReadOffset = 0;
    WriteFile("DriveOffsets.bin", record);
    AkripUseDrives({std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({750}), "PLEXTOR ", "PX-760")});
    TDiscScan disc(dialogs);
    disc.CDHandle = disc.OpenDrive(0);
    ASSERT_NE(disc.CDHandle, 0);
    {
        TOptionSetForm form(nullptr, dialogs, disc);
        EXPECT_EQ(form.seReadOffset->value(), 102);
        EXPECT_EQ(form.lbOffsetSource->text(), "PLEXTOR - PX-760: +102, from the AccurateRip drive list");
        EXPECT_TRUE(form.btLookUpOffset->isEnabled());
        form.seReadOffset->setValue(48);
        form.btOk->click();
    }
    EXPECT_EQ(Options.DriveOffsets, (std::map<std::string, std::string>{{"PLEXTOR - PX-760", "+48 manual"}}));
    EXPECT_EQ(Options.SecureOptions.ReadOffset, 0);
    {
        TOptionSetForm form(nullptr, dialogs, disc);
        EXPECT_EQ(form.lbOffsetSource->text(), "PLEXTOR - PX-760: +48, set by hand");
        // An old copy of the list: the look-up fetches it again.
        std::filesystem::last_write_time(Path("DriveOffsets.bin"),
                                         std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 11));
        form.btLookUpOffset->click();
        EXPECT_EQ(form.seReadOffset->value(), 30);
        EXPECT_EQ(form.lbOffsetSource->text(),
                  "PLEXTOR - PX-760: +30, from the AccurateRip drive list (40 submissions)");
        form.btOk->click();
    }
    EXPECT_EQ(Options.DriveOffsets.at("PLEXTOR - PX-760"), "+30 list");
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
    CloseCDHandle(disc.CDHandle);
}

// Find...: with a disc AccurateRip knows in a drive whose offset is +48, the search reads two
// tracks on a thread of its own, asks, and the offset goes in the box as found on this drive; OK
// stores it. A disc the database does not know: said, the box as it was.
TEST_F(DialogTest, FindingTheOpenDrivesOffset)
{
    ASSERT_EQ(std::system((std::string(MKDISC) + " '" + Path("disc.cue") + "' 4 8 6 > /dev/null").c_str()), 0);
    const std::vector<int32_t> lengths = {300, 600, 450};
    const std::string bin = ReadFile("disc.bin");
    AkripUseDrives({OpenImageDrive(Path("disc.cue"))});
    TDiscScan probe(dialogs);
    probe.CDHandle = probe.OpenDrive(0);
    TTOC toc{};
    ASSERT_TRUE(ReadMsfToc(probe.CDHandle, toc));
    CloseCDHandle(probe.CDHandle);
    const TAccurateRipDiscId id = AccurateRipDiscId(toc);
    const auto le32 = [](uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    std::string entry = std::string(1, '\3') + le32(id.Id1) + le32(id.Id2) + le32(id.CddbId);
    int32_t start = 0;
    for (std::size_t t = 0; t < lengths.size(); ++t) {
        TTrackChecksums sums(int64_t{lengths[t]} * 588, t == 0, t + 1 == lengths.size());
        sums.Add(reinterpret_cast<const uint8_t*>(bin.data()) + std::size_t(start) * 2352, std::size_t(lengths[t]) * 2352);
        entry += std::string(1, '\6') + le32(sums.V1()) + le32(0);
        start += lengths[t];
    }
    int status = 200;
    TTestHttpServer server([&](const std::string&) { return entry; });
    server.StatusFor = [&](const std::string&) { return status; };
    Options.SecureOptions.AccurateRipServer = "http://127.0.0.1:" + std::to_string(server.Port());
    Options.SecureOptions.SecureMode = true;
    AkripUseDrives({std::make_shared<TOffsetDrive>(OpenImageDrive(Path("disc.cue")), 48)});
    TDiscScan disc(dialogs);
    disc.CDHandle = disc.OpenDrive(0);
    ASSERT_NE(disc.CDHandle, 0);
    {
        TOptionSetForm form(nullptr, dialogs, disc);
        EXPECT_EQ(form.lbOffsetSource->text(), "Sonvale - Image disc.cue: 0, none known");
        dialogs.answers = {Dialogs::Answer::Yes};
        form.btFindOffset->click();
        EXPECT_EQ(dialogs.Texts(), QStringList{"AccurateRip matches track 02 (confidence 6), track 03 (confidence 6) read "
                                               "with offset +48. Use it for Sonvale - Image disc.cue?"});
        EXPECT_EQ(form.seReadOffset->value(), 48);
        EXPECT_EQ(form.lbOffsetSource->text(), "Sonvale - Image disc.cue: +48, found on this drive");
        form.btOk->click();
    }
    EXPECT_EQ(Options.DriveOffsets.at("Sonvale - Image disc.cue"), "+48 found");
    dialogs.shown.clear();
    status = 404;
    {
        TOptionSetForm form(nullptr, dialogs, disc);
        form.btFindOffset->click();
        EXPECT_EQ(dialogs.Texts(), QStringList{"AccurateRip does not know this disc: the offset is found with a disc it knows."});
        EXPECT_EQ(form.seReadOffset->value(), 48);
    }
    CloseCDHandle(disc.CDHandle);
}

// The choice of a release: every release a row with its title, artist, date, country, label,
// catalogue number, format (the medium of how many) and tracks; Enter takes the selected one,
// Escape none.
TEST_F(DialogTest, TheChoiceOfARelease)
{
    std::vector<TMbRelease> releases(2);
    releases[0].Title = "Single";
    releases[0].Artist = "Solo";
    releases[0].Format = "CD";
    releases[0].Medium = releases[0].MediumCount = 1;
    releases[0].Tracks.resize(3);
    releases[1].Title = "Double";
    releases[1].Artist = "Solo";
    releases[1].Date = "2001-10-01";
    releases[1].Country = "US";
    releases[1].Label = "Twice";
    releases[1].CatalogNumber = "DBL-2";
    releases[1].Format = "CD";
    releases[1].Medium = 2;
    releases[1].MediumCount = 2;
    releases[1].Tracks.resize(3);
    for (const auto& [key, chosen] : {std::pair{Qt::Key_Return, 1}, std::pair{Qt::Key_Escape, -1}}) {
        TfrmChooseRelease choice(nullptr, releases);
        choice.show();
        ASSERT_EQ(choice.lvReleases->topLevelItemCount(), 2);
        QStringList row;
        for (int c = 0; c < choice.lvReleases->columnCount(); ++c)
            row << choice.lvReleases->topLevelItem(1)->text(c);
        EXPECT_EQ(row, (QStringList{"Double", "Solo", "2001-10-01", "US", "Twice", "DBL-2", "CD 2 of 2", "3"}));
        EXPECT_EQ(choice.lvReleases->currentItem(), choice.lvReleases->topLevelItem(0)) << "the first is selected";
        choice.lvReleases->setFocus();
        QTest::keyClick(choice.lvReleases, Qt::Key_Down);
        QTest::keyClick(choice.lvReleases, key);
        EXPECT_EQ(choice.Chosen(), chosen);
    }
}

// The FLAC and Opus pages: filled from the settings, held to their ranges, stored by OK; the
// format list ends with the two formats.
TEST_F(DialogTest, OptionsFlacAndOpusPages)
{
    TDiscScan disc(dialogs);
    Options.FlacOptions.Level = 3;
    Options.OpusOptions.BitRate = 96;
    TOptionSetForm form(nullptr, dialogs, disc);
    EXPECT_EQ(form.seFlacLevel->value(), 3);
    EXPECT_EQ(form.seOpusBitRate->value(), 96);
    const int count = form.cbOutputFormat->count();
    EXPECT_EQ(form.cbOutputFormat->itemText(count - 2), "FLAC file(*.FLAC)");
    EXPECT_EQ(form.cbOutputFormat->itemText(count - 1), "OPUS file(*.OPUS)");
    form.seFlacLevel->setValue(9);
    form.seOpusBitRate->setValue(5);
    form.cbOutputFormat->setCurrentIndex(count - 1);
    // A file name template that would leave the output folder is refused; a good one is stored.
    EXPECT_EQ(form.eNamingTemplate->text(), "%title%");
    form.eNamingTemplate->setText("../%title%");
    form.btOk->click();
    EXPECT_EQ(form.result(), 0) << "refused, the dialog stays";
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.contains("\"..\" would leave the output folder")) << dialogs.shown[0].text.toStdString();
    EXPECT_EQ(Options.Naming.Template, "%title%");
    form.eNamingTemplate->setText("%artist%/%track% %title%");
    form.btOk->click();
    EXPECT_EQ(Options.Naming.Template, "%artist%/%track% %title%");
    EXPECT_EQ(Options.FlacOptions.Level, 8);
    EXPECT_EQ(Options.OpusOptions.BitRate, 6);
    EXPECT_EQ(Options.CommonOptions.OutputFormat, 5);
}

// Encoders at once, on the Output page: 0 is shown as one per processor, the box goes to 16.
TEST_F(DialogTest, OptionsEncodersAtOnce)
{
    TDiscScan disc(dialogs);
    for (const auto& [stored, shown, typed, kept] : std::vector<std::tuple<int, const char*, int, int>>{
             {0, "One per processor", 3, 3}, {16, "16", 17, 16}, {2, "2", 0, 0}}) {
        Options.JobOptions.Encoders = stored;
        TOptionSetForm form(nullptr, dialogs, disc);
        EXPECT_EQ(form.seEncoders->text(), shown);
        form.seEncoders->setValue(typed);
        form.btOk->click();
        EXPECT_EQ(Options.JobOptions.Encoders, kept) << typed;
    }
}

// "Also encode to": the boxes of [JobOptions] Formats checked (an unknown key left out); the
// output format's own box cannot be checked; OK stores the checked keys in the table's order.
TEST_F(DialogTest, OptionsAlsoEncodeTo)
{
    TDiscScan disc(dialogs);
    Options.CommonOptions.OutputFormat = 4;  // FLAC
    Options.JobOptions.Formats = "opus, nope,mp3";
    TOptionSetForm form(nullptr, dialogs, disc);
    const auto box = [&](const char* key) { return form.findChild<QCheckBox*>(QStringLiteral("ckAlso_") + key); };
    ASSERT_TRUE(box("opus") && box("mp3") && box("flac") && box("ogg") && box("wma"));
    EXPECT_EQ(box("wav"), nullptr);
    EXPECT_TRUE(box("opus")->isChecked());
    EXPECT_TRUE(box("mp3")->isChecked());
    EXPECT_FALSE(box("ogg")->isChecked());
    EXPECT_FALSE(box("flac")->isEnabled());
    box("ogg")->setChecked(true);
    box("mp3")->setChecked(false);
    form.btOk->click();
    EXPECT_EQ(Options.JobOptions.Formats, "ogg,opus");
}

// Filling and the enabling rules; a bit rate of 64 round trip; the Default buttons; the folder
// browser; what OK stores.
TEST_F(DialogTest, OptionsShowStoreAndFollowTheirRules)
{
    TDiscScan disc(dialogs);
    Options.Mp3Options.BitRate = 64;
    Options.Mp3Options.IsSelectVBR = false;
    Options.CommonOptions.IsNormalize = false;
    TOptionSetForm form(nullptr, dialogs, disc);
    EXPECT_EQ(form.cbBitRate->currentText(), "64 kbit/s");
    EXPECT_FALSE(form.ckbVBRHead->isEnabled());
    EXPECT_FALSE(form.cbMaxBitRate->isEnabled());
    EXPECT_FALSE(form.cbVBRQuality->isEnabled());
    EXPECT_FALSE(form.SpinEdit1->isEnabled());
    form.ckbSelectVBR->setChecked(true);
    EXPECT_TRUE(form.cbMaxBitRate->isEnabled());
    form.ckNormalize->setChecked(true);
    EXPECT_TRUE(form.SpinEdit1->isEnabled());
    EXPECT_TRUE(form.ckbKeepWav->isEnabled());
    form.cbOutputFormat->setCurrentIndex(1);  // "WAV file(*.WAV)"
    EXPECT_EQ(form.cbOutputFormat->currentText(), "WAV file(*.WAV)");
    EXPECT_FALSE(form.ckbKeepWav->isEnabled());
    EXPECT_TRUE(form.gbRipTime->isHidden());
    EXPECT_TRUE(form.ckbCDDb->isHidden());
    EXPECT_EQ(form.cbWMABitrate->count(), 33);
    EXPECT_EQ(form.ID3genre->count(), 149);
    EXPECT_EQ(form.ID3genre->itemText(1), "A Cappella");

    form.bDefaultClick();
    EXPECT_FALSE(form.ckbSelectVBR->isChecked());
    EXPECT_EQ(form.cbBitRate->currentText(), "128 kbit/s");
    EXPECT_EQ(form.cbMaxBitRate->currentText(), "320 kbit/s");
    EXPECT_EQ(form.cbVBRQuality->currentIndex(), 4);
    EXPECT_EQ(form.cbStereoMode->currentText(), "Joint Stereo");
    form.cbWMABitrate->setCurrentIndex(3);
    form.bWMADefaultClick();
    EXPECT_EQ(form.cbWMABitrate->currentText(), "44.100 kHz,  64 kbit/s, Stereo");

    std::filesystem::create_directory(Path("chosen"));
    dialogs.folders = {QString::fromStdString(Path("chosen"))};
    form.btBrowserClick();
    EXPECT_EQ(form.editOutputDir->text(), QString::fromStdString(Path("chosen")));
    form.cbBitRate->setEditText(" 64 kbit/s");
    form.btOkClick();
    EXPECT_EQ(Options.Mp3Options.BitRate, 64);
    EXPECT_EQ(Options.Mp3Options.MaxBitRate, 320);
    EXPECT_EQ(Options.CommonOptions.OutputFolder, Path("chosen"));
    EXPECT_EQ(Options.CommonOptions.OutputFormat, 1);
    EXPECT_TRUE(Options.CommonOptions.IsNormalize);
}

// OK refuses, storing nothing: a folder that is missing, is a file or cannot be written; a song
// length that is no number; a bit rate that is no number (its page shown).
TEST_F(DialogTest, OptionsRefuseBadInput)
{
    TDiscScan disc(dialogs);
    const std::string before = Dump(Options);
    WriteFile("file", "x");
    std::filesystem::create_directory(Path("locked"));
    chmod(Path("locked").c_str(), 0555);
    const struct {
        std::function<void(TOptionSetForm&)> edit;
        QString text;
        Dialogs::Icon icon = Dialogs::Icon::Error;
    } cases[] = {
        // A missing folder is offered to be made; declined, nothing is stored.
        {[&](TOptionSetForm& f) {
             f.editOutputDir->setText(QString::fromStdString(Path("missing")));
             dialogs.answers = {Dialogs::Answer::No};
         },
         QString::fromStdString(Path("missing")) + ",The output directory does not exist.\ncreates a new directory?",
         Dialogs::Icon::Information},
        {[&](TOptionSetForm& f) { f.editOutputDir->setText(QString::fromStdString(Path("file"))); },
         QString::fromStdString(Path("file")) + ",The output directory does not exist."},
        {[&](TOptionSetForm& f) { f.editOutputDir->setText(QString::fromStdString(Path("locked"))); },
         QString::fromStdString(Path("locked")) + ",The output directory can not be written."},
        {[](TOptionSetForm& f) { f.eRipTime->setText("ten"); }, "Please check the song length to extract."},
        {[](TOptionSetForm& f) { f.cbMaxBitRate->setEditText("abc kbit/s"); }, "Please check the bit rate."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        dialogs.shown.clear();
        TOptionSetForm form(nullptr, dialogs, disc);
        form.show();
        form.ID3artist->setText("Not stored");
        c.edit(form);
        form.btOk->click();
        EXPECT_EQ(dialogs.Texts(), QStringList{c.text});
        EXPECT_EQ(dialogs.shown[0].icon, c.icon);
        EXPECT_TRUE(form.isVisible()) << "the dialog stays open";
        EXPECT_EQ(Dump(Options), before);
        if (c.text.startsWith("Please check the bit")) {
            EXPECT_EQ(form.PageControl1->currentIndex(), 1);
        }
    }
}

// On a fresh install the default output folder is not made yet: OK offers to make it (with its
// missing parents), and stores it.
TEST_F(DialogTest, OptionsOkMakesAMissingOutputFolder)
{
    TDiscScan disc(dialogs);
    TOptionSetForm form(nullptr, dialogs, disc);
    form.show();
    const std::string folder = Path("fresh/Output");
    form.editOutputDir->setText(QString::fromStdString(folder));
    dialogs.answers = {Dialogs::Answer::Yes};
    form.btOk->click();
    EXPECT_EQ(dialogs.Texts(), QStringList{QString::fromStdString(folder) +
                                           ",The output directory does not exist.\ncreates a new directory?"});
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(Options.CommonOptions.OutputFolder, folder);
    EXPECT_FALSE(form.isVisible());
}

// The CD-ROM page lists the drives; choosing the second and OK rescans it at once; a drive that
// cannot be opened leaves the status saying so.
TEST_F(DialogTest, OptionsSwitchTheDrive)
{
    AkripUseDrives({std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({750}), "FIRST", "One"),
                    std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({750, 750, 750}), "SECOND", "Two")});
    TDiscScan disc(dialogs);
    disc.FormShow();
    ASSERT_EQ(disc.Rows.size(), 1u);
    {
        TOptionSetForm form(nullptr, dialogs, disc);
        form.PageControl1->setCurrentIndex(5);
        ASSERT_EQ(form.cbCDList->count(), 2);
        EXPECT_EQ(form.cbCDList->itemText(1), "SECONDTwo");
        form.cbCDList->setCurrentIndex(1);
        form.btOkClick();
    }
    EXPECT_EQ(Options.CDOptions.Index, 1);
    EXPECT_EQ(disc.Rows.size(), 3u);
    EXPECT_EQ(disc.DriveStatusText, "SECONDTwo");

    auto refusing = std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({750}), "BAD", "Drive");
    refusing->RefuseHandle = true;
    AkripUseDrives({std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({750})), refusing});
    Options.CDOptions.Index = 0;
    TOptionSetForm form(nullptr, dialogs, disc);
    form.PageControl1->setCurrentIndex(5);
    form.cbCDList->setCurrentIndex(1);
    form.btOkClick();
    EXPECT_EQ(disc.CDHandle, 0);
    EXPECT_EQ(disc.StatusText(), "No CD devices found!");
}

// The rename dialog: the title selected on show, typing replaces it; empty: OK disabled, Enter
// still closes with OK; Cancel keeps the title (through the main window's command).
TEST_F(DialogTest, RenameDialog)
{
    TfrmEditTrackName rename(nullptr, "Track05");
    EXPECT_EQ(rename.windowTitle(), "Rename Track Title");
    rename.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rename));
    EXPECT_EQ(rename.eName->selectedText(), "Track05");
    EXPECT_TRUE(rename.eName->hasFocus());
    QTest::keyClick(rename.eName, Qt::Key_X);
    EXPECT_EQ(rename.Title(), "x");
    rename.eName->clear();
    EXPECT_FALSE(rename.bOK->isEnabled());
    QTest::keyClick(rename.eName, Qt::Key_Return);
    EXPECT_EQ(rename.result(), QDialog::Accepted);
    EXPECT_EQ(rename.Title(), "");

    AkripUseDrives({std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({750, 750}))});
    TMainForm form(dialogs);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_FALSE(form.aEditTrackName->isEnabled()) << "no row selected";
    form.ListView1->setCurrentItem(form.ListView1->topLevelItem(1));
    ASSERT_TRUE(form.aEditTrackName->isEnabled());
    form.aEditTrackName->trigger();  // cancelled
    EXPECT_EQ(form.Disc().Rows[1].Title, "Track02");
    dialogs.onModal = [](QDialog& d) {
        auto& r = dynamic_cast<TfrmEditTrackName&>(d);
        r.eName->setText("Renamed");
        return int(QDialog::Accepted);
    };
    emit form.ListView1->itemDoubleClicked(form.ListView1->topLevelItem(1), 1);
    EXPECT_EQ(form.Disc().Rows[1].Title, "Renamed");
    EXPECT_EQ(form.ListView1->topLevelItem(1)->text(1), "Renamed");
    form.hide();
}

// The start button's menu: ten items with three separators at 96 dpi is 152 pixels; near the
// top of the screen the menu opens below the button, elsewhere above.
TEST(StartButtonTest, MenuPlacement)
{
    EXPECT_EQ(StartMenuHeight(10, 3, 17, 9), 152);
    EXPECT_EQ(StartMenuHeight(10, 3, 21, 9), 180);
    EXPECT_EQ(StartMenuTop(152, 500, 24), 348);   // above: ends at the button's top
    EXPECT_EQ(StartMenuTop(152, 152, 24), 176);   // H = Y does not fit above: below
    EXPECT_EQ(StartMenuTop(152, 153, 24), 1);
    EXPECT_EQ(StartMenuTop(152, 40, 24), 64);

    TAfStartButton button;
    button.resize(80, 30);
    button.SetCaption("Start");
    QPixmap picture(16, 16);
    picture.fill(Qt::red);
    button.SetImage(picture);
    EXPECT_EQ(button.m_Image->pos(), QPoint(0, 7));
    int clicks = 0;
    button.OnClick = [&] { ++clicks; };
    button.show();
    QTest::mousePress(button.m_Image, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_TRUE(button.Pressed());
    EXPECT_EQ(button.m_Image->pos(), QPoint(1, 8));
    EXPECT_EQ(button.frameShadow(), QFrame::Sunken);
    QTest::mouseRelease(button.m_Image, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(button.m_Image->pos(), QPoint(0, 7));
    EXPECT_EQ(button.frameShadow(), QFrame::Raised);
    EXPECT_EQ(clicks, 1);
}

// The hint when no drive opens: it names each disc image that could not be opened and why; the
// same lines go to standard error.
TEST_F(DialogTest, TheNoDeviceHintNamesTheImagesThatFailed)
{
    WriteFile("notadisc.cue", "this is no cue sheet\n");
    WriteFile("lost.cue", "FILE \"lost.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    WriteFile("song.mp3", "x");
    setenv("SONVALE_DISC_IMAGES", (Path("missing.cue") + ":" + Path("lost.cue") + ":" + Path("song.mp3")).c_str(), 1);
    const std::vector<std::string> problems = DiscImageProblems();
    unsetenv("SONVALE_DISC_IMAGES");
    EXPECT_EQ(problems, (std::vector<std::string>{Path("missing.cue") + ": the file does not exist",
                                                  Path("lost.cue") + ": it names " + Path("lost.bin") + ", which does not exist",
                                                  Path("song.mp3") + ": it is not a disc image (.cue, .toc or .nrg)"}));

    TfrmNoDeviceHint hint(nullptr, {QString::fromStdString(problems[0])}, nullptr);
    EXPECT_EQ(hint.windowTitle(), "Sonvale");
    const QStringList texts = hint.Texts();
    EXPECT_EQ(texts.front(), "The Software couldn't find CD devices.Please check the following problems:");
    EXPECT_TRUE(texts.contains("    " + QString::fromStdString(problems[0])));

    // Start-up without any drive shows it once.
    AkripUseDrives({});
    TMainForm form(dialogs);
    form.FormActivate();
    form.FormActivate();
    EXPECT_EQ(dialogs.modals, QStringList{"TfrmNoDeviceHint"});
}

TEST_F(DialogTest, TheAboutBox)
{
    QStringList opened;
    TfrmAbout about(nullptr, [&](const QString& link) { opened << link; });
    EXPECT_EQ(about.windowTitle(), "About Sonvale");
    EXPECT_EQ(about.Image1->size(), QSize(360, 50));
    EXPECT_EQ(about.Icon1->size(), QSize(32, 32));
    QStringList texts;
    for (const QLabel* l : about.findChildren<QLabel*>())
        texts << l->text();
    EXPECT_TRUE(texts.contains("Version: 2.1   Bulid 20061219"));
    EXPECT_TRUE(texts.contains("Sonvale"));
    emit about.lUpdate->linkActivated("https://sonvale.org/update");
    EXPECT_EQ(opened, QStringList{"https://sonvale.org/update"});
}

// A help page opens from the help folder (beside the program, or share/doc/sonvale installed) with
// its anchor; a page that is not there is said instead of handed to the browser.
TEST_F(DialogTest, HelpPagesOpenFromTheHelpFolder)
{
    TProgramPlaces installed;
    installed.Installed = true;
    installed.Config = installed.Data = m_dir;
    installed.Docs = Path("doc/");
    SetProgramPlaces(installed);
    OpenLinkOrSay(dialogs, "drives.html#images");
    EXPECT_TRUE(dialogs.opened.empty());
    EXPECT_EQ(dialogs.Texts(), QStringList{QString::fromStdString("The help page " + Path("doc/drives.html") + " is not installed.")});

    std::filesystem::create_directory(Path("doc"));
    WriteFile("doc/drives.html", "<html></html>");
    dialogs.shown.clear();
    OpenLinkOrSay(dialogs, "drives.html#images");
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.opened, std::vector<QString>{QString::fromStdString("file://" + Path("doc/drives.html") + "#images")});
    OpenLinkOrSay(dialogs, "https://sonvale.org/");
    EXPECT_EQ(dialogs.opened.back(), "https://sonvale.org/");
}

// The ID3 editor on MP3 files lame made.
class Id3EditTest : public DialogTest {
protected:
    std::string Mp3(const std::string& name)
    {
        const std::string wav = Path(name + ".wav"), mp3 = Path(name);
        EXPECT_EQ(std::system(("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 0.3 sine 440 && lame --quiet " + wav + " " + mp3)
                                  .c_str()),
                  0);
        return mp3;
    }
};

TEST_F(Id3EditTest, LoadSaveAndTheGenreAndTrackRules)
{
    const std::string mp3 = Mp3("plain.mp3");
    TfrmID3Edit editor(nullptr, dialogs);
    EXPECT_EQ(editor.windowTitle(), "ID3 Tag Edit");
    EXPECT_FALSE(editor.bSaveTag->isEnabled());
    EXPECT_FALSE(editor.bRemoveTag->isEnabled());
    EXPECT_EQ(editor.ID3genre->currentIndex(), -1);

    // No tag: cleared fields; Save Tag appends one that id3v2 reads.
    editor.ID3title->setText("stale");
    dialogs.openFiles = {{QString::fromStdString(mp3)}};
    editor.bLoadTagClick();
    EXPECT_EQ(editor.windowTitle(), QString::fromStdString("ID3 Tag Edit: " + mp3));
    EXPECT_TRUE(editor.bSaveTag->isEnabled());
    EXPECT_EQ(editor.ID3title->text(), "");
    EXPECT_EQ(editor.ID3track->text(), "0");
    editor.ID3title->setText("My Song");
    editor.ID3artist->setText("My Band");
    editor.ID3genre->setCurrentIndex(ID3ToGenre(12));
    EXPECT_EQ(editor.ID3genre->currentText(), "Other");
    editor.ID3track->setText("7");
    editor.aSaveTagExecute();
    EXPECT_TRUE(dialogs.shown.empty());
    const std::string listed = CommandOutput("id3v2 -l '" + mp3 + "'");
    EXPECT_NE(listed.find("My Song"), std::string::npos) << listed;
    EXPECT_NE(listed.find("My Band"), std::string::npos) << listed;
    Tid3tag tag;
    ASSERT_EQ(tag.ReadFromFile(mp3), id3Success);
    EXPECT_EQ(tag.Genre, 12);
    EXPECT_EQ(tag.Track(), 7);

    // Loaded again: Other; an empty track box keeps 7, "0" clears it; the empty entry saves 255.
    dialogs.openFiles = {{QString::fromStdString(mp3)}};
    editor.bLoadTagClick();
    EXPECT_EQ(editor.ID3genre->currentText(), "Other");
    EXPECT_EQ(editor.ID3track->text(), "7");
    editor.ID3track->clear();
    editor.ID3genre->setCurrentIndex(0);
    editor.aSaveTagExecute();
    ASSERT_EQ(tag.ReadFromFile(mp3), id3Success);
    EXPECT_EQ(tag.Track(), 7);
    EXPECT_EQ(tag.Genre, 255);
    editor.ID3track->setText("0");
    editor.aSaveTagExecute();
    ASSERT_EQ(tag.ReadFromFile(mp3), id3Success);
    EXPECT_EQ(tag.Track(), 0);

    // Codes 255 and 200 show the empty entry.
    for (const uint8_t code : {uint8_t{255}, uint8_t{200}}) {
        tag.Genre = code;
        ASSERT_LT(tag.SaveToFile(mp3), 256);
        dialogs.openFiles = {{QString::fromStdString(mp3)}};
        editor.bLoadTagClick();
        EXPECT_EQ(editor.ID3genre->currentIndex(), 0) << int(code);
    }

    // Letters typed into the track box do not appear.
    editor.ID3track->clear();
    QTest::keyClicks(editor.ID3track, "a1b2c3");
    EXPECT_EQ(editor.ID3track->text(), "12");
}

TEST_F(Id3EditTest, SaveAsRemoveAndFilesThatRefuse)
{
    const std::string mp3 = Mp3("a.mp3");
    TfrmID3Edit editor(nullptr, dialogs);
    // Save As into a file that does not exist: refused, the caption unchanged.
    dialogs.openFiles = {{QString::fromStdString(Path("none.mp3"))}};
    editor.bSaveASClick();
    EXPECT_EQ(dialogs.Texts(), QStringList{"Could not save Tag!"});
    EXPECT_EQ(editor.windowTitle(), "ID3 Tag Edit");

    // Load Tag of a path that does not exist: said; the caption and file in hand unchanged.
    dialogs.shown.clear();
    dialogs.openFiles = {{QString::fromStdString(Path("gone.mp3"))}};
    editor.bLoadTagClick();
    EXPECT_EQ(dialogs.Texts(), QStringList{"Could not find " + QString::fromStdString(Path("gone.mp3"))});
    EXPECT_EQ(editor.windowTitle(), "ID3 Tag Edit");

    // Save As into an existing file: it becomes the file in hand.
    dialogs.shown.clear();
    editor.ID3title->setText("Copied");
    dialogs.openFiles = {{QString::fromStdString(mp3)}};
    editor.bSaveASClick();
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(editor.windowTitle(), QString::fromStdString("ID3 Tag Edit: " + mp3));

    // Remove Tag asks, No preselected; No keeps it, Yes removes it and clears the fields.
    dialogs.answers = {Dialogs::Answer::No, Dialogs::Answer::Yes};
    editor.aRemoveTagExecute();
    Tid3tag tag;
    EXPECT_EQ(tag.ReadFromFile(mp3), id3Success);
    editor.aRemoveTagExecute();
    EXPECT_EQ(dialogs.Texts(), (QStringList{"Do you want to remove these tags?", "Do you want to remove these tags?"}));
    EXPECT_EQ(tag.ReadFromFile(mp3), id3NoTag);
    EXPECT_EQ(editor.ID3title->text(), "");
    EXPECT_EQ(editor.ID3track->text(), "0");

    // A read-only file: refused, not a byte changed.
    dialogs.shown.clear();
    chmod(mp3.c_str(), 0444);
    const std::string before = ReadFile("a.mp3");
    editor.ID3title->setText("Never");
    editor.aSaveTagExecute();
    EXPECT_EQ(dialogs.Texts(), QStringList{"Could not save Tag!"});
    EXPECT_TRUE(ReadFile("a.mp3") == before);

    // A track text that is no number (pasted past the box's rule): refused, nothing written.
    chmod(mp3.c_str(), 0644);
    dialogs.shown.clear();
    editor.ID3track->setValidator(nullptr);
    editor.ID3track->setText("x1");
    editor.aSaveTagExecute();
    EXPECT_EQ(dialogs.Texts(), QStringList{"Please check the track number."});
    EXPECT_TRUE(ReadFile("a.mp3") == before);
}

// The recorder window: its menu in order, the buttons off until a file is in hand, and the
// recording control that names the program to install when it is missing.
TEST_F(DialogTest, TheRecorderWindow)
{
    setenv("SONVALE_AUDIO", "null", 1);
    TMp3EncodeProcess mp3(dialogs);
    TWMAEncodeProcess wma(dialogs);
    TfrmRecord recorder(nullptr, dialogs, mp3, wma, 0);
    unsetenv("SONVALE_AUDIO");
    EXPECT_EQ(recorder.windowTitle(), "Record");
    QStringList items;
    for (const QAction* a : recorder.PopupMenu1->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(items, (QStringList{"&New...", "&Open...", "&Save", "Save &As...", "&Undo", "-", "&Recording Control...", "-",
                                  "&MP3 format", "-", "&Exit"}));
    for (const auto& [button, widget] : recorder.MediaPlayer1)
        EXPECT_FALSE(widget->isEnabled()) << button;
    EXPECT_EQ(recorder.lbState->text(), "-----------");
    EXPECT_EQ(recorder.panRecordTime->text(), "00:00:00.0");

    dialogs.onModal = [](QDialog& d) {
        auto& f = dynamic_cast<TfrmNewRecordFile&>(d);
        EXPECT_EQ(f.windowTitle(), "New sound file");
        EXPECT_EQ(f.cbBitSamples->currentText(), "44100");
        EXPECT_EQ(f.cbBitSamples->itemText(0), "  8000");
        EXPECT_TRUE(f.rb16bit->isChecked());
        EXPECT_TRUE(f.rbStereo->isChecked());
        f.rbMono->setChecked(true);
        return int(QDialog::Accepted);
    };
    recorder.miNew->trigger();
    EXPECT_EQ(recorder.windowTitle(), "Record(NoName)");
    EXPECT_TRUE(recorder.MediaPlayer1[TRecorder::btRecord]->isEnabled());
    EXPECT_FALSE(recorder.MediaPlayer1[TRecorder::btPlay]->isEnabled());
    EXPECT_EQ(recorder.Recorder().Device().Format().Channels, 1);

    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", Path("nowhere").c_str(), 1);
    recorder.miRecordOptionSetClick();
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(dialogs.Texts().back(),
              "The recording control needs the program pavucontrol. Install it with:\nsudo apt-get install pavucontrol");
    EXPECT_EQ(dialogs.shown.back().icon, Dialogs::Icon::Information);
    dialogs.answers = {Dialogs::Answer::No};
    recorder.close();
}

}  // namespace
