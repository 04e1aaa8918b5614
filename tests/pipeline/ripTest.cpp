#include "rip.h"

#include "Global.h"
#include "JobMessages.h"
#include "WavHeader.h"
#include "akrip32Drives.h"
#include "id3.h"
#include "ripthread.h"
#include "RipVerify.h"

#include "DriveTestSupport.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "DiscScan.h"
#include "OutputEncoders.h"
#include "OutputFormats.h"
#include "ProcessEncoders.h"
#include "Ctdb.h"
#include "MusicBrainz.h"

#include <zlib.h>

#include <sys/file.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

// Stands in for the job window: keeps every display and whether the job closed it.
class TRecordingView : public TRipView {
public:
    void DisplayChanged(const TRipDisplay& display) override
    {
        shown.push_back(display);
        Changed();
    }
    void CloseJob() override
    {
        closed = true;
        Changed();
    }
    void Notice(const std::string& text) override
    {
        notices.push_back(text);
        Changed();
    }

    // The captions and the group box texts, each change once, in order.
    std::vector<std::string> Captions() const { return Distinct(&TRipDisplay::Caption); }
    std::vector<std::string> Stages() const { return Distinct(&TRipDisplay::Stage); }

    std::vector<TRipDisplay> shown;
    std::vector<std::string> notices;
    bool closed = false;
    std::function<void()> onChange;

private:
    void Changed()
    {
        if (onChange)
            onChange();
    }
    std::vector<std::string> Distinct(std::string TRipDisplay::*field) const
    {
        std::vector<std::string> out;
        for (const TRipDisplay& d : shown)
            if (!(d.*field).empty() && (out.empty() || out.back() != d.*field))
                out.push_back(d.*field);
        return out;
    }
};

// A lame that writes "mp3" into its output, reports 5 % and ends.
// path as one word of a shell command line, whatever it holds.
std::string ShellQuoted(const std::string& path)
{
    std::string quoted = "'";
    for (const char c : path)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

const std::string FakeLameBody =
    "for a; do out=$a; done\n"
    "printf 'mp3' > \"$out\"\n"
    "printf '              ( 5%%)|    0:01/    0:20|\\r' >&2\n";

std::string JoinedCueSheet(const std::string& cue, const std::string& folder, const std::string& binPath);

class RipJobTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        LoadSaveOptions(true);
        Options.Ctdb.Server = "http://127.0.0.1:1";  // no test asks a real host
        fs::create_directory(Path("Output"));
        Options.CommonOptions.OutputFolder = Path("Output");
        Options.CommonOptions.IsKeepWav = false;
        Options.UseID3 = false;
        mp3 = std::make_unique<TMp3EncodeProcess>(dialogs);
        wma = std::make_unique<TWMAEncodeProcess>(dialogs);
    }

    void TearDown() override
    {
        job.reset();
        mp3.reset();
        wma.reset();
        AkripUseDrives({});
        unsetenv("SONVALE_SYSTEM_DIR");
        TempDirTest::TearDown();
    }

    // A WM8EUTIL in a folder of its own (SONVALE_SYSTEM_DIR) that writes "wma" into its output
    // and reports 100 %; a case line ("*Two.wma) ...;;") does otherwise for the output it names.
    void FakeWmaEncoder(const std::string& caseLine)
    {
        fs::create_directory(Path("wma"));
        setenv("SONVALE_SYSTEM_DIR", Path("wma").c_str(), 1);
        FakeProgram("wma/WM8EUTIL", "for a; do case $prev in -output) out=$a;; esac; prev=$a; done\n"
                                    "case \"$out\" in " + caseLine + " esac\n"
                                    "printf 'wma' > \"$out\"\necho '100%'");
    }

    // The drive library's only drive: backend; a handle to it.
    static HCDROM UseDrive(std::shared_ptr<TDriveBackend> backend)
    {
        AkripUseDrives({std::move(backend)});
        TGetCDHand request{};
        request.Size = 12;
        request.Ver = 1;
        return GetCDHandle(&request);
    }

    // A drive holding tracks of these lengths in sectors; its handle.
    HCDROM Drive(const std::vector<int32_t>& sectors)
    {
        drive = std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc(sectors));
        return UseDrive(drive);
    }

    // A disc image (mkdisc) holding tracks of these lengths in sectors, read through libcdio as
    // a user's drives are; its handle. ImageBytes gives its bytes.
    HCDROM ImageDrive(const std::vector<int32_t>& sectors)
    {
        std::string command = std::string(MKDISC) + " " + Path("disc.cue");
        for (const int32_t n : sectors)
            command += " " + std::to_string(n / 75.0);
        EXPECT_EQ(std::system((command + " > /dev/null").c_str()), 0);
        return UseDrive(OpenImageDrive(Path("disc.cue")));
    }
    std::string ImageBytes(int32_t lba, int32_t count)
    {
        return ReadFile("disc.bin").substr(std::size_t(lba) * CDSectorSize, std::size_t(count) * CDSectorSize);
    }
    // The AccurateRip v2 checksum of each track of the image, its tracks of these lengths.
    std::vector<uint32_t> ImageV2(const std::vector<int32_t>& lengths)
    {
        std::vector<uint32_t> v2;
        int32_t start = 0;
        for (std::size_t t = 0; t < lengths.size(); ++t) {
            const std::string bytes = ImageBytes(start, lengths[t]);
            TTrackChecksums sums(int64_t{lengths[t]} * 588, t == 0, t + 1 == lengths.size());
            sums.Add(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            v2.push_back(sums.V2());
            start += lengths[t];
        }
        return v2;
    }
    // The CTDB CRC of each track of the image (zlib over the disc's audio without its first 10
    // sectors and its last 10 + sectors mod 10), then the disc's.
    std::vector<uint32_t> ImageCtdbCrcs(const std::vector<int32_t>& lengths)
    {
        int32_t total = 0;
        for (const int32_t n : lengths)
            total += n;
        const std::string disc = ImageBytes(0, total);
        const auto crc = [&](std::size_t from, std::size_t to) {
            return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(disc.data()) + from, uInt(to - from)));
        };
        const std::size_t runFrom = 10 * CDSectorSize, runTo = std::size_t(total - 10 - total % 10) * CDSectorSize;
        std::vector<uint32_t> crcs;
        std::size_t at = 0;
        for (const int32_t n : lengths) {
            const std::size_t end = at + std::size_t(n) * CDSectorSize;
            crcs.push_back(crc(std::max(at, runFrom), std::min(end, runTo)));
            at = end;
        }
        crcs.push_back(crc(runFrom, runTo));
        return crcs;
    }

    // Makes the job and starts it.
    void Start(TJobKind kind, std::vector<std::string> items, HCDROM handle = 0)
    {
        job = std::make_unique<TRipJob>(view, dialogs, *mp3, *wma, kind, handle, std::move(items));
        job->Start();
    }

    // Runs the event loop until done() holds, looking at every change the job shows and every
    // 10 ms (what a handler does after it has shown something, a message box); false when it does
    // not within a minute.
    bool WaitUntil(const std::function<bool()>& done)
    {
        if (done())
            return true;
        QEventLoop loop;
        const auto check = [&] {
            if (done())
                loop.quit();
        };
        view.onChange = check;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, check);
        poll.start(10);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        view.onChange = nullptr;
        return done();
    }
    bool WaitForClose() { return WaitUntil([this] { return view.closed; }); }
    bool WaitForCaption(const std::string& caption)
    {
        return WaitUntil([&] { return !view.shown.empty() && view.shown.back().Caption == caption; });
    }

    // A 16-bit WAV made by sox: seconds of two tones at rate.
    std::string SoxWav(const std::string& name, int rate, double seconds, int channels = 2)
    {
        const std::string path = Path(name);
        EXPECT_EQ(std::system(("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 -t wav '" +
                               path + "' synth " + std::to_string(seconds) + " sine 440 sine 660 vol 0.5")
                                  .c_str()),
                  0);
        return path;
    }

    std::string Out(const std::string& name) const { return Path("Output/" + name); }
    // The cue sheet Output/<cue> burnt back (its files joined into burnt.bin, read through
    // libcdio as a burner would write it): the same table, gaps and flags as disc, and disc.bin's
    // bytes. burnt: that disc, open.
    void ExpectBurntBackIsTheDisc(const std::string& cue, TDriveBackend& disc, std::shared_ptr<TDriveBackend>& burnt)
    {
        WriteFile("burnt.cue", JoinedCueSheet(ReadFile("Output/" + cue), Out(""), Path("burnt.bin")));
        burnt = OpenImageDrive(Path("burnt.cue"));
        ASSERT_TRUE(burnt && burnt->Open()) << ReadFile("burnt.cue");
        TDiscToc was, is;
        ASSERT_TRUE(disc.ReadToc(was));
        ASSERT_TRUE(burnt->ReadToc(is)) << ReadFile("burnt.cue");
        ASSERT_EQ(is.Tracks.size(), was.Tracks.size());
        for (std::size_t t = 0; t < was.Tracks.size(); ++t) {
            SCOPED_TRACE(t);
            EXPECT_EQ(is.Tracks[t].Lba, was.Tracks[t].Lba);
            EXPECT_EQ(is.Tracks[t].Index0, was.Tracks[t].Index0);
            EXPECT_EQ(is.Tracks[t].Flags, was.Tracks[t].Flags);
        }
        EXPECT_EQ(is.LeadOutLba, was.LeadOutLba);
        EXPECT_TRUE(ReadFile("burnt.bin") == ReadFile("disc.bin")) << "the audio, byte for byte";
    }
    // The names in the output folder (hidden ones too), sorted.
    std::vector<std::string> OutputNames() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(Out("")))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // The files under the output folder that the job writes under names of their own until they
    // are whole (".sonvale-<pid>-<item>-Two.mp3").
    std::vector<std::string> PartFiles() const
    {
        std::vector<std::string> parts;
        for (const auto& e : fs::recursive_directory_iterator(Out("")))
            if (e.path().filename().string().rfind(".sonvale-", 0) == 0)
                parts.push_back(e.path().string());
        return parts;
    }
    // The part file of name (a track's file name, say "Two.mp3"), or "" while there is none.
    std::string PartOf(const std::string& name) const
    {
        for (const std::string& part : PartFiles())
            if (part.size() > name.size() && part.compare(part.size() - name.size() - 1, std::string::npos, "-" + name) == 0)
                return part;
        return {};
    }

    ScriptedDialogs dialogs;
    TRecordingView view;
    std::unique_ptr<TMp3EncodeProcess> mp3;
    std::unique_ptr<TWMAEncodeProcess> wma;
    std::shared_ptr<TScriptedDrive> drive;
    std::unique_ptr<TRipJob> job;
};

TEST(RipJobCaptionTest, ItemOfCountInTwoDigits)
{
    EXPECT_EQ(JobCaption("Encoding(", 7, 12, "/a/b.wav"), "Encoding(07/12): /a/b.wav");
    EXPECT_EQ(JobCaption("Extracting(", 1, 3, "Intro"), "Extracting(01/03): Intro");
    EXPECT_EQ(JobCaption("Decoding(", 100, 120, "x"), "Decoding(100/120): x");
}

// Three tracks to MP3 with the real lame and ID3 on: extract 1, encode 1, tag 1, extract 2, ...;
// the tags hold the disc's information; the WAV files are gone at the end and the job closes.
TEST_F(RipJobTest, RippingToMp3TagsEachTrackAndRemovesTheWavFiles)
{
    const HCDROM h = Drive({75, 60, 90});
    Options.CommonOptions.OutputFormat = 0;
    Options.UseID3 = true;
    Options.CDInfo.Artist = "The Band";
    Options.CDInfo.Album = "The Album";
    Options.CDInfo.Year = "2004";
    Options.CDInfo.Genre = 118;  // Rock
    Start(jkRipTracks, {"01Intro", "02Song", "03Outro"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
    EXPECT_EQ(view.Captions(), (std::vector<std::string>{"Extracting(01/03): Intro", "Encoding(01/03): Intro",
                                                         "Extracting(02/03): Song", "Encoding(02/03): Song",
                                                         "Extracting(03/03): Outro", "Encoding(03/03): Outro"}));
    int track = 1;
    for (const char* title : {"Intro", "Song", "Outro"}) {
        SCOPED_TRACE(title);
        EXPECT_FALSE(fs::exists(Out(std::string(title) + ".wav")));
        Tid3tag tag;
        ASSERT_EQ(tag.ReadFromFile(Out(std::string(title) + ".mp3")), id3Success);
        EXPECT_EQ(tag.Title(), title);
        EXPECT_EQ(tag.Artist(), "The Band");
        EXPECT_EQ(tag.Album(), "The Album");
        EXPECT_EQ(tag.Year(), "2004");
        EXPECT_EQ(tag.Genre, 17);
        EXPECT_EQ(tag.Track(), track++);
    }
    EXPECT_TRUE(job->Finished());
    // The real peer reads the tag as well.
    const std::string listed = CommandOutput("id3v2 -l '" + Out("Song.mp3") + "'");
    EXPECT_NE(listed.find("Song"), std::string::npos) << listed;
    EXPECT_NE(listed.find("The Band"), std::string::npos) << listed;
}

// Tags in every tagged format, read back by another reader (mutagen): a title of 60 characters in
// Greek and Japanese kept whole, the disc's fields, the track of the total, and the output
// folder's cover.jpg byte for byte. An MP3 also ends with the ID3v1 block it always had.
TEST_F(RipJobTest, TagsKeepEveryCharacterAndTheCoverInEveryFormat)
{
    std::string title;
    while (title.size() < 60 * 2)  // 60 characters of 2 or 3 bytes each
        title += "Καλημέρα κόσμε こんにちは世界 ";
    const QString whole = QString::fromUtf8(title).left(60);
    title = whole.toStdString();
    ASSERT_EQ(QString::fromStdString(title).size(), 60);
    std::string cover = "\xFF\xD8\xFF\xE0";
    for (int i = 0; i < 3000; ++i)
        cover += static_cast<char>(i * 7 + 3);
    WriteFile("Output/cover.jpg", cover);
    const std::string coverHash =
        QCryptographicHash::hash(QByteArray::fromStdString(cover), QCryptographicHash::Sha256).toHex().toStdString();
    Options.UseID3 = true;
    Options.CDInfo.Artist = "Άλφα アーティスト";
    Options.CDInfo.Album = "Το άλμπουμ";
    Options.CDInfo.Year = "2004";
    Options.CDInfo.Genre = 118;  // Rock
    Options.CDInfo.TrackNumber = 2;
    for (const char* key : {"mp3", "ogg", "flac", "opus"}) {
        SCOPED_TRACE(key);
        const TOutputFormat& format = *FormatOfKey(key);
        Options.CommonOptions.OutputFormat = format.Stored;
        view = TRecordingView{};
        Start(jkRipTracks, {"01" + title, "02Second"}, Drive({75, 60}));
        ASSERT_TRUE(WaitForClose());
        EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
        const std::string file = Out(title + std::string(format.Extension));
        const std::string read = CommandOutput("/usr/bin/python3 " TEST_DATA "/read_tags.py '" + file + "'");
        const std::vector<std::string> want = {title, "Άλφα アーティスト", "Το άλμπουμ", "2004", "Rock", "1", "2", "",
                                               coverHash, std::string(key) == "mp3" ? "2.4" : "-"};
        std::istringstream lines(read);
        for (const std::string& expected : want) {
            std::string line;
            std::getline(lines, line);
            EXPECT_EQ(line, expected) << read;
        }
        if (std::string(key) == "mp3") {
            // The ID3v1 block at the end is the one a file with only that tag gets.
            WriteFile("plain.mp3", std::string(1000, '\xFF'));
            Tid3tag v1;
            v1.SetTitle(title);
            v1.SetArtist(Options.CDInfo.Artist);
            v1.SetAlbum(Options.CDInfo.Album);
            v1.SetYear("2004");
            v1.Genre = 17;
            v1.SetComment(Options.CDInfo.Comment);
            v1.SetTrack(1);
            ASSERT_EQ(v1.SaveToFile(Path("plain.mp3")), id3Success);
            const std::string ripped = ReadFile("Output/" + title + ".mp3");
            EXPECT_EQ(ripped.substr(ripped.size() - 128), ReadFile("plain.mp3").substr(1000));
            EXPECT_EQ(ripped.substr(0, 3), "ID3");
        }
    }
}

// Which reading thread of a drive this is, from 1 in the order they first read (each track is read
// on a thread of its own; a thread's ID may be reused after it ends, its thread-local storage not).
// drive: the drive's own number (NextDriveNumber), not its address, which a later drive may reuse.
int ReaderNumber(int drive, int& count)
{
    thread_local std::map<int, int> number;
    int& n = number[drive];
    if (n == 0)
        n = ++count;
    return n;
}

int NextDriveNumber()
{
    static std::atomic<int> next{0};
    return ++next;
}

// A disc image whose reads wait until the test opens the gate once the first `free` tracks are
// read (each track is read on a thread of its own; paranoia reads far ahead, so sector numbers
// would not tell the tracks apart): the rip holds there while something else (a cover on its way,
// Stop) comes first.
class TGatedDrive : public TDriveLayer {
public:
    TGatedDrive(std::shared_ptr<TDriveBackend> inner, std::size_t free)
        : TDriveLayer(std::move(inner))
        , m_free(free)
    {
    }
    ~TGatedDrive() override { Let(); }
    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override
    {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (static_cast<std::size_t>(ReaderNumber(m_number, m_readers)) > m_free)
                m_opened.wait(lock, [this] { return m_open; });
        }
        return TDriveLayer::ReadAudio(lba, count, out);
    }
    void Let()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_opened.notify_all();
    }
    // Closed again, for a rip that starts afresh.
    void Hold()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_open = false;
        m_readers = 0;
    }

private:
    std::size_t m_free;
    std::mutex m_mutex;
    std::condition_variable m_opened;
    const int m_number = NextDriveNumber();
    int m_readers = 0;
    bool m_open = false;
};

