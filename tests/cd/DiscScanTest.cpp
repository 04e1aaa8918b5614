#include "DiscScan.h"

#include "Global.h"
#include "ProfileFile.h"
#include "akrip32Drives.h"

#include "TestSupport.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

// A table in minute/second/frame mode from start addresses given as {m, s, f}, the last being
// the lead-out.
TTOC MsfToc(std::initializer_list<std::array<int, 3>> starts, int first = 1)
{
    TTOC toc{};
    toc.FirstTrack = static_cast<uint8_t>(first);
    toc.LastTrack = static_cast<uint8_t>(first + static_cast<int>(starts.size()) - 2);
    int e = 0;
    for (const auto& msf : starts) {
        toc.Tracks[e].Addr[1] = static_cast<uint8_t>(msf[0]);
        toc.Tracks[e].Addr[2] = static_cast<uint8_t>(msf[1]);
        toc.Tracks[e].Addr[3] = static_cast<uint8_t>(msf[2]);
        ++e;
    }
    return toc;
}

// Sectors from 00:02:00 to m:s:f.
int32_t Sectors(int m, int s, int f)
{
    return (m * 60 + s) * 75 + f - 150;
}

class DiscScanTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        LoadSaveOptions(true);
    }
    void TearDown() override
    {
        AkripUseDrives({});
        TempDirTest::TearDown();
    }

    // One drive holding an audio disc of tracks with these lengths in sectors.
    std::shared_ptr<TScriptedDrive> AudioDrive(const std::vector<int32_t>& sectors, std::string vendor = "VENDOR  ",
                                               std::string product = "Model 1")
    {
        return std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc(sectors), vendor, product);
    }

    ScriptedDialogs dialogs;
};

TEST(DiscScanRowsTest, TheTableBecomesRowsWithLengthsAndSizes)
{
    // 4:10 and 0:30 tracks, then one from 04:42:00 to 08:41:74 whose seconds borrow: 03:59.
    const TTOC toc = MsfToc({{0, 2, 0}, {4, 12, 0}, {4, 42, 0}, {8, 41, 74}});
    TCDInfo info{};
    const std::vector<TTrackRow> rows = TrackRows(toc, info, 0);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].LengthText, "04:10");
    EXPECT_EQ(rows[0].SizeText, "42.06");
    EXPECT_EQ(rows[1].LengthText, "00:30");
    EXPECT_EQ(rows[1].SizeText, "05.05");
    EXPECT_EQ(rows[2].LengthText, "03:59");
    EXPECT_EQ(rows[2].SizeText, "40.21");
    EXPECT_EQ(rows[2].TrackNumber, 3);
    EXPECT_TRUE(rows[0].Checked && rows[1].Checked && rows[2].Checked);
    EXPECT_EQ(rows[0].Title, "Track01");
    EXPECT_EQ(info.Tracks[3], "Track03");

    // Hundredths round to nearest, halves to even: 8192 seconds are exactly 1378.125 MiB.
    EXPECT_EQ(SizeText(0, 1), "00.17");
    EXPECT_EQ(SizeText(136, 32), "1378.12");
    EXPECT_EQ(LengthText(100, 5), "100:05");

    // Whole minutes do not borrow (seconds 0 is not negative): 00:02:00 to 03:02:00 is 03:00,
    // and 03:02:74 to 04:02:00 is 01:00, the frames dropped.
    const std::vector<TTrackRow> whole = TrackRows(MsfToc({{0, 2, 0}, {3, 2, 74}, {4, 2, 0}}), info, 0);
    EXPECT_EQ(whole[0].LengthText, "03:00");
    EXPECT_EQ(whole[1].LengthText, "01:00");
}

TEST(DiscScanRowsTest, UnusableTablesAreTold)
{
    TTOC toc = MsfToc({{0, 2, 0}, {1, 0, 0}});
    EXPECT_TRUE(TocIsUsable(toc));
    toc.LastTrack = 120;
    EXPECT_FALSE(TocIsUsable(toc));
    toc.FirstTrack = 5;
    toc.LastTrack = 4;
    EXPECT_FALSE(TocIsUsable(toc));
    toc.FirstTrack = 0;
    toc.LastTrack = 1;
    EXPECT_FALSE(TocIsUsable(toc));
}

