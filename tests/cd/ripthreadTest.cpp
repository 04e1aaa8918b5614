#include "ripthread.h"

#include "Global.h"
#include "JobMessages.h"
#include "WavHeader.h"
#include "akrip32Drives.h"

#include "MessageRecorder.h"
#include "TestSupport.h"

#include <sys/file.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

constexpr int ReadBytes = 10 * CDSectorSize;  // 23520

class RipThreadTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        LoadSaveOptions(true);
        std::filesystem::create_directory(Path("Output"));
        Options.CommonOptions.OutputFolder = Path("Output");
    }

    void TearDown() override
    {
        AkripUseDrives({});
        TempDirTest::TearDown();
    }

    // A drive with tracks of these lengths in sectors, opened; the handle the job would pass.
    HCDROM Drive(const std::vector<int32_t>& sectors)
    {
        drive = std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc(sectors));
        AkripUseDrives({drive});
        TGetCDHand request{};
        request.Size = 12;
        request.Ver = 1;
        return GetCDHandle(&request);
    }

    // The WAV the job would name for a track titled title: in the output folder.
    static std::string WavOf(const std::string& title) { return Options.CommonOptions.OutputFolder + "/" + title + ".wav"; }

    // Runs the extraction of track position to its last message.
    void Rip(HCDROM handle, int position, const std::string& title)
    {
        thread = std::make_unique<TCDRipThread>(position, WavOf(title));
        thread->DriveHandle = handle;
        thread->ReceivingWindow = window.Handle();
        thread->Start();
        ASSERT_TRUE(window.WaitForExtractionEnd());
        thread->WaitFor();
        window.Drain();
    }

    // The bytes the scripted drive holds from sector lba on.
    static std::string Sectors(int32_t lba, int32_t count)
    {
        std::string bytes;
        for (int32_t s = lba; s < lba + count; ++s)
            for (int i = 0; i < CDSectorSize; ++i)
                bytes += static_cast<char>(TScriptedDrive::SampleByte(s, i));
        return bytes;
    }

    static std::string Header(uint64_t dataBytes)
    {
        const TWavHeader h = CanonicalWavHeader(dataBytes);
        return std::string(h.begin(), h.end());
    }

    int FilesIn(const std::string& folder) const
    {
        int n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(Path(folder)))
            ++n;
        return n;
    }

    std::shared_ptr<TScriptedDrive> drive;
    TMessageRecorder window;
    std::unique_ptr<TCDRipThread> thread;
};

TEST_F(RipThreadTest, ATrackOf25SectorsIsReadInThreeReports)
{
    const HCDROM h = Drive({30, 25, 40});
    Rip(h, 2, "Second");
    EXPECT_EQ(window.Codes(), (std::vector<int32_t>{40, 80, 100, 1000}));
    EXPECT_EQ(window.Last().Status, esDone);
    const auto& first = window.Records().front();
    EXPECT_EQ(first.ElapsedText, "00:00");
    EXPECT_EQ(first.EstimatedText, "00:00");
    // Track 2 starts where track 1 ends: sector 30.
    EXPECT_EQ(ReadFile("Output/Second.wav"), Header(25 * CDSectorSize) + Sectors(30, 25));
    EXPECT_EQ(drive->Reads, 3);
}

// Percentages that are not whole are cut, not rounded: 10, 20 and 30 of 30 sectors.
TEST_F(RipThreadTest, ProgressIsCutToWholePercent)
{
    const HCDROM h = Drive({30});
    Rip(h, 1, "Thirds");
    EXPECT_EQ(window.Codes(), (std::vector<int32_t>{33, 66, 100, 1000}));
}

TEST_F(RipThreadTest, TrackOneStartsAtSectorZero)
{
    const HCDROM h = Drive({12});
    Rip(h, 1, "01 First");
    EXPECT_EQ(ReadFile("Output/01 First.wav"), Header(12 * CDSectorSize) + Sectors(0, 12));
}

TEST_F(RipThreadTest, CancellingDuringTheThirdReadKeepsAValidFile)
{
    const HCDROM h = Drive({100});
    thread = std::make_unique<TCDRipThread>(1, WavOf("Cut"));
    drive->OnRead = [&, reads = 0](int32_t) mutable {
        if (++reads == 3)
            thread->Cancel();
    };
    thread->DriveHandle = h;
    thread->ReceivingWindow = window.Handle();
    thread->Start();
    thread->WaitFor();
    window.Drain();
    EXPECT_EQ(window.Codes(), (std::vector<int32_t>{10, 20, 30})) << "no end report after a cancel";
    EXPECT_EQ(ReadFile("Output/Cut.wav"), Header(3 * ReadBytes) + Sectors(0, 30));
}

