#include "akrip32.h"
#include "akrip32Drives.h"

#include "TestSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>

namespace {

class Akrip32Test : public TempDirTest {
protected:
    void TearDown() override
    {
        AkripUseDrives({});
        TempDirTest::TearDown();
    }

    static HCDROM Open(int target)
    {
        TGetCDHand request{};
        request.Size = 12;
        request.Ver = 1;
        request.Target = static_cast<uint8_t>(target);
        return GetCDHandle(&request);
    }

    static std::string Text(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }
};

TEST_F(Akrip32Test, TheListNamesEveryDriveInOrder)
{
    std::vector<std::shared_ptr<TDriveBackend>> drives;
    for (int i = 0; i < 10; ++i)
        drives.push_back(std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({100}), "Vendor" + std::to_string(i),
                                                          "A product name longer than sixteen"));
    AkripUseDrives(drives);
    TCDList list{};
    list.Max = MaxCDList;
    EXPECT_EQ(GetCDList(&list), 8);  // at most 8 drives
    EXPECT_EQ(list.Num, 8);
    EXPECT_EQ(Text(list.Cd[3].Vendor, 9), "Vendor3");
    EXPECT_EQ(Text(list.Cd[3].ProductId, 17), "A product name l");
    EXPECT_EQ(list.Cd[3].Target, 3);

    AkripUseDrives({});
    TCDList none{};
    none.Max = MaxCDList;
    EXPECT_EQ(GetCDList(&none), 0);
    EXPECT_EQ(Open(0), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_NODRIVE);
}

TEST_F(Akrip32Test, TheTableComesInMinuteSecondFrameOrBlockAddresses)
{
    // Track 1 at block 0 (00:02:00), track 2 at 18750 (04:12:00), a data track 3, lead-out 22650.
    TDiscToc disc = TScriptedDrive::AudioToc({18750, 2250, 1650});
    disc.Tracks[2].Audio = false;
    disc.Tracks[1].Flags = 0x03;  // pre-emphasis, copy permitted
    AkripUseDrives({std::make_shared<TScriptedDrive>(disc)});
    const HCDROM h = Open(0);
    ASSERT_NE(h, 0);

    TTOC toc{};
    ASSERT_EQ(ReadTOC(h, &toc), 1);  // block addresses until the mode is set
    EXPECT_EQ(toc.Tracks[1].Addr[2] << 8 | toc.Tracks[1].Addr[3], 18750);

    ASSERT_EQ(ModifyCDParms(h, CDP_MSF, 1), 1);
    ASSERT_EQ(ReadTOC(h, &toc), 1);
    EXPECT_EQ(toc.FirstTrack, 1);
    EXPECT_EQ(toc.LastTrack, 3);
    const uint8_t expected[4][4] = {{0, 0, 2, 0}, {0, 4, 12, 0}, {0, 4, 42, 0}, {0, 5, 4, 0}};
    for (int e = 0; e < 4; ++e)
        for (int b = 0; b < 4; ++b)
            EXPECT_EQ(toc.Tracks[e].Addr[b], expected[e][b]) << "entry " << e << " byte " << b;
    // ADR 1 in the high nibble; control: 0x04 a data track, the rest as the drive says.
    EXPECT_EQ(toc.Tracks[0].AdrCtrl, 0x10);
    EXPECT_EQ(toc.Tracks[1].AdrCtrl, 0x13);
    EXPECT_EQ(toc.Tracks[2].AdrCtrl, 0x14);
    EXPECT_EQ(toc.Tracks[0].Session, 1);
    EXPECT_EQ(toc.Tracks[3].TrackNumber, 0xAA);
    EXPECT_EQ(CloseCDHandle(h), 1);
    EXPECT_EQ(CloseCDHandle(h), 0);
}