TEST(DiscScanRowsTest, DiscKeysOfKnownTables)
{
    // One track, 00:02:00 to 03:00:00: 0x000200 = 512, plus the length 13500 - 150 = 13350.
    EXPECT_EQ(DiscKeyOfToc(MsfToc({{0, 2, 0}, {3, 0, 0}})), "13862");
    // Two tracks at 00:02:00 and 04:12:10, lead-out 10:00:00:
    // 0x000200 + 0x040C0A = 512 + 265226 = 265738, plus 45000 - 150 = 44850: 310588.
    EXPECT_EQ(DiscKeyOfToc(MsfToc({{0, 2, 0}, {4, 12, 10}, {10, 0, 0}})), "310588");
    // Three tracks, the first disc without the length: 0x000200 + 0x010000 + 0x020000 = 197120.
    EXPECT_EQ(DiscKeyOfToc(MsfToc({{0, 2, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}})), "197120");
    // Twelve tracks: no length is added, only the starts count.
    //   00:02:00 0x000200    512      04:05:06 0x040506 263430     08:10:20 0x080A14 526868
    //   12:15:30 0x0C0F1E 790302      16:20:40 0x101428 1053736    20:25:50 0x141932 1317170
    //   24:30:60 0x181E3C 1580604     28:35:70 0x1C2346 1844038    32:40:01 0x202801 2107393
    //   36:45:11 0x242D0B 2370827     40:50:21 0x283215 2634261    44:55:31 0x2C371F 2897695
    //   sum = 17386836
    EXPECT_EQ(DiscKeyOfToc(MsfToc({{0, 2, 0}, {4, 5, 6}, {8, 10, 20}, {12, 15, 30}, {16, 20, 40}, {20, 25, 50},
                                   {24, 30, 60}, {28, 35, 70}, {32, 40, 1}, {36, 45, 11}, {40, 50, 21},
                                   {44, 55, 31}, {49, 0, 0}})),
              "17386836");
    // Sums past 2^31 are written as negative numbers: 99 tracks at 79:59:74 is 99 * 0x4F3B4A.
    std::vector<std::array<int, 3>> many(100, {79, 59, 74});
    TTOC big{};
    big.FirstTrack = 1;
    big.LastTrack = 99;
    for (int e = 0; e < 100; ++e) {
        big.Tracks[e].Addr[1] = 79;
        big.Tracks[e].Addr[2] = 59;
        big.Tracks[e].Addr[3] = 74;
    }
    EXPECT_EQ(DiscKeyOfToc(big), std::to_string(static_cast<int32_t>(99u * 0x4F3B4Au)));
}

TEST_F(DiscScanTest, StartUpListsTheDiscInTheFirstDrive)
{
    AkripUseDrives({AudioDrive({Sectors(4, 12, 0), 2250})});
    TDiscScan scan(dialogs);
    scan.FormShow();
    ASSERT_NE(scan.CDHandle, 0);
    EXPECT_FALSE(scan.NoAudioCD);
    ASSERT_EQ(scan.Rows.size(), 2u);
    EXPECT_EQ(scan.Rows[0].LengthText, "04:10");
    EXPECT_EQ(scan.StatusText(), "VENDOR  Model 1");
    EXPECT_EQ(scan.DriveStatusText, "VENDOR  Model 1");
    EXPECT_TRUE(scan.AnyTrackChecked());
    scan.Rows[0].Checked = scan.Rows[1].Checked = false;
    EXPECT_FALSE(scan.AnyTrackChecked());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DiscScanTest, TenTracksWithoutRememberedTitles)
{
    AkripUseDrives({AudioDrive(std::vector<int32_t>(10, 750))});
    TDiscScan scan(dialogs);
    scan.FormShow();
    ASSERT_EQ(scan.Rows.size(), 10u);
    EXPECT_EQ(scan.Rows[8].Title, "Track09");
    EXPECT_EQ(scan.Rows[9].Title, "Track10");
    EXPECT_EQ(scan.Rows[9].TrackNumber, 10);
}

