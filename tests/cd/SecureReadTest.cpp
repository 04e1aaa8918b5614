#include "ripthread.h"

#include "AccurateRip.h"
#include "Global.h"
#include "JobMessages.h"
#include "akrip32Drives.h"

#include "MessageRecorder.h"
#include "TestSupport.h"

#include <filesystem>
#include <map>
#include <set>

namespace {

// A fault layer under the drive library, over a real disc image: sectors that come back wrong on
// their first reads, sectors that never come back the same twice, and reads of a block that come
// back shifted by a few samples (jitter).
class TFaultyDrive : public TDriveBackend {
public:
    explicit TFaultyDrive(std::shared_ptr<TDriveBackend> inner)
        : m_inner(std::move(inner))
    {
    }
    std::string Vendor() const override { return m_inner->Vendor(); }
    std::string Product() const override { return m_inner->Product(); }
    bool Open() override { return m_inner->Open(); }
    void Close() override { m_inner->Close(); }
    bool ReadToc(TDiscToc& toc) override { return m_inner->ReadToc(toc); }
    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override
    {
        ++Reads;
        if (auto j = Jitter.find(lba); j != Jitter.end() && j->second.first > 0) {
            --j->second.first;
            const int shift = j->second.second * 4;  // samples late
            std::vector<uint8_t> more(static_cast<std::size_t>(count + 1) * CDSectorSize);
            if (!m_inner->ReadAudio(lba, count + 1, more.data()))
                return false;
            std::memcpy(out, more.data() + shift, static_cast<std::size_t>(count) * CDSectorSize);
            return true;
        }
        if (!m_inner->ReadAudio(lba, count, out))
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
    std::map<int32_t, std::pair<int, int>> Jitter;          // block start -> (reads, samples)
    int Reads = 0;

private:
    std::shared_ptr<TDriveBackend> m_inner;
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
        const std::string cue = Path("disc.cue");
        ASSERT_EQ(std::system((std::string(MKDISC) + " " + cue + " 2 3 2 > /dev/null").c_str()), 0);
        image = ReadFile("disc.bin");
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

    // Extracts track position; its end status.
    int32_t Rip(int position, const std::string& title)
    {
        thread = std::make_unique<TCDRipThread>(position, title);
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

// Sectors wrong on their first reads and a block read late: the plain reads keep the wrong
// bytes, secure reads give the image's bytes and count the extra reads.
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
    // 160: the block's two reads differ, one more read agrees with the second. 161: wrong twice,
    // then right twice. 300: wrong three times, right twice. The late block (250..259): each of
    // its ten sectors read once more.
    EXPECT_EQ(r.Rereads, 1 + 2 + 3 + 10);
}

// A sector never read the same twice is listed; the track is kept unless damaged tracks are
// refused.
TEST_F(SecureReadTest, AnUnreadableSectorIsListed)
{
    Options.SecureOptions.SecureMode = true;
    drive->NeverTheSame = {200};
    EXPECT_EQ(Rip(2, "kept"), esDone);
    EXPECT_EQ(thread->Result().Unreadable, std::vector<int32_t>{200});
    EXPECT_EQ(thread->Result().Rereads, 14);  // a budget of 16 reads, two of them the block's
    const std::string audio = Audio("kept");
    const std::string want = Shifted(150, 225, 0);
    EXPECT_EQ(audio.substr(0, 50 * CDSectorSize), want.substr(0, 50 * CDSectorSize));
    EXPECT_EQ(audio.substr(51 * CDSectorSize), want.substr(51 * CDSectorSize));

    // With an offset the sector lies at the seam of two pieces of the track: still listed once.
    Options.SecureOptions.ReadOffset = 6;
    EXPECT_EQ(Rip(2, "seam"), esDone);
    EXPECT_EQ(thread->Result().Unreadable, std::vector<int32_t>{200});

    Options.SecureOptions.RefuseDamaged = true;
    EXPECT_EQ(Rip(2, "refused"), esReadFailed);
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