TEST_F(RipThreadTest, AFailedReadEndsWithStatus3)
{
    const HCDROM h = Drive({50});
    drive->FailReadAtSector = 25;
    Rip(h, 1, "Bad");
    // The third read fails: its report still counts its sectors as done, then the end.
    EXPECT_EQ(window.Codes(), (std::vector<int32_t>{20, 40, 60, 1000}));
    EXPECT_EQ(window.Last().Status, esReadFailed);
    // What was read stays; the header still says no data.
    EXPECT_EQ(ReadFile("Output/Bad.wav"), Header(0) + Sectors(0, 20));
}

// No path (a title the job could not name a file after): status 5 and nothing created. Names
// Linux allows are kept as they are: a name of 251 bytes and odd characters are fine.
TEST_F(RipThreadTest, NoPathCreatesNothingAndOddNamesAreKept)
{
    const HCDROM h = Drive({5});
    thread = std::make_unique<TCDRipThread>(1, std::string());
    thread->DriveHandle = h;
    thread->ReceivingWindow = window.Handle();
    thread->Start();
    ASSERT_TRUE(window.WaitForExtractionEnd());
    thread->WaitFor();
    window.Drain();
    EXPECT_EQ(window.Codes(), std::vector<int32_t>{1000});
    EXPECT_EQ(window.Last().Status, esCannotCreate);
    EXPECT_EQ(FilesIn("Output"), 0);
    window.Clear();
    Rip(h, 1, std::string(251, 'y'));
    EXPECT_EQ(window.Last().Status, esDone);
    Rip(h, 1, "Tom's \"Song\": Part 1?*\\");
    EXPECT_EQ(window.Last().Status, esDone);
    EXPECT_TRUE(std::filesystem::exists(Path("Output/Tom's \"Song\": Part 1?*\\.wav")));
}

TEST_F(RipThreadTest, AFileThatCannotBeWrittenHereEndsWithStatus5)
{
    const HCDROM h = Drive({5});
    // Another writer holds the file: it is left alone.
    WriteFile("Output/Busy.wav", "theirs");
    const int other = open(Path("Output/Busy.wav").c_str(), O_RDWR);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    Rip(h, 1, "Busy");
    EXPECT_EQ(window.Last().Status, esCannotCreate);
    EXPECT_EQ(ReadFile("Output/Busy.wav"), "theirs");
    close(other);

    // A link would lead the file out of the folder.
    WriteFile("elsewhere.wav", "outside");
    std::filesystem::create_symlink(Path("elsewhere.wav"), Path("Output/Link.wav"));
    Rip(h, 1, "Link");
    EXPECT_EQ(window.Last().Status, esCannotCreate);
    EXPECT_EQ(ReadFile("elsewhere.wav"), "outside");

    // The folder is gone.
    Options.CommonOptions.OutputFolder = Path("Vanished");
    Rip(h, 1, "Any");
    EXPECT_EQ(window.Last().Status, esCannotCreate);
}

