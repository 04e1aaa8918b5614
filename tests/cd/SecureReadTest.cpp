#include "ripthread.h"

#include "AccurateRip.h"
#include "Global.h"
#include "JobMessages.h"
#include "akrip32Drives.h"

#include "MessageRecorder.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

namespace {

// A fault layer under the drive library, over a real disc image: sectors that come back wrong on
// their first reads, sectors that never come back the same twice, sectors that fail every read
// that includes them, reads refused from a sector on, and reads that come back shifted by a few
// samples (jitter).
class TFaultyDrive : public TDriveLayer {
public:
    using TDriveLayer::TDriveLayer;
    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override
    {
        ++Reads;
        if (OnRead)
            OnRead(lba, count);
        if (FailFrom >= 0 && lba + count > FailFrom)
            return false;  // as a drive refuses the gap and data after a disc's audio
        for (const int32_t bad : Unreadable)
            if (bad >= lba && bad < lba + count)
                return false;  // a drive fails the whole read
        for (auto& [sector, jitter] : Jitter) {
            if (sector < lba || sector >= lba + count || jitter.first == 0)
                continue;
            // The whole read lands late (the drive started a few samples after lba).
            --jitter.first;
            const int shift = jitter.second * 4;
            std::vector<uint8_t> more(static_cast<std::size_t>(count + 1) * CDSectorSize);
            if (!TDriveLayer::ReadAudio(lba, count + 1, more.data()))
                return false;
            std::memcpy(out, more.data() + shift, static_cast<std::size_t>(count) * CDSectorSize);
            return true;
        }
        if (!TDriveLayer::ReadAudio(lba, count, out))
            return false;
        for (int32_t s = lba; s < lba + count; ++s) {
            uint8_t* sector = out + static_cast<std::size_t>(s - lba) * CDSectorSize;
            if (auto b = WrongFirstReads.find(s); b != WrongFirstReads.end() && b->second > 0) {
                // Wrong, and wrong differently each time.
                for (int i = 0; i < CDSectorSize; i += 97)
                    sector[i] ^= static_cast<uint8_t>(0x50 + b->second);
                --b->second;
            }
            if (NeverTheSame.count(s))
                for (int i = 0; i < CDSectorSize; ++i)
                    sector[i] = static_cast<uint8_t>(i * 31 + Reads * 17);
        }
        return true;
    }