TEST_F(DiscScanTest, TheDiscInTheSecondDriveIsListedOnlyAfterChoosingIt)
{
    auto empty = TScriptedDrive::Empty("FIRST   ", "Empty drive");
    AkripUseDrives({empty, AudioDrive({750, 750, 750})});
    TDiscScan scan(dialogs);
    scan.FormShow();
    EXPECT_NE(scan.CDHandle, 0);
    EXPECT_TRUE(scan.NoAudioCD);
    EXPECT_TRUE(scan.Rows.empty());
    EXPECT_EQ(scan.DriveStatusText, "FIRST   Empty drive");
    EXPECT_FALSE(DiscKey().empty()) << "the key comes from the drive that holds the disc";

    scan.Refresh();  // the first drive still holds no audio disc
    EXPECT_EQ(dialogs.Texts(), QStringList{"Please check if have Audio CD in your CD device."});

    scan.ChangeDrive(1);
    EXPECT_EQ(scan.Rows.size(), 3u);
    EXPECT_EQ(scan.DriveStatusText, "VENDOR  Model 1");
}

TEST_F(DiscScanTest, NoDriveRefusedHandleAndBadPosition)
{
    struct Case {
        const char* name;
        std::function<void()> arrange;
        int position;
        std::string status;
    } cases[] = {
        {"no drive", [] { AkripUseDrives({}); }, 0, "No CD devices found!"},
        {"position beyond the list", [this] { AkripUseDrives({AudioDrive({750})}); }, 1,
         "CD device information error in your configration!"},
        {"negative position", [this] { AkripUseDrives({AudioDrive({750})}); }, -1,
         "CD device information error in your configration!"},
        {"handle refused",
         [this] {
             auto drive = AudioDrive({750});
             drive->RefuseHandle = true;
             AkripUseDrives({drive});
         },
         0, "No CD devices found!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        TDiscScan scan(dialogs);
        EXPECT_EQ(scan.OpenDrive(c.position), 0);
        EXPECT_EQ(scan.StatusText(), c.status);
        if (c.position != 0)
            continue;  // start-up always opens the first drive
        scan.FormShow();
        EXPECT_EQ(scan.CDHandle, 0);
        EXPECT_FALSE(scan.NoAudioCD);
        EXPECT_TRUE(scan.Rows.empty());
        scan.ScanDisc();  // without a drive there is nothing to scan
        EXPECT_TRUE(scan.Rows.empty());
    }
}

TEST_F(DiscScanTest, AnUnreadableTableEmptiesTheList)
{
    auto drive = AudioDrive({750, 750});
    AkripUseDrives({drive});
    TDiscScan scan(dialogs);
    scan.FormShow();
    ASSERT_EQ(scan.Rows.size(), 2u);
    drive->TocUnreadable = true;
    scan.VolumeArrived();
    EXPECT_TRUE(scan.Rows.empty());
    EXPECT_EQ(scan.StatusText(), "Not get CD device information!");
}

TEST_F(DiscScanTest, AHandleFreedFromAnEarlierRunIsRetried)
{
    AkripUseDrives({AudioDrive({750})});
    TDiscScan scan(dialogs);
    std::vector<HCDROM> leftOver;
    for (int i = 0; i < 10; ++i)
        leftOver.push_back(scan.OpenDrive(0));
    EXPECT_EQ(leftOver.back(), 10);
    EXPECT_EQ(scan.OpenDrive(0), 1) << "handle 1 is closed and taken again";
}

TEST_F(DiscScanTest, ClosingSavesTheTitlesUnderTheDiscKeyAndRestartingShowsThem)
{
    AkripUseDrives({AudioDrive({750, 750, 750})});
    const std::string key = DiscKey();
    ASSERT_FALSE(key.empty());
    {
        TDiscScan scan(dialogs);
        scan.FormShow();
        scan.Rows[1].Title = "Renamed";
        scan.FormClose();
        EXPECT_EQ(scan.CDHandle, 0);
    }
    const TProfileFile saved(Path("cdinfo.dat"));
    EXPECT_EQ(saved.ReadInteger(key, "TrackNumber", -1), 3);
    EXPECT_EQ(saved.ReadString(key, "2", ""), "Renamed");
    EXPECT_EQ(saved.ReadInteger(key, "Genre", 0), -1);

    Options.CDInfo = TCDInfo{};
    TDiscScan again(dialogs);
    again.FormShow();
    ASSERT_EQ(again.Rows.size(), 3u);
    EXPECT_EQ(again.Rows[1].Title, "Renamed");
    EXPECT_EQ(again.Rows[0].Title, "Track01");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DiscScanTest, ClosingWithAnEmptyListStoresNoTitles)
{
    AkripUseDrives({AudioDrive({750, 750})});
    TDiscScan scan(dialogs);
    scan.FormShow();
    scan.VolumeRemoved();
    EXPECT_TRUE(scan.Rows.empty());
    scan.FormClose();
    EXPECT_EQ(TProfileFile(Path("cdinfo.dat")).ReadInteger(DiscKey(), "TrackNumber", -1), 0);
}

TEST_F(DiscScanTest, TitlesOfOneDiscNeverReachAnother)
{
    // Disc B was last closed with an empty list; disc A, scanned before it, had titles in memory.
    auto discA = AudioDrive({750, 750, 750});
    auto discB = AudioDrive({900, 900, 900, 900});
    AkripUseDrives({discB});
    const std::string keyB = DiscKey();
    WriteFile("cdinfo.dat", "[" + keyB + "]\nArtist=B\nTrackNumber=0\n");

    AkripUseDrives({discA});
    TDiscScan scan(dialogs);
    scan.FormShow();
    for (TTrackRow& row : scan.Rows)
        row.Title = "A title";
    for (int n = 1; n <= 3; ++n)
        Options.CDInfo.Tracks[n] = "A title";

    // Disc B goes into the same drive.
    discA->Toc = discB->Toc;
    scan.VolumeArrived();
    ASSERT_EQ(scan.Rows.size(), 4u);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(scan.Rows[r].Title, DefaultTrackTitle(r + 1));
    EXPECT_EQ(Options.CDInfo.Artist, "B");
}

TEST_F(DiscScanTest, ARefusedSaveKeepsTheDriveOpenAndAClosingFailureIsShown)
{
    AkripUseDrives({AudioDrive({750})});
    TDiscScan scan(dialogs);
    scan.FormShow();
    std::filesystem::create_directory(Path("cdinfo.dat"));  // cannot be written
    EXPECT_THROW(scan.FormClose(), EProfileWriteError);
    EXPECT_NE(scan.CDHandle, 0);
    std::filesystem::remove(Path("cdinfo.dat"));

    CloseCDHandle(scan.CDHandle);  // the handle is gone behind the scan's back
    scan.FormClose();
    EXPECT_EQ(dialogs.Texts(), QStringList{"Error while closing CD handle!"});
    EXPECT_EQ(dialogs.shown[0].icon, Dialogs::Icon::Error);
}

TEST_F(DiscScanTest, OutputFolderExists)
{
    TDiscScan scan(dialogs);
    Options.CommonOptions.OutputFolder = Path("Output");
    EXPECT_FALSE(scan.OutputFolderExists());
    EXPECT_EQ(dialogs.Texts(),
              QStringList{"The output directory does not exist.Please check the output directory setting."});
    EXPECT_EQ(dialogs.shown[0].icon, Dialogs::Icon::Information);
    std::filesystem::create_directory(Path("Output"));
    EXPECT_TRUE(scan.OutputFolderExists());
}

// A mixed-mode or Enhanced CD keeps a row for its data track, unchecked; the last audio track of
// the first session is as long as its audio, not as the way to the data track.
TEST_F(DiscScanTest, DataTracksAreListedUncheckedAndSessionsEndTheirLastTrack)
{
    AkripUseDrives({std::make_shared<TScriptedDrive>(TScriptedDrive::EnhancedToc({750, 1500}, 4500))});
    TDiscScan scan(dialogs);
    scan.FormShow();
    ASSERT_EQ(scan.Rows.size(), 3u);
    EXPECT_TRUE(scan.Rows[0].Checked);
    EXPECT_TRUE(scan.Rows[1].Checked);
    EXPECT_FALSE(scan.Rows[2].Checked);
    EXPECT_EQ(scan.Rows[1].LengthText, "00:20") << "not 02:52, across the 11400 sectors between the sessions";
    EXPECT_EQ(scan.Rows[2].LengthText, "01:00");

    TTOC toc{};
    ModifyCDParms(scan.CDHandle, CDP_MSF, 1);
    ASSERT_EQ(ReadTOC(scan.CDHandle, &toc), 1);
    EXPECT_EQ(toc.Tracks[1].Session, 1);
    EXPECT_EQ(toc.Tracks[2].Session, 2);
    const TTrackSectors second = TrackSectors(toc, 2);
    EXPECT_EQ(second.Start, 750);
    EXPECT_EQ(second.Length, 1500);
    EXPECT_FALSE(second.Data);
    const TTrackSectors data = TrackSectors(toc, 3);
    EXPECT_EQ(data.Start, 750 + 1500 + 11400);
    EXPECT_TRUE(data.Data);
    // One session: a data track right after the audio (a mixed-mode image) ends nothing early.
    toc.Tracks[2].Session = 1;
    EXPECT_EQ(TrackSectors(toc, 2).Length, 1500 + 11400);
}

// Titles typed for a disc that leaves the drive come back when it returns, and every disc
// listed in the run is saved at close.
TEST_F(DiscScanTest, ADiscTakenOutKeepsItsTitlesUntilClose)
{
    auto drive = AudioDrive({750, 750, 750});
    const TDiscToc discA = drive->Toc;
    const TDiscToc discB = TScriptedDrive::AudioToc({900, 900});
    AkripUseDrives({drive});
    const std::string keyA = DiscKey();
    TDiscScan scan(dialogs);
    scan.FormShow();
    scan.Rows[1].Title = "A two";
    Options.CDInfo.Artist = "Artist A";

    drive->TocUnreadable = true;  // taken out
    scan.VolumeRemoved();
    drive->TocUnreadable = false;
    drive->Toc = discB;
    scan.VolumeArrived();
    const std::string keyB = DiscKey();
    ASSERT_NE(keyA, keyB);
    ASSERT_EQ(scan.Rows.size(), 2u);
    EXPECT_EQ(scan.Rows[1].Title, "Track02");
    EXPECT_EQ(Options.CDInfo.Artist, "");
    scan.Rows[0].Title = "B one";

    drive->Toc = discA;  // swapped back without a removal being seen
    scan.VolumeArrived();
    ASSERT_EQ(scan.Rows.size(), 3u);
    EXPECT_EQ(scan.Rows[1].Title, "A two");
    EXPECT_EQ(Options.CDInfo.Artist, "Artist A");
    EXPECT_FALSE(std::filesystem::exists(Path("cdinfo.dat"))) << "nothing is written before the close";

    scan.FormClose();
    const TProfileFile saved(Path("cdinfo.dat"));
    EXPECT_EQ(saved.ReadString(keyA, "2", ""), "A two");
    EXPECT_EQ(saved.ReadString(keyA, "Artist", ""), "Artist A");
    EXPECT_EQ(saved.ReadInteger(keyA, "TrackNumber", -1), 3);
    EXPECT_EQ(saved.ReadString(keyB, "1", ""), "B one");
    EXPECT_EQ(saved.ReadInteger(keyB, "TrackNumber", -1), 2);
}

// Two drives with different discs: whichever drive is open, the key, the titles read and the
// titles saved are its disc's, never the first drive's.
TEST_F(DiscScanTest, TheOpenDriveOwnsTheKeyAndTheTitles)
{
    auto driveA = AudioDrive({750, 750, 750});
    auto driveB = AudioDrive({900, 900}, "SECOND  ");
    AkripUseDrives({driveB});
    const std::string keyB = DiscKey();
    AkripUseDrives({driveA});
    const std::string keyA = DiscKey();
    ASSERT_NE(keyA, keyB);
    WriteFile("cdinfo.dat", "[" + keyA + "]\nArtist=A\nTrackNumber=3\n1=A one\n2=A two\n3=A three\n[" + keyB +
                                "]\nArtist=B\nTrackNumber=2\n1=B one\n2=B two\n");
    AkripUseDrives({driveA, driveB});

    TDiscScan scan(dialogs);
    scan.FormShow();
    EXPECT_EQ(scan.ListedKey(), keyA);
    scan.ChangeDrive(1);
    EXPECT_EQ(scan.ListedKey(), keyB);
    EXPECT_EQ(DiscKeyOf(scan.CDHandle), keyB);
    ASSERT_EQ(scan.Rows.size(), 2u);
    EXPECT_EQ(scan.Rows[1].Title, "B two");
    EXPECT_EQ(Options.CDInfo.Artist, "B");
    EXPECT_TRUE(scan.AudioCDPresent());
    scan.Refresh();  // the open drive's disc again, not the first drive's
    EXPECT_EQ(scan.Rows[1].Title, "B two");
    scan.Rows[1].Title = "B renamed";
    scan.FormClose();

    const TProfileFile saved(Path("cdinfo.dat"));
    EXPECT_EQ(saved.ReadString(keyB, "2", ""), "B renamed");
    EXPECT_EQ(saved.ReadString(keyA, "2", ""), "A two");
    EXPECT_EQ(saved.ReadInteger(keyA, "TrackNumber", -1), 3);
    EXPECT_TRUE(dialogs.shown.empty());
}

}  // namespace