TEST_F(RipThreadTest, DriveAndTableFailuresCreateNoFile)
{
    struct Case {
        const char* name;
        std::function<void()> arrange;
        int position;
        LPARAM error;
    } cases[] = {
        {"address mode refused", [this] { drive->RefuseAddressMode = true; }, 1, 1},
        {"table unreadable", [this] { drive->TocUnreadable = true; }, 1, 2},
        {"no such track", [] {}, 3, 2},
        {"position 0 of a disc that hides nothing before track 1", [] {}, 0, 2},
        {"position -2", [] {}, -2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HCDROM h = Drive({10, 10});
        c.arrange();
        Rip(h, c.position, "Never");
        ASSERT_EQ(window.Records().size(), 1u);
        EXPECT_EQ(window.Last().Msg, WM_EXTRACTERROR);
        EXPECT_EQ(window.Last().LParam, c.error);
        EXPECT_EQ(FilesIn("Output"), 0);
        window.Clear();
    }
}

TEST_F(RipThreadTest, AnEmptyTrackGivesAnEmptyValidFile)
{
    const HCDROM h = Drive({10, 0, 10});
    Rip(h, 2, "Empty");
    EXPECT_EQ(window.Codes(), std::vector<int32_t>{1000});
    EXPECT_EQ(window.Last().Status, esDone);
    EXPECT_EQ(ReadFile("Output/Empty.wav"), Header(0));
}

TEST_F(RipThreadTest, NormalisingReportsAndKeepsTheTrackWhenItFails)
{
    const HCDROM h = Drive({3});
    Options.CommonOptions.IsNormalize = true;
    Options.CommonOptions.NormalizePercent = 100;
    Rip(h, 1, "Loud");
    const std::vector<int32_t> codes = window.Codes();
    ASSERT_GE(codes.size(), 4u);
    EXPECT_EQ(codes[0], 100);
    EXPECT_EQ(codes[1], 999);
    EXPECT_EQ(codes.back(), 1000);
    EXPECT_EQ(window.Last().Status, esDone);
    EXPECT_EQ(ReadFile("Output/Loud.wav"), Header(3 * CDSectorSize) + Sectors(0, 3)) << "100 % changes nothing";
    EXPECT_FALSE(std::filesystem::exists(Path("Output/Loud.nor")));

    // The ".nor" file cannot be made: the track stays as read, and the job hears status 6.
    std::filesystem::create_directory(Path("Output/Stuck.nor"));
    Options.CommonOptions.NormalizePercent = 50;
    Rip(h, 1, "Stuck");
    EXPECT_EQ(window.Last().Code, 1000);
    EXPECT_EQ(window.Last().Status, esNormalizeFailed);
    EXPECT_EQ(ReadFile("Output/Stuck.wav"), Header(3 * CDSectorSize) + Sectors(0, 3));
}

class NormalizeTest : public TempDirTest {
protected:
    std::string Wav(const std::vector<int16_t>& samples, const std::string& tail = "")
    {
        std::string data;
        for (const int16_t s : samples) {
            data += static_cast<char>(s & 0xFF);
            data += static_cast<char>((s >> 8) & 0xFF);
        }
        data += tail;
        const TWavHeader h = CanonicalWavHeader(data.size());
        return std::string(h.begin(), h.end()) + data;
    }

    TMessageRecorder window;
};

TEST_F(NormalizeTest, SamplesScaleWithHalvesToEvenAndStayInRange)
{
    struct Case {
        int percent;
        std::vector<int16_t> in, out;
    } cases[] = {
        {50, {3, 5, -3, 32767, -32768, 1, -1, 0}, {2, 2, -2, 16384, -16384, 0, 0, 0}},
        {100, {3, 5, -3, 32767, -32768}, {3, 5, -3, 32767, -32768}},
        // 0.95f is exactly 15938355 / 2^24 = 0.949999988079071044921875, and the product with a
        // 16-bit sample is exact: 10 -> 9.4999998808 -> 9; 50 -> 47.4999994040 -> 47;
        // -32730 -> -31093.4996098280 -> -31093; 1000 -> 949.9999880791 -> 950. Rounded to a
        // float first, the first three would become x.5 and round to 10, 48 and -31094.
        {95, {1000, -1000, 10, 50, -32730}, {950, -950, 9, 47, -31093}},
        {150, {30000, -30000, 100}, {32767, -32768, 150}},
        {0, {123, -123}, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        WriteFile("n.wav", Wav(c.in, "\x7F"));  // a trailing odd byte stays as it is
        ASSERT_TRUE(NormalizeFile(Path("n.wav"), c.percent, window.Handle()));
        EXPECT_EQ(ReadFile("n.wav"), Wav(c.out, "\x7F"));
        EXPECT_FALSE(std::filesystem::exists(Path("n.nor")));
    }
    window.Drain();
    // 999 first, then one report per 2048-byte block read, then the final report of the empty read.
    EXPECT_EQ(window.Codes().front(), 999);
}

TEST_F(NormalizeTest, OneReportPerBlock)
{
    std::vector<int16_t> samples(3000, 7);  // 6000 bytes of samples: 3 blocks after the header
    WriteFile("b.wav", Wav(samples));
    ASSERT_TRUE(NormalizeFile(Path("b.wav"), 50, window.Handle()));
    window.Drain();
    // Bytes read before each read: 44, 2092, 4140, 6044 of 6044.
    EXPECT_EQ(window.Codes(), (std::vector<int32_t>{999, 0, 34, 68, 100}));
}

TEST_F(NormalizeTest, AFailedPassLeavesTheWavUntouched)
{
    WriteFile("w.wav", Wav({100, 200}));
    const std::string before = ReadFile("w.wav");
    std::filesystem::create_directory(Path("w.nor"));  // no ".nor" file can be made beside it
    EXPECT_FALSE(NormalizeFile(Path("w.wav"), 50, window.Handle()));
    EXPECT_EQ(ReadFile("w.wav"), before);
    EXPECT_TRUE(std::filesystem::is_directory(Path("w.nor"))) << "what was there is left alone";
    EXPECT_FALSE(NormalizeFile(Path("missing.wav"), 50, window.Handle()));
}

TEST_F(NormalizeTest, AFullDiskLeavesTheWavUntouchedAndNoNorFile)
{
    WriteFile("big.wav", Wav(std::vector<int16_t>(50000, 1000)));
    const std::string before = ReadFile("big.wav");
    // A file-size limit makes every write past 64 KiB fail as a full disk would (EFBIG; the
    // signal that would end the process is ignored).
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = NormalizeFile(Path("big.wav"), 50, window.Handle());
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldSignal);
    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadFile("big.wav"), before);
    EXPECT_FALSE(std::filesystem::exists(Path("big.nor")));
}