    std::map<int32_t, int> WrongFirstReads;                 // sector -> reads still wrong
    std::set<int32_t> NeverTheSame;
    std::set<int32_t> Unreadable;                           // every read that includes one fails
    std::map<int32_t, std::pair<int, int>> Jitter;          // sector -> (reads, samples late)
    int Reads = 0;
    int32_t FailFrom = -1;
    std::function<void(int32_t lba, int32_t count)> OnRead;  // on the reading thread, before each read
};

class SecureReadTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        LoadSaveOptions(true);
        std::filesystem::create_directory(Path("Output"));
        Options.CommonOptions.OutputFolder = Path("Output");
        // Three tracks of 2, 3 and 2 seconds: 150, 225 and 150 sectors from 0, 150 and 375.
        UseImage("disc", "", "2 3 2");
    }
    // mkdisc's image name.cue (its options, then the tracks' seconds) behind the fault layer, as
    // the library's only drive; image holds its .bin, handle the handle a job would pass.
    void UseImage(const std::string& name, const std::string& options, const std::string& seconds)
    {
        const std::string cue = Path(name + ".cue");
        ASSERT_EQ(std::system((std::string(MKDISC) + " " + options + " " + cue + " " + seconds + " > /dev/null").c_str()), 0);
        image = ReadFile(name + ".bin");
        auto inner = OpenImageDrive(cue);
        ASSERT_TRUE(inner);
        drive = std::make_shared<TFaultyDrive>(inner);
        AkripUseDrives({drive});
        TGetCDHand request{};
        request.Size = 12;
        request.Ver = 1;
        handle = GetCDHandle(&request);
        ASSERT_NE(handle, 0);
    }
    void TearDown() override
    {
        thread.reset();
        AkripUseDrives({});
        TempDirTest::TearDown();
    }

    // The WAV the job would name for a track titled title: in the output folder.
    static std::string WavOf(const std::string& title) { return Options.CommonOptions.OutputFolder + "/" + title + ".wav"; }

    // Extracts track position; its end status.
    int32_t Rip(int position, const std::string& title)
    {
        thread = std::make_unique<TCDRipThread>(position, WavOf(title));
        thread->DriveHandle = handle;
        thread->ReceivingWindow = window.Handle();
        thread->Start();
        EXPECT_TRUE(window.WaitForExtractionEnd());
        thread->WaitFor();
        window.Drain();
        return window.Last().Status;
    }
    std::string Audio(const std::string& title) { return ReadFile("Output/" + title + ".wav").substr(44); }

    // The image's bytes of sectors [start, start + length) shifted by offset samples, silence
    // beyond the disc: what a drive reading at the right place delivers.
    std::string Shifted(int32_t start, int32_t length, int offset) const
    {
        std::string out;
        const int64_t from = int64_t{start} * CDSectorSize + int64_t{offset} * 4;
        for (int64_t b = from; b < from + int64_t{length} * CDSectorSize; ++b)
            out += b >= 0 && b < static_cast<int64_t>(image.size()) ? image[static_cast<std::size_t>(b)] : '\0';
        return out;
    }

    std::string image;
    std::shared_ptr<TFaultyDrive> drive;
    HCDROM handle = 0;
    TMessageRecorder window;
    std::unique_ptr<TCDRipThread> thread;
};

// Sectors wrong on their first reads and a read that lands 5 samples late: the plain reads keep
// the wrong bytes, secure reads give the image's bytes and count the extra reads.
TEST_F(SecureReadTest, SecureReadsGiveTheImagesBytes)
{
    const auto faults = [this] {
        drive->WrongFirstReads = {{160, 1}, {161, 2}, {300, 3}};
        drive->Jitter = {{250, {1, 5}}};
    };
    faults();
    EXPECT_EQ(Rip(2, "plain"), esDone);
    EXPECT_NE(Audio("plain"), Shifted(150, 225, 0));
    EXPECT_FALSE(thread->Result().Secure);

    faults();
    Options.SecureOptions.SecureMode = true;
    EXPECT_EQ(Rip(2, "secure"), esDone);
    EXPECT_EQ(Audio("secure"), Shifted(150, 225, 0));
    const TTrackResult& r = thread->Result();
    EXPECT_TRUE(r.Secure);
    EXPECT_TRUE(r.Unreadable.empty());
    EXPECT_GT(r.Rereads, 0);

    // A clean read verifies with two reads of every sector, none more.
    drive->WrongFirstReads.clear();
    EXPECT_EQ(Rip(2, "clean"), esDone);
    EXPECT_EQ(Audio("clean"), Shifted(150, 225, 0));
    EXPECT_EQ(thread->Result().Rereads, 0);
}