TEST_F(Akrip32Test, InjectedFaultsFailTheirOperation)
{
    auto drive = std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({50, 50}));
    AkripUseDrives({drive});

    drive->RefuseHandle = true;
    EXPECT_EQ(Open(0), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_NOHANDLE);
    drive->RefuseHandle = false;
    const HCDROM h = Open(0);
    ASSERT_NE(h, 0);

    drive->RefuseAddressMode = true;
    EXPECT_EQ(ModifyCDParms(h, CDP_MSF, 1), 0);
    EXPECT_EQ(ModifyCDParms(h, 99, 1), 0);

    drive->TocUnreadable = true;
    TTOC toc{};
    EXPECT_EQ(ReadTOC(h, &toc), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_TOC);
    drive->TocUnreadable = false;

    drive->FailReadAtSector = 25;
    TTrackBufMemory good(10, 10), bad(20, 10);
    ASSERT_EQ(ReadCDAudioLBA(h, good.get()), 1);
    EXPECT_EQ(good.get()->Len, 10u * CDSectorSize);
    EXPECT_EQ(good.Delivered()[0], TScriptedDrive::SampleByte(10, 0));
    EXPECT_EQ(good.Delivered()[CDSectorSize + 5], TScriptedDrive::SampleByte(11, 5));
    EXPECT_EQ(ReadCDAudioLBA(h, bad.get()), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_READ);
    EXPECT_EQ(bad.get()->Len, 0u);

    TTrackBufMemory tooSmall(0, 2);
    tooSmall.get()->MaxLen = CDSectorSize;
    EXPECT_EQ(ReadCDAudioLBA(h, tooSmall.get()), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_INVPARM);
    EXPECT_EQ(CloseCDHandle(h), 1);
    EXPECT_EQ(drive->OpenCount, 0);
}

TEST_F(Akrip32Test, TenHandlesAtMost)
{
    auto drive = std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({50}));
    AkripUseDrives({drive});
    for (HCDROM expected = 1; expected <= 10; ++expected)
        EXPECT_EQ(Open(0), expected);
    EXPECT_EQ(Open(0), 0);
    EXPECT_EQ(drive->OpenCount, 1);  // the drive itself is opened once
    EXPECT_EQ(CloseCDHandle(4), 1);
    EXPECT_EQ(Open(0), 4);
    AkripUseDrives({});
    EXPECT_EQ(drive->OpenCount, 0);
}

TEST_F(Akrip32Test, ATableOfMoreThan99TracksIsRefused)
{
    AkripUseDrives({std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc(std::vector<int32_t>(100, 75)))});
    const HCDROM h = Open(0);
    TTOC toc{};
    EXPECT_EQ(ReadTOC(h, &toc), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_TOC);
}

// A disc image written by mkdisc, read through libcdio like a drive: the table matches what
// cd-info reads from the same cue sheet, and the sectors are the .bin file's bytes.
TEST_F(Akrip32Test, AnImageDriveReadsTheDiscMkdiscWrote)
{
    const std::string cue = Path("disc.cue");
    ASSERT_EQ(std::system((std::string(MKDISC) + " --title One --title Two " + cue + " 1 0.5 2.2").c_str()), 0);
    setenv("SONVALE_DISC_IMAGES", (Path("missing.cue") + ":" + cue).c_str(), 1);
    AkripForgetDrives();
    TCDList list{};
    list.Max = MaxCDList;
    const int count = GetCDList(&list);
    unsetenv("SONVALE_DISC_IMAGES");
    ASSERT_GE(count, 2);
    // The images follow the machine's drives.
    const TCDRec& rec = list.Cd[count - 1];
    EXPECT_EQ(Text(rec.Vendor, 9), "Sonvale ");
    EXPECT_EQ(Text(rec.ProductId, 17), "Image disc.cue");
    EXPECT_EQ(Text(list.Cd[count - 2].ProductId, 17), "Image missing.cu");

    EXPECT_EQ(Open(count - 2), 0) << "an image that does not exist gives no handle";
    const HCDROM h = Open(count - 1);
    ASSERT_NE(h, 0);
    ASSERT_EQ(ModifyCDParms(h, CDP_MSF, 1), 1);
    TTOC toc{};
    ASSERT_EQ(ReadTOC(h, &toc), 1);
    ASSERT_EQ(toc.LastTrack, 3);

    // cd-info prints "  2: 00:03:00  000075 audio ..." per track and "170: ..." for the lead-out.
    const std::string listing = CommandOutput("cd-info --no-header --no-device-info --no-cddb --no-vcd --no-analyze "
                                           "--cue-file " + cue + " 2>/dev/null");
    const std::regex line(R"(\s*(\d+): (\d\d):(\d\d):(\d\d)\s+(\d+)\s+(audio|leadout).*)");
    int entry = 0;
    std::istringstream lines(listing);
    for (std::string text; std::getline(lines, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line))
            continue;
        ASSERT_LE(entry, 3);
        EXPECT_EQ(toc.Tracks[entry].Addr[1], std::stoi(m[2])) << m[0];
        EXPECT_EQ(toc.Tracks[entry].Addr[2], std::stoi(m[3])) << m[0];
        EXPECT_EQ(toc.Tracks[entry].Addr[3], std::stoi(m[4])) << m[0];
        ++entry;
    }
    EXPECT_EQ(entry, 4) << listing;

    // Sectors read 10 at a time (the last read shorter) equal the .bin file.
    const std::string bin = ReadFile("disc.bin");
    const int sectors = static_cast<int>(bin.size() / CDSectorSize);
    EXPECT_EQ(sectors, 75 + 38 + 165);  // 1 s, 0.5 s and 2.2 s in whole sectors
    std::string read;
    for (int at = 0; at < sectors; at += 10) {
        const int n = std::min(10, sectors - at);
        TTrackBufMemory buf(static_cast<uint32_t>(at), static_cast<uint32_t>(n));
        ASSERT_EQ(ReadCDAudioLBA(h, buf.get()), 1) << "sector " << at;
        read.append(reinterpret_cast<const char*>(buf.Delivered()), buf.get()->Len);
    }
    EXPECT_TRUE(read == bin) << "the sectors differ from the .bin file";
    TTrackBufMemory past(static_cast<uint32_t>(sectors), 1);
    EXPECT_EQ(ReadCDAudioLBA(h, past.get()), 0);
    EXPECT_EQ(CloseCDHandle(h), 1);
}