// The real path: libcdio reading a disc image mkdisc wrote, and the bundled sample disc. The WAV
// holds exactly the track's bytes of the .bin file, and sox reads its header.
TEST_F(RipThreadTest, RippingFromADiscImageCopiesTheTrackExactly)
{
    const std::string cue = Path("disc.cue");
    ASSERT_EQ(std::system((std::string(MKDISC) + " " + cue + " 1 2.5 0.4").c_str()), 0);
    struct Case {
        std::string cue, bin;
        int track;
        std::size_t startSector, sectors;
    } cases[] = {
        {cue, Path("disc.bin"), 2, 75, 188},                                    // 1 s, then 2.5 s
        {SAMPLE_DISC, std::string(SAMPLE_DISC).replace(std::string(SAMPLE_DISC).size() - 4, 4, ".bin"), 5,
         (12 + 8 + 15 + 5) * 75, 10 * 75},                                     // the untitled track
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cue);
        AkripUseDrives({OpenImageDrive(c.cue)});
        TGetCDHand request{};
        request.Size = 12;
        request.Ver = 1;
        const HCDROM h = GetCDHandle(&request);
        ASSERT_NE(h, 0);
        Rip(h, c.track, "Image track");
        ASSERT_EQ(window.Last().Status, esDone);

        std::ifstream binFile(c.bin, std::ios::binary);
        std::string bin((std::istreambuf_iterator<char>(binFile)), std::istreambuf_iterator<char>());
        const std::size_t start = c.startSector * CDSectorSize, bytes = c.sectors * CDSectorSize;
        const std::string wav = ReadFile("Output/Image track.wav");
        ASSERT_EQ(wav.size(), WavHeaderSize + bytes);
        EXPECT_TRUE(wav.substr(WavHeaderSize) == bin.substr(start, bytes)) << "the samples differ from the image";
        const std::string file = Path("Output/Image track.wav");
        EXPECT_EQ(std::system(("test \"$(soxi -c '" + file + "')\" = 2 && test \"$(soxi -r '" + file +
                               "')\" = 44100 && test \"$(soxi -b '" + file + "')\" = 16 && test \"$(soxi -s '" +
                               file + "')\" = " + std::to_string(bytes / 4)).c_str()),
                  0);
    }
}

// A track of the sample disc normalised at the default 95 %: every sample equals the exact
// product with the single-precision gain, rounded once, halves to even, worked out here in
// integers: 0.95f = 15938355 / 2^24, so the result is s * 15938355 / 2^24 rounded.
TEST_F(RipThreadTest, NormalisingTheSampleDiscRoundsTheExactProduct)
{
    AkripUseDrives({OpenImageDrive(SAMPLE_DISC)});
    TGetCDHand request{};
    request.Size = 12;
    request.Ver = 1;
    const HCDROM h = GetCDHandle(&request);
    ASSERT_NE(h, 0);
    Options.CommonOptions.IsNormalize = true;
    Options.CommonOptions.NormalizePercent = 95;
    Rip(h, 1, "Normalised");
    ASSERT_EQ(window.Last().Status, esDone);

    std::string bin = SAMPLE_DISC;
    bin.replace(bin.size() - 4, 4, ".bin");
    std::ifstream binFile(bin, std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(binFile)), std::istreambuf_iterator<char>());
    const std::size_t bytes = 12 * 75 * CDSectorSize;  // track 1: 12 s
    const std::string wav = ReadFile("Output/Normalised.wav");
    ASSERT_EQ(wav.size(), WavHeaderSize + bytes);
    EXPECT_EQ(wav.substr(0, WavHeaderSize), Header(bytes));
    std::size_t differing = 0;
    for (std::size_t i = 0; i < bytes; i += 2) {
        const auto in = static_cast<int16_t>(static_cast<uint8_t>(image[i]) | static_cast<uint8_t>(image[i + 1]) << 8);
        const int64_t num = int64_t{in} * 15938355;
        constexpr int64_t den = int64_t{1} << 24;
        int64_t q = num / den, r = num % den;  // truncated toward zero
        if (r < 0) {
            q -= 1;
            r += den;
        }  // now num = q * den + r with 0 <= r < den: round up above half, to even at half
        if (2 * r > den || (2 * r == den && (q & 1)))
            q += 1;
        const auto expected = static_cast<int16_t>(q);
        const auto got = static_cast<int16_t>(static_cast<uint8_t>(wav[WavHeaderSize + i]) |
                                              static_cast<uint8_t>(wav[WavHeaderSize + i + 1]) << 8);
        differing += got != expected;
    }
    EXPECT_EQ(differing, 0u);
}