// The fetched cover arrives while the last track is still to be read: the tracks already tagged
// get it then, and the album's ReplayGain tags every track again with it. Each file holds exactly
// one picture, the fetched one, in every format.
TEST_F(RipJobTest, ACoverThatArrivesMidRipIsEmbeddedOnce)
{
    const std::string jpeg = "\xFF\xD8\xFF\xE0" + std::string(3000, 'c');
    TTestHttpServer server([&](const std::string&) { return jpeg; });
    MusicBrainzSetInterval(0);  // four fetches, one a format, without the public server's pause
    const std::shared_ptr<void> interval(nullptr, [](void*) { MusicBrainzSetInterval(1000); });
    Options.MusicBrainz.CoverArtServer = "http://127.0.0.1:" + std::to_string(server.Port());
    Options.CDInfo.MusicBrainzRelease = "rel-1";
    Options.CDInfo.Artist = "The Band";
    Options.CDInfo.Album = "Late";
    Options.Tags.ReplayGain = true;
    Options.UseID3 = true;
    ImageDrive({75, 60, 90});
    const auto gated = std::make_shared<TGatedDrive>(OpenImageDrive(Path("disc.cue")), 2);
    const HCDROM h = UseDrive(gated);
    const std::shared_ptr<void> letGo(nullptr, [&](void*) { gated->Let(); });  // whatever fails
    const std::string hash =
        QCryptographicHash::hash(QByteArray::fromStdString(jpeg), QCryptographicHash::Sha256).toHex().toStdString();
    for (const char* key : {"flac", "ogg", "opus", "mp3"}) {
        SCOPED_TRACE(key);
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        Options.CommonOptions.OutputFormat = FormatOfKey(key)->Stored;
        view = TRecordingView{};
        gated->Hold();
        Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
        ASSERT_TRUE(WaitUntil([&] { return !view.notices.empty(); }));
        gated->Let();
        ASSERT_TRUE(WaitForClose());
        EXPECT_EQ(view.notices, std::vector<std::string>{"The cover was fetched into " + Out("cover.jpg") + "."});
        for (const char* name : {"One", "Two", "Three"}) {
            const std::string file = Out(std::string(name) + "." + key);
            std::vector<std::string> fields;
            std::istringstream lines(CommandOutput("/usr/bin/python3 " TEST_DATA "/read_tags.py " + ShellQuoted(file)));
            for (std::string line; std::getline(lines, line);)
                fields.push_back(line);
            ASSERT_EQ(fields.size(), 15u) << file;
            EXPECT_EQ(fields[8], hash) << file;
            EXPECT_EQ(fields[14], "1") << file << ": pictures";
            EXPECT_NE(fields[12], "") << file << ": the album's gain";
        }
        job.reset();
    }
}

// ReplayGain measured as the tracks pass agrees with ffmpeg's EBU R128 meter within 0.1 dB, per
// track and for the album (the tracks together); the peaks are the highest samples. FLAC keeps
// them as Vorbis comments, MP3 as TXXX frames of its ID3v2 tag.
TEST_F(RipJobTest, ReplayGainAgreesWithAnotherMeter)
{
    const HCDROM h = ImageDrive({225, 300});
    Options.Tags.ReplayGain = true;
    Options.UseID3 = true;
    const auto measured = [&](const std::string& raw) {
        WriteFile("track.raw", raw);
        const std::string out = CommandOutput("ffmpeg -nostats -hide_banner -f s16le -ar 44100 -ac 2 -i '" +
                                              Path("track.raw") + "' -af ebur128 -f null - 2>&1");
        const std::size_t at = out.rfind("I:");
        return at == std::string::npos ? 0.0 : std::stod(out.substr(at + 2));
    };
    const auto peak = [](const std::string& raw) {
        int highest = 0;
        for (std::size_t i = 0; i + 1 < raw.size(); i += 2)
            highest = std::max(highest, std::abs(int(int16_t(uint16_t(uint8_t(raw[i]) | uint8_t(raw[i + 1]) << 8)))));
        return highest / 32768.0;
    };
    const std::string one = ImageBytes(0, 225), two = ImageBytes(225, 300);
    const double album = measured(one + two);
    const double albumPeak = std::max(peak(one), peak(two));
    for (const char* key : {"flac", "mp3"}) {
        SCOPED_TRACE(key);
        Options.CommonOptions.OutputFormat = FormatOfKey(key)->Stored;
        view = TRecordingView{};
        Start(jkRipTracks, {"01One", "02Two"}, h);
        ASSERT_TRUE(WaitForClose());
        EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
        int n = 0;
        for (const std::string* raw : {&one, &two}) {
            const std::string file = Out(std::string(n++ == 0 ? "One." : "Two.") + key);
            std::istringstream lines(CommandOutput("/usr/bin/python3 " TEST_DATA "/read_tags.py '" + file + "'"));
            std::vector<std::string> fields;
            for (std::string line; std::getline(lines, line);)
                fields.push_back(line);
            ASSERT_EQ(fields.size(), 15u) << file;
            SCOPED_TRACE(file);
            EXPECT_NEAR(std::stod(fields[10]), -18.0 - measured(*raw), 0.1) << fields[10];
            EXPECT_EQ(fields[10].substr(fields[10].size() - 3), " dB");
            EXPECT_NEAR(std::stod(fields[11]), peak(*raw), 1e-5) << fields[11];
            EXPECT_NEAR(std::stod(fields[12]), -18.0 - album, 0.1) << fields[12];
            EXPECT_NEAR(std::stod(fields[13]), albumPeak, 1e-5) << fields[13];
        }
    }
}

// A naming template makes the folders it names, as the tracks need them, and the files go there.
TEST_F(RipJobTest, ANamingTemplateMakesItsFolders)
{
    const HCDROM h = Drive({75, 60});
    Options.CommonOptions.OutputFormat = FormatOfKey("ogg")->Stored;
    Options.Naming.Template = "%artist%/%album%/%track% %title%";
    Options.CDInfo.Artist = "AC/DC";
    Options.CDInfo.Album = "";
    Start(jkRipTracks, {"01Intro", "02Song"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
    EXPECT_TRUE(fs::exists(Out("AC-DC/Unknown Album/01 Intro.ogg")));
    EXPECT_TRUE(fs::exists(Out("AC-DC/Unknown Album/02 Song.ogg")));
    EXPECT_FALSE(fs::exists(Out("AC-DC/Unknown Album/01 Intro.wav"))) << "the WAV goes after the rip, as always";
}

// FLAC to WAV: a good file decodes to its samples; one that fails its decoding is said and leaves
// no half WAV; a file that is no FLAC is said as such; the job goes on to the end.
TEST_F(RipJobTest, FlacToWavSaysWhatFailsAndLeavesNoHalfWav)
{
    const std::string good = Path("good.flac"), damaged = Path("damaged.flac"), text = Path("text.flac");
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 -b 16 '" + good + "' synth 3 sine 440").c_str()), 0);
    std::string bytes = ReadFile("good.flac");
    bytes[bytes.size() * 3 / 4] = static_cast<char>(bytes[bytes.size() * 3 / 4] ^ 0x33);
    WriteFile("damaged.flac", bytes);
    WriteFile("text.flac", "hello\n");
    Start(jkFlacToWav, {damaged, good, text});
    ASSERT_TRUE(WaitForClose());
    ASSERT_EQ(dialogs.shown.size(), 2u) << dialogs.Texts().join("|").toStdString();
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(QString::fromStdString("Cannot decode " + damaged + ": ")))
        << dialogs.shown[0].text.toStdString();
    EXPECT_EQ(dialogs.shown[1].text.toStdString(), "Cannot read " + text + ": it is not a FLAC file.");
    EXPECT_FALSE(fs::exists(Out("damaged.wav")));
    EXPECT_FALSE(fs::exists(Out("text.wav")));
    EXPECT_EQ(CommandOutput("soxi -s '" + Out("good.wav") + "'"), "132300\n");
    EXPECT_EQ(view.Stages().front(), "Decoding FLAC to WAV");
}

// To WAV, each track's end starts the next; the files are the drive's sectors and stay.
TEST_F(RipJobTest, RippingToWavKeepsEachTrack)
{
    const HCDROM h = Drive({20, 30});
    Options.CommonOptions.OutputFormat = 1;
    Start(jkRipTracks, {"01One", "02Two"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(view.Captions(), (std::vector<std::string>{"Extracting(01/02): One", "Extracting(02/02): Two"}));
    EXPECT_EQ(fs::file_size(Out("One.wav")), 44u + 20 * CDSectorSize);
    EXPECT_EQ(fs::file_size(Out("Two.wav")), 44u + 30 * CDSectorSize);
    EXPECT_EQ(view.Stages(), std::vector<std::string>{"Extracting"});
    EXPECT_TRUE(dialogs.shown.empty());
}

// To OGG through libvorbis and to WMA through the real WM8EUTIL: each track encoded, the WAV
// files removed, the job closed by itself.
TEST_F(RipJobTest, RippingToOggAndWma)
{
    setenv("SONVALE_SYSTEM_DIR", WM8EUTIL_DIR, 1);
    for (const int format : {2, 3}) {
        SCOPED_TRACE(format);
        const HCDROM h = Drive({75, 50});
        Options.CommonOptions.OutputFormat = format;
        view = TRecordingView{};
        Start(jkRipTracks, {"01First", "02Second"}, h);
        ASSERT_TRUE(WaitForClose());
        EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
        const std::string ext = format == 2 ? ".ogg" : ".wma";
        for (const char* title : {"First", "Second"}) {
            EXPECT_FALSE(fs::exists(Out(std::string(title) + ".wav")));
            EXPECT_GT(fs::file_size(Out(title + ext)), 1000u) << title;
        }
        if (format == 2) {
            const std::string info = CommandOutput("ogginfo '" + Out("First.ogg") + "' 2>&1");
            EXPECT_NE(info.find("Rate: 44100"), std::string::npos) << info;
        } else {
            const std::string probe = CommandOutput("ffprobe -v error -show_entries stream=codec_name -of default=nw=1 '" +
                                                    Out("First.wma") + "' 2>&1");
            EXPECT_NE(probe.find("codec_name=wmav2"), std::string::npos) << probe;
        }
    }
}

// Stop during the second encode: the MP3 run is killed, track 1's WAV went when its MP3 was made,
// track 2's (only the encoder's input) goes, no part of an MP3 stays, the third track is never read.
TEST_F(RipJobTest, StopDuringTheSecondEncode)
{
    FakeProgram("lame", "if [ -e " + Path("second") + " ]; then exec sleep 600; fi\ntouch " + Path("second") + "\n" +
                            FakeLameBody);
    const HCDROM h = Drive({10, 10, 10});
    Options.CommonOptions.OutputFormat = 0;
    Options.UseID3 = true;
    Start(jkRipTracks, {"01A", "02B", "03C"}, h);
    ASSERT_TRUE(WaitUntil(
        [&] { return mp3->ChildPid() > 0 && !view.shown.empty() && view.shown.back().Caption == "Encoding(02/03): B"; }));
    const pid_t child = mp3->ChildPid();
    job->btStopClick();
    EXPECT_TRUE(view.closed);
    EXPECT_TRUE(job->Finished());
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(child))) << "the MP3 run is killed and reaped";
    EXPECT_FALSE(mp3->Busy());
    EXPECT_FALSE(fs::exists(Out("A.wav")));
    EXPECT_FALSE(fs::exists(Out("B.wav")));
    EXPECT_FALSE(fs::exists(Out("C.wav")));
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});
    Tid3tag tag;
    EXPECT_EQ(tag.ReadFromFile(Out("A.mp3")), id3Success) << "track 1 was tagged";
    EXPECT_FALSE(fs::exists(Out("B.mp3")));
    EXPECT_EQ(drive->Reads, 2) << "one read of 10 sectors for each of the first two tracks";
}

// The failures of ripping, each told and skipped: a read that fails, a normalising pass that fails
// (the track is encoded as read), a data track. A title that is no file name ("..") is none of
// them: its file is "Track 03".
TEST_F(RipJobTest, FailedTracksAreToldAndSkipped)
{
    FakeProgram("lame", FakeLameBody);
    const HCDROM h = Drive({10, 10, 10, 10, 10});
    drive->Toc.Tracks[4].Audio = false;
    drive->FailReadAtSector = 12;  // in track 2
    // The normalising pass cannot write its file (beside the track's WAV, under the job's name).
    fs::create_directory(Out(".sonvale-" + std::to_string(getpid()) + "-3-Loud.nor"));
    Options.CommonOptions.OutputFormat = 0;
    Options.CommonOptions.IsNormalize = true;
    Options.CommonOptions.NormalizePercent = 50;
    Start(jkRipTracks, {"01Fine", "02Scratched", "03..", "04Loud", "05Data"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(dialogs.Texts(),
              (QStringList{"Error while reading CD information!",
                           QString::fromStdString("Error while normalizing " + Out("Loud.wav") + "!"),
                           "Track 05 is a data track and holds no audio."}));
    for (const auto& shown : dialogs.shown)
        EXPECT_EQ(shown.icon, Dialogs::Icon::Error);
    EXPECT_TRUE(fs::exists(Out("Fine.mp3")));
    EXPECT_FALSE(fs::exists(Out("Scratched.mp3")));
    EXPECT_TRUE(fs::exists(Out("Loud.mp3"))) << "encoded as extracted";
    EXPECT_EQ(job->EncodeIndex, 5);
}

// A disc image whose drive is unplugged when the second track's reading begins (each track is read
// on a thread of its own): every read from then on fails, and the drive says it is gone.
class TVanishingDrive : public TDriveLayer {
public:
    using TDriveLayer::TDriveLayer;
    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_gone = m_gone || ReaderNumber(m_number, m_readers) > 1;
            if (m_gone)
                return false;
        }
        return TDriveLayer::ReadAudio(lba, count, out);
    }
    std::string Problem() const override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_gone ? "The drive /dev/sr0 is gone (unplugged or switched off)." : std::string();
    }
    bool Vanished() const override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_gone;
    }

private:
    mutable std::mutex m_mutex;
    const int m_number = NextDriveNumber();
    int m_readers = 0;
    bool m_gone = false;
};

// The drive is unplugged while track 2 is read: the job says so once and ends (no hang, nothing
// more read), track 2's partial file goes, track 1 stays; plain and secure, MP3 (two encoders at
// once) and WAV.
TEST_F(RipJobTest, ADriveThatVanishesMidRipEndsTheJob)
{
    FakeProgram("lame", FakeLameBody);
    ImageDrive({75, 60, 90});
    for (const bool secure : {false, true}) {
        for (const char* format : {"wav", "mp3"}) {
            SCOPED_TRACE(std::string(format) + (secure ? " secure" : ""));
            fs::remove_all(Out(""));
            fs::create_directory(Out(""));
            const HCDROM h = UseDrive(std::make_shared<TVanishingDrive>(OpenImageDrive(Path("disc.cue"))));
            Options.SecureOptions.SecureMode = secure;
            Options.SecureOptions.AccurateRip = false;
            Options.CommonOptions.OutputFormat = FormatOfKey(format)->Stored;
            Options.JobOptions.Encoders = std::string(format) == "mp3" ? 2 : 1;  // MP3 side by side
            dialogs.shown.clear();
            view = TRecordingView{};
            Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
            ASSERT_TRUE(WaitForClose());
            EXPECT_EQ(dialogs.Texts(), QStringList{"Error while reading CD information! The drive /dev/sr0 is gone "
                                                   "(unplugged or switched off). The job is stopped."});
            std::vector<std::string> results;
            for (const TItemOutcome& o : job->Outcomes())
                results.push_back(o.Result);
            EXPECT_EQ(results, (std::vector<std::string>{"done", "failed", "not done"}));
            EXPECT_TRUE(fs::exists(Out(std::string("One.") + format)));
            EXPECT_FALSE(fs::exists(Out(std::string("Two.") + format)));
            EXPECT_EQ(PartFiles(), std::vector<std::string>{});
            if (secure) {
                const std::string log = job->SecureRecord().Path.empty() ? std::string() : ReadFile(
                    job->SecureRecord().Path.substr(m_dir.size()));
                EXPECT_NE(log.find("Track 02\n"), std::string::npos) << log;
                EXPECT_NE(log.find("Rip stopped because the drive is gone: this log covers tracks 01, 02 of the 3 "
                                   "chosen\nSummary: 2 tracks, 0 accurately ripped, 0 with unreadable sectors, 1 failed\n"),
                          std::string::npos)
                    << log;
            }
            job.reset();
        }
    }
}