// A disc image whose CUE sheet carries CD-TEXT (the disc's performer and title, two of three
// track titles, one in Greek) and an ISRC.
class DiscScanCdTextTest : public DiscScanTest {
protected:
    std::string CdTextImage(const std::string& name)
    {
        const std::string cue = Path(name + ".cue");
        EXPECT_EQ(std::system((std::string(MKDISC) + " --title 'Πρώτο' --title '' --title 'Third' '" + cue +
                               "' 3 4 5 > /dev/null").c_str()),
                  0);
        std::string text = ReadFile(name + ".cue");
        const std::size_t file = text.find("FILE ");
        EXPECT_NE(file, std::string::npos) << text;
        text = "PERFORMER \"Η μπάντα\"\nTITLE \"Disc Title\"\n" + text.substr(file);
        const std::size_t track1 = text.find("TRACK 01 AUDIO\n");
        EXPECT_NE(track1, std::string::npos) << text;
        text.insert(track1 + std::strlen("TRACK 01 AUDIO\n"), "    ISRC USABC1234567\n");
        WriteFile(name + ".cue", text);
        return cue;
    }
};

// A disc cdinfo.dat does not know starts from its CD-TEXT: the performer as artist, the disc's
// title as album, the tracks' titles (a track without one keeps "TrackNN"); titles remembered in
// cdinfo.dat win over it.
TEST_F(DiscScanCdTextTest, CdTextIsTheStartOfADiscNeverNamed)
{
    AkripUseDrives({OpenImageDrive(CdTextImage("text"))});
    {
        TDiscScan scan(dialogs);
        scan.FormShow();
        ASSERT_EQ(scan.Rows.size(), 3u);
        EXPECT_EQ(scan.Rows[0].Title, "Πρώτο");
        EXPECT_EQ(scan.Rows[1].Title, "Track02");
        EXPECT_EQ(scan.Rows[2].Title, "Third");
        EXPECT_EQ(Options.CDInfo.Artist, "Η μπάντα");
        EXPECT_EQ(Options.CDInfo.Album, "Disc Title");
        TDiscText text;
        ASSERT_TRUE(AkripReadDiscText(scan.CDHandle, text));
        ASSERT_EQ(text.TrackIsrc.size(), 3u);
        EXPECT_EQ(text.TrackIsrc[0], "USABC1234567");
        EXPECT_EQ(text.TrackIsrc[1], "");
        scan.Rows[2].Title = "Mine";
        Options.CDInfo.Artist = "Someone";
        scan.FormClose();
    }
    Options.CDInfo = TCDInfo{};
    TDiscScan again(dialogs);
    again.FormShow();
    ASSERT_EQ(again.Rows.size(), 3u);
    EXPECT_EQ(again.Rows[2].Title, "Mine");
    EXPECT_EQ(Options.CDInfo.Artist, "Someone");
}

