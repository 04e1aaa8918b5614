#include "ACS_Classes.h"
#include "ACS_Wave.h"

#include "AudioTestSupport.h"
#include "TestSupport.h"

#include <thread>

namespace {

// An output that records its steps: how many, with which Abort, whether one is running now.
class TStepOutput : public TACSOutput {
public:
    ~TStepOutput() override { DestroyWorker(); }

    std::atomic<int> Steps{0};
    std::atomic<bool> InStep{false};
    std::atomic<int> Closed{0};
    int ThrowAtStep = -1;
    TSignal AtFifthStep;
    TSignal EachStep;     // set after every pull
    TSignal AbortStep;    // set by every step made with Abort

    std::vector<bool> Aborts()
    {
        std::lock_guard lock(m_mutex);
        return m_aborts;
    }

    bool OutputStep(bool abort) override
    {
        InStep = true;
        {
            std::lock_guard lock(m_mutex);
            m_aborts.push_back(abort);
        }
        if (abort)
            AbortStep.Set();
        if (const auto ended = BeginStep(abort, false)) {
            InStep = false;
            return *ended;
        }
        char buffer[64];
        const int32_t n = PullInput(buffer, sizeof buffer);
        const int step = ++Steps;
        EachStep.Set();
        if (step == 5)
            AtFifthStep.Set();
        if (step == ThrowAtStep) {
            InStep = false;
            throw EACSException("step failed");
        }
        // Some work, so a caller can catch the worker in the middle of a step.
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
        while (std::chrono::steady_clock::now() < until) {
        }
        InStep = false;
        return n > 0;
    }
    void CloseOutput() override
    {
        ++Closed;
        m_input->CloseInput();
    }

protected:
    void OpenOutput() override { m_input->OpenInput(); }

private:
    std::mutex m_mutex;
    std::vector<bool> m_aborts;
};

TEST(FrameworkTest, StartRefusesWithoutInputAndWhileRunning)
{
    TStepOutput out;
    try {
        out.Start();
        FAIL();
    } catch (const EACSException& e) {
        EXPECT_STREQ(e.what(), "Input is not assigned");
    }
    TMemorySource endless;
    endless.Endless = true;
    endless.Announced = -1;
    out.SetInput(&endless);
    out.Start();
    EXPECT_EQ(out.State(), osWorking);
    try {
        out.Start();
        FAIL();
    } catch (const EACSException& e) {
        EXPECT_STREQ(e.what(), "Component is buisy");
    }
    EXPECT_EQ(out.ProgressPercent(), -1);
    out.SuspendWorker();
    EXPECT_FALSE(out.InStep) << "SuspendWorker returned while a step was running";
    EXPECT_EQ(out.State(), osSuspended);
    const std::size_t stepsSeen = out.Aborts().size();
    // Abandoning the run: close it; the worker stays parked and takes no further step, also
    // when the output is destroyed.
    out.CloseOutput();
    EXPECT_EQ(out.Aborts().size(), stepsSeen);
}

TEST(FrameworkTest, SwappingTheInputOfARunningOutputOpensTheNewAndClosesTheOld)
{
    TMemorySource first, second;
    first.Endless = second.Endless = true;
    first.Announced = second.Announced = -1;
    TStepOutput out;
    out.SetInput(&first);
    out.Start();
    ASSERT_TRUE(out.AtFifthStep.WaitFor());
    out.SetInput(&second);
    EXPECT_TRUE(second.Active);
    EXPECT_FALSE(first.Active);
    EXPECT_EQ(out.Input(), &second);
    // Pulls after the swap come from the new source: two more whole steps of 64 bytes each, and
    // not a byte more from the old one.
    const int64_t firstAtSwap = first.DeliveredBytes;
    ASSERT_TRUE(out.EachStep.WaitFor(out.Steps + 3));
    out.SuspendWorker();
    EXPECT_EQ(first.DeliveredBytes, firstAtSwap);
    EXPECT_GE(second.DeliveredBytes, 2 * 64);
    EXPECT_THROW(out.Start(), EACSException);  // still Running after a suspension
    EXPECT_EQ(out.Input(), &second);
}

TEST(FrameworkTest, DestroyingAWorkingOutputEndsWithAnAbortStep)
{
    TMemorySource endless;
    endless.Endless = true;
    endless.Announced = -1;
    {
        TStepOutput out;
        out.SetInput(&endless);
        out.Start();
        ASSERT_TRUE(out.AtFifthStep.WaitFor());
        out.OnDone = [](TACSComponent*) { ADD_FAILURE() << "no OnDone for a destroyed output"; };
    }  // returns after the worker's current step and its final one
    // The same stop, watched from outside: the worker finishes its step and makes the final
    // OutputStep(true), the only one with Abort.
    TStepOutput probe;
    probe.SetInput(&endless);
    probe.Start();
    ASSERT_TRUE(probe.AtFifthStep.WaitFor());
    probe.Worker().StopRequested = true;  // what the destructor does first
    ASSERT_TRUE(probe.AbortStep.WaitFor());
    const std::vector<bool> probed = probe.Aborts();
    ASSERT_FALSE(probed.empty());
    EXPECT_TRUE(probed.back());
    EXPECT_EQ(std::count(probed.begin(), probed.end(), true), 1);
}

TEST(FrameworkTest, AStepThatFailsEndsTheRunThroughTheErrorPath)
{
    TMemorySource endless;
    endless.Endless = true;
    endless.Announced = -1;
    TStepOutput out;
    out.ThrowAtStep = 3;
    out.SetInput(&endless);
    TSignal failed;
    std::string message;
    out.OnThreadException = [&](TACSComponent* sender, const std::exception& e) {
        EXPECT_EQ(sender, &out);
        message = e.what();
        failed.Set();
    };
    out.OnDone = [](TACSComponent*) { ADD_FAILURE() << "no OnDone after an error"; };
    out.Start();
    ASSERT_TRUE(failed.WaitFor());
    out.SuspendWorker();
    EXPECT_EQ(message, "step failed");
    EXPECT_EQ(out.Closed.load(), 1);
    EXPECT_FALSE(out.Running);
    EXPECT_FALSE(endless.Active);
    EXPECT_EQ(out.State(), osIdle);
}

class FrameworkFileTest : public TempDirTest {};

TEST_F(FrameworkFileTest, ASecondStartAfterOnDoneWritesANewFile)
{
    TMemorySource source;
    source.Bytes = std::vector<uint8_t>(40000, 7);
    source.Announced = 40000;
    source.Piece = 4000;
    TWaveOut out;
    out.SetInput(&source);
    TSignal done;
    std::vector<int> progress;
    std::mutex progressMutex;
    out.OnDone = [&](TACSComponent*) { done.Set(); };
    out.OnProgress = [&](TACSComponent* sender) {
        std::lock_guard lock(progressMutex);
        progress.push_back(static_cast<TACSOutput*>(sender)->LastProgress);
    };
    out.FileName = Path("one.wav");
    out.Start();
    ASSERT_TRUE(done.WaitFor(1));
    out.SuspendWorker();  // the worker has left the step that raised OnDone
    EXPECT_EQ(out.LastProgress, 100);
    {
        std::lock_guard lock(progressMutex);
        EXPECT_EQ(progress, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
        progress.clear();
    }
    out.FileName = Path("two.wav");
    out.Start();
    ASSERT_TRUE(done.WaitFor(2));
    out.SuspendWorker();
    EXPECT_EQ(FileBytes(Path("two.wav")), FileBytes(Path("one.wav")));
    std::lock_guard lock(progressMutex);
    // LastProgress still held 100: the new run reports its 0 first.
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0);
}

TEST_F(FrameworkFileTest, StartWithoutAFileNameReturnsAndStaysIdle)
{
    TMemorySource source;
    source.Bytes = std::vector<uint8_t>(100, 1);
    TWaveOut out;
    out.SetInput(&source);
    bool doneCalled = false;
    std::string error;
    out.OnDone = [&](TACSComponent*) { doneCalled = true; };
    out.OnThreadException = [&](TACSComponent*, const std::exception& e) { error = e.what(); };
    out.Start();
    EXPECT_EQ(out.State(), osIdle);
    EXPECT_FALSE(doneCalled);
    EXPECT_EQ(error, "File name is not assigned.");
    EXPECT_FALSE(source.Active);
}

TEST(FrameworkTest, ProgressAndInputReferences)
{
    TStepOutput out;
    EXPECT_EQ(out.ProgressPercent(), 0) << "no input";
    {
        TMemorySource source;
        source.Announced = 0;
        out.SetInput(&source);
        source.OpenInput();
        EXPECT_EQ(out.ProgressPercent(), 0);
        source.TotalBytes = 200;
        source.DeliveredBytes = 1;  // 0.5 %: halves go to even
        EXPECT_EQ(out.ProgressPercent(), 0);
        source.DeliveredBytes = 3;  // 1.5 %
        EXPECT_EQ(out.ProgressPercent(), 2);
    }
    EXPECT_EQ(out.Input(), nullptr) << "a destroyed source is forgotten";
}

}  // namespace
