#include "OutputEncoders.h"

#include "JobMessages.h"
#include "WavHeader.h"

#include "MessageRecorder.h"
#include "TestSupport.h"

#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

class OutputEncodersTest : public TempDirTest {
protected:
    // A WAV file whose header declares `declared` bytes of audio and which holds `held` of them.
    void WriteWav(const std::string& name, uint64_t declared, uint64_t held, uint32_t rate)
    {
        const TWavHeader h = CanonicalWavHeader(declared, 2, rate);
        WriteFile(name, std::string(h.begin(), h.end()) + std::string(held, '\x11'));
    }
};

bool Ended(const std::vector<TMessageRecorder::Record>& records)
{
    return !records.empty() && records.back().Msg == WM_ENCODEREND;
}

// The input is cut to 100 000 bytes while the resampler runs: the reader has 1 MiB of it in hand,
// then finds the file ended 4 MiB early. The job hears one end, on its own thread: failed, with
// the reader's text, and the output marked as no whole file.
TEST_F(OutputEncodersTest, AnInputCutShortMidRunEndsTheRunAsFailed)
{
    const uint64_t dataBytes = 4 << 20;
    WriteWav("in.wav", dataBytes, dataBytes, 22050);
    TResampler resampler;
    std::atomic<bool> cut{false};
    const auto progress = resampler.AudioOutput().OnProgress;
    resampler.AudioOutput().OnProgress = [&, progress](TACSComponent* sender) {
        if (!cut.exchange(true)) {
            EXPECT_EQ(truncate(Path("in.wav").c_str(), 100000), 0);
        }
        progress(sender);
    };
    TMessageRecorder job;
    resampler.Start(Path("in.wav"), Path("out.wav"), job.Handle());
    ASSERT_TRUE(job.WaitUntil(Ended));
    job.Drain();

    const TMessageRecorder::Record& end = job.Last();
    EXPECT_EQ(end.End, TEncoderEnd::Failed);
    EXPECT_EQ(end.EndText, "Cannot read " + Path("in.wav") + ": the file was cut short while it was read (1048576 of " +
                               std::to_string(44 + dataBytes) + " bytes read)");
    EXPECT_TRUE(end.Partial);
    EXPECT_EQ(end.HandledOn, std::this_thread::get_id());
    EXPECT_EQ(std::count_if(job.Records().begin(), job.Records().end(), [](const auto& r) { return r.HasEnd; }), 1);
    EXPECT_FALSE(resampler.Stop()) << "a run that ended by itself was not cut short";
}

// A file that was short from the start is not an error: it delivers what it has, at 44100 Hz.
TEST_F(OutputEncodersTest, AFileShortFromTheStartDeliversWhatItHas)
{
    WriteWav("short.wav", 1 << 20, 4000, 44100);
    TResampler resampler;
    TMessageRecorder job;
    resampler.Start(Path("short.wav"), Path("out.wav"), job.Handle());
    ASSERT_TRUE(job.WaitUntil(Ended));
    job.Drain();
    EXPECT_EQ(job.Last().End, TEncoderEnd::Done);
    EXPECT_FALSE(job.Last().Partial);
    EXPECT_EQ(resampler.Output(), Path("out.wav"));
    const std::string out = ReadFile("out.wav");
    ASSERT_GT(out.size(), 44u);
    EXPECT_EQ(out.substr(24, 4), std::string("\x44\xAC\x00\x00", 4)) << "44100 Hz";
}

// Stop mid-run: true (the file is cut short), and true again for the same run (the job asks once
// at Stop and once when it ends); no end follows. The next run starts afresh.
TEST_F(OutputEncodersTest, StopTellsACutRunAndReportsNoEnd)
{
    WriteWav("long.wav", 40 << 20, 40 << 20, 44100);
    TOggEncoder ogg(TOggOptions{});
    TMessageRecorder job;
    ogg.Start(Path("long.wav"), Path("long.ogg"), job.Handle());
    ASSERT_TRUE(job.WaitUntil([](const auto& records) { return !records.empty(); }));
    EXPECT_TRUE(ogg.Stop());
    EXPECT_TRUE(ogg.Stop());
    job.Clear();
    EXPECT_FALSE(Ended(job.Records()));

    WriteWav("short.wav", 8000, 8000, 44100);
    ogg.Start(Path("short.wav"), Path("short.ogg"), job.Handle());
    ASSERT_TRUE(job.WaitUntil(Ended));
    EXPECT_EQ(job.Last().End, TEncoderEnd::Done);
    EXPECT_FALSE(ogg.Stop());
}

