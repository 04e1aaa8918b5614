#include "OutputEvents.h"

#include "ACS_Wave.h"
#include "JobMessages.h"
#include "WavHeader.h"

#include "MessageRecorder.h"
#include "TestSupport.h"

#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

using OutputEventsTest = TempDirTest;

// The input is cut to 100 000 bytes while a copy of it runs: the reader has 1 MiB of it in hand,
// then finds the file ended 4 MiB early. The owner hears one WM_OUTPUTERROR with the reader's
// text, on its own thread, and no end of the run.
TEST_F(OutputEventsTest, AnInputCutShortMidRunReachesTheOwnerAsOneErrorMessage)
{
    const uint64_t dataBytes = 4 << 20;
    const TWavHeader h = CanonicalWavHeader(dataBytes);
    WriteFile("in.wav", std::string(h.begin(), h.end()) + std::string(dataBytes, '\x11'));

    TWaveIn in;
    in.FileName = Path("in.wav");
    TWaveOut out;
    out.SetInput(&in);
    out.FileName = Path("out.wav");
    TMessageRecorder owner;
    PostErrorsTo(out, owner.Handle());
    std::atomic<int> done{0};
    std::atomic<bool> cut{false};
    out.OnDone = [&](TACSComponent*) { ++done; };
    out.OnProgress = [&](TACSComponent*) {
        if (!cut.exchange(true)) {
            EXPECT_EQ(truncate(Path("in.wav").c_str(), 100000), 0);
        }
    };
    out.Start();
    ASSERT_TRUE(owner.WaitUntil([](const auto& records) { return !records.empty(); }));
    EXPECT_EQ(out.State(), osIdle) << "the run has ended before the error is told";
    owner.Drain();

    ASSERT_EQ(owner.Records().size(), 1u);
    const TMessageRecorder::Record& error = owner.Records()[0];
    EXPECT_EQ(error.Msg, WM_OUTPUTERROR);
    EXPECT_EQ(error.ErrorText, "Cannot read " + Path("in.wav") + ": the file was cut short while it was read (1048576 of " +
                                   std::to_string(44 + dataBytes) + " bytes read)");
    EXPECT_EQ(error.HandledOn, std::this_thread::get_id());
    EXPECT_EQ(done, 0);
    EXPECT_TRUE(cut);
}

// A file that was short from the start is not an error: it delivers what it has.
TEST_F(OutputEventsTest, AFileShortFromTheStartDeliversWhatItHas)
{
    const TWavHeader h = CanonicalWavHeader(1 << 20);
    WriteFile("short.wav", std::string(h.begin(), h.end()) + std::string(1000, '\x22'));
    TWaveIn in;
    in.FileName = Path("short.wav");
    TWaveOut out;
    out.SetInput(&in);
    out.FileName = Path("out.wav");
    TMessageRecorder owner;
    PostErrorsTo(out, owner.Handle());
    constexpr UINT Done = WM_USER + 1;
    out.OnDone = [&](TACSComponent*) { PostMessage(owner.Handle(), Done, 0, 0); };
    out.Start();
    ASSERT_TRUE(owner.WaitUntil([](const auto& records) { return !records.empty(); }));
    owner.Drain();
    ASSERT_EQ(owner.Records().size(), 1u);
    EXPECT_EQ(owner.Records()[0].Msg, Done);
    EXPECT_EQ(ReadFile("out.wav").size(), 44u + 1000);
}

}  // namespace
