#include "RecordForm.h"

#include "Global.h"
#include "ProgramFolder.h"
#include "TestSupport.h"

#include <QtTest/QTest>

#include <filesystem>

namespace {

// Sound for the tests: the output plays at once to its end when told; the input delivers what
// the test feeds it.
class TTestOutput final : public TSoundOutput {
public:
    void Start(const TPcmFormat&, int64_t total, TAudioReader, int64_t from, std::function<void()> onEnd) override
    {
        m_total = total - from;
        m_onEnd = std::move(onEnd);
    }
    void Pause() override {}
    void Resume() override {}
    void Stop() override { m_onEnd = nullptr; }
    int64_t Played() override { return m_played; }
    int64_t m_played = 0;

private:
    int64_t m_total = 0;
    std::function<void()> m_onEnd;
};

class TTestInput final : public TSoundInput {
public:
    void Start(const TPcmFormat& format, std::function<void(const uint8_t*, std::size_t)> onData) override
    {
        m_format = format;
        m_onData = std::move(onData);
    }
    void Stop() override { m_onData = nullptr; }
    // frames of the constant value (every byte of a frame the same)
    void Feed(int64_t frames, uint8_t value)
    {
        std::vector<uint8_t> bytes(static_cast<std::size_t>(frames * m_format.FrameBytes()), value);
        if (m_onData)
            m_onData(bytes.data(), bytes.size());
    }

private:
    TPcmFormat m_format;
    std::function<void(const uint8_t*, std::size_t)> m_onData;
};

TEST(RecorderTest, DurationTexts)
{
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0 Sec"},          {1500, "1.5 Sec"},     {12345, "12.3 Sec"}, {59999, "60 Sec"},
        {60000, "1 Min"},      {3600000, "1Hour"},    {3723000, "1Hour2 Min3 Sec"},
        {61000, "1 Min1 Sec"}, {3600999, "1Hour"},    {999, "0.999 Sec"},  {100, "0.1 Sec"},
    };
    for (const auto& [ms, text] : cases)
        EXPECT_EQ(FormatDuration(ms), text) << ms;
}

class RecorderModelTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        LoadSaveOptions(true);
        auto out = std::make_unique<TTestOutput>();
        auto in = std::make_unique<TTestInput>();
        input = in.get();
        recorder = std::make_unique<TRecorder>(dialogs, std::make_unique<TWaveAudio>(std::move(out), std::move(in)));
        recorder->Now = [this] { return now; };
        recorder->AskNewFile = [this](std::string& rate, int& bits, int& channels) {
            rate = newRate;
            bits = newBits;
            channels = newChannels;
            return true;
        };
        recorder->DriveOpen = [this] { return driveOpen; };
        recorder->RunMp3Job = [this](const std::string& wav) { jobs.push_back(wav); };
        recorder->OnCloseRequest = [this] { closeRequested = true; };
    }
    void TearDown() override
    {
        recorder.reset();
        TempDirTest::TearDown();
    }

    // A recording of frames frames of value, from the recorder's Record to its Stop.
    void RecordFrames(int64_t frames, uint8_t value)
    {
        recorder->Record();
        input->Feed(frames, value);
        recorder->Stop();
        if (recorder->StopPending())
            recorder->FinishStop();
    }

    // A 16-bit stereo WAV file with n frames whose bytes are all value.
    void WriteWav(const std::string& name, int64_t frames, uint8_t value)
    {
        const TPcmFormat f{2, 16, 44100};
        const std::vector<uint8_t> h = PcmWavHeader(f, static_cast<uint32_t>(frames * 4));
        WriteFile(name, std::string(h.begin(), h.end()) + std::string(static_cast<std::size_t>(frames * 4), static_cast<char>(value)));
    }

    ScriptedDialogs dialogs;
    TTestInput* input = nullptr;
    std::unique_ptr<TRecorder> recorder;
    TRecorder::Clock::time_point now{};
    std::string newRate = "44100";
    int newBits = 16, newChannels = 2;
    bool driveOpen = true, closeRequested = false;
    std::vector<std::string> jobs;
};