// FLAC both ways in the process: a WAV encoded and decoded again holds the same samples, for each
// level's end and for 8-bit mono; the FLAC file passes the reference decoder's test.
TEST_F(OutputEncodersTest, FlacRoundTripsEveryByte)
{
    const struct {
        int level, channels, bits;
    } cases[] = {{0, 2, 16}, {8, 2, 16}, {5, 1, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        const std::string in = Path("in.wav");
        ASSERT_EQ(std::system(("sox -n -r 44100 -c " + std::to_string(c.channels) + " -b " + std::to_string(c.bits) +
                               " -t wav '" + in + "' synth 1.3 sine 440 sine 660 vol 0.7")
                                  .c_str()),
                  0);
        TMessageRecorder job;
        TFlacEncoder flac(TFlacOptions{c.level});
        flac.Start(in, Path("out.flac"), job.Handle());
        ASSERT_TRUE(job.WaitUntil(Ended));
        ASSERT_EQ(job.Last().End, TEncoderEnd::Done) << job.Last().EndText;
        EXPECT_EQ(std::system(("flac -s -t '" + Path("out.flac") + "'").c_str()), 0);

        job.Clear();
        TFlacDecoder decoder;
        decoder.Start(Path("out.flac"), Path("back.wav"), job.Handle());
        ASSERT_TRUE(job.WaitUntil(Ended));
        ASSERT_EQ(job.Last().End, TEncoderEnd::Done) << job.Last().EndText;
        const std::string original = ReadFile("in.wav"), back = ReadFile("back.wav");
        ASSERT_GT(back.size(), 44u);
        EXPECT_EQ(back.size(), original.size());
        EXPECT_TRUE(back.substr(44) == original.substr(original.size() - (back.size() - 44))) << "the samples";
    }
}

// A FLAC file that fails its decoding ends the run as failed, saying why, with the WAV marked as
// no whole file: a flipped byte in the audio, a file cut short, a file that is no FLAC.
TEST_F(OutputEncodersTest, AFlacThatFailsItsDecodingIsSaidSo)
{
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 -b 16 '" + Path("in.flac") + "' synth 2 sine 440").c_str()), 0);
    std::string flac = ReadFile("in.flac");
    std::string flipped = flac;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x5A);
    const struct {
        const char* name;
        std::string bytes;
        const char* says;
    } cases[] = {{"flipped.flac", flipped, "Cannot decode"},
                 {"cut.flac", flac.substr(0, flac.size() / 2), "Cannot decode"},
                 {"text.flac", "not a flac file at all\n", "it is not a FLAC file"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(c.name, c.bytes);
        TMessageRecorder job;
        TFlacDecoder decoder;
        decoder.Start(Path(c.name), Path("out.wav"), job.Handle());
        ASSERT_TRUE(job.WaitUntil(Ended));
        EXPECT_EQ(job.Last().End, TEncoderEnd::Failed);
        EXPECT_TRUE(job.Last().Partial);
        EXPECT_NE(job.Last().EndText.find(c.says), std::string::npos) << job.Last().EndText;
        EXPECT_NE(job.Last().EndText.find(Path(c.name)), std::string::npos) << job.Last().EndText;
    }
}

// The length an Ogg Opus file plays, in 48 kHz samples: the last page's granule position less the
// pre-skip the header declares. -1 when the file holds no such pages.
int64_t OpusPlayedSamples(const std::string& file)
{
    const std::size_t head = file.find("OpusHead"), last = file.rfind("OggS");
    if (head == std::string::npos || last == std::string::npos || last + 14 > file.size() || head + 12 > file.size())
        return -1;
    const auto byte = [&](std::size_t at) { return static_cast<uint64_t>(static_cast<unsigned char>(file[at])); };
    uint64_t granule = 0;
    for (int i = 7; i >= 0; --i)
        granule = granule << 8 | byte(last + 6 + static_cast<std::size_t>(i));
    const uint64_t preSkip = byte(head + 10) | byte(head + 11) << 8;
    return static_cast<int64_t>(granule - preSkip);
}

// Opus plays exactly as long as the WAV it came from, whatever its channels and sample size:
// 1.3 s at 44100 Hz is 62400 samples at 48 kHz (a frame count taken as if every file were stereo
// would halve a mono file).
TEST_F(OutputEncodersTest, OpusKeepsTheLengthOfEveryLayout)
{
    const struct {
        int channels, bits;
    } cases[] = {{1, 16}, {2, 16}, {1, 8}, {2, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels, " + std::to_string(c.bits) + " bits");
        const std::string in = Path("in.wav");
        ASSERT_EQ(std::system(("sox -n -r 44100 -c " + std::to_string(c.channels) + " -b " + std::to_string(c.bits) +
                               " -t wav '" + in + "' synth 1.3 sine 440 vol 0.5")
                                  .c_str()),
                  0);
        TMessageRecorder job;
        TOpusEncoder opus(TOpusOptions{});
        opus.Start(in, Path("out.opus"), job.Handle());
        ASSERT_TRUE(job.WaitUntil(Ended));
        ASSERT_EQ(job.Last().End, TEncoderEnd::Done) << job.Last().EndText;
        EXPECT_EQ(OpusPlayedSamples(ReadFile("out.opus")), 62400);
    }
}

}  // namespace
