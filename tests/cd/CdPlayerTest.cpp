#include "CdPlayer.h"

#include "akrip32Drives.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <fstream>
#include <iterator>

namespace {

// Takes everything the player would play, at once, through its reader.
class TCapturingOutput final : public TSoundOutput {
public:
    void Start(const TPcmFormat&, int64_t total, TAudioReader read, int64_t from, std::function<void()> onEnd) override
    {
        bytes.assign(static_cast<std::size_t>(total - from), 0);
        bytes.resize(read(from, bytes.data(), bytes.size()));
        end = std::move(onEnd);
    }
    void Pause() override {}
    void Resume() override {}
    void Stop() override { end = nullptr; }
    int64_t Played() override { return static_cast<int64_t>(bytes.size()); }
    std::vector<uint8_t> bytes;
    std::function<void()> end;
};

using CdPlayerTest = TempDirTest;

HCDROM OpenImage(const std::string& cue)
{
    AkripUseDrives({OpenImageDrive(cue)});
    TGetCDHand request{};
    request.Size = 12;
    request.Ver = 1;
    return GetCDHandle(&request);
}

// The samples of a track of a disc image are the image's bytes; the last track plays to the end
// of the disc.
TEST_F(CdPlayerTest, ItPlaysTheImagesBytes)
{
    const std::string cue = Path("disc.cue");
    ASSERT_EQ(std::system((std::string(MKDISC) + " " + cue + " 1 0.5 0.4").c_str()), 0);
    const std::string bin = ReadFile("disc.bin");
    auto output = std::make_unique<TCapturingOutput>();
    TCapturingOutput* captured = output.get();
    TCdPlayer player(std::move(output));
    ASSERT_TRUE(player.Open(OpenImage(cue)));
    TTmsf second = 0, third = 0;
    ASSERT_TRUE(player.TrackPosition(2, second));
    ASSERT_TRUE(player.TrackPosition(3, third));
    EXPECT_FALSE(player.TrackPosition(4, third));
    ASSERT_TRUE(player.Play(second, third));
    EXPECT_TRUE(std::string(captured->bytes.begin(), captured->bytes.end()) == bin.substr(75 * 2352, 38 * 2352));
    ASSERT_TRUE(player.Play(third));
    EXPECT_EQ(captured->bytes.size(), bin.size() - (75 + 38) * 2352);
    EXPECT_TRUE(std::string(captured->bytes.begin(), captured->bytes.end()) == bin.substr((75 + 38) * 2352));
    AkripUseDrives({});
}

// Through the null output, at real time: a 4-second track ends after about 4 seconds, and the
// end is reported as successful.
TEST_F(CdPlayerTest, TheNullOutputPlaysAtRealTime)
{
    const std::string cue = Path("four.cue");
    ASSERT_EQ(std::system((std::string(MKDISC) + " " + cue + " 4 1").c_str()), 0);
    setenv("SONVALE_AUDIO", "null", 1);
    TCdPlayer player;
    unsetenv("SONVALE_AUDIO");
    ASSERT_TRUE(player.Open(OpenImage(cue)));
    TTmsf first = 0, second = 0;
    ASSERT_TRUE(player.TrackPosition(1, first));
    ASSERT_TRUE(player.TrackPosition(2, second));
    QEventLoop loop;
    std::vector<TCdPlayer::TCompletion> reports;
    player.OnComplete = [&](TCdPlayer::TCompletion c) {
        reports.push_back(c);
        loop.quit();
    };
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(player.Play(first, second));
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(reports, std::vector<TCdPlayer::TCompletion>{TCdPlayer::cpSuccessful});
    EXPECT_GE(seconds, 3.9);
    EXPECT_LT(seconds, 6.0);
    AkripUseDrives({});
}

}  // namespace