// Stop after a display at 5.35 s waits 0.65 s (the recording goes on meanwhile); at 5.05 s it
// stops at once.
TEST_F(RecorderModelTest, StopWaitsForTheDisplaysSecond)
{
    recorder->New();
    ASSERT_EQ(recorder->Enabled, std::set<TRecorder::TButton>{TRecorder::btRecord});
    EXPECT_EQ(recorder->Caption, "Record(NoName)");
    for (const auto& [shown, waits] : {std::pair{5350, true}, std::pair{5050, false}}) {
        SCOPED_TRACE(shown);
        const auto start = now;
        recorder->Record();
        EXPECT_EQ(recorder->State, "Recording...");
        now = start + std::chrono::milliseconds(shown);
        recorder->TimerRecordTimer();
        EXPECT_EQ(recorder->RecordTime, shown == 5350 ? "00:00:05.3" : "00:00:05.0");
        recorder->Stop();
        EXPECT_EQ(recorder->StopPending(), waits);
        if (waits) {
            EXPECT_EQ(recorder->Device().Mode(), TWaveAudio::mpRecording) << "recording goes on until the second";
            now = start + std::chrono::milliseconds(6000);
            recorder->FinishStop();
            EXPECT_EQ(recorder->RecordTime, "00:00:06.0");
        }
        EXPECT_EQ(recorder->State, "Record over!");
        EXPECT_EQ(recorder->Slider, 400);
    }
}

// Record, Stop, Record appends; after Previous a recording begins at the start.
TEST_F(RecorderModelTest, RecordingsAppendOrStartAtTheBeginning)
{
    recorder->New();
    RecordFrames(100, 1);
    RecordFrames(50, 2);
    std::vector<uint8_t> data = recorder->Device().Data();
    ASSERT_EQ(data.size(), 150u * 4);
    EXPECT_EQ(data[0], 1);
    EXPECT_EQ(data[100 * 4], 2);
    recorder->Previous();
    RecordFrames(10, 3);
    data = recorder->Device().Data();
    ASSERT_EQ(data.size(), 160u * 4);
    EXPECT_EQ(data[0], 3);
    EXPECT_EQ(data[10 * 4], 1);
    EXPECT_TRUE(recorder->Modified);
    EXPECT_FALSE(recorder->UndoEnabled()) << "a new recording cannot be undone";
}

// On an opened file, Record with the slider at 200 inserts in the middle: the first half, the
// new part, the second half.
TEST_F(RecorderModelTest, RecordingIntoTheMiddleOfAnOpenedFileInserts)
{
    WriteWav("song.wav", 44100, 7);  // 1 s
    dialogs.openFiles = {{QString::fromStdString(Path("song.wav"))}};
    recorder->Open();
    ASSERT_EQ(recorder->CurrentFile, Path("song.wav"));
    EXPECT_EQ(recorder->LengthText, "1 Sec");
    EXPECT_TRUE(recorder->SaveEnabled());
    recorder->SliderChanged(200);
    EXPECT_EQ(recorder->PositionText, "0.5 Sec");
    recorder->Record();
    EXPECT_FALSE(recorder->UndoEnabled()) << "not while recording";
    input->Feed(441, 9);
    recorder->Stop();
    if (recorder->StopPending())
        recorder->FinishStop();
    const std::vector<uint8_t> data = recorder->Device().Data();
    ASSERT_EQ(data.size(), (44100u + 441) * 4);
    EXPECT_EQ(data[22050 * 4 - 1], 7);
    EXPECT_EQ(data[22050 * 4], 9);
    EXPECT_EQ(data[(22050 + 441) * 4 - 1], 9);
    EXPECT_EQ(data[(22050 + 441) * 4], 7);
    EXPECT_TRUE(recorder->UndoEnabled());

    // Undo brings the file as saved back.
    dialogs.answers = {Dialogs::Answer::Yes};
    recorder->Undo();
    EXPECT_EQ(recorder->Device().Data().size(), 44100u * 4);

    // Save of an opened unchanged file does nothing; with a change it writes the file.
    recorder->Modified = false;
    const auto before = std::filesystem::last_write_time(Path("song.wav"));
    EXPECT_TRUE(recorder->SaveWork(false));
    EXPECT_EQ(std::filesystem::last_write_time(Path("song.wav")), before);
    EXPECT_TRUE(dialogs.Texts().size() == 1);
}

