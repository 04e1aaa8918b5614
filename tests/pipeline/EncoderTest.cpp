#include "Mp3EncodeThread.h"
#include "WMAEncodeThread.h"

#include "Global.h"
#include "MessageRecorder.h"
#include "ProgramFolder.h"
#include "TestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

int OpenFds()
{
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

bool ProcessGone(pid_t pid)
{
    // A zombie still has its /proc entry; a reaped child has none.
    return pid > 0 && !std::filesystem::exists("/proc/" + std::to_string(pid));
}

class EncoderTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        LoadSaveOptions(true);
        baselineFds = OpenFds();
    }

    bool WaitForCode(int32_t code)
    {
        return window.WaitUntil([code](const std::vector<TMessageRecorder::Record>& r) {
            for (const auto& record : r)
                if (record.Code == code)
                    return true;
            return false;
        });
    }

    void ExpectNoChildOrPipeLeft(pid_t pid)
    {
        EXPECT_TRUE(ProcessGone(pid)) << "the child " << pid << " was not reaped";
        EXPECT_EQ(OpenFds(), baselineFds) << "a pipe was left open";
    }

    ScriptedDialogs dialogs;
    TMessageRecorder window;
    int baselineFds = 0;
};

TEST_F(EncoderTest, CommandLinesFromTheRunsSettings)
{
    TMp3EncodeProcess mp3(dialogs);
    mp3.InputFile = "/in dir/x.wav";
    mp3.OutputFile = "/Out/x \"1\".mp3";
    struct Case {
        const char* name;
        std::function<void(TMp3Options&)> set;
        std::vector<std::string> argv;
    } cases[] = {
        {"defaults", [](TMp3Options&) {}, {"lame", "-b", "128", "-m", "j", "/in dir/x.wav", "/Out/x \"1\".mp3"}},
        {"VBR, mono, higher quality, no VBR header",
         [](TMp3Options& o) {
             o.IsSelectVBR = true;
             o.VBRQuality = 2;
             o.MaxBitRate = 256;
             o.IsVBRHead = true;
             o.StereoMode = 4;
             o.MpegQuality = 2;
         },
         {"lame", "-b", "128", "-m", "m", "-h", "-V", "2", "-B", "256", "-t", "/in dir/x.wav", "/Out/x \"1\".mp3"}},
        {"no VBR header without VBR", [](TMp3Options& o) { o.IsVBRHead = true; },
         {"lame", "-b", "128", "-m", "j", "/in dir/x.wav", "/Out/x \"1\".mp3"}},
        {"faster, stereo mode out of range",
         [](TMp3Options& o) {
             o.MpegQuality = 1;
             o.StereoMode = 9;
             o.BitRate = 320;
         },
         {"lame", "-b", "320", "-f", "/in dir/x.wav", "/Out/x \"1\".mp3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mp3.Mp3 = TMp3Options{false, false, 128, 320, 0, 4, 1};
        c.set(mp3.Mp3);
        EXPECT_EQ(mp3.Arguments(), c.argv);
    }
    // Each stereo mode its own letter; the values either side of 0..4 give none.
    const std::pair<int32_t, std::vector<std::string>> modes[] = {
        {-1, {}}, {0, {"-m", "s"}}, {1, {"-m", "j"}}, {2, {"-m", "f"}}, {3, {"-m", "d"}}, {4, {"-m", "m"}}, {5, {}}};
    for (const auto& [mode, letters] : modes) {
        mp3.Mp3 = TMp3Options{false, false, 128, 320, 0, 4, mode};
        std::vector<std::string> argv{"lame", "-b", "128"};
        argv.insert(argv.end(), letters.begin(), letters.end());
        argv.insert(argv.end(), {"/in dir/x.wav", "/Out/x \"1\".mp3"});
        EXPECT_EQ(mp3.Arguments(), argv) << "stereo mode " << mode;
    }
    mp3.EncodeMode = false;
    EXPECT_EQ(mp3.Arguments(), (std::vector<std::string>{"lame", "--decode", "/in dir/x.wav", "/Out/x \"1\".mp3"}));
    EXPECT_EQ(JoinCommandLine({"lame", "-b", "128", "a b.wav", "c.mp3"}, {false, false, false, true, true}),
              "lame -b 128 \"a b.wav\" \"c.mp3\"");

    TWMAEncodeProcess wma(dialogs);
    wma.InputFile = "in.wav";
    wma.OutputFile = "out.wma";
    Options.WMAOptions.BitRate = 40;
    wma.Wma.BitRate = 40;
    wma.Artist = "The Sample Band";
    wma.Comment = "a comment";
    wma.UseID3 = false;
    EXPECT_EQ(wma.Arguments("/w/WM8EUTIL"),
              (std::vector<std::string>{"/w/WM8EUTIL", "-input", "in.wav", "-output", "out.wma", "-a_setting", "64_44_2"}));
    EXPECT_EQ(Options.WMAOptions.BitRate, 8) << "an index outside the profiles is reset in the options";
    wma.UseID3 = true;
    wma.Wma.BitRate = 24;
    EXPECT_EQ(wma.Arguments("/w/WM8EUTIL"),
              (std::vector<std::string>{"/w/WM8EUTIL", "-input", "in.wav", "-output", "out.wma", "-a_setting", "16_16_1",
                                        "-author", "The Sample Band", "-description", "a comment"}));
    wma.Artist.clear();
    EXPECT_EQ(wma.Arguments("w").size(), 9u) << "an empty artist is left out";
}

TEST_F(EncoderTest, TheRealLameEncodesAndDecodesWithProgress)
{
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 -b 16 " + Path("in.wav") + " synth 2 sine 440 sine 660").c_str()), 0);
    TMp3EncodeProcess mp3(dialogs);
    mp3.NotifyWindow = window.Handle();
    mp3.InputFile = Path("in.wav");
    mp3.OutputFile = Path("out.mp3");
    mp3.JobKind = jkWavToMp3;
    mp3.Engaged = true;
    mp3.StartProcess();
    const pid_t pid = mp3.ChildPid();
    ASSERT_TRUE(WaitForCode(2000));
    const std::vector<int32_t> codes = window.Codes();
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes.back(), 2000);
    EXPECT_EQ(window.Last().Status, 2);
    for (std::size_t i = 0; i + 1 < codes.size(); ++i)
        EXPECT_TRUE(codes[i] >= 1 && codes[i] <= 100) << codes[i];
    EXPECT_EQ(codes[codes.size() - 2], 100);
    EXPECT_TRUE(mp3.Engaged) << "a run that ended by itself stays engaged";
    ExpectNoChildOrPipeLeft(pid);
    mp3.KillProcess(0);
    EXPECT_FALSE(mp3.Engaged);
    // ffmpeg decodes what lame wrote to the input's length within one frame.
    const std::string samples = CommandOutput("ffprobe -v error -select_streams a -show_entries stream=duration_ts,sample_rate "
                                       "-of csv=p=0 " + Path("out.mp3") + " 2>&1");
    const std::string decoded = CommandOutput("ffmpeg -v error -i " + Path("out.mp3") + " -f s16le - | wc -c" + " 2>&1");
    EXPECT_NEAR(std::stol(decoded) / 4.0, 88200, 1152) << samples;

    // And back: MP3 to WAV.
    window.Drain();
    const std::size_t before = window.Codes().size();
    mp3.EncodeMode = false;
    mp3.InputFile = Path("out.mp3");
    mp3.OutputFile = Path("back.wav");
    mp3.JobKind = jkMp3ToWav;
    mp3.Engaged = true;
    mp3.StartProcess();
    ASSERT_TRUE(window.WaitUntil([&](const auto&) { return window.Codes().size() > before && window.Codes().back() == 2000; }));
    EXPECT_EQ(window.Last().Status, 2);
    EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(Path("back.wav"))), 44 + 88200 * 4, 1152 * 4);
}

