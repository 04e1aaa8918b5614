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

}  // namespace
