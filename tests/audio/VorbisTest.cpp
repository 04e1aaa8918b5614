#include "ACS_Vorbis.h"
#include "ACS_Wave.h"

#include "AudioTestSupport.h"
#include "TestSupport.h"

#include <cmath>
#include <filesystem>
#include <cstdio>
#include <memory>

namespace {

uint32_t Get32(const std::vector<uint8_t>& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

class VorbisTest : public TempDirTest {
protected:
    // Encodes the WAV at in into out; the error text when the run failed, else empty.
    std::string Encode(TVorbisOut& vorbis, const std::string& in, const std::string& out)
    {
        TWaveIn source;
        source.FileName = in;
        vorbis.SetInput(&source);
        vorbis.FileName = out;
        TSignal finished;
        std::string error;
        vorbis.OnDone = [&](TACSComponent*) { finished.Set(); };
        vorbis.OnThreadException = [&](TACSComponent*, const std::exception& e) {
            error = e.what();
            finished.Set();
        };
        vorbis.Start();
        EXPECT_TRUE(finished.WaitFor());
        vorbis.SuspendWorker();
        vorbis.SetInput(nullptr);
        return error;
    }

    // Decodes with oggdec into 16-bit WAV and returns its samples (after the 44-byte header).
    std::vector<int16_t> Oggdec(const std::string& ogg)
    {
        const std::string wav = ogg + ".dec.wav";
        EXPECT_EQ(Shell("oggdec -Q -b 16 -e 0 -s 1 -o " + wav + " " + ogg), 0);
        const std::vector<uint8_t> bytes = FileBytes(wav);
        return Samples16(std::vector<uint8_t>(bytes.begin() + std::min<std::size_t>(44, bytes.size()), bytes.end()));
    }

    static double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& test)
    {
        double signal = 0, noise = 0;
        const std::size_t n = std::min(reference.size(), test.size());
        for (std::size_t i = 0; i < n; ++i) {
            signal += double(reference[i]) * reference[i];
            noise += double(test[i] - reference[i]) * (test[i] - reference[i]);
        }
        return 10 * std::log10(signal / std::max(noise, 1.0));
    }
};

TEST_F(VorbisTest, AChordComesBackFromOggdec)
{
    struct Case {
        const char* format;
        int channels, rate;
    } cases[] = {{"-r 44100 -c 2 -b 16", 2, 44100}, {"-r 22050 -c 1 -b 16", 1, 22050}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        ASSERT_EQ(Shell(std::string("sox -n ") + c.format + " " + Path("chord.wav") +
                        " synth 3 sine 262 sine 330 sine 392 remix - vol 0.5"),
                  0);
        TVorbisOut vorbis;
        vorbis.Comments = {"ARTIST=The Sample Band", "TITLE=Chord"};
        ASSERT_EQ(Encode(vorbis, Path("chord.wav"), Path("chord.ogg")), "");
        EXPECT_TRUE(vorbis.Comments.empty()) << "comments are set again for every run";

        const std::string info = CommandOutput("ogginfo " + Path("chord.ogg") + " 2>&1");
        EXPECT_NE(info.find("Channels: " + std::to_string(c.channels)), std::string::npos) << info;
        EXPECT_NE(info.find("Rate: " + std::to_string(c.rate)), std::string::npos) << info;
        EXPECT_EQ(info.find("WARNING"), std::string::npos) << info;
        EXPECT_EQ(info.find("ERROR"), std::string::npos) << info;
        EXPECT_NE(info.find("ARTIST=The Sample Band"), std::string::npos) << info;

        const std::vector<uint8_t> wav = FileBytes(Path("chord.wav"));
        const std::vector<int16_t> original = Samples16(std::vector<uint8_t>(wav.begin() + 44, wav.end()));
        const std::vector<int16_t> decoded = Oggdec(Path("chord.ogg"));
        // Same length within one Vorbis block (2048 frames), and close to the chord: 31.6 dB
        // (stereo) and 34.0 dB (mono) measured at quality 0.2.
        EXPECT_LE(std::abs(static_cast<long>(decoded.size()) - static_cast<long>(original.size())), 2048 * c.channels);
        EXPECT_GT(SnrDb(original, decoded), 25.0);
    }
}

TEST_F(VorbisTest, AnEmptyInputGivesAValidStream)
{
    ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 " + Path("empty.wav") + " trim 0 0"), 0);
    TVorbisOut vorbis;
    ASSERT_EQ(Encode(vorbis, Path("empty.wav"), Path("empty.ogg")), "");
    const std::string info = CommandOutput("ogginfo " + Path("empty.ogg") + " 2>&1");
    EXPECT_EQ(info.find("ERROR"), std::string::npos) << info;
    EXPECT_EQ(info.find("WARNING"), std::string::npos) << info;
    EXPECT_NE(info.find("Logical stream 1 ended"), std::string::npos) << info;
}

TEST_F(VorbisTest, BitRateChoices)
{
    TVorbisOut v;
    v.SetDesiredMaximumBitrate(br320);
    EXPECT_EQ(v.DesiredMaximumBitrate(), brAutoSelect) << "no maximum without a nominal rate";
    v.SetMinimumBitrate(br64);
    EXPECT_EQ(v.MinimumBitrate(), brAutoSelect);
    v.SetDesiredNominalBitrate(br128);
    EXPECT_EQ(v.DesiredMaximumBitrate(), br128) << "the maximum follows the nominal rate up";
    v.SetDesiredMaximumBitrate(br96);
    EXPECT_EQ(v.DesiredMaximumBitrate(), br128) << "below the nominal rate";
    v.SetDesiredMaximumBitrate(br192);
    EXPECT_EQ(v.DesiredMaximumBitrate(), br192);
    v.SetMinimumBitrate(br64);
    EXPECT_EQ(v.MinimumBitrate(), br64);
    v.SetMinimumBitrate(br160);
    EXPECT_EQ(v.MinimumBitrate(), br64) << "above the nominal rate";
    v.SetDesiredNominalBitrate(br56);
    EXPECT_EQ(v.MinimumBitrate(), br56) << "the minimum follows the nominal rate down";
    v.SetDesiredNominalBitrate(brAutoSelect);
    EXPECT_EQ(v.DesiredMaximumBitrate(), brAutoSelect);
    EXPECT_EQ(v.MinimumBitrate(), brAutoSelect);
    // Every choice and its rate, in ordinal order.
    const std::pair<TVorbisBitRate, int32_t> rates[] = {
        {brAutoSelect, -1}, {br45, 45000},   {br48, 48000},   {br56, 56000},   {br64, 64000},   {br80, 80000},
        {br96, 96000},      {br112, 112000}, {br128, 128000}, {br144, 144000}, {br160, 160000}, {br192, 192000},
        {br224, 224000},    {br256, 256000}, {br320, 320000}, {br499, 499000}};
    for (std::size_t i = 0; i < std::size(rates); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(rates[i].first), i);
        EXPECT_EQ(VorbisBitRate(rates[i].first), rates[i].second) << "choice " << i;
    }
}