namespace {

// A real drive's failures in the user's words: what the system says, turned into a message that
// names the cause and what to do.
TEST(DriveProblemTest, TheSystemsReasonSaidPlainly)
{
    const struct {
        TDeviceState state;
        std::string detail, text;
    } cases[] = {
        {TDeviceState::NoPermission, "",
         "Cannot open /dev/sr0: Permission denied. Add your account to the 'cdrom' group: sudo adduser $USER cdrom, "
         "then log in again."},
        {TDeviceState::Busy, "/media/disc", "Cannot open /dev/sr0: it is busy (mounted at /media/disc: unmount it first)."},
        {TDeviceState::Busy, "", "Cannot open /dev/sr0: it is busy (another program holds it: close that program first)."},
        {TDeviceState::TrayOpen, "", "The tray of /dev/sr0 is open: close it with the disc in it."},
        {TDeviceState::NoDisc, "", "There is no disc in /dev/sr0."},
        {TDeviceState::Gone, "", "The drive /dev/sr0 is gone (unplugged or switched off)."},
        {TDeviceState::Other, "Input/output error", "Cannot read /dev/sr0: Input/output error."},
        {TDeviceState::Fine, "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DriveProblemText("/dev/sr0", c.state, c.detail), c.text);
    std::string detail;
    EXPECT_EQ(DiagnoseDevice("/dev/no-such-drive-here", detail), TDeviceState::Gone);
    EXPECT_EQ(DiagnoseDevice("/dev/null", detail), TDeviceState::Fine) << "no drive status: nothing to add";
}

// Through the fault layer: a drive that cannot be opened gives its reason as the status; a tray
// open, no disc, or a disc without audio tracks is said after the usual message.
TEST_F(DiscScanTest, ADrivesFailuresAreSaidWithTheirCause)
{
    auto refused = AudioDrive({100});
    refused->RefuseHandle = true;
    refused->ProblemText = DriveProblemText("/dev/sr0", TDeviceState::NoPermission);
    AkripUseDrives({refused});
    TDiscScan scan(dialogs);
    EXPECT_EQ(scan.OpenDrive(0), 0);
    EXPECT_EQ(scan.StatusText(), refused->ProblemText);

    auto open = AudioDrive({100});
    open->TocUnreadable = true;
    open->ProblemText = DriveProblemText("/dev/sr0", TDeviceState::TrayOpen);
    AkripUseDrives({open});
    HCDROM h = scan.OpenDrive(0);
    ASSERT_NE(h, 0);
    EXPECT_EQ(NoAudioDiscText(h),
              "Please check if have Audio CD in your CD device. The tray of /dev/sr0 is open: close it with the disc in it.");
    CloseCDHandle(h);

    auto data = std::make_shared<TScriptedDrive>(TScriptedDrive::EnhancedToc({}, 3000));
    data->Toc.Tracks.erase(data->Toc.Tracks.begin(), data->Toc.Tracks.end() - 1);
    data->Toc.Tracks[0].Lba = 0;
    data->Toc.LeadOutLba = 3000;
    AkripUseDrives({data});
    h = scan.OpenDrive(0);
    ASSERT_NE(h, 0);
    EXPECT_EQ(NoAudioDiscText(h), "Please check if have Audio CD in your CD device. The disc holds no audio tracks.");
    CloseCDHandle(h);
}

}  // namespace