// A cue sheet whose FILE line names a data file of another name ("Album.cue" naming "disc.bin"),
// as rippers and burners often write them: read as the sheet says, in a folder of its own and
// from elsewhere.
TEST_F(Akrip32Test, ACueSheetNamingADataFileOfAnotherNameIsRead)
{
    ASSERT_EQ(std::system((std::string(MKDISC) + " " + Path("disc.cue") + " 1 0.5 > /dev/null").c_str()), 0);
    std::filesystem::create_directory(Path("sheets"));
    const std::string text = ReadFile("disc.cue");
    WriteFile("Album.cue", text);
    std::string relative = text;
    relative.replace(relative.find("\"disc.bin\""), 10, "\"../disc.bin\"");
    WriteFile("sheets/Other name.cue", relative);
    const std::string bin = ReadFile("disc.bin");
    for (const std::string& cue : {Path("Album.cue"), Path("sheets/Other name.cue")}) {
        SCOPED_TRACE(cue);
        setenv("SONVALE_DISC_IMAGES", cue.c_str(), 1);
        EXPECT_TRUE(DiscImageProblems().empty());
        AkripUseDrives({OpenImageDrive(cue)});
        unsetenv("SONVALE_DISC_IMAGES");
        const HCDROM h = Open(0);
        ASSERT_NE(h, 0);
        TTOC toc{};
        ASSERT_EQ(ReadTOC(h, &toc), 1);
        EXPECT_EQ(toc.LastTrack, 2);
        TTrackBufMemory buf(0, 10);
        ASSERT_EQ(ReadCDAudioLBA(h, buf.get()), 1);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.Delivered()), buf.get()->Len), bin.substr(0, 10 * CDSectorSize));
        EXPECT_EQ(CloseCDHandle(h), 1);
    }
}