TEST_F(VorbisTest, ManagedModeAt128)
{
    ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 " + Path("t.wav") + " synth 1 sine 440 sine 660"), 0);
    TVorbisOut vorbis;
    vorbis.SetDesiredNominalBitrate(br128);
    ASSERT_EQ(Encode(vorbis, Path("t.wav"), Path("t.ogg")), "");
    // The identification header: "\x01vorbis", version, channels, rate, then the maximum,
    // nominal and minimum bit rates.
    const std::vector<uint8_t> ogg = FileBytes(Path("t.ogg"));
    const std::string text(ogg.begin(), ogg.end());
    const auto at = text.find("\x01vorbis");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(ogg[at + 11], 2);
    EXPECT_EQ(Get32(ogg, at + 12), 44100u);
    EXPECT_EQ(Get32(ogg, at + 16), 128000u);
    EXPECT_EQ(Get32(ogg, at + 20), 128000u);
    EXPECT_EQ(Get32(ogg, at + 24), 128000u);
}

TEST_F(VorbisTest, ASetUpTheEncoderRefusesEndsTheRunAndLeavesNoFile)
{
    ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 16 " + Path("low.wav") + " synth 0.5 sine 440"), 0);
    TVorbisOut vorbis;
    vorbis.SetDesiredNominalBitrate(br499);
    const std::string error = Encode(vorbis, Path("low.wav"), Path("low.ogg"));
    EXPECT_EQ(error, "The Ogg Vorbis encoder cannot encode 1 channel at 8000 Hz with bit rates 499000 / 499000 / "
                     "499000 bit/s (minimum / nominal / maximum)");
    EXPECT_FALSE(std::filesystem::exists(Path("low.ogg")));
    EXPECT_EQ(vorbis.State(), osIdle);
}

TEST_F(VorbisTest, EightBitInputSoundsLikeItsSixteenBitSelf)
{
    ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 " + Path("16.wav") + " synth 2 sine 300 sine 500 vol 0.5"), 0);
    ASSERT_EQ(Shell("sox " + Path("16.wav") + " -b 8 " + Path("8.wav")), 0);
    TVorbisOut vorbis;
    ASSERT_EQ(Encode(vorbis, Path("8.wav"), Path("8.ogg")), "");
    const std::vector<uint8_t> wav = FileBytes(Path("16.wav"));
    const std::vector<int16_t> original = Samples16(std::vector<uint8_t>(wav.begin() + 44, wav.end()));
    // 35.8 dB measured; 8-bit samples read as 16-bit would be noise.
    EXPECT_GT(SnrDb(original, Oggdec(Path("8.ogg"))), 25.0);
}

TEST_F(VorbisTest, MoreThanTwoChannelsAreRefused)
{
    // A plain PCM header (sox would write the extensible format for four channels).
    ASSERT_EQ(Shell("sox -n -r 44100 -c 4 -b 16 -t wavpcm " + Path("four.wav") + " synth 0.2 sine 300"), 0);
    TVorbisOut vorbis;
    EXPECT_EQ(Encode(vorbis, Path("four.wav"), Path("four.ogg")),
              "Cannot encode 4 channels into Ogg Vorbis: only mono and stereo");
    EXPECT_FALSE(std::filesystem::exists(Path("four.ogg")));
}

}  // namespace