// The drive refuses or the table cannot be read: the message, and the job waits for Stop.
TEST_F(RipJobTest, ExtractionErrorsWaitForStop)
{
    const struct {
        std::function<void(TScriptedDrive&)> arrange;
        const char* text;
    } cases[] = {
        {[](TScriptedDrive& d) { d.RefuseAddressMode = true; }, "CD extract failed!Please try again."},
        {[](TScriptedDrive& d) { d.TocUnreadable = true; }, "Error while reading TOC information!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const HCDROM h = Drive({10});
        c.arrange(*drive);
        dialogs.shown.clear();
        view = TRecordingView{};
        Start(jkRipTracks, {"01Only"}, h);
        ASSERT_TRUE(WaitUntil([&] { return !dialogs.shown.empty(); }));
        EXPECT_EQ(dialogs.Texts(), QStringList{c.text});
        EXPECT_FALSE(view.closed);
        EXPECT_FALSE(job->Finished());
        job->btStopClick();
        EXPECT_TRUE(view.closed);
    }
}

// Every conversion asks before it replaces a file, whatever makes the output (lame, WM8EUTIL,
// the in-process encoders and decoders): No keeps the file byte for byte and skips the item; Yes
// replaces it. Something that is no plain file (a folder, a FIFO, a link) is never replaced.
TEST_F(RipJobTest, EveryConversionAsksBeforeReplacingAFile)
{
    FakeProgram("lame", FakeLameBody);
    FakeWmaEncoder("");
    const std::string wav = SoxWav("s16.wav", 44100, 0.2);
    ASSERT_EQ(std::system(("flac -s -f -o '" + Path("song.flac") + "' '" + wav + "'").c_str()), 0);
    const struct {
        TJobKind kind;
        std::string source, output;
    } cases[] = {{jkWavToFlac, wav, "s16.flac"}, {jkWavToOpus, wav, "s16.opus"}, {jkWavToOgg, wav, "s16.ogg"},
                 {jkWavToMp3, wav, "s16.mp3"},   {jkWavToWma, wav, "s16.wma"},   {jkFlacToWav, Path("song.flac"), "song.wav"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        for (const Dialogs::Answer answer : {Dialogs::Answer::No, Dialogs::Answer::Yes}) {
            WriteFile("Output/" + c.output, "precious");
            dialogs.shown.clear();
            dialogs.answers = {answer};
            view = TRecordingView{};
            Start(c.kind, {c.source});
            ASSERT_TRUE(WaitForClose());
            EXPECT_EQ(dialogs.Texts(), QStringList{QString::fromStdString(Out(c.output)) + " has existed,overite it?"});
            EXPECT_EQ(job->Outcomes().front().Result, answer == Dialogs::Answer::No ? "skipped" : "done");
            if (answer == Dialogs::Answer::No)
                EXPECT_EQ(ReadFile("Output/" + c.output), "precious");
            else
                EXPECT_NE(ReadFile("Output/" + c.output), "precious");
            EXPECT_EQ(PartFiles(), std::vector<std::string>{});
            job.reset();
        }
    }
    // A folder, a FIFO and a link where the output goes: kept, said, the item failed.
    fs::remove_all(Out(""));
    fs::create_directory(Out(""));
    fs::create_directory(Out("s16.flac"));
    ASSERT_EQ(mkfifo(Out("s16.opus").c_str(), 0644), 0);
    WriteFile("target", "not mine");
    fs::create_symlink(Path("target"), Out("s16.ogg"));
    for (const auto& [kind, name] : {std::pair{jkWavToFlac, "s16.flac"}, {jkWavToOpus, "s16.opus"}, {jkWavToOgg, "s16.ogg"}}) {
        SCOPED_TRACE(name);
        dialogs.shown.clear();
        dialogs.answers = {Dialogs::Answer::Yes};
        Start(kind, {wav});
        ASSERT_TRUE(WaitForClose());
        EXPECT_EQ(dialogs.Texts(), QStringList{QString::fromStdString(Out(name)) +
                                               " exists and is not a file Sonvale wrote: it is kept, and nothing is "
                                               "written in its place."});
        EXPECT_EQ(job->Outcomes().front().Result, "failed");
        job.reset();
    }
    EXPECT_TRUE(fs::is_directory(Out("s16.flac")));
    EXPECT_TRUE(fs::is_fifo(Out("s16.opus")));
    EXPECT_TRUE(fs::is_symlink(Out("s16.ogg")));
    EXPECT_EQ(ReadFile("target"), "not mine");
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});
}

// Files to MP3: the second output exists and the user keeps it (no message, next file); an
// output another writer holds; a run that ends without any progress.
TEST_F(RipJobTest, FileConversionsToMp3AndTheirRunEnds)
{
    const std::string a = SoxWav("a.wav", 44100, 0.2), b = SoxWav("b.wav", 44100, 0.2), c = SoxWav("c.wav", 44100, 0.2);
    FakeProgram("lame", FakeLameBody);
    WriteFile("Output/b.mp3", "kept");
    dialogs.answers = {Dialogs::Answer::No};
    Start(jkWavToMp3, {a, b, c});
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(dialogs.Texts(), QStringList{QString::fromStdString(Out("b.mp3")) + " has existed,overite it?"});
    EXPECT_EQ(ReadFile("Output/b.mp3"), "kept");
    EXPECT_EQ(ReadFile("Output/c.mp3"), "mp3");
    EXPECT_EQ(view.Stages(), (std::vector<std::string>{"Encoding WAV to MP3", "Encoding"}));
    EXPECT_EQ(view.Captions().back(), "Encoding(03/03): " + c);

    // In use, then no progress at all.
    dialogs.shown.clear();
    const int other = open(Out("a.mp3").c_str(), O_RDWR);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    dialogs.answers = {Dialogs::Answer::Yes, Dialogs::Answer::Yes};
    FakeProgram("lame", "exit 0");
    view = TRecordingView{};
    Start(jkWavToMp3, {a, c});
    ASSERT_TRUE(WaitForClose());
    close(other);
    EXPECT_EQ(dialogs.Texts(),
              (QStringList{QString::fromStdString(Out("a.mp3")) + " has existed,overite it?",
                           QString::fromStdString(Out("a.mp3")) + "maybe be used,operate fail!",
                           QString::fromStdString(Out("c.mp3")) + " has existed,overite it?",
                           "Create MP3 file error!\nPlease check the output and lame options or run application again."}));
}

// A 22050 Hz WAV goes through resampling into "MyMP3ReTemp.wav" before the real lame, which is
// removed at the end; a 48000 Hz WAV goes to the Ogg encoder directly.
TEST_F(RipJobTest, ResamplingComesFirstBelow44100)
{
    const std::string low = SoxWav("low.wav", 22050, 1.0);
    Start(jkWavToMp3, {low});
    ASSERT_TRUE(WaitForClose());
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
    EXPECT_EQ(view.Stages(), (std::vector<std::string>{"Resampling WAV", "Encoding"}));
    EXPECT_EQ(view.Captions(), (std::vector<std::string>{"Resampling(01/01): " + low, "Encoding(01/01): " + low}));
    EXPECT_FALSE(fs::exists(Out(Mp3ResampleFile)));
    const std::string probe = CommandOutput("ffprobe -v error -show_entries stream=sample_rate,duration -of default=nw=1 '" +
                                            Out("low.mp3") + "' 2>&1");
    EXPECT_NE(probe.find("sample_rate=44100"), std::string::npos) << probe;

    const std::string high = SoxWav("high.wav", 48000, 0.5);
    view = TRecordingView{};
    Start(jkWavToOgg, {high});
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(view.Stages(), std::vector<std::string>{"Encoding WAV to OGG"});
    const std::string info = CommandOutput("ogginfo '" + Out("high.ogg") + "' 2>&1");
    EXPECT_NE(info.find("Rate: 48000"), std::string::npos) << info;
    EXPECT_FALSE(fs::exists(Out(OggResampleFile)));
}

// A job never writes over its own input: a WAV named like the output, or the temporary file
// itself chosen as input. The item is told and skipped; the next goes on.
TEST_F(RipJobTest, AJobNeverWritesOverItsInput)
{
    FakeProgram("lame", FakeLameBody);
    const std::string disguised = SoxWav("Output/song.ogg", 44100, 0.2);
    const std::string temp = SoxWav(std::string("Output/") + Mp3ResampleFile, 22050, 0.2);
    const std::string fine = SoxWav("fine.wav", 44100, 0.2);
    const auto before = fs::file_size(disguised);
    Start(jkWavToOgg, {disguised, fine});
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(dialogs.Texts(), QStringList{QString::fromStdString(disguised) + " is the source file and cannot be written."});
    EXPECT_EQ(fs::file_size(disguised), before);
    EXPECT_TRUE(fs::exists(Out("fine.ogg")));

    // The temporary file chosen as a source is written neither for itself nor for another file
    // that needs resampling.
    dialogs.shown.clear();
    view = TRecordingView{};
    const std::string tempBytes = ReadFile(std::string("Output/") + Mp3ResampleFile);
    const std::string low = SoxWav("low.wav", 22050, 0.2);
    Start(jkWavToMp3, {temp, fine, low});
    ASSERT_TRUE(WaitForClose());
    const QString refused = QString::fromStdString(temp) + " is the source file and cannot be written.";
    EXPECT_EQ(dialogs.Texts(), (QStringList{refused, refused}));
    EXPECT_TRUE(fs::exists(Out("fine.mp3")));
    EXPECT_FALSE(fs::exists(Out("low.mp3")));
    ASSERT_TRUE(fs::exists(temp)) << "chosen as a file to convert, the temporary file is not removed at the end";
    EXPECT_EQ(ReadFile(std::string("Output/") + Mp3ResampleFile), tempBytes);
}

// An input cut short while the Ogg encoder reads it: the error is shown, the partial Ogg file
// removed, and the next file converted.
TEST_F(RipJobTest, AnOutputErrorMidStageSkipsTheItem)
{
    const std::string cut = SoxWav("cut.wav", 44100, 30.0);
    const std::string next = SoxWav("next.wav", 44100, 0.3);
    job = std::make_unique<TRipJob>(view, dialogs, *mp3, *wma, jkWavToOgg, 0, std::vector<std::string>{cut, next});
    // Cut once the encoder has its first megabyte in hand.
    std::atomic<bool> once{false};
    TACSOutput& ogg = dynamic_cast<TOutputEncoder&>(*job->Encoder()).AudioOutput();
    const auto progress = ogg.OnProgress;
    ogg.OnProgress = [&, progress](TACSComponent* sender) {
        if (!once.exchange(true)) {
            EXPECT_EQ(truncate(cut.c_str(), 200000), 0);
        }
        progress(sender);
    };
    job->Start();
    ASSERT_TRUE(WaitForClose());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(QString::fromStdString("Cannot read " + cut + ": the file was cut short")))
        << dialogs.shown[0].text.toStdString();
    EXPECT_FALSE(fs::exists(Out("cut.ogg")));
    EXPECT_TRUE(fs::exists(Out("next.ogg")));
}

// Stop while resampling: the worker is parked and its file closed; nothing waits on anything.
TEST_F(RipJobTest, StopWhileResampling)
{
    const std::string low = SoxWav("long.wav", 22050, 120.0);
    Start(jkWavToMp3, {low});
    ASSERT_TRUE(WaitUntil([&] { return !view.shown.empty() && view.shown.back().Bar > 0; }));
    job->btStopClick();
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(dynamic_cast<TOutputEncoder&>(*job->Resampler()).AudioOutput().State(), osIdle);
    EXPECT_FALSE(fs::exists(Out(Mp3ResampleFile)));
    job.reset();
}

// A first file that cannot be read no longer refuses the whole job: said, and the job goes on
// (here to its end, having nothing else).
TEST_F(RipJobTest, AFirstFileThatCannotBeReadIsSkipped)
{
    const std::string missing = Path("missing.wav");
    job = std::make_unique<TRipJob>(view, dialogs, *mp3, *wma, jkWavToOgg, 0, std::vector<std::string>{missing});
    EXPECT_NO_THROW(job->Start());
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(dialogs.Texts(), QStringList{QString::fromStdString("Cannot open file " + missing + ": No such file or directory")});
    EXPECT_TRUE(job->Finished());
}

// WMA: the time estimate (a 1 500 000-byte input: 2 s, then one second more than the elapsed
// time), a profile out of range reset to 8, an error line of the encoder, a missing encoder.
TEST_F(RipJobTest, WmaRunsAndTheirEstimate)
{
    fs::create_directory(Path("wma"));
    setenv("SONVALE_SYSTEM_DIR", Path("wma").c_str(), 1);
    FakeProgram("wma/WM8EUTIL", "exec sleep 600");
    WriteFile("in.wav", std::string(1500000, '\0'));
    Options.WMAOptions.BitRate = 40;
    TWmaEncoder::Clock::time_point now = TWmaEncoder::Clock::now();
    job = std::make_unique<TRipJob>(view, dialogs, *mp3, *wma, jkWavToWma, 0, std::vector<std::string>{Path("in.wav")});
    auto* estimate = dynamic_cast<TWmaEncoder*>(job->Encoder());
    ASSERT_NE(estimate, nullptr);
    estimate->Now = [&] { return now; };
    job->Start();
    EXPECT_EQ(Options.WMAOptions.BitRate, 8) << "the run resets a profile out of range";
    EXPECT_EQ(estimate->InputSize(), 1500000);
    EXPECT_TRUE(estimate->Ticking());
    const struct {
        int seconds;
        const char* elapsed;
        const char* estimated;
        int bar;
    } ticks[] = {{0, "00:00", "00:02", 0}, {1, "00:01", "00:02", 50}, {2, "00:02", "00:03", 67}, {5, "00:05", "00:06", 83}};
    const auto start = now;
    for (const auto& t : ticks) {
        now = start + std::chrono::seconds(t.seconds);
        estimate->Tick();
        EXPECT_EQ(job->Display().Elapsed, t.elapsed) << t.seconds;
        EXPECT_EQ(job->Display().Estimated, t.estimated) << t.seconds;
        EXPECT_EQ(job->Display().Bar, t.bar) << t.seconds;
    }
    job->btStopClick();

    // A large input: the expected size from the profile's ratio, the estimate from the output's
    // growth. 4 000 000 bytes at ratio 21790 (profile 8) are expected to make 183 570 bytes.
    WriteFile("big.wav", std::string(4000000, '\0'));
    view = TRecordingView{};
    job = std::make_unique<TRipJob>(view, dialogs, *mp3, *wma, jkWavToWma, 0, std::vector<std::string>{Path("big.wav")});
    now = start;
    estimate = dynamic_cast<TWmaEncoder*>(job->Encoder());
    estimate->Now = [&] { return now; };
    job->Start();
    now = start + std::chrono::seconds(3);
    estimate->Tick();
    EXPECT_EQ(job->Display().Elapsed, "00:03");
    EXPECT_EQ(job->Display().Estimated, "") << "nothing written yet: no estimate";
    EXPECT_FALSE(job->Display().InitializingShown);
    // A quarter of it after 10 s: 40 s in all (the file grows under the job's own name).
    WriteFile(fs::relative(job->Encoder()->Output(), m_dir).string(), std::string(45892, 'w'));
    now = start + std::chrono::seconds(10);
    estimate->Tick();
    EXPECT_EQ(job->Display().Estimated, "00:40");
    EXPECT_EQ(job->Display().Bar, 25);
    job->btStopClick();

    // An error line: told, and the next file goes on; then the encoder is missing.
    fs::remove(Out("big.wma"));
    dialogs.shown.clear();
    WriteFile("wma/WM8EUTIL", "#!/bin/sh\necho 'ERROR: cannot read the input'\nexec sleep 600\n");
    view = TRecordingView{};
    Start(jkWavToWma, {Path("in.wav"), Path("big.wav")});
    ASSERT_TRUE(WaitUntil([&] { return dialogs.shown.size() >= 2; }));
    EXPECT_EQ(dialogs.Texts(), (QStringList{"ERROR: cannot read the input", "ERROR: cannot read the input"}));
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(job->EncodeIndex, 2);

    dialogs.shown.clear();
    unlink(Path("wma/WM8EUTIL").c_str());
    view = TRecordingView{};
    Start(jkWavToWma, {Path("in.wav"), Path("big.wav")});
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(dialogs.Texts(), (QStringList{"Can not find WMA encoder,please contact with support@sonvale.org!",
                                            "Can not find WMA encoder,please contact with support@sonvale.org!"}));
    EXPECT_FALSE(dynamic_cast<TWmaEncoder&>(*job->Encoder()).Ticking());
}

// A progress report of 0 % clears both times and leaves the bar and "Initializing..." as they
// are; a positive one hides "Initializing..." and moves the bar.
TEST_F(RipJobTest, ProgressReports)
{
    FakeProgram("lame", "exec sleep 600");
    const std::string a = SoxWav("a.wav", 44100, 0.2);
    Start(jkWavToMp3, {a});
    const auto post = [&](int32_t code, const char* elapsed, const char* estimated) {
        auto r = std::make_unique<TProcessInfo>();
        r->Code = code;
        r->ElapsedText = elapsed;
        r->EstimatedText = estimated;
        PostMessage(job->Handle(), WM_PROCESSINFO, 0, 0, std::move(r));
        const std::size_t before = view.shown.size();
        EXPECT_TRUE(WaitUntil([&] { return view.shown.size() > before; }));
    };
    post(40, "00:04", "00:10");
    EXPECT_EQ(job->Display().Bar, 40);
    EXPECT_TRUE(job->Display().PercentShown);
    EXPECT_FALSE(job->Display().InitializingShown);
    post(0, "", "");
    EXPECT_EQ(job->Display().Elapsed, "");
    EXPECT_EQ(job->Display().Estimated, "");
    EXPECT_EQ(job->Display().Bar, 40);

    // An encoder's own estimate never moves the bar back, and without a figure keeps the times.
    const auto estimate = [&](int32_t code, const char* elapsed, const char* estimated) {
        auto r = std::make_unique<TProcessInfo>();
        r->Estimate = true;
        r->Code = code;
        r->ElapsedText = elapsed;
        r->EstimatedText = estimated;
        SendMessage(job->Handle(), WM_PROCESSINFO, 0, 0, std::move(r));
    };
    estimate(30, "00:03", "00:10");
    EXPECT_EQ(job->Display().Bar, 40);
    EXPECT_EQ(job->Display().Estimated, "00:10");
    estimate(45, "00:05", "00:11");
    EXPECT_EQ(job->Display().Bar, 45);
    estimate(0, "00:06", "");
    EXPECT_EQ(job->Display().Elapsed, "00:06");
    EXPECT_EQ(job->Display().Estimated, "00:11");
    EXPECT_EQ(job->Display().Bar, 45);
    job->btStopClick();
}

// An encoder that crashes after it has printed progress: the error is told, the partial MP3 goes
// and no tag is written.
TEST_F(RipJobTest, AnEncoderThatCrashesMidRun)
{
    FakeProgram("lame", FakeLameBody + "kill -KILL $$\n");
    const HCDROM h = Drive({10, 10});
    Options.CommonOptions.OutputFormat = 0;
    Options.UseID3 = true;
    Start(jkRipTracks, {"01Broken", "02Also"}, h);
    ASSERT_TRUE(WaitForClose());
    const QString error = "Create MP3 file error!\nPlease check the output and lame options or run application again.";
    EXPECT_EQ(dialogs.Texts(), (QStringList{error, error}));
    EXPECT_FALSE(fs::exists(Out("Broken.mp3")));
    EXPECT_FALSE(fs::exists(Out("Also.mp3")));
}