// A drive whose tray is a folder: no disc while it holds no image; then the image put in first
// (the older of two), read as a drive reads it; eject moves it and its data file into
// "ejected/", and the next one is the disc; eject again leaves the tray empty. In
// $SONVALE_DISC_IMAGES a folder is such a drive, and one that does not exist is said.
TEST_F(Akrip32Test, AFolderIsADriveWhoseDiscIsTheFirstImagePutIn)
{
    std::filesystem::create_directory(Path("tray"));
    const std::shared_ptr<TDriveBackend> tray = OpenFolderDrive(Path("tray"));
    ASSERT_TRUE(tray->Open());
    EXPECT_EQ(tray->Product(), "Tray tray");
    TDiscToc toc;
    EXPECT_FALSE(tray->ReadToc(toc));
    EXPECT_NE(tray->Problem().find("No disc in " + Path("tray/")), std::string::npos) << tray->Problem();

    ASSERT_EQ(std::system((std::string(MKDISC) + " " + Path("tray/b.cue") + " 1 0.5 > /dev/null").c_str()), 0);
    ASSERT_EQ(std::system((std::string(MKDISC) + " " + Path("tray/a.cue") + " 2 > /dev/null").c_str()), 0);
    // b.cue was put in first (its time older), whatever the names' order.
    const auto older = std::filesystem::last_write_time(Path("tray/a.cue")) - std::chrono::seconds(10);
    std::filesystem::last_write_time(Path("tray/b.cue"), older);
    const std::string bBin = ReadFile("tray/b.bin");
    ASSERT_TRUE(tray->ReadToc(toc)) << tray->Problem();
    EXPECT_EQ(toc.Tracks.size(), 2u);
    std::vector<uint8_t> sector(CDSectorSize);
    ASSERT_TRUE(tray->ReadAudio(10, 1, sector.data()));
    EXPECT_EQ(std::string(sector.begin(), sector.end()), bBin.substr(10 * CDSectorSize, CDSectorSize));

    ASSERT_TRUE(tray->Eject());
    EXPECT_TRUE(std::filesystem::exists(Path("tray/ejected/b.cue")));
    EXPECT_TRUE(std::filesystem::exists(Path("tray/ejected/b.bin")));
    EXPECT_FALSE(std::filesystem::exists(Path("tray/b.bin")));
    ASSERT_TRUE(tray->ReadToc(toc)) << tray->Problem();
    EXPECT_EQ(toc.Tracks.size(), 1u);
    ASSERT_TRUE(tray->Eject());
    EXPECT_FALSE(tray->ReadToc(toc));
    EXPECT_TRUE(std::filesystem::exists(Path("tray/ejected/a.bin")));

    setenv("SONVALE_DISC_IMAGES", (Path("tray/") + ":" + Path("none/")).c_str(), 1);
    EXPECT_EQ(DiscImageProblems(), std::vector<std::string>{Path("none/") + ": the tray folder does not exist"});
    const std::vector<std::shared_ptr<TDriveBackend>> drives = FindDrives();
    unsetenv("SONVALE_DISC_IMAGES");
    ASSERT_GE(drives.size(), 2u);
    EXPECT_EQ(drives[drives.size() - 2]->Product(), "Tray tray");
    EXPECT_EQ(drives.back()->Product(), "Tray none");
}

// Pregaps the table does not give, found in the Q sub-channel: the first sector that names the
// track, to the sector (a gap of 2 s, of one sector, none), also where some sectors' Q carries
// no position; a gap longer than the 10 s looked at is taken from there; a pregap the table gives
// is kept without a read; a drive that cannot read the Q sub-channel leaves them unknown.
TEST(FindPregapsTest, TheFirstSectorThatNamesTheTrack)
{
    const struct {
        const char* name;
        std::vector<int32_t> pregaps;  // where each track's INDEX 00 begins (its start: none)
        int32_t otherEvery;
        std::vector<int32_t> want;     // Index0 found, per track
    } cases[] = {
        {"2 s and none", {0, 1000 - 150, 2000}, 0, {-1, 850, -1}},
        {"one sector", {0, 999, 1999}, 0, {-1, 999, 1999}},
        {"some Q without a position", {0, 1000 - 150, 2000 - 75}, 7, {-1, 850, 1925}},
        {"longer than 10 s", {0, 1000 - 900, 2000}, 0, {-1, 250, -1}},
        {"no Q sub-channel", {}, 0, {-1, -1, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TScriptedDrive drive(TScriptedDrive::AudioToc({1000, 1000, 1000}));
        drive.QPregaps = c.pregaps;
        drive.QOtherEvery = c.otherEvery;
        TDiscToc toc;
        ASSERT_TRUE(drive.ReadToc(toc));
        FindPregaps(drive, toc);
        for (std::size_t t = 0; t < 3; ++t)
            EXPECT_EQ(toc.Tracks[t].Index0, c.want[t]) << t;
        EXPECT_LE(drive.QReads, 2 * 4 * 12) << "a binary search, not a scan";
    }

    // A pregap the table gives is kept, and no sector read for it.
    TScriptedDrive drive(TScriptedDrive::AudioToc({1000, 1000}));
    drive.QPregaps = {0, 900};
    TDiscToc toc;
    ASSERT_TRUE(drive.ReadToc(toc));
    toc.Tracks[1].Index0 = 950;
    FindPregaps(drive, toc);
    EXPECT_EQ(toc.Tracks[1].Index0, 950);
    EXPECT_EQ(drive.QReads, 0);
}

}  // namespace