// New, a recording of 3 s of tone, saved under a name (asked even without a change), read back
// by soxi as chosen in the new-file dialog; Open of the current file does nothing; a missing
// file brings the dialog back after the warning.
TEST_F(RecorderModelTest, SavingANewRecordingAsksForAName)
{
    newRate = "  8000";
    newBits = 8;
    newChannels = 1;
    recorder->New();
    RecordFrames(3 * 8000, 128);
    dialogs.saveFiles = {QString::fromStdString(Path("take.txt")), QString::fromStdString(Path("take.wav"))};
    EXPECT_FALSE(recorder->SaveWork(false));
    EXPECT_EQ(dialogs.Texts().back(), "The save file should be WAV!");
    EXPECT_TRUE(recorder->SaveWork(false));
    EXPECT_EQ(recorder->CurrentFile, Path("take.wav"));
    EXPECT_EQ(recorder->Caption, "Record(" + Path("take.wav") + ")");
    EXPECT_EQ(CommandOutput("soxi -r '" + Path("take.wav") + "'"), "8000\n");
    EXPECT_EQ(CommandOutput("soxi -c '" + Path("take.wav") + "'"), "1\n");
    EXPECT_EQ(CommandOutput("soxi -b '" + Path("take.wav") + "'"), "8\n");
    EXPECT_EQ(CommandOutput("soxi -s '" + Path("take.wav") + "'"), "24000\n");
    EXPECT_FALSE(std::filesystem::exists(Path("MyNoName.wav")));

    dialogs.shown.clear();
    dialogs.openFiles = {{QString::fromStdString(Path("take.wav"))}};
    recorder->Open();
    EXPECT_TRUE(dialogs.shown.empty());
    dialogs.openFiles = {{QString::fromStdString(Path("gone.wav"))}, {}};
    recorder->Open();
    EXPECT_EQ(dialogs.Texts(), QStringList{QString::fromStdString(Path("gone.wav")) +
                                           "\nCould not be found\uFF01\nPlease check the filename correct or not"});
    EXPECT_EQ(recorder->CurrentFile, Path("take.wav"));
}

// A file the device cannot use: said, and the recorder stays usable.
TEST_F(RecorderModelTest, AFileTheDeviceCannotUse)
{
    WriteFile("lies.wav", std::string("RIFF\x24\x10\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xAC\0\0\x10\xB1\x02\0\x04\0\x10\0data\0\x10\0\0", 44));
    dialogs.openFiles = {{QString::fromStdString(Path("lies.wav"))}};
    recorder->Open();
    EXPECT_EQ(dialogs.Texts(), QStringList{"Error while initializing MCI device!"});
    EXPECT_TRUE(recorder->CurrentFile.empty());
    EXPECT_TRUE(recorder->Enabled.empty());
    recorder->New();
    EXPECT_EQ(recorder->Enabled, std::set<TRecorder::TButton>{TRecorder::btRecord});
}

// The MP3 copy: without a drive the WAV is saved, the box shown and the recorder closes; with
// one the job runs, and a second save runs it again without asking.
TEST_F(RecorderModelTest, TheMp3Copy)
{
    recorder->SaveMp3 = true;
    driveOpen = false;
    recorder->New();
    RecordFrames(4410, 1);
    dialogs.saveFiles = {QString::fromStdString(Path("a.wav"))};
    EXPECT_TRUE(recorder->SaveWork(false));
    EXPECT_TRUE(std::filesystem::exists(Path("a.wav")));
    EXPECT_EQ(dialogs.Texts(), QStringList{"Please access CD devices rightly above all!"});
    EXPECT_TRUE(closeRequested);
    EXPECT_TRUE(jobs.empty());

    driveOpen = true;
    WriteFile("a.mp3", "old");
    dialogs.answers = {Dialogs::Answer::Yes};
    recorder->Modified = true;
    EXPECT_TRUE(recorder->SaveWork(false));
    recorder->Modified = true;
    EXPECT_TRUE(recorder->SaveWork(false));
    EXPECT_EQ(jobs, (std::vector<std::string>{Path("a.wav"), Path("a.wav")}));
    EXPECT_EQ(Options.CommonOptions.OutputFormat, 0);
}

// Closing with a modified file: Cancel keeps the window and the recording.
TEST_F(RecorderModelTest, CancelOnCloseKeepsTheRecording)
{
    WriteWav("song.wav", 4410, 7);
    dialogs.openFiles = {{QString::fromStdString(Path("song.wav"))}};
    recorder->Open();
    RecordFrames(441, 9);
    dialogs.answers = {Dialogs::Answer::Cancel};
    EXPECT_FALSE(recorder->Close());
    EXPECT_TRUE(std::filesystem::exists(recorder->TempFile));
    EXPECT_EQ(recorder->Device().Data().size(), (4410u + 441) * 4);
    dialogs.answers = {Dialogs::Answer::Yes};
    EXPECT_TRUE(recorder->Close());
    EXPECT_FALSE(std::filesystem::exists(recorder->TempFile));
    EXPECT_EQ(std::filesystem::file_size(Path("song.wav")), 44u + (4410 + 441) * 4);
}