// A sector never read the same twice is listed (with a neighbour paranoia could not verify
// against it); every sector not listed is right. The track is kept unless damaged tracks are
// refused.
TEST_F(SecureReadTest, AnUnreadableSectorIsListed)
{
    Options.SecureOptions.SecureMode = true;
    drive->NeverTheSame = {200};
    const auto check = [this](const std::string& title, int offset) {
        const std::vector<int32_t> listed = thread->Result().Unreadable;
        EXPECT_NE(std::find(listed.begin(), listed.end(), 200), listed.end()) << title;
        EXPECT_EQ(std::set<int32_t>(listed.begin(), listed.end()).size(), listed.size()) << title;  // each once
        EXPECT_GT(thread->Result().Rereads, 0) << title;
        for (const int32_t l : listed)
            EXPECT_LE(std::abs(l - 200), 2) << title << " lists " << l;
        const std::string audio = Audio(title), want = Shifted(150, 225, offset);
        ASSERT_EQ(audio.size(), want.size());
        for (int32_t k = 0; k < 225; ++k) {
            // The track's sector k holds bytes of disc sectors 150 + k and, shifted, the next.
            const int32_t disc = 150 + k;
            const bool damaged = std::count(listed.begin(), listed.end(), disc) + std::count(listed.begin(), listed.end(), disc + 1) > 0;
            if (!damaged) {
                EXPECT_EQ(audio.substr(std::size_t(k) * CDSectorSize, CDSectorSize), want.substr(std::size_t(k) * CDSectorSize, CDSectorSize))
                    << title << " sector " << disc;
            }
        }
    };
    EXPECT_EQ(Rip(2, "kept"), esDone);
    check("kept", 0);

    // With an offset the sector lies at the seam of two pieces of the track: still listed once.
    Options.SecureOptions.ReadOffset = 6;
    EXPECT_EQ(Rip(2, "seam"), esDone);
    check("seam", 6);

    Options.SecureOptions.RefuseDamaged = true;
    EXPECT_EQ(Rip(2, "refused"), esReadFailed);
}

// Stop while paranoia retries a sector that never reads the same: the drive is not read again and
// the thread ends without an end report, its file a valid WAV of the pieces verified before.
TEST_F(SecureReadTest, StopEndsTheRetriesAtOnce)
{
    Options.SecureOptions.SecureMode = true;
    drive->NeverTheSame = {200};
    int readsOf200 = 0, readsAfterStop = 0;
    bool stopped = false;
    drive->OnRead = [&](int32_t lba, int32_t count) {
        readsAfterStop += stopped;
        if (lba <= 200 && lba + count > 200 && ++readsOf200 == 6) {  // a few retries in
            stopped = true;
            thread->Cancel();
        }
    };
    thread = std::make_unique<TCDRipThread>(2, WavOf("stopped"));
    thread->DriveHandle = handle;
    thread->ReceivingWindow = window.Handle();
    thread->Start();
    thread->WaitFor();
    window.Drain();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(readsAfterStop, 0);
    for (const int32_t code : window.Codes())
        EXPECT_NE(code, piExtracted);
    const std::string file = ReadFile("Output/stopped.wav");
    ASSERT_GE(file.size(), 44u);
    uint32_t dataSize = 0;  // the header's data size, little-endian at byte 40
    for (int k = 3; k >= 0; --k)
        dataSize = dataSize << 8 | static_cast<uint8_t>(file[40 + std::size_t(k)]);
    EXPECT_EQ(file.size() - 44, dataSize);
    // Only verified pieces are kept: those before the one holding sector 200 (the track's 50th).
    EXPECT_LE(dataSize, 50u * CDSectorSize);
    EXPECT_EQ(file.substr(44), Shifted(150, 225, 0).substr(0, dataSize));
}

// The last audio track before a data track: paranoia reads ahead beyond the audio, where a drive
// refuses every read; the track still reads whole and clean, a positive offset finding silence.
TEST_F(SecureReadTest, TheAudiosEndBeforeADataTrack)
{
    UseImage("mixed", "--data 2", "2 3");
    image.resize(std::size_t(375) * CDSectorSize);  // the audio
    drive->FailFrom = 375;
    Options.SecureOptions.SecureMode = true;
    for (const int offset : {0, 30}) {
        Options.SecureOptions.ReadOffset = offset;
        const std::string title = "last" + std::to_string(offset);
        ASSERT_EQ(Rip(2, title), esDone);
        EXPECT_EQ(Audio(title), Shifted(150, 225, offset)) << title;
        EXPECT_TRUE(thread->Result().Unreadable.empty()) << title;
    }
}