// A tag that cannot be saved: the plain message with the result code.
TEST_F(RipJobTest, ATagThatCannotBeSaved)
{
    FakeProgram("lame", FakeLameBody + "chmod 444 \"$out\"\n");
    const HCDROM h = Drive({10});
    Options.CommonOptions.OutputFormat = 0;
    Options.UseID3 = true;
    Start(jkRipTracks, {"01Locked"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(dialogs.Texts(), QStringList{"Error #512! Could not save Tag!"});
    EXPECT_EQ(dialogs.shown[0].icon, Dialogs::Icon::None);
}

}  // namespace

namespace {

std::string Le32(uint32_t v)
{
    std::string out;
    for (int k = 0; k < 4; ++k)
        out += static_cast<char>((v >> (8 * k)) & 0xFF);
    return out;
}

// A secure rip to WAV with the database on 127.0.0.1: track 1's checksum is in both pressings,
// track 2's differs by one sample's worth, track 3 is not in the entry. The log beside the
// tracks says so per track, its checksum verifies, and an edited copy does not.
TEST_F(RipJobTest, SecureRipWritesAVerifiedLog)
{
    const std::vector<int32_t> lengths = {75, 60, 90};
    const HCDROM h = ImageDrive(lengths);
    Options.CommonOptions.OutputFormat = 1;
    Options.CDInfo.Artist = "The Band";
    Options.CDInfo.Album = "A/B";
    Options.SecureOptions.SecureMode = true;
    TTOC toc{};
    ModifyCDParms(h, CDP_MSF, 1);
    ASSERT_EQ(ReadTOC(h, &toc), 1);
    const TAccurateRipDiscId id = AccurateRipDiscId(toc);
    const std::vector<uint32_t> v2 = ImageV2(lengths);
    const auto pressing = [&](int confidence, uint32_t second, uint32_t third) {
        std::string p = std::string(1, '\3') + Le32(id.Id1) + Le32(id.Id2) + Le32(id.CddbId);
        for (const auto& [c, crc] : std::vector<std::pair<int, uint32_t>>{{confidence, v2[0]}, {confidence, second}, {0, third}})
            p += std::string(1, static_cast<char>(c)) + Le32(crc) + Le32(0);
        return p;
    };
    const std::string entry = pressing(5, v2[1] + 1, 0) + pressing(2, v2[1] - 1, 0);
    TTestHttpServer server([&](const std::string&) { return entry; });
    Options.SecureOptions.AccurateRipServer = "http://127.0.0.1:" + std::to_string(server.Port());

    Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
    const std::string log = ReadFile("Output/The Band - A-B.log");
    for (const char* want : {"Read mode: secure", "Read offset: 0 (none known: 0)", "Track 01\n  File: One.wav",
                             "AccurateRip: accurately ripped (confidence 7, v2)", "Track 02\n  File: Two.wav",
                             "AccurateRip: not accurate", "Track 03", "AccurateRip: not in database",
                             "Unreadable sectors: none", "Summary: 3 tracks, 1 accurately ripped, 0 with unreadable sectors, 0 failed",
                             "Drive: Sonvale Image disc.cue"})
        EXPECT_NE(log.find(want), std::string::npos) << want << "\n" << log;
    EXPECT_TRUE(RipLogIntact(log));
    std::string edited = log;
    edited.replace(edited.find("not accurate"), 12, "accurate    ");
    EXPECT_FALSE(RipLogIntact(edited));
    // The checksum is what sha256sum says of the lines above it.
    const std::string sum = CommandOutput("head -n -1 '" + Path("Output/The Band - A-B.log") + "' | sha256sum");
    EXPECT_NE(log.find("Log checksum: " + sum.substr(0, 64)), std::string::npos) << sum;
    EXPECT_EQ(ReadFile("Output/One.wav").substr(44), ImageBytes(0, 75));
}

// A cue sheet of its own: the same cue sheet with its files joined into one BIN file, as a
// burning program sees the disc it would write: the indexes made absolute.
std::string JoinedCueSheet(const std::string& cue, const std::string& folder, const std::string& binPath)
{
    std::istringstream lines(cue);
    std::ofstream bin(binPath, std::ios::binary | std::ios::trunc);
    std::string out = "FILE \"" + fs::path(binPath).filename().string() + "\" BINARY\n";
    int64_t base = 0, next = 0;  // sectors: where the current file starts, and its end
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("FILE \"", 0) == 0) {
            const std::string name = line.substr(6, line.rfind('"') - 6);
            std::ifstream wav(folder + name, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(wav)), {});
            EXPECT_GT(bytes.size(), 44u) << name;
            bin.write(bytes.data() + 44, static_cast<std::streamsize>(bytes.size() - 44));
            base = next;
            next += static_cast<int64_t>((bytes.size() - 44) / 2352);
            continue;
        }
        if (const auto at = line.find("INDEX "); at != std::string::npos) {
            int m = 0, sec = 0, f = 0;
            std::sscanf(line.c_str() + at + 9, "%d:%d:%d", &m, &sec, &f);
            const int64_t sector = base + (m * 60 + sec) * 75 + f;
            char msf[16];
            std::snprintf(msf, sizeof msf, "%02d:%02d:%02d", int(sector / 4500), int(sector / 75 % 60), int(sector % 75));
            line = line.substr(0, at + 9) + msf;
        }
        out += line + "\n";
    }
    return out;
}

// A template with folders and hostile names from a lookup: every file of the album (the tracks,
// the log, the cue sheet) in the album's folder, named without quotes and control characters; the
// cue sheet's FILE lines name exactly the files written; a cover in the output folder's root
// belongs to no album in a folder of its own, and the album's own cover is embedded once, also
// when the file is tagged a second time.
TEST_F(RipJobTest, AnAlbumsFilesStayInItsFolderNamedAsWritten)
{
    const HCDROM h = ImageDrive({75, 60, 90});
    Options.CDInfo.Artist = "The Band";
    Options.CDInfo.Album = "The \"Best\" Of\n";
    Options.Naming.Template = "%artist%/%album%/%track% %title%";
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.AccurateRip = false;
    Options.Tags.ReplayGain = true;  // the album's gain tags every track a second time
    Options.CommonOptions.OutputFormat = FormatOfKey("flac")->Stored;
    WriteFile("Output/cover.jpg", "\xFF\xD8\xFF\xE0 another album's cover");
    const std::string album = Out("The Band/The 'Best' Of/");
    const std::vector<std::string> titles = {"Say \"Hi\"", "tab\there", "line\nbreak: ok?"};
    const std::vector<std::string> files = {"01 Say 'Hi'.flac", "02 tab here.flac", "03 line break ok.flac"};
    for (const bool ownCover : {false, true}) {
        SCOPED_TRACE(ownCover);
        if (ownCover) {
            WriteFile("Output/The Band/The 'Best' Of/cover.jpg", "\xFF\xD8\xFF\xE0 this album's cover");
            dialogs.answers = {Dialogs::Answer::Yes, Dialogs::Answer::Yes, Dialogs::Answer::Yes};
        }
        dialogs.shown.clear();
        view = TRecordingView{};
        Start(jkRipTracks, {"01" + titles[0], "02" + titles[1], "03" + titles[2]}, h);
        ASSERT_TRUE(WaitForClose());
        EXPECT_EQ(dialogs.shown.size(), ownCover ? 3u : 0u) << dialogs.Texts().join("|").toStdString();
        for (const std::string& file : files) {
            SCOPED_TRACE(file);
            ASSERT_TRUE(fs::exists(album + file));
            const std::string pictures = CommandOutput("metaflac --list --block-type=PICTURE " + ShellQuoted(album + file));
            std::size_t count = 0;
            for (std::size_t at = pictures.find("METADATA block"); at != std::string::npos; at = pictures.find("METADATA block", at + 1))
                ++count;
            EXPECT_EQ(count, ownCover ? 1u : 0u) << pictures;
        }
        const std::string cue = ReadFile("Output/The Band/The 'Best' Of/The Band - The 'Best' Of.cue");
        std::vector<std::string> named;
        std::istringstream lines(cue);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("FILE \"", 0) == 0)
                named.push_back(line.substr(6, line.rfind("\" WAVE") - 6));
        EXPECT_EQ(named, files) << cue;
        EXPECT_TRUE(fs::exists(album + "The Band - The 'Best' Of.log"));
        EXPECT_FALSE(fs::exists(Out("The Band - The 'Best' Of.log")));
        EXPECT_EQ(PartFiles(), std::vector<std::string>{});
        job.reset();
    }
    // The titles stay as typed in the tags.
    EXPECT_EQ(CommandOutput("metaflac --show-tag=TITLE " + ShellQuoted(album + files[1])), "TITLE=tab\there\n");
}

// A secure rip of a whole disc with gaps, a pre-emphasised track, ISRCs and a catalogue number:
// the log says them, and the cue sheet beside the log, read back by libcdio as a burner would
// write the disc (its files joined into one), gives the image's table of contents, pregaps,
// flags, ISRCs, catalogue number and audio, byte for byte. The ISRCs are in the tags as well.
TEST_F(RipJobTest, ASecureRipsCueSheetGivesBackTheDisc)
{
    ASSERT_EQ(std::system((std::string(MKDISC) + " --gap 2 2 --gap 3 1.5 --pre 2 --isrc 1 USABC2600001 --isrc 3 "
                           "GBXYZ0012345 --catalog 0123456789012 '" + Path("disc.cue") + "' 3 4 5 > /dev/null").c_str()),
              0);
    const std::shared_ptr<TDriveBackend> image = OpenImageDrive(Path("disc.cue"));
    const HCDROM h = UseDrive(image);
    Options.CDInfo.Artist = "The Band";
    Options.CDInfo.Album = "Gaps";
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.AccurateRip = false;
    for (const int format : {1, 4}) {  // WAV, FLAC
        SCOPED_TRACE(format);
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        Options.CommonOptions.OutputFormat = format;
        view = TRecordingView{};
        Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
        ASSERT_TRUE(WaitForClose());
        EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
        const std::string log = ReadFile("Output/The Band - Gaps.log");
        for (const char* want : {"Catalog: 0123456789012\n", "Track 01\n  File: One.", "  ISRC: USABC2600001\n",
                                 "Track 02\n  File: Two.", "  Pre-emphasis: yes\n  Pregap: 00:02.00 (from sector 225)\n",
                                 "  ISRC: GBXYZ0012345\n  Pregap: 00:01.38 (from sector 675)\n"})
            EXPECT_NE(log.find(want), std::string::npos) << want << "\n" << log;
        EXPECT_TRUE(RipLogIntact(log));
        const std::string cue = ReadFile("Output/The Band - Gaps.cue");
        const std::string ext = format == 1 ? "wav" : "flac";
        EXPECT_EQ(cue, "REM COMMENT \"Sonvale 2.1\"\nREM DISCID " + CommandOutput("printf %08X " + std::to_string(job->SecureRecord().DiscId.CddbId)) +
                           "\nCATALOG 0123456789012\nPERFORMER \"The Band\"\nTITLE \"Gaps\"\n"
                           "FILE \"One." + ext + "\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n    PERFORMER \"The Band\"\n"
                           "    ISRC USABC2600001\n    INDEX 01 00:00:00\n"
                           "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    PERFORMER \"The Band\"\n    FLAGS PRE\n    INDEX 00 00:03:00\n"
                           "FILE \"Two." + ext + "\" WAVE\n    INDEX 01 00:00:00\n"
                           "  TRACK 03 AUDIO\n    TITLE \"Three\"\n    PERFORMER \"The Band\"\n    ISRC GBXYZ0012345\n"
                           "    INDEX 00 00:04:00\nFILE \"Three." + ext + "\" WAVE\n    INDEX 01 00:00:00\n");
        if (format == 4) {
            EXPECT_EQ(CommandOutput("metaflac --show-tag=ISRC '" + Out("Three.flac") + "'"), "ISRC=GBXYZ0012345\n");
        }
        job.reset();
    }

    // The WAV rip's cue sheet burnt back.
    fs::remove_all(Out(""));
    fs::create_directory(Out(""));
    Options.CommonOptions.OutputFormat = 1;
    view = TRecordingView{};
    Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
    ASSERT_TRUE(WaitForClose());
    std::shared_ptr<TDriveBackend> burnt;
    ExpectBurntBackIsTheDisc("The Band - Gaps.cue", *image, burnt);
    ASSERT_TRUE(burnt);
    TDiscToc was;
    ASSERT_TRUE(image->ReadToc(was));
    EXPECT_EQ(was.Tracks[1].Index0, 225);
    TDiscText wasText, isText;
    ASSERT_TRUE(image->ReadText(wasText));
    ASSERT_TRUE(burnt->ReadText(isText));
    EXPECT_EQ(isText.TrackIsrc, wasText.TrackIsrc);
    EXPECT_EQ(isText.Catalog, "0123456789012");
    burnt->Close();
}

// The status line's words at a secure rip's end, for each kind of answer: a count of accurate
// tracks, or the one verdict every track shares (a track CTDB calls "differs" counts 0, as
// AccurateRip's "not accurate"), the disc's CRC when it matches, and the failed tracks.
TEST(RipLogEndTextTest, ShortWordsForEveryAnswer)
{
    struct Case {
        std::vector<std::pair<std::string, std::string>> verdicts;  // AccurateRip, CTDB
        bool ctdbAsked;
        std::string disc;
        int failed;
        std::string want;
    };
    const std::vector<Case> cases = {
        {{{"accurately ripped (confidence 3, v2)", "accurately ripped (confidence 5)"}, {"not accurate", "differs"}}, true,
         "1 of 2 tracks accurate; disc CRC differs", 0, "Secure rip of 2 tracks: AccurateRip 1 accurate, CTDB 1 accurate"},
        {{{"not checked (HTTP 500)", "accurately ripped (confidence 2)"}, {"not checked (x)", "accurately ripped (confidence 2)"}},
         true, "2 of 2 tracks accurate; disc CRC matches (confidence 2)", 0,
         "Secure rip of 2 tracks: AccurateRip not checked, CTDB 2 accurate, disc CRC matches"},
        {{{"not in database", "not in database"}}, true, "not in database", 1,
         "Secure rip of 1 track: AccurateRip not in database, CTDB not in database; 1 failed"},
        {{{"not accurate", ""}, {"not accurate", ""}}, false, "", 0, "Secure rip of 2 tracks: AccurateRip 0 accurate"},
    };
    for (const Case& c : cases) {
        TRipLog log;
        log.CtdbAsked = c.ctdbAsked;
        log.CtdbDisc = c.disc;
        for (const auto& [accurateRip, ctdb] : c.verdicts) {
            TRipLogTrack t;
            t.AccurateRip = accurateRip;
            t.Ctdb = ctdb;
            t.Status = static_cast<int32_t>(log.Tracks.size()) < c.failed ? esReadFailed : 0;
            log.Tracks.push_back(t);
        }
        EXPECT_EQ(RipLogEndText(log), c.want);
    }
}