TEST_F(EncoderTest, OutputFromBothPipesInPiecesAndBareCarriageReturns)
{
    // Progress on both pipes, redrawn with CR only; one line written in two pieces, which the
    // reader sees as two chunks and so as two lines that make no report. The fake encoder makes
    // each write only when the test has seen the one before handled: it reads a go-ahead from a
    // FIFO first.
    const std::string pad(14, ' ');
    ASSERT_EQ(mkfifo(Path("go").c_str(), 0600), 0);
    const std::string wait = "read t <&3; ";
    FakeProgram("lame", "exec 3<'" + Path("go") + "'\n" +
                        wait + "printf '" + pad + "( 5%%)|    0:01/    0:20|\\r' >&2\n" +
                        wait + "printf '" + pad + "(5'\n" +
                        wait + "printf '0%%)|    0:10/    0:20|\\r'\n" +
                        wait + "printf '" + pad + "(80%%)|    0:16/    0:20|\\r' >&2\n" +
                        wait + "printf '" + pad + "(90%%)|    0:18/    0:20|\\n'");
    // Read and write: opening it does not wait for the fake to open its end.
    const int go = open(Path("go").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(go, 0);
    const auto next = [go] { ASSERT_EQ(write(go, "go\n", 3), 3); };
    TMp3EncodeProcess mp3(dialogs);
    mp3.NotifyWindow = window.Handle();
    mp3.InputFile = Path("in.wav");
    mp3.OutputFile = Path("out.mp3");
    mp3.Engaged = true;
    mp3.StartProcess();
    next();
    ASSERT_TRUE(WaitForCode(5));
    next();  // the first piece: 16 bytes, no report
    ASSERT_TRUE(window.WaitUntil([&](const auto&) { return mp3.BytesAvailable == 16; }));
    next();  // the second: 23 bytes, no report either
    ASSERT_TRUE(window.WaitUntil([&](const auto&) { return mp3.BytesAvailable == 23; }));
    next();
    ASSERT_TRUE(WaitForCode(80));
    next();
    ASSERT_TRUE(WaitForCode(2000));
    close(go);
    EXPECT_EQ(window.Codes(), (std::vector<int32_t>{5, 80, 90, 2000}));
    for (const auto& r : window.Records())
        if (r.Code == 5) {
            EXPECT_EQ(r.ElapsedText, "0:01");
            EXPECT_EQ(r.EstimatedText, "0:20");
        }
}

TEST_F(EncoderTest, AChildWithoutProgressGivesOnlyTheEnd)
{
    FakeProgram("lame", "echo nothing to see");
    TMp3EncodeProcess mp3(dialogs);
    mp3.NotifyWindow = window.Handle();
    mp3.Engaged = true;
    mp3.StartProcess();
    ASSERT_TRUE(WaitForCode(2000));
    EXPECT_EQ(window.Codes(), std::vector<int32_t>{2000});
    EXPECT_EQ(window.Last().Status, 2);
}

// A child that fails, by its exit code or a signal, ends with status 3 and says how.
TEST_F(EncoderTest, AFailingChildEndsWithStatus3)
{
    const std::pair<const char*, const char*> cases[] = {{"exit 1", "exit code 1"}, {"kill -SEGV $$", "signal 11"}};
    for (const auto& [body, how] : cases) {
        SCOPED_TRACE(body);
        FakeProgram("lame", body);
        TMp3EncodeProcess mp3(dialogs);
        mp3.NotifyWindow = window.Handle();
        mp3.Engaged = true;
        mp3.StartProcess();
        ASSERT_TRUE(WaitForCode(2000));
        EXPECT_EQ(window.Last().Status, 3);
        EXPECT_EQ(window.Last().ElapsedText, how);
        window.Clear();
    }
}

TEST_F(EncoderTest, KillingARunLeavesNoChildNoPipeAndNoReport)
{
    FakeProgram("lame", "echo '          ( 3%)'\nexec sleep 600");
    TMp3EncodeProcess mp3(dialogs);
    mp3.NotifyWindow = window.Handle();
    mp3.Engaged = true;
    mp3.StartProcess();
    const pid_t pid = mp3.ChildPid();
    ASSERT_TRUE(WaitForCode(3));
    mp3.KillProcess(0);
    EXPECT_FALSE(mp3.Busy());
    ExpectNoChildOrPipeLeft(pid);
    window.Drain();
    EXPECT_EQ(window.Codes(), std::vector<int32_t>{3}) << "no report after KillProcess";
    mp3.KillProcess(0);  // again: nothing
}

// Stopping a run tells whether it was cut short: a child still running (or one that failed) is,
// a child that has ended well, its end not yet handed over, is not (its file is whole).
TEST_F(EncoderTest, StoppingARunTellsWhetherItWasCutShort)
{
    const struct {
        const char* body;
        bool cut;
    } cases[] = {{"exec sleep 600", true}, {"exit 0", false}, {"exit 1", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        FakeProgram("lame", c.body);
        TMp3EncodeProcess mp3(dialogs);
        mp3.NotifyWindow = window.Handle();
        mp3.Engaged = true;
        mp3.StartProcess();
        const pid_t pid = mp3.ChildPid();
        if (!c.cut || std::string(c.body) == "exit 1") {
            // Ended, not yet reaped: the UI thread has not handled its end.
            siginfo_t info{};
            ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
        }
        EXPECT_EQ(mp3.StopRun(), c.cut);
        EXPECT_FALSE(mp3.Busy());
        EXPECT_FALSE(mp3.StopRun()) << "no run left";
        // A hand-over the reader posted before it was stopped holds its wake-up descriptor until
        // the message is handled (and dropped: it is no run's any more).
        window.Drain();
        EXPECT_TRUE(window.Codes().empty()) << "no end is reported for a stopped run";
        ExpectNoChildOrPipeLeft(pid);
    }
}

TEST_F(EncoderTest, ASecondRunEndsTheFirstWhoseEndIsNeverReported)
{
    FakeProgram("lame", "exec sleep 600");
    TMp3EncodeProcess mp3(dialogs);
    mp3.NotifyWindow = window.Handle();
    mp3.Engaged = true;
    mp3.StartProcess();
    const pid_t first = mp3.ChildPid();
    FakeProgram("lame", "true");
    mp3.StartProcess();
    EXPECT_TRUE(ProcessGone(first)) << "the earlier child was killed and reaped first";
    ASSERT_TRUE(WaitForCode(2000));
    window.Drain();
    EXPECT_EQ(window.Codes(), std::vector<int32_t>{2000}) << "one end, the second run's";
}

TEST_F(EncoderTest, NoEncoderToRunRaisesAndLeavesNoPipe)
{
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", Path("nowhere").c_str(), 1);
    TMp3EncodeProcess mp3(dialogs);
    mp3.NotifyWindow = window.Handle();
    mp3.Engaged = true;
    try {
        mp3.StartProcess();
        ADD_FAILURE() << "started without a lame anywhere";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Error while creating mp3 encoding process!2");  // ENOENT
    }
    setenv("PATH", path.c_str(), 1);
    EXPECT_FALSE(mp3.Busy());
    EXPECT_EQ(OpenFds(), baselineFds);
    window.Drain();
    EXPECT_TRUE(window.Records().empty());
}

// Run from its build folder the encoder sits beside the program (or in the folder
// SONVALE_SYSTEM_DIR names); installed, in the program's libexec folder.
TEST_F(EncoderTest, TheWmaEncoderIsFoundBesideTheProgramOrWhereItIsInstalled)
{
    for (const char* folder : {"bin", "libexec", "system"})
        std::filesystem::create_directory(Path(folder));
    SetExecutableFolder(Path("bin"));
    TProgramPlaces installed;
    installed.Installed = true;
    installed.Config = installed.Data = m_dir;
    installed.Helpers = Path("libexec/");
    SetProgramPlaces(installed);
    const TScopedEnv noSystem("SONVALE_SYSTEM_DIR", nullptr);
    EXPECT_EQ(TWMAEncodeProcess::FindEncoder(), "");
    FakeProgram("libexec/WM8EUTIL", "");
    EXPECT_EQ(TWMAEncodeProcess::FindEncoder(), Path("libexec/WM8EUTIL"));
    FakeProgram("bin/WM8EUTIL", "");
    EXPECT_EQ(TWMAEncodeProcess::FindEncoder(), Path("bin/WM8EUTIL"));
    FakeProgram("system/WM8EUTIL", "");
    {
        const TScopedEnv system("SONVALE_SYSTEM_DIR", Path("system").c_str());
        EXPECT_EQ(TWMAEncodeProcess::FindEncoder(), Path("system/WM8EUTIL"));
    }
    // A build-folder run has no libexec folder.
    std::filesystem::remove(Path("bin/WM8EUTIL"));
    SetProgramFolder(m_dir);
    EXPECT_EQ(TWMAEncodeProcess::FindEncoder(), "");
}

TEST_F(EncoderTest, AMissingWmaEncoderIsSaid)
{
    std::filesystem::create_directory(Path("empty"));
    setenv("SONVALE_SYSTEM_DIR", Path("empty").c_str(), 1);
    TWMAEncodeProcess wma(dialogs);
    wma.NotifyWindow = window.Handle();
    wma.Engaged = true;
    wma.StartProcess();
    unsetenv("SONVALE_SYSTEM_DIR");
    // The end is sent: it has arrived when StartProcess returns.
    EXPECT_EQ(dialogs.Texts(), QStringList{"Can not find WMA encoder,please contact with support@sonvale.org!"});
    ASSERT_EQ(window.Codes(), std::vector<int32_t>{5000});
    EXPECT_EQ(window.Last().Status, 0);
}

TEST_F(EncoderTest, TheRealWmaEncoder)
{
    setenv("SONVALE_SYSTEM_DIR", WM8EUTIL_DIR, 1);
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 -b 16 " + Path("in.wav") + " synth 2 sine 440 sine 660").c_str()), 0);
    TWMAEncodeProcess wma(dialogs);
    wma.UseID3 = true;
    wma.Artist = "The Sample Band";
    wma.Comment = "ripped by a test";
    wma.Wma.BitRate = 13;  // "48_32_2"
    wma.NotifyWindow = window.Handle();
    wma.InputFile = Path("in.wav");
    wma.OutputFile = Path("out.wma");
    wma.JobKind = jkWavToWma;
    wma.Engaged = true;
    wma.StartProcess();
    const pid_t pid = wma.ChildPid();
    ASSERT_TRUE(WaitForCode(5000));
    EXPECT_EQ(window.Last().Status, 2);
    const std::vector<int32_t> codes = window.Codes();
    EXPECT_NE(std::find(codes.begin(), codes.end(), 100), codes.end()) << "the 100% report";
    ExpectNoChildOrPipeLeft(pid);
    const std::string probe = CommandOutput("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate:"
                                     "format_tags -of default=nw=1 " + Path("out.wma") + " 2>&1");
    EXPECT_NE(probe.find("codec_name=wmav2"), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=32000"), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=2"), std::string::npos) << probe;
    EXPECT_NE(probe.find("bit_rate=48000"), std::string::npos) << probe;
    EXPECT_NE(probe.find("The Sample Band"), std::string::npos) << probe;
    EXPECT_NE(probe.find("ripped by a test"), std::string::npos) << probe;

    // A profile below what the WMA 2 encoder can do (16 kbit/s) still gives a playable file, at
    // 24 kbit/s, and no error.
    window.Clear();
    wma.Wma.BitRate = 24;  // "16_16_1"
    wma.OutputFile = Path("low.wma");
    wma.StartProcess();
    ASSERT_TRUE(window.WaitUntil([](const auto& r) { return !r.empty() && r.back().Code == 5000; }));
    EXPECT_EQ(window.Last().Status, 2);
    const std::string low = CommandOutput("ffprobe -v error -show_entries stream=sample_rate,channels,bit_rate -of default=nw=1 " +
                                   Path("low.wma") + " 2>&1");
    EXPECT_NE(low.find("sample_rate=16000"), std::string::npos) << low;
    EXPECT_NE(low.find("channels=1"), std::string::npos) << low;
    EXPECT_NE(low.find("bit_rate=24000"), std::string::npos) << low;
    const std::string help = CommandOutput(std::string(WM8EUTIL_DIR) + "/WM8EUTIL --help 2>&1");
    EXPECT_NE(help.find("-a_setting B_R_C"), std::string::npos) << help;
    EXPECT_NE(help.find("24 kbit/s"), std::string::npos) << help;

    // A missing input: the encoder's ERROR line ends the run with status 8.
    window.Clear();
    wma.InputFile = Path("missing.wav");
    wma.OutputFile = Path("none.wma");
    wma.StartProcess();
    ASSERT_TRUE(window.WaitUntil([](const auto& r) { return !r.empty() && r.back().Code == 5000; }));
    EXPECT_EQ(window.Last().Status, 8);
    EXPECT_NE(window.Last().ElapsedText.find("ERROR"), std::string::npos);
    EXPECT_NE(window.Last().ElapsedText.find("missing.wav"), std::string::npos);
    wma.KillProcess(0);
    unsetenv("SONVALE_SYSTEM_DIR");
}

}  // namespace
