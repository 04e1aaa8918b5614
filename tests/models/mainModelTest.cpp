#include "mainModel.h"

#include "Global.h"
#include "akrip32Drives.h"

#include "TestSupport.h"

namespace {

// Records what the player asks of the output; the test ends a play when it likes.
class TScriptedOutput final : public TSoundOutput {
public:
    void Start(const TPcmFormat&, int64_t total, TAudioReader, int64_t from, std::function<void()> onEnd) override
    {
        starts.push_back(total - from);
        end = std::move(onEnd);
    }
    void Pause() override { ++pauses; }
    void Resume() override { ++resumes; }
    void Stop() override { end = nullptr; }
    int64_t Played() override { return 0; }
    std::vector<int64_t> starts;
    int pauses = 0, resumes = 0;
    std::function<void()> end;
};

class MainModelTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        LoadSaveOptions(true);
        AkripUseDrives({std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({750, 1500, 300}), "VENDOR", "Model")});
        disc.FormShow();
        auto out = std::make_unique<TScriptedOutput>();
        output = out.get();
        model = std::make_unique<TMainModel>(disc, std::make_unique<TCdPlayer>(std::move(out)));
        model->OnStatus = [this](const std::string& s) { status = s; };
    }
    void TearDown() override
    {
        model.reset();
        AkripUseDrives({});
        TempDirTest::TearDown();
    }
    // Every action with a rule, enabled or "-": eXtract, Query, Rename, Play, pAuse, Stop.
    std::string Rules() const
    {
        return std::string(model->ExtractEnabled() ? "X" : "-") + (model->QueryEnabled() ? "Q" : "-") +
               (model->RenameEnabled() ? "R" : "-") + (model->PlayEnabled() ? "P" : "-") +
               (model->PauseEnabled() ? "A" : "-") + (model->StopEnabled() ? "S" : "-");
    }

    ScriptedDialogs dialogs;
    TDiscScan disc{dialogs};
    TScriptedOutput* output = nullptr;
    std::unique_ptr<TMainModel> model;
    std::string status;
};

// Every playback state's rules; Play while playing switches rows, while paused resumes the paused
// track whatever row is selected; the last row plays to the end of the disc; the end returns to
// Idle with the saved status text.
TEST_F(MainModelTest, PlaybackStatesAndTheirRules)
{
    EXPECT_EQ(Rules(), "XQ----") << "Idle, no row selected";
    model->SelectedRow = 0;
    EXPECT_EQ(Rules(), "XQRP--") << "Idle";
    model->Play();
    EXPECT_EQ(status, "Play Track01");
    EXPECT_EQ(Rules(), "XQRPAS") << "Playing";
    EXPECT_EQ(output->starts, std::vector<int64_t>{750 * 2352});
    model->SelectedRow = 1;
    model->Play();  // switches
    EXPECT_EQ(output->starts.back(), 1500 * 2352);
    model->Pause();
    EXPECT_EQ(Rules(), "XQRP-S") << "Paused";
    EXPECT_EQ(output->pauses, 1);
    model->SelectedRow = 2;
    model->Play();  // resumes the paused track
    EXPECT_EQ(output->resumes, 1);
    EXPECT_EQ(output->starts.size(), 2u);
    EXPECT_EQ(status, "Play Track02") << "the status names the track that plays, not the row selected";
    EXPECT_EQ(Rules(), "XQRPAS");
    model->Stop();
    EXPECT_EQ(Rules(), "XQRP--");
    EXPECT_EQ(status, "VENDORModel");

    model->Play();  // the last row: to the end of the disc
    EXPECT_EQ(output->starts.back(), 300 * 2352);
    status.clear();
    ASSERT_TRUE(output->end);
    output->end();  // played to its end
    EXPECT_EQ(Rules(), "XQRP--");
    EXPECT_FALSE(model->Playing);
    EXPECT_EQ(status, "VENDORModel");
}

// Extract stops a playing track first; Ctrl+click toggles the check box; the Extract list holds
// the rows' positions, so only row 3 checked gives one entry beginning "03".
TEST_F(MainModelTest, ExtractListAndChecks)
{
    model->SelectedRow = 0;
    model->Play();
    model->StopPlayback();
    EXPECT_FALSE(model->Playing);
    EXPECT_EQ(status, "VENDORModel");

    model->ToggleChecked(0);
    model->ToggleChecked(1);
    EXPECT_FALSE(disc.Rows[0].Checked);
    EXPECT_EQ(model->ExtractItems(), std::vector<std::string>{"03Track03"});
    model->ToggleChecked(1);
    EXPECT_TRUE(disc.Rows[1].Checked);
    EXPECT_EQ(Rules(), "XQRP--");
    model->ToggleChecked(1);
    model->ToggleChecked(2);
    EXPECT_EQ(Rules(), "-QRP--") << "nothing checked";
    model->Play();
    EXPECT_EQ(Rules(), "-QRPAS") << "nothing checked, playing";
}

}  // namespace