// The read offset shifts the track; at the disc's ends silence comes in. The checksums are those
// of the shifted bytes, on the first track (its start left out) and the last (its end).
TEST_F(SecureReadTest, OffsetsShiftTheTrackAndTheChecksums)
{
    Options.SecureOptions.SecureMode = true;
    const struct {
        int position;
        int32_t start, length;
    } tracks[] = {{1, 0, 150}, {2, 150, 225}, {3, 375, 150}};
    for (const int offset : {6, -30, 667}) {
        Options.SecureOptions.ReadOffset = offset;
        for (const auto& t : tracks) {
            const std::string title = "t" + std::to_string(t.position) + "_" + std::to_string(offset);
            ASSERT_EQ(Rip(t.position, title), esDone);
            const std::string want = Shifted(t.start, t.length, offset);
            EXPECT_EQ(Audio(title), want) << title;
            TTrackChecksums sums(int64_t{t.length} * 588, t.position == 1, t.position == 3);
            sums.Add(reinterpret_cast<const uint8_t*>(want.data()), want.size());
            EXPECT_EQ(thread->Result().AccurateRipV1, sums.V1()) << title;
            EXPECT_EQ(thread->Result().AccurateRipV2, sums.V2()) << title;
            EXPECT_EQ(thread->Result().Crc32, sums.Crc32()) << title;
            EXPECT_EQ(thread->Result().ReadOffset, offset);
            // A clean disc: no re-reads, whatever paranoia read ahead or again across a track's edge.
            EXPECT_EQ(thread->Result().Rereads, 0) << title;
        }
    }
    // Plain mode ignores the offset and computes nothing more than it always did.
    Options.SecureOptions.SecureMode = false;
    ASSERT_EQ(Rip(3, "plain"), esDone);
    EXPECT_EQ(Audio("plain"), Shifted(375, 150, 0));
    EXPECT_EQ(thread->Result().AccurateRipV2, 0u);
    EXPECT_FALSE(thread->Result().Secure);
}

}  // namespace

namespace {

// A disc with 2 seconds of hidden audio before track 1 (its pregap, from sector 0): a negative
// offset reads track 1's start from the hidden audio, as a drive does, not silence.
TEST_F(SecureReadTest, ANegativeOffsetReadsIntoAHiddenTrack)
{
    UseImage("hidden", "--hidden 2", "2 3");
    Options.SecureOptions.SecureMode = true;
    Options.SecureOptions.ReadOffset = -30;
    ASSERT_EQ(Rip(1, "h"), esDone);
    EXPECT_EQ(Audio("h"), Shifted(150, 150, -30));
    EXPECT_TRUE(thread->Result().Unreadable.empty());
}
}  // namespace

namespace {

// A sector whose every read fails, failing every read that includes it, as a drive does: only
// that sector is lost (silence, listed); the rest of the reads around it come back whole.
TEST_F(SecureReadTest, ASectorThatNeverReadsCostsOnlyItself)
{
    Options.SecureOptions.SecureMode = true;
    drive->Unreadable = {200};
    EXPECT_EQ(Rip(2, "failing"), esDone);
    const std::vector<int32_t> listed = thread->Result().Unreadable;
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed.front(), 200);
    for (const int32_t l : listed)
        EXPECT_LE(std::abs(l - 200), 1) << "lists " << l;
    const std::string audio = Audio("failing"), want = Shifted(150, 225, 0);
    ASSERT_EQ(audio.size(), want.size());
    for (int32_t k = 0; k < 225; ++k) {
        const std::string got = audio.substr(std::size_t(k) * CDSectorSize, CDSectorSize);
        if (150 + k == 200) {
            EXPECT_EQ(got, std::string(CDSectorSize, '\0'));  // never read: silence, not noise
        } else if (std::find(listed.begin(), listed.end(), 150 + k) == listed.end()) {
            EXPECT_EQ(got, want.substr(std::size_t(k) * CDSectorSize, CDSectorSize)) << "sector " << 150 + k;
        }
    }
}

}  // namespace