// Save As on an opened file with an unsaved recording writes the file as last saved, then
// reloads the working copy from the new file; Modified stays as it was.
TEST_F(RecorderModelTest, SaveAsWritesTheFileAsLastSaved)
{
    WriteWav("song.wav", 4410, 7);
    dialogs.openFiles = {{QString::fromStdString(Path("song.wav"))}};
    recorder->Open();
    RecordFrames(441, 9);
    ASSERT_TRUE(recorder->Modified);
    dialogs.saveFiles = {QString::fromStdString(Path("copy.wav"))};
    recorder->SaveAs();
    EXPECT_EQ(std::filesystem::file_size(Path("copy.wav")), 44u + 4410 * 4) << "the file as last saved";
    EXPECT_EQ(recorder->CurrentFile, Path("copy.wav"));
    EXPECT_EQ(recorder->Device().Data().size(), 4410u * 4) << "the working copy reloaded from it";
    EXPECT_TRUE(recorder->Modified);
    EXPECT_EQ(recorder->Enabled, (std::set<TRecorder::TButton>{TRecorder::btPlay, TRecorder::btNext, TRecorder::btRecord}));
}

// The Position and Length boxes follow playback and recording; Pause holds the playback
// estimate (the slider stays) and a second Pause goes on; a length that is not whole seconds
// shows its hundredths ("1.01 Sec").
TEST_F(RecorderModelTest, PositionAndLengthFollowPlaybackAndRecording)
{
    recorder->New();
    const auto start = now;
    recorder->Record();
    now = start + std::chrono::milliseconds(1500);
    recorder->TimerRecordTimer();
    EXPECT_EQ(recorder->LengthText, "1.5 Sec");
    EXPECT_EQ(recorder->PositionText, "1.5 Sec");
    input->Feed(44541, 1);  // 1.01 s through the wave device
    now = start + std::chrono::milliseconds(2000);
    recorder->Stop();
    if (recorder->StopPending())
        recorder->FinishStop();
    EXPECT_EQ(recorder->LengthText, "1.01 Sec");

    recorder->Previous();
    recorder->Play();
    EXPECT_TRUE(recorder->Timer1.isActive());
    recorder->Timer1Timer();
    EXPECT_EQ(recorder->PositionText, "0.5 Sec");
    const int slider = recorder->Slider;
    EXPECT_EQ(slider, 500 * 400 / 1010);
    recorder->Pause();
    EXPECT_FALSE(recorder->Timer1.isActive()) << "paused: the estimate holds";
    EXPECT_EQ(recorder->State, "Playing...");
    recorder->Pause();  // resumes
    EXPECT_TRUE(recorder->Timer1.isActive());
    recorder->Timer1Timer();
    EXPECT_EQ(recorder->PositionText, "1 Sec");
    recorder->Timer1Timer();
    EXPECT_EQ(recorder->PositionText, "1.01 Sec") << "never beyond the length";
    EXPECT_EQ(recorder->Slider, 400);
    EXPECT_FALSE(recorder->Timer1.isActive());
}

// Save As "take1" saves take1.wav; the save and open dialogs have their titles, start in the
// program's folder and add ".wav" to a name typed without an extension.
TEST_F(RecorderModelTest, SaveAsWithoutAnExtensionSavesAWav)
{
    recorder->New();
    RecordFrames(441, 9);
    dialogs.saveFiles = {QString::fromStdString(Path("take1"))};
    recorder->SaveAs();
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join("|").toStdString();
    EXPECT_EQ(recorder->CurrentFile, Path("take1.wav"));
    EXPECT_EQ(CommandOutput("soxi -s '" + Path("take1.wav") + "'"), "441\n");
    dialogs.openFiles = {{}};
    dialogs.answers = {Dialogs::Answer::No};  // the unsaved recording: not saved again
    recorder->Open();
    ASSERT_EQ(dialogs.fileDialogs.size(), 2u);
    EXPECT_EQ(dialogs.fileDialogs[0].Title, "Save the sound file as");
    EXPECT_EQ(dialogs.fileDialogs[1].Title, "Please select a sound file to open");
    for (const Dialogs::FileDialogSetup& setup : dialogs.fileDialogs) {
        EXPECT_EQ(setup.DefaultSuffix, "wav");
        EXPECT_EQ(setup.Folder.toStdString(), ProgramFolder());
    }
}

}  // namespace