// A whole-disc image rip of a disc with audio hidden before track 1, gaps, a pre-emphasised track,
// an ISRC and a catalogue number, to WAV and to FLAC: one file holding the disc's bytes from
// sector 0 to the lead-out (decoded by flac, the real peer, for FLAC); a cue sheet naming it
// whose absolute indexes, burnt back through libcdio, give the disc's table, gaps, flags and
// bytes; the same sheet embedded in the FLAC (metaflac exports it) with the album's tags; the log
// has every track's checksums over its range, and verify passes, then names the one track whose
// sample was changed. A lossy format is refused.
TEST_F(RipJobTest, AnImageRipIsTheWholeDiscInOneFileWithItsCueSheet)
{
    ASSERT_EQ(std::system((std::string(MKDISC) + " --hidden 2 --gap 2 1 --gap 3 2 --pre 2 --isrc 1 USABC2600001 "
                           "--catalog 0123456789012 '" + Path("disc.cue") + "' 3 4 5 > /dev/null").c_str()),
              0);
    const std::shared_ptr<TDriveBackend> disc = OpenImageDrive(Path("disc.cue"));
    const HCDROM h = UseDrive(disc);
    Options.CDInfo.Artist = "The Band";
    Options.CDInfo.Album = "Whole";
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.Image = true;
    Options.SecureOptions.AccurateRip = false;
    Options.Ctdb.Use = false;
    const std::string bytes = ReadFile("disc.bin");
    const auto indexLines = [](const std::string& cue) {
        std::string lines;
        std::istringstream in(cue);
        for (std::string line; std::getline(in, line);)
            if (line.find("INDEX ") != std::string::npos || line.find("TRACK ") != std::string::npos ||
                line.find("ISRC ") != std::string::npos || line.find("FLAGS ") != std::string::npos ||
                line.rfind("CATALOG ", 0) == 0)
                lines += line.substr(line.find_first_not_of(' ')) + "\n";
        return lines;
    };
    for (const int format : {1, 4}) {  // WAV, FLAC
        SCOPED_TRACE(format);
        const std::string ext = format == 1 ? ".wav" : ".flac";
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        Options.CommonOptions.OutputFormat = format;
        view = TRecordingView{};
        Start(jkRipTracks, {"02Two"}, h);  // an image is the whole disc, whatever was chosen
        ASSERT_TRUE(WaitForClose());
        EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
        std::vector<std::string> names = {"The Band - Whole.cue", "The Band - Whole" + ext, "The Band - Whole.log"};
        std::sort(names.begin(), names.end());
        EXPECT_EQ(OutputNames(), names) << "the image, its cue sheet and its log";
        const std::string image = Out("The Band - Whole" + ext);
        if (format == 4) {
            ASSERT_EQ(std::system(("flac -d -s -f -o '" + Path("decoded.wav") + "' '" + image + "'").c_str()), 0);
        }
        const std::string audio = ReadFile(format == 1 ? "Output/The Band - Whole.wav" : "decoded.wav").substr(44);
        EXPECT_TRUE(audio == bytes) << "the disc from sector 0 to the lead-out, byte for byte: " << audio.size();
        const std::string cue = ReadFile("Output/The Band - Whole.cue");
        EXPECT_NE(cue.find("FILE \"The Band - Whole" + ext + "\" WAVE\n  TRACK 01"), std::string::npos) << cue;
        EXPECT_EQ(indexLines(cue), indexLines(ReadFile("disc.cue"))) << cue;
        if (format == 4) {
            EXPECT_EQ(indexLines(CommandOutput("metaflac --export-cuesheet-to=- '" + image + "'")), indexLines(cue));
            EXPECT_EQ(CommandOutput("metaflac --show-tag=ALBUM --show-tag=ARTIST '" + image + "'"),
                      "ALBUM=Whole\nARTIST=The Band\n");
        }
        const std::string text = ReadFile("Output/The Band - Whole.log");
        EXPECT_NE(text.find("Image: The Band - Whole" + ext + " (the disc from sector 0"), std::string::npos) << text;
        EXPECT_NE(text.find("Track 00 (hidden before the first track)\n  File: The Band - Whole" + ext), std::string::npos);
        EXPECT_NE(text.find("Track 03\n  File: The Band - Whole" + ext), std::string::npos);
        std::string why;
        const std::optional<TLoggedRip> logged = ParseRipLog(text, why);
        ASSERT_TRUE(logged) << why;
        TRipCheck check = CheckRip(*logged, text, Out(""));
        EXPECT_TRUE(check.Ok()) << check.Summary();
        EXPECT_EQ(check.Tracks.size(), 4u);
        job.reset();
    }

    // The WAV image's sheet burnt back gives the disc.
    fs::remove_all(Out(""));
    fs::create_directory(Out(""));
    Options.CommonOptions.OutputFormat = 1;
    view = TRecordingView{};
    Start(jkRipTracks, {"01One"}, h);
    ASSERT_TRUE(WaitForClose());
    std::shared_ptr<TDriveBackend> burnt;
    ExpectBurntBackIsTheDisc("The Band - Whole.cue", *disc, burnt);
    ASSERT_TRUE(burnt);
    burnt->Close();

    // One sample changed in track 2's range: verify names that track alone.
    {
        std::fstream wav(Out("The Band - Whole.wav"), std::ios::in | std::ios::out | std::ios::binary);
        wav.seekp(44 + 600 * 2352 + 6);
        wav.put('\x55');
    }
    const std::string text = ReadFile("Output/The Band - Whole.log");
    std::string why;
    const TRipCheck check = CheckRip(*ParseRipLog(text, why), text, Out(""));
    ASSERT_EQ(check.Tracks.size(), 4u);
    for (const TTrackCheck& t : check.Tracks)
        EXPECT_EQ(t.Result == TTrackCheck::TResult::Differs, t.Number == 2) << t.Number << ": " << t.Text;
    job.reset();

    // A lossy image: refused, nothing written.
    fs::remove_all(Out(""));
    fs::create_directory(Out(""));
    Options.CommonOptions.OutputFormat = 2;  // Ogg Vorbis
    view = TRecordingView{};
    Start(jkRipTracks, {"01One"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(dialogs.Texts().join("|").toStdString(),
              "A disc image is written as WAV or FLAC: choose one of them as the output format, or turn the image "
              "off (Options > Secure).");
    EXPECT_EQ(OutputNames(), std::vector<std::string>{});
}

// A disc whose first track is data (its audio after it) cannot be an image from sector 0: said,
// nothing read or written.
TEST_F(RipJobTest, AnImageOfADiscThatBeginsWithDataIsRefused)
{
    TDiscToc toc;
    toc.Tracks = {{0, false}, {300, true}};
    toc.LeadOutLba = 600;
    drive = std::make_shared<TScriptedDrive>(toc);
    const HCDROM h = UseDrive(drive);
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.Image = true;
    Options.SecureOptions.AccurateRip = false;
    Options.Ctdb.Use = false;
    Options.CommonOptions.OutputFormat = 1;
    Start(jkRipTracks, {"02Two"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(dialogs.Texts().join("|").toStdString(),
              "This disc begins with a data track: its audio cannot be copied as one image from sector 0. Rip its "
              "tracks instead (turn the image off in Options > Secure).");
    EXPECT_EQ(OutputNames(), std::vector<std::string>{});
}

// A drive that does not give pregaps in its table but whose Q sub-channel tells them: the secure
// rip's record and log have the gap. (A scripted drive cannot be read through paranoia, so its
// tracks fail here; the cue sheet's gaps are tested on images above.)
TEST_F(RipJobTest, PregapsFromTheSubChannel)
{
    const HCDROM h = Drive({100, 100});
    drive->QPregaps = {0, 70};
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.AccurateRip = false;
    Options.CommonOptions.OutputFormat = 1;
    Start(jkRipTracks, {"01One", "02Two"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(job->SecureRecord().Pregaps, (std::vector<int32_t>{-1, 70}));
    const std::string key = DiscKeyOfToc(job->SecureRecord().Toc);
    EXPECT_NE(ReadFile("Output/" + key + ".log").find("Track 02\n  File: Two.wav\n  Pregap: 00:00.30 (from sector 70)\n"),
              std::string::npos)
        << ReadFile("Output/" + key + ".log");
}

// Audio hidden before track 1 (track 1's INDEX 01 at 1.5 s): a secure rip keeps it first as
// "00 Hidden track.wav", exactly the image's bytes before track 1, logged as track 00 (no
// AccurateRip verdict) and checked by verify; the cue sheet puts it as track 1's INDEX 00 in that
// file, so that the disc burnt back is the image whole. Hidden silence is no file: the cue sheet
// gives track 1 a PREGAP instead. A rip without track 1 leaves the hidden audio alone.
TEST_F(RipJobTest, AudioHiddenBeforeTheFirstTrackIsKept)
{
    ASSERT_EQ(std::system((std::string(MKDISC) + " --hidden 1.5 --gap 2 2 '" + Path("disc.cue") + "' 3 4 > /dev/null").c_str()), 0);
    const std::shared_ptr<TDriveBackend> image = OpenImageDrive(Path("disc.cue"));
    const HCDROM h = UseDrive(image);
    Options.CDInfo.Artist = "The Band";
    Options.CDInfo.Album = "Hidden";
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.AccurateRip = false;
    Options.CommonOptions.OutputFormat = 1;
    Start(jkRipTracks, {"01One", "02Two"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
    EXPECT_EQ(view.Captions().front(), "Extracting(01/03): Hidden track");
    EXPECT_EQ(job->Outcomes().front().Result, "done");
    EXPECT_EQ(job->Outcomes().front().Item, "00Hidden track");
    EXPECT_TRUE(ReadFile("Output/00 Hidden track.wav").substr(44) == ImageBytes(0, 113)) << "the hidden audio, byte for byte";
    const std::string log = ReadFile("Output/The Band - Hidden.log");
    EXPECT_NE(log.find("Track 00 (hidden before the first track)\n  File: 00 Hidden track.wav\n"), std::string::npos) << log;
    EXPECT_NE(log.find("AccurateRip: none (the database keeps no audio before the first track)"), std::string::npos);
    EXPECT_NE(log.find("Summary: 2 tracks"), std::string::npos) << "the hidden audio is no track of the disc";
    std::string why;
    const std::optional<TLoggedRip> logged = ParseRipLog(log, why);
    ASSERT_TRUE(logged) << why;
    const TRipCheck check = CheckRip(*logged, log, Out(""));
    ASSERT_EQ(check.Tracks.size(), 3u);
    EXPECT_EQ(check.Tracks[0].Number, 0);
    EXPECT_TRUE(check.Ok()) << check.Summary() << " " << check.Tracks[0].Text;
    const std::string cue = ReadFile("Output/The Band - Hidden.cue");
    EXPECT_NE(cue.find("FILE \"00 Hidden track.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n    PERFORMER \"The Band\"\n"
                       "    INDEX 00 00:00:00\nFILE \"One.wav\" WAVE\n    INDEX 01 00:00:00\n"),
              std::string::npos)
        << cue;
    WriteFile("burnt.cue", JoinedCueSheet(cue, Out(""), Path("burnt.bin")));
    const std::shared_ptr<TDriveBackend> burnt = OpenImageDrive(Path("burnt.cue"));
    ASSERT_TRUE(burnt && burnt->Open());
    TDiscToc was, is;
    ASSERT_TRUE(image->ReadToc(was));
    ASSERT_TRUE(burnt->ReadToc(is)) << ReadFile("burnt.cue");
    ASSERT_EQ(is.Tracks.size(), 2u);
    for (std::size_t t = 0; t < 2; ++t) {
        EXPECT_EQ(is.Tracks[t].Lba, was.Tracks[t].Lba) << t;
        EXPECT_EQ(is.Tracks[t].Index0, was.Tracks[t].Index0) << t;
    }
    EXPECT_EQ(was.Tracks[0].Lba, 113);
    EXPECT_EQ(is.LeadOutLba, was.LeadOutLba);
    EXPECT_TRUE(ReadFile("burnt.bin") == ReadFile("disc.bin")) << "the whole disc, hidden audio and all";
    burnt->Close();

    // Silence before track 1; a rip of track 2 alone.
    std::string bin = ReadFile("disc.bin");
    std::fill(bin.begin(), bin.begin() + 113 * 2352, '\0');
    WriteFile("disc.bin", bin);
    const HCDROM silent = UseDrive(OpenImageDrive(Path("disc.cue")));
    for (const bool whole : {true, false}) {
        SCOPED_TRACE(whole);
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        view = TRecordingView{};
        Start(jkRipTracks, whole ? std::vector<std::string>{"01One", "02Two"} : std::vector<std::string>{"02Two"}, silent);
        ASSERT_TRUE(WaitForClose());
        EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
        EXPECT_FALSE(fs::exists(Out("00 Hidden track.wav")));
        EXPECT_EQ(job->Outcomes().size(), whole ? 3u : 1u);
        if (whole) {
            EXPECT_EQ(job->Outcomes().front().Result, "skipped");
            EXPECT_NE(ReadFile("Output/The Band - Hidden.cue").find("  TRACK 01 AUDIO\n    TITLE \"One\"\n    PERFORMER \"The Band\"\n"
                                                                    "    PREGAP 00:01:38\n    INDEX 01 00:00:00\n"),
                      std::string::npos);
            EXPECT_EQ(ReadFile("Output/The Band - Hidden.log").find("Track 00"), std::string::npos);
        }
        job.reset();
    }
}

// A secure rip checked later against its log: every file matches; one sample changed in one
// file names that track and what differs; an edited log line is found; a missing file, a lossy
// rip and texts that are no Sonvale log are said so.
TEST_F(RipJobTest, ARipIsVerifiedAgainstItsLog)
{
    const HCDROM h = ImageDrive({75, 60, 90});
    Options.CDInfo.Artist = "The Band";
    Options.CDInfo.Album = "Kept";
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.AccurateRip = false;
    Options.CommonOptions.OutputFormat = 4;  // FLAC
    Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
    ASSERT_TRUE(WaitForClose());
    const std::string text = ReadFile("Output/The Band - Kept.log");
    std::string why;
    std::optional<TLoggedRip> log = ParseRipLog(text, why);
    ASSERT_TRUE(log) << why;
    using R = TTrackCheck::TResult;
    const auto results = [&](const TRipCheck& check) {
        std::vector<R> r;
        for (const TTrackCheck& t : check.Tracks)
            r.push_back(t.Result);
        return r;
    };
    TRipCheck check = CheckRip(*log, text, Out(""));
    EXPECT_TRUE(check.Intact);
    EXPECT_TRUE(check.Ok()) << check.Summary();
    EXPECT_EQ(results(check), (std::vector<R>{R::Match, R::Match, R::Match}));

    // One sample of track 2 one step off (a WAV in its place, as the log names it).
    ASSERT_EQ(std::system(("flac -d -s -f -o '" + Path("two.wav") + "' '" + Out("Two.flac") + "'").c_str()), 0);
    std::string two = ReadFile("two.wav");
    ASSERT_GT(two.size(), 44u + 5000);
    two[44 + 4000] = static_cast<char>(two[44 + 4000] ^ 1);
    WriteFile("two.wav", two);
    ASSERT_EQ(std::system(("flac -s -f -o '" + Out("Two.flac") + "' '" + Path("two.wav") + "'").c_str()), 0);
    check = CheckRip(*log, text, Out(""));
    EXPECT_FALSE(check.Ok());
    EXPECT_EQ(results(check), (std::vector<R>{R::Match, R::Differs, R::Match}));
    EXPECT_NE(check.Tracks[1].Text.find("CRC32"), std::string::npos) << check.Tracks[1].Text;
    EXPECT_EQ(check.Summary(), "3 tracks: 2 match, 1 differs, 0 missing or unreadable, 0 unverifiable");

    // An edited line; a missing file; the same log over MP3 files.
    std::string edited = text;
    edited.replace(edited.find("Damaged tracks: kept"), 20, "Damaged tracks: none");
    ASSERT_TRUE(ParseRipLog(edited, why));
    EXPECT_FALSE(CheckRip(*ParseRipLog(edited, why), edited, Out("")).Intact);
    fs::remove(Out("Three.flac"));
    EXPECT_EQ(CheckRip(*log, text, Out("")).Tracks[2].Result, R::Missing);
    WriteFile("Output/Three.flac", "not audio at all");
    const TTrackCheck notAudio = CheckRip(*log, text, Out("")).Tracks[2];
    EXPECT_EQ(notAudio.Result, R::Unreadable);
    EXPECT_EQ(notAudio.Text.rfind("cannot be read: ", 0), 0u) << notAudio.Text;
    for (TLoggedTrack& t : log->Tracks)
        t.File = t.File.substr(0, t.File.size() - 5) + ".mp3";
    WriteFile("Output/One.mp3", "not checked");
    EXPECT_EQ(CheckRip(*log, text, Out("")).Tracks[0].Result, R::Lossy);

    // Texts that are no log of ours, or a log cut short.
    for (const std::string& bad : {std::string(), std::string("hello\n"), std::string("Sonvale 2.1 rip log\n"),
                                  text.substr(0, text.find("  File:")), text.substr(0, text.find("Track 01\n")),
                                  std::string("Sonvale 2.1 rip log\nTrack 100\n")}) {
        EXPECT_FALSE(ParseRipLog(bad, why)) << bad;
        EXPECT_FALSE(why.empty());
    }
}

// What is at a track's path and no file of ours (a FIFO, a link) is kept when the user says to
// overwrite, and nothing is written through it. The rip's log names those tracks as failed, and
// verify says they were not copied without failing the tracks that were.
TEST_F(RipJobTest, WhatTheRipDidNotMakeIsKeptAndVerifyNamesWhatItDidNotCopy)
{
    const HCDROM h = ImageDrive({75, 60, 90});
    Options.CDInfo.Artist = "The Band";
    Options.CDInfo.Album = "Partly";
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.AccurateRip = false;
    Options.CommonOptions.OutputFormat = FormatOfKey("wav")->Stored;
    ASSERT_EQ(mkfifo(Out("Two.wav").c_str(), 0644), 0);
    WriteFile("target", "not mine");
    fs::create_symlink(Path("target"), Out("Three.wav"));
    dialogs.answers = {Dialogs::Answer::Yes, Dialogs::Answer::Yes};
    Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
    ASSERT_TRUE(WaitForClose());
    std::vector<std::string> results;
    for (const TItemOutcome& o : job->Outcomes())
        results.push_back(o.Result);
    EXPECT_EQ(results, (std::vector<std::string>{"done", "failed", "failed"})) << dialogs.Texts().join("|").toStdString();
    EXPECT_TRUE(fs::is_fifo(Out("Two.wav")));
    EXPECT_TRUE(fs::is_symlink(Out("Three.wav")));
    EXPECT_EQ(ReadFile("target"), "not mine");
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});

    const std::string text = ReadFile("Output/The Band - Partly.log");
    EXPECT_NE(text.find("Track 02\n  File: Two.wav\n  Result: not copied (Two.wav was already there and is kept)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Summary: 3 tracks, 0 accurately ripped, 0 with unreadable sectors, 0 failed, 2 not copied\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(RipLogIntact(text));
    EXPECT_FALSE(fs::exists(Out("The Band - Partly.cue"))) << "a cue sheet describes the whole disc";
    std::string why;
    const std::optional<TLoggedRip> log = ParseRipLog(text, why);
    ASSERT_TRUE(log) << why << text;
    const TRipCheck check = CheckRip(*log, text, Out(""));
    using R = TTrackCheck::TResult;
    std::vector<R> checked;
    for (const TTrackCheck& t : check.Tracks)
        checked.push_back(t.Result);
    EXPECT_EQ(checked, (std::vector<R>{R::Match, R::NotCopied, R::NotCopied})) << text;
    EXPECT_TRUE(check.Ok()) << check.Summary();
    EXPECT_EQ(check.Summary(), "3 tracks: 1 matches, 0 differ, 0 missing or unreadable, 0 unverifiable, 2 not copied in the rip");
}

// Stop while track 2 of 3 is read: the log covers track 1 and says the rest was not read because
// the user stopped, not that the rip was a one-track rip.
TEST_F(RipJobTest, AStoppedRipsLogSaysWhatItCovers)
{
    ImageDrive({75, 60, 90});
    const auto gated = std::make_shared<TGatedDrive>(OpenImageDrive(Path("disc.cue")), 1);
    const HCDROM h = UseDrive(gated);
    const std::shared_ptr<void> letGo(nullptr, [&](void*) { gated->Let(); });  // whatever fails
    Options.CDInfo.Artist = "The Band";
    Options.CDInfo.Album = "Halted";
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.AccurateRip = false;
    Options.CommonOptions.OutputFormat = FormatOfKey("wav")->Stored;
    gated->Hold();
    Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
    ASSERT_TRUE(WaitForCaption("Extracting(02/03): Two"));
    // The read held at track 2 goes on, but the job hears of no end before Stop.
    gated->Let();
    job->btStopClick();
    ASSERT_TRUE(view.closed);
    const std::string log = ReadFile("Output/The Band - Halted.log");
    EXPECT_NE(log.find("Rip stopped by the user (Stop or Ctrl+C): this log covers track 01 of the 3 chosen\n"
                       "Summary: 1 track,"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Track 02"), std::string::npos) << log;
    EXPECT_TRUE(RipLogIntact(log));
    EXPECT_TRUE(fs::exists(Out("One.wav")));
    EXPECT_FALSE(fs::exists(Out("Two.wav")));
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});
}

// The read offset a secure rip uses, by precedence: the drive's own entry, then ReadOffset set by
// hand, then the AccurateRip drive list's entry for the model (as kept in the cache folder),
// then none. The log says which, and the WAV is shifted by it.
TEST_F(RipJobTest, ASecureRipTakesTheDrivesOffsetAndSaysWhence)
{
    const HCDROM h = ImageDrive({75, 60});
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.AccurateRip = false;
    Options.CommonOptions.OutputFormat = FormatOfKey("wav")->Stored;
    std::string record(DriveOffsetRecordSize, '\0');
    record[0] = 30;  // +30
    record.replace(2, 27, "Sonvale - Image disc.cue\0\0\0", 27);
    record[35] = 4;
    WriteFile("DriveOffsets.bin", record);
    const struct {
        std::map<std::string, std::string> stored;
        int setting;
        int samples;
        std::string line;
    } cases[] = {
        {{{"SONVALE - IMAGE DISC.CUE", "-12 found"}}, 48, -12, "Read offset: -12 (found on this drive)"},
        {{{"Other - Drive", "-12 found"}}, 48, 48, "Read offset: +48 (set by hand)"},
        {{}, 0, 30, "Read offset: +30 (from the AccurateRip drive list)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        Options.DriveOffsets = c.stored;
        Options.SecureOptions.ReadOffset = c.setting;
        view = TRecordingView{};
        Start(jkRipTracks, {"01One", "02Two"}, h);
        ASSERT_TRUE(WaitForClose());
        TTOC toc{};
        ModifyCDParms(h, CDP_MSF, 1);
        ASSERT_EQ(ReadTOC(h, &toc), 1);
        const std::string log = ReadFile("Output/" + DiscKeyOfToc(toc) + ".log");
        EXPECT_NE(log.find("\n" + c.line + "\n"), std::string::npos) << log;
        const std::string disc = ImageBytes(0, 135) + std::string(10 * 2352, '\0');  // silence beyond the disc
        EXPECT_TRUE(ReadFile("Output/Two.wav").substr(44) == disc.substr(75 * 2352 + c.samples * 4, 60 * 2352));
        job.reset();
    }
    fs::remove(Path("DriveOffsets.bin"));
    fs::remove_all(Out(""));
    fs::create_directory(Out(""));
    Options.DriveOffsets.clear();
    Options.SecureOptions.ReadOffset = 0;
    view = TRecordingView{};
    Start(jkRipTracks, {"01One"}, h);
    ASSERT_TRUE(WaitForClose());
    TTOC toc{};
    ModifyCDParms(h, CDP_MSF, 1);
    ASSERT_EQ(ReadTOC(h, &toc), 1);
    EXPECT_NE(ReadFile("Output/" + DiscKeyOfToc(toc) + ".log").find("\nRead offset: 0 (none known: 0)\n"), std::string::npos);
}

// A whole secure rip at offset 0 of a drive whose offset is +48: AccurateRip confirms no track,
// but matches them at +48 from the audio already read, and the log and the end of the job say so.
// The files stay as ripped.
TEST_F(RipJobTest, AKeyDiscTellsTheDrivesOffset)
{
    const std::vector<int32_t> lengths = {150, 120, 135};
    ImageDrive(lengths);
    const HCDROM h = UseDrive(std::make_shared<TOffsetDrive>(OpenImageDrive(Path("disc.cue")), 48));
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.BurstFirst = false;
    Options.CommonOptions.OutputFormat = FormatOfKey("wav")->Stored;
    TTOC toc{};
    ModifyCDParms(h, CDP_MSF, 1);
    ASSERT_EQ(ReadTOC(h, &toc), 1);
    const TAccurateRipDiscId id = AccurateRipDiscId(toc);
    std::string entry = std::string(1, '\3') + Le32(id.Id1) + Le32(id.Id2) + Le32(id.CddbId);
    int32_t start = 0;
    for (const int32_t n : lengths) {
        const std::string bytes = ImageBytes(start, n);
        TTrackChecksums sums(int64_t{n} * 588, start == 0, start + n == 405);
        sums.Add(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        entry += std::string(1, '\5') + Le32(sums.V1()) + Le32(0);
        start += n;
    }
    TTestHttpServer server([&](const std::string&) { return entry; });
    Options.SecureOptions.AccurateRipServer = "http://127.0.0.1:" + std::to_string(server.Port());
    Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
    ASSERT_TRUE(WaitForClose());
    const std::string hint = "AccurateRip matches this disc read with offset +48 (this rip used 0): your drive's read "
                             "offset is probably +48. `sonvale-cli offset find --apply` or Options > Secure stores it.";
    const std::string log = ReadFile("Output/" + DiscKeyOfToc(toc) + ".log");
    EXPECT_NE(log.find("AccurateRip: not accurate"), std::string::npos) << log;
    EXPECT_NE(log.find("\n" + hint + "\n"), std::string::npos) << log;
    EXPECT_TRUE(RipLogIntact(log));
    EXPECT_NE(std::find(view.notices.begin(), view.notices.end(), hint), view.notices.end());
    EXPECT_FALSE(ReadFile("Output/Two.wav").substr(44) == ImageBytes(150, 120)) << "the files stay as read";

    // Read at the drive's offset: confirmed, and no hint.
    fs::remove_all(Out(""));
    fs::create_directory(Out(""));
    Options.DriveOffsets = {{"Sonvale - Image disc.cue", "+48 found"}};
    view = TRecordingView{};
    Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
    ASSERT_TRUE(WaitForClose());
    const std::string right = ReadFile("Output/" + DiscKeyOfToc(toc) + ".log");
    EXPECT_EQ(right.find("not accurate"), std::string::npos) << right;
    EXPECT_EQ(right.find("AccurateRip matches this disc read with offset"), std::string::npos) << right;
    EXPECT_TRUE(ReadFile("Output/Two.wav").substr(44) == ImageBytes(150, 120));
}

// A disc image under a fault layer: the first `times` reads of one sector come back wrong, every
// later one right.
class TCorruptingDrive : public TDriveLayer {
public:
    TCorruptingDrive(std::shared_ptr<TDriveBackend> inner, int32_t sector, int times)
        : TDriveLayer(std::move(inner))
        , m_sector(sector)
        , m_left(times)
    {
    }
    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override
    {
        if (!TDriveLayer::ReadAudio(lba, count, out))
            return false;
        if (m_left > 0 && m_sector >= lba && m_sector < lba + count) {
            --m_left;
            out[std::size_t(m_sector - lba) * CDSectorSize + 100] ^= 0x5A;
        }
        return true;
    }

private:
    int32_t m_sector;
    int m_left;
};

// A drive that counts the sectors read from it.
class TCountingDrive : public TDriveLayer {
public:
    using TDriveLayer::TDriveLayer;
    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override
    {
        sectors += count;
        return TDriveLayer::ReadAudio(lba, count, out);
    }
    std::atomic<int64_t> sectors{0};
};

// A rip to FLAC that also encodes to Opus and MP3 reads each track once and makes, in each
// format's own folder ("%format%/" before a template that does not say), the same files as a rip
// to that format alone: FLAC and MP3 byte for byte, Opus the same samples (opusdec); each with its
// format's own tags; one outcome per track and format. Alike with one encoder and with two.
TEST_F(RipJobTest, SeveralFormatsFromOneReadAreEachFormatsOwnRip)
{
    const std::vector<int32_t> lengths = {75, 60};
    ImageDrive(lengths);
    const auto counting = std::make_shared<TCountingDrive>(OpenImageDrive(Path("disc.cue")));
    const HCDROM h = UseDrive(counting);
    Options.CDInfo.Artist = "Band";
    Options.CDInfo.Album = "Album";
    Options.UseID3 = true;
    const std::vector<std::pair<int, std::string>> formats = {{4, "flac"}, {5, "opus"}, {0, "mp3"}};
    const auto decoded = [&](const std::string& path) {
        const std::string key = path.substr(path.rfind('.') + 1);
        const std::string out = Path("decoded.wav");
        const std::string command = key == "flac" ? "flac -d -s -f -o '" + out + "' '" + path + "'"
                                    : key == "opus" ? "opusdec --quiet '" + path + "' '" + out + "'"
                                                    : "lame --quiet --decode '" + path + "' '" + out + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return ReadFile("decoded.wav");
    };
    // Each format alone, into a folder of its own.
    Options.Naming.Template = "%format%/%title%";
    for (const auto& [stored, key] : formats) {
        Options.CommonOptions.OutputFormat = stored;
        view = TRecordingView{};
        Start(jkRipTracks, {"01One", "02Two"}, h);
        ASSERT_TRUE(WaitForClose());
        job.reset();
    }
    fs::rename(Out(""), Path("Alone"));
    for (const int encoders : {1, 2}) {
        SCOPED_TRACE(encoders);
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        Options.Naming.Template = "%title%";
        Options.CommonOptions.OutputFormat = 4;
        Options.JobOptions.Formats = "opus, mp3";
        Options.JobOptions.Encoders = encoders;
        counting->sectors = 0;
        view = TRecordingView{};
        Start(jkRipTracks, {"01One", "02Two"}, h);
        ASSERT_TRUE(WaitForClose());
        EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
        EXPECT_EQ(counting->sectors, 75 + 60) << "each track read once";
        ASSERT_EQ(job->Outcomes().size(), 6u);
        for (const TItemOutcome& outcome : job->Outcomes())
            EXPECT_EQ(outcome.Result, "done") << outcome.Output;
        for (const auto& [stored, key] : formats) {
            for (const char* name : {"One", "Two"}) {
                const std::string file = key + "/" + name + "." + key;
                ASSERT_TRUE(fs::exists(Out(file))) << file;
                if (key == "opus")
                    EXPECT_TRUE(decoded(Out(file)) == decoded(Path("Alone/" + file))) << file;
                else
                    EXPECT_TRUE(ReadFile("Output/" + file) == ReadFile("Alone/" + file)) << file;
            }
        }
        EXPECT_EQ(CommandOutput("metaflac --show-tag=TITLE '" + Out("flac/Two.flac") + "'"), "TITLE=Two\n");
        EXPECT_EQ(PartFiles(), std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(Out("flac/One.wav")));
        // Run again after a rip cut short (Two's Opus file missing), keeping the files there:
        // Two is read again for its Opus file alone; nothing else is written or lost.
        fs::remove(Out("opus/Two.opus"));
        const std::string flacTwo = ReadFile("Output/flac/Two.flac");
        job.reset();
        dialogs.answers.assign(5, Dialogs::Answer::No);  // five files there: keep each
        counting->sectors = 0;
        view = TRecordingView{};
        Start(jkRipTracks, {"01One", "02Two"}, h);
        ASSERT_TRUE(WaitForClose());
        EXPECT_EQ(counting->sectors, 60) << "Two read once, One not at all";
        EXPECT_TRUE(decoded(Out("opus/Two.opus")) == decoded(Path("Alone/opus/Two.opus")));
        EXPECT_TRUE(ReadFile("Output/flac/Two.flac") == flacTwo);
        std::vector<std::string> results;
        for (const TItemOutcome& outcome : job->Outcomes())
            results.push_back(outcome.Result);
        EXPECT_EQ(results, (std::vector<std::string>{"skipped", "skipped", "skipped", "skipped", "skipped", "done"}));
        EXPECT_EQ(PartFiles(), std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(Out("flac/Two.wav")));
        dialogs.shown.clear();
        job.reset();
        // A secure rip's log and cue sheet go with the output format's files, naming them.
        if (encoders == 2) {
            Options.SecureOptions.SecureMode = true;
            Options.SecureOptions.AccurateRip = false;
            Options.Ctdb.Use = false;
            fs::remove_all(Out(""));
            fs::create_directory(Out(""));
            job.reset();
            view = TRecordingView{};
            Start(jkRipTracks, {"01One", "02Two"}, h);
            ASSERT_TRUE(WaitForClose());
            EXPECT_NE(ReadFile("Output/flac/Band - Album.cue").find("FILE \"Two.flac\" WAVE"), std::string::npos);
            EXPECT_NE(ReadFile("Output/flac/Band - Album.log").find("  File: Two.flac\n"), std::string::npos);
            EXPECT_TRUE(fs::exists(Out("opus/Two.opus")));
        }
    }
}

// Databases that take the connection and never answer: burst-first waits for them once a rip,
// saying so ("Waiting for AccurateRip and CTDB…"), not once a track; Stop ends that wait at once.
TEST_F(RipJobTest, ASilentDatabaseIsAwaitedOnceAndStopEndsTheWait)
{
    const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(silent, 8), 0);  // the kernel takes the connection; nobody reads or answers
    socklen_t size = sizeof address;
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size), 0);
    Options.SecureOptions.AccurateRipServer = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    Options.Ctdb.Server = Options.SecureOptions.AccurateRipServer;
    Options.CommonOptions.OutputFormat = 1;
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.BurstFirst = true;
    const std::string waiting = "Waiting for AccurateRip and CTDB\u2026";

    Start(jkRipTracks, {"01One", "02Two", "03Three"}, ImageDrive({75, 60, 90}));
    ASSERT_TRUE(WaitForClose());
    const std::vector<std::string> stages = view.Stages();
    EXPECT_EQ(std::count(stages.begin(), stages.end(), waiting), 1) << "one wait for the whole rip";
    EXPECT_EQ(job->Outcomes().back().Result, "done");
    job.reset();

    // Stop during the wait: over at once, nothing left.
    fs::remove_all(Out(""));
    fs::create_directory(Out(""));
    view = TRecordingView{};
    Start(jkRipTracks, {"01One", "02Two", "03Three"}, ImageDrive({75, 60, 90}));
    ASSERT_TRUE(WaitUntil([&] { return !view.shown.empty() && view.shown.back().Stage == waiting; }));
    job->btStopClick();
    EXPECT_TRUE(job->Finished());
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});
    job.reset();

    close(silent);
}

// Burst-first: AccurateRip confirms tracks 1 to 3 of 4. Tracks 1 and 3 are read once; track 2,
// whose first two reads of a sector come back wrong, and track 4, which the entry does not confirm,
// are read again through paranoia. Every WAV holds the disc's exact bytes, and the log says how
// each track was read. A confidence below MinConfidence confirms nothing.
TEST_F(RipJobTest, BurstFirstKeepsWhatAccurateRipConfirms)
{
    const std::vector<int32_t> lengths = {75, 60, 90, 45};
    ImageDrive(lengths);
    // Track 2's sector comes back wrong on the burst read and on the next read too: only a secure
    // re-read (reads compared, and repeated until they agree) gets it right.
    const HCDROM h = UseDrive(std::make_shared<TCorruptingDrive>(OpenImageDrive(Path("disc.cue")), 75 + 30, 2));
    Options.CommonOptions.OutputFormat = 1;
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.BurstFirst = true;
    Options.Ctdb.Use = false;  // AccurateRip alone (CTDB's part: BurstFirstKeepsWhatCtdbConfirms)
    TTOC toc{};
    ModifyCDParms(h, CDP_MSF, 1);
    ASSERT_EQ(ReadTOC(h, &toc), 1);
    const TAccurateRipDiscId id = AccurateRipDiscId(toc);
    const std::vector<uint32_t> v2 = ImageV2(lengths);
    const auto entry = [&](int confidence) {
        std::string p = std::string(1, '\4') + Le32(id.Id1) + Le32(id.Id2) + Le32(id.CddbId);
        for (std::size_t t = 0; t < 4; ++t)
            p += std::string(1, static_cast<char>(t < 3 ? confidence : 0)) + Le32(t < 3 ? v2[t] : v2[t] + 1) + Le32(0);
        return p;
    };
    int confidence = 2;
    TTestHttpServer server([&](const std::string&) { return entry(confidence); });
    Options.SecureOptions.AccurateRipServer = "http://127.0.0.1:" + std::to_string(server.Port());

    Start(jkRipTracks, {"01One", "02Two", "03Three", "04Four"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
    const std::string log = ReadFile("Output/" + DiscKeyOfToc(toc) + ".log");
    const char* burst = "  Read: burst, confirmed by AccurateRip";
    const char* again = "  Read: secure, after a burst read AccurateRip did not confirm";
    const std::vector<const char*> reads = {burst, again, burst, again};
    int32_t start = 0;
    for (std::size_t t = 0; t < 4; ++t) {
        SCOPED_TRACE(t + 1);
        const std::string name = std::vector<std::string>{"One", "Two", "Three", "Four"}[t];
        const std::size_t block = log.find("Track " + TwoDigits(int(t) + 1) + "\n");
        ASSERT_NE(block, std::string::npos) << log;
        EXPECT_EQ(log.find(reads[t], block), log.find("  Read: ", block)) << log;
        EXPECT_TRUE(ReadFile("Output/" + name + ".wav").substr(44) == ImageBytes(start, lengths[t])) << "exact bytes";
        start += lengths[t];
    }
    EXPECT_NE(log.find("Reads: 2 burst (confirmed by AccurateRip), 2 secure after a burst read, 0 secure"), std::string::npos)
        << log;
    EXPECT_TRUE(RipLogIntact(log));

    // A confidence below the setting's confirms nothing: every track is read again.
    for (const char* name : {"One", "Two", "Three", "Four"})
        fs::remove(Out(std::string(name) + ".wav"));
    confidence = 1;
    view = TRecordingView{};
    Start(jkRipTracks, {"01One", "02Two", "03Three", "04Four"}, h);
    ASSERT_TRUE(WaitForClose());
    const std::string second = ReadFile("Output/" + DiscKeyOfToc(toc) + ".log");
    EXPECT_NE(second.find("Reads: 0 burst (confirmed by AccurateRip), 4 secure after a burst read, 0 secure"),
              std::string::npos)
        << second;
}

// AccurateRip does not know the disc (404), CTDB knows three of its four tracks: those three are
// kept from the burst read, the other read again securely, every byte right; with AccurateRip
// answering too, the log says which database confirmed each track. The lookups are asked once
// each, at the rip's start, and the log carries CTDB's verdicts and the disc's line.
TEST_F(RipJobTest, BurstFirstKeepsWhatCtdbConfirms)
{
    MusicBrainzSetInterval(0);
    const std::shared_ptr<void> interval(nullptr, [](void*) { MusicBrainzSetInterval(1000); });
    const std::vector<int32_t> lengths = {75, 60, 90, 45};
    ImageDrive(lengths);
    // Track 2's sector comes back wrong on the burst read and on the next: only a secure re-read
    // gets it right.
    const HCDROM h = UseDrive(std::make_shared<TCorruptingDrive>(OpenImageDrive(Path("disc.cue")), 75 + 30, 2));
    Options.CommonOptions.OutputFormat = 1;
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.BurstFirst = true;
    TTOC toc{};
    ModifyCDParms(h, CDP_MSF, 1);
    ASSERT_EQ(ReadTOC(h, &toc), 1);
    const TAccurateRipDiscId id = AccurateRipDiscId(toc);
    const std::vector<uint32_t> v2 = ImageV2(lengths);
    const std::vector<uint32_t> ctdb = ImageCtdbCrcs(lengths);
    char entry[160];
    // Track 2's CRC in the database is another pressing's: the corrupted burst read of it cannot
    // match, and neither can the right one.
    std::snprintf(entry, sizeof entry,
                  "<ctdb><entry confidence=\"5\" crc32=\"%08x\" trackcrcs=\"%08x %08x %08x %08x\" id=\"1\"/></ctdb>",
                  ctdb[4] + 1, ctdb[0], ctdb[1] + 1, ctdb[2], ctdb[3]);
    bool accurateRipKnows = false;
    TTestHttpServer server([&](const std::string& request) {
        if (request.find("/lookup2.php?") != std::string::npos)
            return std::string(entry);
        // AccurateRip, when it knows the disc: tracks 1 to 3 (track 4's checksum another's).
        std::string p = std::string(1, '\4') + Le32(id.Id1) + Le32(id.Id2) + Le32(id.CddbId);
        for (std::size_t t = 0; t < 4; ++t)
            p += std::string(1, '\2') + Le32(t < 3 ? v2[t] : v2[t] + 1) + Le32(0);
        return p;
    });
    server.StatusFor = [&](const std::string& request) {
        return request.find("/accuraterip/") != std::string::npos && !accurateRipKnows ? 404 : 200;
    };
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port());
    Options.SecureOptions.AccurateRipServer = url;
    Options.Ctdb.Server = url;
    Options.SecureOptions.MinConfidence = 2;

    const std::vector<std::string> names = {"One", "Two", "Three", "Four"};
    const auto rip = [&] {
        for (const std::string& name : names)
            fs::remove(Out(name + ".wav"));
        view = TRecordingView{};
        Start(jkRipTracks, {"01One", "02Two", "03Three", "04Four"}, h);
        EXPECT_TRUE(WaitForClose());
        EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
        int32_t start = 0;
        for (std::size_t t = 0; t < 4; ++t) {
            EXPECT_TRUE(ReadFile("Output/" + names[t] + ".wav").substr(44) == ImageBytes(start, lengths[t]))
                << "exact bytes of track " << t + 1;
            start += lengths[t];
        }
        return ReadFile("Output/" + DiscKeyOfToc(toc) + ".log");
    };
    const auto readOf = [](const std::string& log, int track) {
        const std::size_t block = log.find("Track " + TwoDigits(track) + "\n");
        const std::size_t at = log.find("  Read: ", block);
        return block == std::string::npos ? std::string() : log.substr(at + 8, log.find('\n', at) - at - 8);
    };
    const auto ctdbOf = [](const std::string& log, int track) {
        const std::size_t block = log.find("Track " + TwoDigits(track) + "\n");
        const std::size_t at = log.find("  CTDB: ", block);
        return block == std::string::npos ? std::string() : log.substr(at + 8, log.find('\n', at) - at - 8);
    };

    std::string log = rip();
    EXPECT_EQ(readOf(log, 1), "burst, confirmed by CTDB") << log;
    EXPECT_EQ(readOf(log, 2), "secure, after a burst read neither AccurateRip nor CTDB confirmed") << log;
    EXPECT_EQ(readOf(log, 3), "burst, confirmed by CTDB") << log;
    EXPECT_EQ(readOf(log, 4), "burst, confirmed by CTDB") << log;
    EXPECT_EQ(ctdbOf(log, 1), "accurately ripped (confidence 5)");
    EXPECT_EQ(ctdbOf(log, 2), "differs");
    EXPECT_NE(log.find("  AccurateRip: not in database\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nCTDB: 3 of 4 tracks accurate; disc CRC differs\n"), std::string::npos) << log;
    EXPECT_NE(log.find("CTDB TOC ID: " + CtdbTocId(toc) + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Reads: 3 burst (confirmed by AccurateRip or CTDB), 1 secure after a burst read, 0 secure"),
              std::string::npos)
        << log;
    EXPECT_TRUE(RipLogIntact(log));
    const QStringList requests = [&] {
        QStringList r;
        for (const std::string& line : server.Requests())
            r << QString::fromStdString(line.substr(0, line.find('?')));
        return r;
    }();
    EXPECT_EQ(requests.filter("lookup2.php").size(), 1) << requests.join("|").toStdString();

    accurateRipKnows = true;
    log = rip();
    EXPECT_EQ(readOf(log, 1), "burst, confirmed by AccurateRip and CTDB") << log;
    EXPECT_EQ(readOf(log, 3), "burst, confirmed by AccurateRip and CTDB") << log;
    EXPECT_EQ(readOf(log, 4), "burst, confirmed by CTDB") << log;
    // The drive's fault is spent: track 2's burst read is right now, and only AccurateRip has it.
    EXPECT_EQ(readOf(log, 2), "burst, confirmed by AccurateRip") << log;

    // The right disc CRC: the disc's line says so with its confidence.
    std::snprintf(entry, sizeof entry,
                  "<ctdb><entry confidence=\"5\" crc32=\"%08x\" trackcrcs=\"%08x %08x %08x %08x\" id=\"1\"/></ctdb>",
                  ctdb[4], ctdb[0], ctdb[1], ctdb[2], ctdb[3]);
    log = rip();
    EXPECT_NE(log.find("\nCTDB: 4 of 4 tracks accurate; disc CRC matches (confidence 5)\n"), std::string::npos) << log;
    EXPECT_EQ(RipLogEndText(job->SecureRecord()),
              "Secure rip of 4 tracks: AccurateRip 3 accurate, CTDB 4 accurate, disc CRC matches");
}

// No database (nothing listens): the rip succeeds and the log says "not checked" with the reason.
TEST_F(RipJobTest, SecureRipWithoutTheDatabase)
{
    const HCDROM h = ImageDrive({75});
    Options.CommonOptions.OutputFormat = 1;
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.AccurateRipServer = "http://127.0.0.1:1";
    Start(jkRipTracks, {"01One"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
    TTOC toc{};
    ModifyCDParms(h, CDP_MSF, 1);
    ASSERT_EQ(ReadTOC(h, &toc), 1);
    const std::string log = ReadFile("Output/" + DiscKeyOfToc(toc) + ".log");
    EXPECT_NE(log.find("AccurateRip: not checked (no connection to http://127.0.0.1:1"), std::string::npos) << log;
    EXPECT_TRUE(RipLogIntact(log));
}

}  // namespace

namespace {

// Databases that never answer: the job waits at its end without blocking, showing so; Stop ends
// the wait and the log says why there are no verdicts.
TEST_F(RipJobTest, SecureRipWaitsForTheDatabaseUntilStop)
{
    const HCDROM h = ImageDrive({75});
    Options.CommonOptions.OutputFormat = 1;
    Options.SecureOptions.SecureMode = true;
    TTestHttpServer server([](const std::string&) { return std::string(); });
    server.Mode = TTestHttpServer::Behaviour::NeverAnswer;
    Options.SecureOptions.AccurateRipServer = "http://127.0.0.1:" + std::to_string(server.Port());
    Options.Ctdb.Server = Options.SecureOptions.AccurateRipServer;
    Start(jkRipTracks, {"01One"}, h);
    ASSERT_TRUE(WaitUntil(
        [this] { return !view.shown.empty() && view.shown.back().Stage == "Checking with AccurateRip and CTDB"; }));
    EXPECT_FALSE(view.closed);
    job->btStopClick();
    EXPECT_TRUE(view.closed);
    TTOC toc{};
    ModifyCDParms(h, CDP_MSF, 1);
    ASSERT_EQ(ReadTOC(h, &toc), 1);
    const std::string log = ReadFile("Output/" + DiscKeyOfToc(toc) + ".log");
    EXPECT_NE(log.find("AccurateRip: not checked (the wait for the database's answer was stopped)"), std::string::npos) << log;
    EXPECT_NE(log.find("  CTDB: not checked (the wait for the database's answer was stopped)"), std::string::npos) << log;
    EXPECT_NE(log.find("\nCTDB: not checked (the wait for the database's answer was stopped)\n"), std::string::npos);
}

}  // namespace

namespace {

// A small file system mounted over a folder for one test (tmpfs: root only), unmounted after.
class TMountedFolder {
public:
    TMountedFolder(const std::string& folder, const std::string& options)
        : m_folder(folder)
    {
        m_mounted = geteuid() == 0 &&
                    std::system(("mount -t tmpfs -o " + options + " sonvale-test '" + folder + "' 2>/dev/null").c_str()) == 0;
    }
    ~TMountedFolder()
    {
        if (m_mounted)
            static_cast<void>(std::system(("umount -l '" + m_folder + "'").c_str()));
    }
    bool Mounted() const { return m_mounted; }

private:
    std::string m_folder;
    bool m_mounted = false;
};

// A lame that writes part of its output, reports progress and waits to be killed when its output
// is name; otherwise as FakeLameBody.
std::string LameStuckOn(const std::string& name)
{
    return "for a; do out=$a; done\n"
           "case \"$out\" in *" + name + ") printf 'part' > \"$out\"\n"
           "  printf '              ( 5%%)|    0:01/    0:20|\\r' >&2\n  exec sleep 600;;\nesac\n" +
           FakeLameBody;
}

// Titles from a CDDB entry that are no file names: "/" becomes "-" in the file's name only (the
// tag keeps the title), and the job's clean-up removes only the WAVs it wrote: never a file of
// the same name elsewhere, in the output folder's parent or a folder inside it.
TEST_F(RipJobTest, TitlesWithSlashesNameFilesAndTouchNothingElse)
{
    FakeProgram("lame", FakeLameBody);
    const HCDROM h = Drive({10, 10, 10});
    Options.CommonOptions.OutputFormat = 0;
    Options.UseID3 = true;
    WriteFile("victim.wav", "keep me");
    fs::create_directory(Out("sub"));
    WriteFile("Output/sub/keep.wav", "keep me too");
    Start(jkRipTracks, {"01../victim", "02sub/keep", "03AC/DC"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
    EXPECT_EQ(ReadFile("victim.wav"), "keep me");
    EXPECT_EQ(ReadFile("Output/sub/keep.wav"), "keep me too");
    for (const char* name : {"-victim", "sub-keep", "AC-DC"}) {
        EXPECT_TRUE(fs::exists(Out(std::string(name) + ".mp3"))) << name;
        EXPECT_FALSE(fs::exists(Out(std::string(name) + ".wav"))) << name;
    }
    Tid3tag tag;
    ASSERT_EQ(tag.ReadFromFile(Out("AC-DC.mp3")), id3Success);
    EXPECT_EQ(tag.Title(), "AC/DC");
}

// Stop, the close box (and so Ctrl+C, which stops as Stop does) during the last track's encode:
// the encoder is ended first, its partial file goes, and no WAV stays: the encoded track's went
// with its output, the other's was only the encoder's input (a rerun reads it again).
TEST_F(RipJobTest, EndingDuringTheLastEncodeRemovesThePartialFileAndTheWavs)
{
    FakeWmaEncoder("*Two.wma) printf 'part' > \"$out\"; exec sleep 600;;");
    FakeProgram("lame", LameStuckOn("Two.mp3"));
    const struct {
        const char* name;
        int format;
        const char* ext;
        bool closeBox;
    } cases[] = {{"mp3, Stop", 0, ".mp3", false}, {"mp3, close box", 0, ".mp3", true}, {"wma, Stop", 3, ".wma", false},
                 {"wma, close box", 3, ".wma", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        view = TRecordingView{};
        Options.CommonOptions.OutputFormat = c.format;
        const HCDROM h = Drive({10, 10});
        Start(jkRipTracks, {"01One", "02Two"}, h);
        TEncodeProcess& encoder = c.format == 0 ? static_cast<TEncodeProcess&>(*mp3) : *wma;
        ASSERT_TRUE(WaitUntil([&] { return encoder.ChildPid() > 0 && !PartOf(std::string("Two") + c.ext).empty(); }));
        if (c.closeBox)
            job->FormClose();
        else
            job->btStopClick();
        EXPECT_FALSE(encoder.Busy());
        EXPECT_TRUE(dialogs.shown.empty());
        EXPECT_TRUE(fs::exists(Out(std::string("One") + c.ext)));
        EXPECT_FALSE(fs::exists(Out("One.wav"))) << "encoded: its WAV goes";
        EXPECT_FALSE(fs::exists(Out("Two.wav"))) << "only the encoder's input: it goes";
        EXPECT_FALSE(fs::exists(Out(std::string("Two") + c.ext)));
        EXPECT_EQ(PartFiles(), std::vector<std::string>{}) << "the partial file goes";
        job.reset();
    }
}

// Ending during the Ogg stage or during an extraction leaves no partial file under a final name.
TEST_F(RipJobTest, EndingMidStageLeavesNoPartialOggOrWav)
{
    const struct {
        const char* name;
        int format;
        const char* partial;
    } cases[] = {{"ogg stage", 2, "Long.ogg"}, {"extraction to WAV", 1, "Long.wav"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        view = TRecordingView{};
        Options.CommonOptions.OutputFormat = c.format;
        const HCDROM h = Drive({3000});
        // A drive at a real drive's pace: a millisecond a read of 10 sectors.
        drive->OnRead = [](int32_t) { usleep(1000); };
        Start(jkRipTracks, {"01Long"}, h);
        ASSERT_TRUE(WaitUntil([&] {
            return !view.shown.empty() && view.shown.back().Bar > 0 &&
                   view.shown.back().Caption == (c.format == 2 ? "Encoding(01/01): Long" : "Extracting(01/01): Long");
        }));
        job->btStopClick();
        ASSERT_TRUE(WaitForClose());
        EXPECT_FALSE(fs::exists(Out(c.partial)));
        EXPECT_EQ(PartFiles(), std::vector<std::string>{});
        if (c.format == 2) {
            EXPECT_FALSE(fs::exists(Out("Long.wav"))) << "only the encoder's input: it goes";
        }
        EXPECT_TRUE(dialogs.shown.empty());
        job.reset();
    }
}

// A rip never writes over a file it did not write in this job without asking: No keeps the
// earlier rip's file and skips the track; Yes replaces it. A WAV there is not asked about when
// the rip's WAVs are only the encoder's input: it is left as it is, and the track is ripped.
TEST_F(RipJobTest, ARipAsksBeforeReplacingAnEarlierRipsFiles)
{
    FakeProgram("lame", FakeLameBody);
    Options.CommonOptions.OutputFormat = 0;
    WriteFile("Output/Track01.mp3", "earlier rip");
    WriteFile("Output/Track02.wav", "earlier WAV rip");
    WriteFile("Output/Track03.mp3", "earlier rip");
    dialogs.answers = {Dialogs::Answer::No, Dialogs::Answer::Yes};
    const HCDROM h = Drive({10, 10, 10, 10});
    Start(jkRipTracks, {"01Track01", "02Track02", "03Track03", "04Track04"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(dialogs.Texts(), (QStringList{QString::fromStdString(Out("Track01.mp3") + " has existed,overite it?"),
                                            QString::fromStdString(Out("Track03.mp3") + " has existed,overite it?")}));
    EXPECT_EQ(ReadFile("Output/Track01.mp3"), "earlier rip");
    EXPECT_EQ(ReadFile("Output/Track02.wav"), "earlier WAV rip");
    EXPECT_EQ(ReadFile("Output/Track02.mp3"), "mp3");
    EXPECT_EQ(ReadFile("Output/Track03.mp3"), "mp3");
    EXPECT_EQ(ReadFile("Output/Track04.mp3"), "mp3");
    EXPECT_EQ(drive->Reads, 3) << "the kept track is not read";
    EXPECT_EQ(job->EncodeIndex, 4);
}

// A WMA run that prints an error and exits a moment later, while the next track is read at a
// drive's pace: its end is not taken for the next track's. One message; every track ripped once.
TEST_F(RipJobTest, AFailedWmaRunsLateEndIsNotTheNextTracks)
{
    FakeWmaEncoder("*One.wma) echo 'ERROR: One is bad'; sleep 0.05; exit 1;;");
    Options.CommonOptions.OutputFormat = 3;
    const HCDROM h = Drive({200, 200, 200});
    drive->OnRead = [](int32_t) { usleep(2000); };  // 40 ms a track
    Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(dialogs.Texts(), QStringList{"ERROR: One is bad"});
    EXPECT_EQ(drive->Reads, 60) << "each track read once";
    EXPECT_FALSE(fs::exists(Out("One.wma")));
    EXPECT_EQ(ReadFile("Output/Two.wma"), "wma");
    EXPECT_EQ(ReadFile("Output/Three.wma"), "wma");
    EXPECT_TRUE(fs::exists(Out("One.wav"))) << "its encoding failed: the WAV stays";
}

// A folder that takes no more files (full, read-only): the system's reason with the path, once;
// no stub of a file left; the job ends instead of failing every remaining track.
TEST_F(RipJobTest, AFullOrReadOnlyFolderStopsTheJobWithTheReason)
{
    const struct {
        const char* name;
        const char* options;
        int format;
        int32_t sectors;
        const char* failing;
        const char* reason;
    } cases[] = {
        // 64 KiB: two WAVs of 23 564 bytes fit, the third does not.
        {"full disk, WAV", "size=64k", 1, 10, "Three.wav", "No space left on device"},
        // 2.4 MB: the track's WAV fits, its MP3 (lame, for real) does not.
        {"full disk, MP3", "size=2400k", 0, 1000, "One.mp3", "No space left on device"},
        {"read-only", "ro,size=1m", 1, 10, "One.wav", "Read-only file system"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        TMountedFolder mounted(Out(""), c.options);
        if (!mounted.Mounted())
            GTEST_SKIP() << "mounting a tmpfs needs root";
        view = TRecordingView{};
        dialogs.shown.clear();
        Options.CommonOptions.OutputFormat = c.format;
        const HCDROM h = Drive({c.sectors, c.sectors, c.sectors, c.sectors});
        Start(jkRipTracks, {"01One", "02Two", "03Three", "04Four"}, h);
        ASSERT_TRUE(WaitForClose());
        EXPECT_EQ(dialogs.Texts(), QStringList{QString::fromStdString("Cannot write " + Out(c.failing) + ": " + c.reason +
                                                                      ". The job is stopped.")});
        EXPECT_FALSE(fs::exists(Out(c.failing))) << "no stub";
        EXPECT_FALSE(fs::exists(Out("Four.wav")));
        if (c.format == 0) {
            EXPECT_FALSE(fs::exists(Out("One.wav"))) << "only the encoder's input, on a folder short of space: it goes";
        }
        job.reset();
    }

    // Ripping to MP3 into 3 MB: the first track encoded (its WAV removed as soon as its MP3 is
    // made), the second's WAV (3.3 MB) does not fit. With two encoders the first track's encode
    // is still under way when the second's WAV fails (its lame waits for the message): it is
    // finished all the same, as one encoder would have finished it, and the third track is never
    // read.
    for (const int encoders : {1, 2}) {
        SCOPED_TRACE(encoders);
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        fs::remove(Path("go"));
        FakeProgram("lame", encoders == 1 ? FakeLameBody : "until [ -e " + Path("go") + " ]; do sleep 0.01; done\n" + FakeLameBody);
        TMountedFolder mounted(Out(""), "size=3m");
        ASSERT_TRUE(mounted.Mounted());
        view = TRecordingView{};
        dialogs.shown.clear();
        Options.CommonOptions.OutputFormat = 0;
        Options.JobOptions.Encoders = encoders;
        const HCDROM h = Drive({900, 1400, 900});
        std::atomic<int32_t> last{0};
        drive->OnRead = [&last](int32_t lba) { last = std::max(last.load(), lba); };
        Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
        // The first track's lame goes on once the job has said why it stops.
        ASSERT_TRUE(WaitUntil([&] {
            if (!dialogs.shown.empty())
                WriteFile("go", "");
            return view.closed;
        }));
        EXPECT_EQ(dialogs.Texts(), QStringList{QString::fromStdString("Cannot write " + Out("Two.wav") +
                                                                      ": No space left on device. The job is stopped.")});
        std::vector<std::string> results;
        for (const TItemOutcome& outcome : job->Outcomes())
            results.push_back(outcome.Result);
        EXPECT_EQ(results, (std::vector<std::string>{"done", "failed", "not done"}));
        EXPECT_TRUE(fs::exists(Out("One.mp3")));
        EXPECT_FALSE(fs::exists(Out("One.wav")));
        EXPECT_FALSE(fs::exists(Out("Two.wav")));
        EXPECT_LT(last, 2300) << "the third track is not read";
        job.reset();
    }
}

// A file of a conversion that is not a WAV Sonvale reads, first or later: said (with the kinds it
// reads), skipped, and the rest converted.
TEST_F(RipJobTest, AnUnreadableFileOfAConversionIsSkipped)
{
    FakeProgram("lame", FakeLameBody);
    WriteFile("junk.wav", std::string("RIFF\x10\0\0\0WAVEjunk", 16));
    const std::string fine = SoxWav("fine.wav", 44100, 0.2);
    const std::string wide = Path("wide.wav");
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 -b 24 '" + wide + "' synth 0.1 sine 440").c_str()), 0);
    const std::string kinds = " Sonvale reads 8- and 16-bit PCM, IMA ADPCM, Microsoft ADPCM and MPEG Layer-3 WAV files.";
    for (const TJobKind kind : {jkWavToMp3, jkWavToOgg, jkWavToFlac, jkWavToOpus}) {
        SCOPED_TRACE(kind);
        dialogs.shown.clear();
        view = TRecordingView{};
        const std::string made = Out("fine" + std::string(FormatOfKey(FileJobOf(kind)->Format)->Extension));
        fs::remove(made);
        Start(kind, {Path("junk.wav"), wide, Path("missing.wav"), fine});
        ASSERT_TRUE(WaitForClose());
        EXPECT_EQ(dialogs.Texts(),
                  (QStringList{QString::fromStdString("Cannot read " + Path("junk.wav") + ": it is not a WAV file of a kind Sonvale reads." + kinds),
                               QString::fromStdString("Cannot read " + wide + ": it is not a WAV file of a kind Sonvale reads." + kinds),
                               QString::fromStdString("Cannot open file " + Path("missing.wav") + ": No such file or directory")}));
        EXPECT_TRUE(fs::exists(made));
        job.reset();
    }
}

// Inputs that are not what their names say: a WAV cut short is converted with a warning that
// says how much is there; an empty or a text ".mp3" is said to be no MP3, not "Create MP3 file
// error!".
TEST_F(RipJobTest, InputsThatAreNotWhatTheySeemAreSaidSo)
{
    const std::string whole = SoxWav("whole.wav", 44100, 0.5);
    const std::string bytes = ReadFile("whole.wav");
    WriteFile("cut.wav", bytes.substr(0, 44 + 20000));
    Start(jkWavToOgg, {Path("cut.wav")});
    ASSERT_TRUE(WaitForClose());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text.toStdString(),
              Path("cut.wav") + " is shorter than its header says (20000 of " + std::to_string(bytes.size() - 44) +
                  " bytes of audio): what it holds is converted.");
    EXPECT_EQ(dialogs.shown[0].icon, Dialogs::Icon::Warning);
    EXPECT_TRUE(fs::exists(Out("cut.ogg")));
    job.reset();

    dialogs.shown.clear();
    view = TRecordingView{};
    WriteFile("empty.mp3", "");
    WriteFile("notes.mp3", "just some text, no audio\n");
    Start(jkMp3ToWav, {Path("empty.mp3"), Path("notes.mp3")});
    ASSERT_TRUE(WaitForClose());
    EXPECT_EQ(dialogs.Texts(), (QStringList{QString::fromStdString("Cannot read " + Path("empty.mp3") + ": the file is empty."),
                                            QString::fromStdString("Cannot read " + Path("notes.mp3") + ": it is not an MP3 file.")}));
    EXPECT_FALSE(fs::exists(Out("empty.wav")));
    EXPECT_FALSE(fs::exists(Out("notes.wav")));
}

// "Keep WAV" on: a whole rip to MP3 keeps every track's WAV beside its MP3.
TEST_F(RipJobTest, KeepWavKeepsTheWavFiles)
{
    FakeProgram("lame", FakeLameBody);
    Options.CommonOptions.OutputFormat = 0;
    Options.CommonOptions.IsKeepWav = true;
    const HCDROM h = Drive({10, 20});
    Start(jkRipTracks, {"01One", "02Two"}, h);
    ASSERT_TRUE(WaitForClose());
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(fs::file_size(Out("One.wav")), 44u + 10 * 2352);
    EXPECT_EQ(fs::file_size(Out("Two.wav")), 44u + 20 * 2352);
    EXPECT_TRUE(fs::exists(Out("Two.mp3")));
}

// --- several encoders side by side ------------------------------------------------------------

// Every file of a folder: its name and its bytes.
std::map<std::string, std::string> FolderFiles(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            files[entry.path().lexically_relative(folder).string()] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    return files;
}

// Names and SHA-1s, for a readable difference.
std::vector<std::string> Digests(const std::map<std::string, std::string>& files)
{
    std::vector<std::string> out;
    for (const auto& [name, bytes] : files)
        out.push_back(name + " " +
                      QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha1).toHex().toStdString());
    return out;
}

// A rip with two encoders (the drive reading on while they encode) writes what a rip with one
// writes, byte for byte, in every format, with tags, ReplayGain and the WAVs' removal; so does a
// conversion with three (resampling each file into a temporary file of its own, all removed).
TEST_F(RipJobTest, TwoEncodersWriteTheSameFilesAsOne)
{
    setenv("SONVALE_SYSTEM_DIR", WM8EUTIL_DIR, 1);
    Options.UseID3 = true;
    Options.Tags.ReplayGain = true;
    Options.CDInfo.Artist = "The Band";
    Options.CDInfo.Album = "The Album";
    for (const TOutputFormat& format : OutputFormats()) {
        SCOPED_TRACE(std::string(format.Key));
        std::vector<std::string> written[2];
        for (const int encoders : {1, 2}) {
            fs::remove_all(Out(""));
            fs::create_directory(Out(""));
            Options.JobOptions.Encoders = encoders;
            Options.CommonOptions.OutputFormat = format.Stored;
            view = TRecordingView{};
            const HCDROM h = ImageDrive({75, 40, 60});
            Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
            EXPECT_EQ(job->SideBySide(), encoders == 2 && format.Encoded);
            ASSERT_TRUE(WaitForClose());
            EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
            written[encoders - 1] = Digests(FolderFiles(Out("")));
            job.reset();
        }
        EXPECT_EQ(written[0].size(), 3u);
        EXPECT_EQ(written[0], written[1]);
    }

    // Different sources, so that a file's output owing anything to another's shows.
    fs::create_directories(Path("in"));
    std::vector<std::string> items;
    for (const int rate : {22050, 11025, 44100, 22050})
        items.push_back(SoxWav("in/" + std::to_string(items.size()) + ".wav", rate, 0.3 + 0.1 * items.size()));
    for (const TJobKind kind : {jkWavToMp3, jkWavToOgg, jkWavToOpus}) {
        SCOPED_TRACE(int(kind));
        std::vector<std::string> written[2];
        for (const int encoders : {1, 3}) {
            fs::remove_all(Out(""));
            fs::create_directory(Out(""));
            Options.JobOptions.Encoders = encoders;
            view = TRecordingView{};
            Start(kind, items);
            ASSERT_TRUE(WaitForClose());
            EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
            written[encoders == 1 ? 0 : 1] = Digests(FolderFiles(Out("")));
            job.reset();
        }
        EXPECT_EQ(written[0].size(), 4u) << "the outputs, and no temporary file";
        EXPECT_EQ(written[0], written[1]);
    }
}

// Each failure of a rip meets two encoders as it meets one: the same messages, the same outcome
// of every item, the same files left (a failing encoder keeps its track's WAV): an encoder that
// fails, a track the drive cannot read, a file the user keeps (a title that is no file name,
// "..", is none: its file is "Track 04").
TEST_F(RipJobTest, TwoEncodersMeetEachFailureAsOneDoes)
{
    FakeProgram("lame", "for a; do out=$a; done\ncase \"$out\" in *Bad.mp3) exit 3;; esac\n" + FakeLameBody);
    Options.CommonOptions.OutputFormat = 0;
    struct TRun {
        QStringList messages;
        std::vector<std::string> results;
        std::vector<std::string> files;
    } runs[2];
    for (const int encoders : {1, 2}) {
        SCOPED_TRACE(encoders);
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        WriteFile("Output/Kept.mp3", "earlier rip");
        Options.JobOptions.Encoders = encoders;
        view = TRecordingView{};
        dialogs.shown.clear();
        dialogs.answers = {Dialogs::Answer::No};
        const HCDROM h = Drive({10, 10, 10, 10, 10, 10});
        drive->FailReadAtSector = 25;  // in track 3
        Start(jkRipTracks, {"01Fine", "02Bad", "03Scratched", "04..", "05Kept", "06Last"}, h);
        ASSERT_TRUE(WaitForClose());
        TRun& run = runs[encoders - 1];
        run.messages = dialogs.Texts();
        run.messages.sort();  // side by side the items may finish in another order
        for (const TItemOutcome& outcome : job->Outcomes())
            run.results.push_back(outcome.Result);
        run.files = Digests(FolderFiles(Out("")));
        job.reset();
    }
    EXPECT_EQ(runs[0].results, (std::vector<std::string>{"done", "failed", "failed", "done", "skipped", "done"}));
    EXPECT_EQ(runs[0].messages.size(), 3) << runs[0].messages.join("|").toStdString();
    EXPECT_EQ(runs[1].messages, runs[0].messages);
    EXPECT_EQ(runs[1].results, runs[0].results);
    EXPECT_EQ(runs[1].files, runs[0].files);
    EXPECT_TRUE(std::any_of(runs[1].files.begin(), runs[1].files.end(),
                            [](const std::string& f) { return f.rfind("Bad.wav ", 0) == 0; }))
        << "the WAV of the track whose encoding failed stays";

    // A conversion with three encoders: a file that is no WAV, one whose output the user keeps,
    // one the encoder fails on, one resampled first, and good ones.
    fs::create_directories(Path("in"));
    WriteFile("in/text.wav", "no audio");
    const std::vector<std::string> items{SoxWav("in/a.wav", 44100, 0.2), Path("in/text.wav"), SoxWav("in/Kept.wav", 44100, 0.2),
                                         SoxWav("in/Bad.wav", 44100, 0.2), SoxWav("in/low.wav", 22050, 0.2),
                                         SoxWav("in/z.wav", 44100, 0.2)};
    for (const int encoders : {1, 3}) {
        SCOPED_TRACE(encoders);
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        WriteFile("Output/Kept.mp3", "earlier");
        Options.JobOptions.Encoders = encoders;
        view = TRecordingView{};
        dialogs.shown.clear();
        dialogs.answers = {Dialogs::Answer::No};
        Start(jkWavToMp3, items);
        ASSERT_TRUE(WaitForClose());
        TRun& run = runs[encoders == 1 ? 0 : 1];
        run = TRun{};
        run.messages = dialogs.Texts();
        run.messages.sort();
        for (const TItemOutcome& outcome : job->Outcomes())
            run.results.push_back(outcome.Result);
        run.files = Digests(FolderFiles(Out("")));
        job.reset();
    }
    EXPECT_EQ(runs[0].results, (std::vector<std::string>{"done", "failed", "skipped", "failed", "done", "done"}));
    EXPECT_EQ(runs[1].messages, runs[0].messages);
    EXPECT_EQ(runs[1].results, runs[0].results);
    EXPECT_EQ(runs[1].files, runs[0].files);
}

// Stop and the close box while two tracks encode and the drive reads a third: both encoders
// are killed and reaped, their partial files go, the extraction ends and its partial WAV goes;
// the WAVs of the tracks not encoded, only the encoders' input, go too. The job window's view: the caption names the
// extraction, a second line what encodes, and the whole job's bar never goes back.
TEST_F(RipJobTest, EndingWhileEncodersOverlapLeavesNothingPartial)
{
    FakeProgram("lame", "for a; do out=$a; done\necho $$ >> " + Path("lame.pids") + "\n" +
                            "printf 'part' > \"$out\"\nprintf '              ( 5%%)|    0:01/    0:20|\\r' >&2\n"
                            "exec sleep 600\n");
    Options.CommonOptions.OutputFormat = 0;
    Options.JobOptions.Encoders = 2;
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Stop");
        fs::remove_all(Out(""));
        fs::create_directory(Out(""));
        fs::remove(Path("lame.pids"));
        view = TRecordingView{};
        const HCDROM h = Drive({10, 10, 20000});
        drive->OnRead = [](int32_t lba) {
            if (lba >= 20)
                usleep(5000);  // the third track reads at a drive's pace
        };
        Start(jkRipTracks, {"01One", "02Two", "03Three"}, h);
        ASSERT_TRUE(WaitUntil([&] {
            return !view.shown.empty() && view.shown.back().Encoding == "Encoding 2 tracks: 01, 02" &&
                   !PartOf("One.mp3").empty() && !PartOf("Two.mp3").empty() && !PartOf("Three.wav").empty();
        }));
        const TRipDisplay shown = view.shown.back();
        EXPECT_EQ(shown.Caption, "Extracting(03/03): Three");
        EXPECT_EQ(shown.Stage, "Extracting");
        EXPECT_TRUE(shown.EncodingShown);
        for (std::size_t i = 1; i < view.shown.size(); ++i)
            EXPECT_GE(view.shown[i].Bar, view.shown[i - 1].Bar) << i;
        if (closeBox)
            job->FormClose();
        else
            job->btStopClick();
        EXPECT_TRUE(job->Finished());
        std::istringstream pids(ReadFile("lame.pids"));
        int count = 0;
        for (std::string pid; pids >> pid; ++count)
            EXPECT_FALSE(fs::exists("/proc/" + pid)) << "lame " << pid << " is killed and reaped";
        EXPECT_EQ(count, 2);
        EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
        EXPECT_FALSE(fs::exists(Out("One.mp3")));
        EXPECT_FALSE(fs::exists(Out("Two.mp3")));
        EXPECT_FALSE(fs::exists(Out("Three.wav"))) << "the extraction's part goes";
        EXPECT_EQ(PartFiles(), std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(Out("One.wav")));
        EXPECT_FALSE(fs::exists(Out("Two.wav")));
        job.reset();
    }
}

// A job runs with the settings it was handed, whatever the options say meanwhile: its folder,
// its format, its tags; the options are not written.
TEST_F(RipJobTest, AJobRunsWithTheSettingsItWasHanded)
{
    FakeProgram("lame", FakeLameBody);
    fs::create_directory(Path("Handed"));
    TJobSettings settings = TJobSettings::FromOptions();
    settings.Common.OutputFolder = Path("Handed");
    settings.Common.OutputFormat = FormatOfKey("mp3")->Stored;
    settings.UseID3 = true;
    settings.Disc.Artist = "Handed Band";
    Options.CommonOptions.OutputFormat = FormatOfKey("ogg")->Stored;
    Options.UseID3 = false;
    const TOptionsSetting before = Options;
    const HCDROM h = Drive({10, 10});
    job = std::make_unique<TRipJob>(view, dialogs, *mp3, *wma, jkRipTracks, h, std::vector<std::string>{"01One", "02Two"},
                                    settings);
    job->Start();
    Options.CommonOptions.OutputFolder = Path("Elsewhere");  // changed while the job runs
    ASSERT_TRUE(WaitForClose());
    EXPECT_TRUE(dialogs.shown.empty());
    Tid3tag tag;
    ASSERT_EQ(tag.ReadFromFile(Path("Handed/Two.mp3")), id3Success);
    EXPECT_EQ(tag.Artist(), "Handed Band");
    EXPECT_FALSE(fs::exists(Out("One.ogg")));
    EXPECT_EQ(Options.CommonOptions.OutputFormat, before.CommonOptions.OutputFormat);
    EXPECT_FALSE(Options.UseID3);
}

}  // namespace