// Where a track lies: its own address less the 2-second lead-in, also when audio comes before
// track 1 (a hidden first track: track 1 at sector 2400); a data track is refused with status 7
// and no file; on an Enhanced CD the last audio track ends with its session, 11400 sectors
// before the data track, so it is read whole without a failing read.
TEST_F(RipThreadTest, TracksAreReadAtTheirOwnAddresses)
{
    // The scripted drive: track 1 at 2400 after a hidden track, then an Enhanced CD.
    TDiscToc hidden;
    hidden.Tracks = {{2400, true}, {2430, true}};
    hidden.LeadOutLba = 2455;
    const TDiscToc enhanced = TScriptedDrive::EnhancedToc({30, 25}, 40);
    struct Case {
        const char* name;
        TDiscToc toc;
        int position;
        int32_t start, sectors;
    } cases[] = {
        {"hidden track, track 1", hidden, 1, 2400, 30},
        {"hidden track, track 2", hidden, 2, 2430, 25},
        {"enhanced, first track", enhanced, 1, 0, 30},
        {"enhanced, last audio track", enhanced, 2, 30, 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drive = std::make_shared<TScriptedDrive>(c.toc);
        AkripUseDrives({drive});
        TGetCDHand request{};
        request.Size = 12;
        request.Ver = 1;
        Rip(GetCDHandle(&request), c.position, "Track");
        EXPECT_EQ(window.Last().Status, esDone);
        EXPECT_EQ(ReadFile("Output/Track.wav"), Header(uint64_t(c.sectors) * CDSectorSize) + Sectors(c.start, c.sectors));
        window.Clear();
    }

    // The data track of the Enhanced CD.
    drive = std::make_shared<TScriptedDrive>(enhanced);
    AkripUseDrives({drive});
    TGetCDHand request{};
    request.Size = 12;
    request.Ver = 1;
    Rip(GetCDHandle(&request), 3, "Data");
    EXPECT_EQ(window.Codes(), std::vector<int32_t>{1000});
    EXPECT_EQ(window.Last().Status, esDataTrack);
    EXPECT_EQ(drive->Reads, 0);
    EXPECT_FALSE(std::filesystem::exists(Path("Output/Data.wav")));
    EXPECT_EQ(DataTrackMessage(3), "Track 03 is a data track and holds no audio.");
}

// The same through libcdio: an image whose track 1 starts at 00:32:00 of its file (sector 2400)
// and whose audio is followed by a MODE1 data track. Each audio track is exactly its bytes of
// the .bin file; the data track is refused.
TEST_F(RipThreadTest, AnImageWithAHiddenTrackAndADataTrack)
{
    const std::string cue = Path("mixed.cue");
    ASSERT_EQ(std::system((std::string(MKDISC) + " --hidden 32 --data 3 " + cue + " 2 3").c_str()), 0);
    const std::string bin = ReadFile("mixed.bin");
    AkripUseDrives({OpenImageDrive(cue)});
    TGetCDHand request{};
    request.Size = 12;
    request.Ver = 1;
    const HCDROM h = GetCDHandle(&request);
    ASSERT_NE(h, 0);
    const struct {
        int position;
        std::size_t start, sectors;
    } tracks[] = {{1, 2400, 150}, {2, 2550, 225}};
    for (const auto& t : tracks) {
        SCOPED_TRACE(t.position);
        Rip(h, t.position, "Mixed");
        ASSERT_EQ(window.Last().Status, esDone);
        const std::string wav = ReadFile("Output/Mixed.wav");
        ASSERT_EQ(wav.size(), WavHeaderSize + t.sectors * CDSectorSize);
        EXPECT_TRUE(wav.substr(WavHeaderSize) == bin.substr(t.start * CDSectorSize, t.sectors * CDSectorSize));
        window.Clear();
    }
    Rip(h, 3, "Data");
    EXPECT_EQ(window.Last().Status, esDataTrack);
    EXPECT_FALSE(std::filesystem::exists(Path("Output/Data.wav")));
}

}  // namespace
