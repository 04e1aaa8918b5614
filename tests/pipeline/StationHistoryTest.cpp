#include "StationHistory.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

class StationHistoryTest : public TempDirTest {
protected:
    static TStationDisc Disc(const std::string& mb, const std::string& result)
    {
        TStationDisc d;
        d.MusicBrainzId = mb;
        d.CtdbId = "ctdb-" + mb;
        d.AccurateRipId = "003-" + mb;
        d.Artist = "Band \"quoted\" ü";
        d.Album = "Album";
        d.Formats = {"flac", "opus"};
        d.Result = result;
        d.Start = "2026-12-11T10:00:00";
        d.Tracks = {{1, "done", "accurately ripped (confidence 3, v2)", "accurately ripped (confidence 5)"},
                    {2, "failed", "not checked (x)", "differs"}};
        return d;
    }
};

// Written and read back the same, IDs going on from the highest; a disc ripped before is found by
// any of its IDs (an empty ID matches nothing, a failed rip does not count); a file that is no
// history is kept aside and a new one begins.
TEST_F(StationHistoryTest, WrittenReadBackAndAskedAboutADisc)
{
    TStationHistory history(Path("data/sonvale/station.json"));
    std::string error;
    ASSERT_TRUE(history.Load(error));  // none yet
    EXPECT_TRUE(history.Discs().empty());
    history.Add(Disc("mbA", "ripped"));
    history.Add(Disc("mbB", "failed"));
    ASSERT_TRUE(history.Save(error)) << error;

    TStationHistory again(history.Path());
    ASSERT_TRUE(again.Load(error));
    EXPECT_EQ(again.Text(), history.Text());
    ASSERT_EQ(again.Discs().size(), 2u);
    EXPECT_EQ(again.Discs()[0].Id, "1");
    EXPECT_EQ(again.Discs()[0].Artist, "Band \"quoted\" ü");
    EXPECT_EQ(again.Discs()[0].Tracks[1].Ctdb, "differs");
    EXPECT_EQ(again.Discs()[1].Formats, (std::vector<std::string>{"flac", "opus"}));
    EXPECT_EQ(again.Discs()[again.Add(Disc("mbC", "ripped"))].Id, "3");

    EXPECT_NE(again.RippedBefore("mbA", "", ""), nullptr);
    EXPECT_NE(again.RippedBefore("", "ctdb-mbA", ""), nullptr);
    EXPECT_NE(again.RippedBefore("", "", "003-mbA"), nullptr);
    EXPECT_EQ(again.RippedBefore("", "", ""), nullptr);
    EXPECT_EQ(again.RippedBefore("mbB", "ctdb-mbB", "003-mbB"), nullptr) << "a failed rip is no rip";

    WriteFile("data/sonvale/station.json", "{\"discs\": [1, 2");
    TStationHistory broken(history.Path());
    EXPECT_FALSE(broken.Load(error));
    EXPECT_NE(error.find("kept as " + history.Path() + ".bad"), std::string::npos) << error;
    EXPECT_TRUE(broken.Discs().empty());
    EXPECT_EQ(ReadFile("data/sonvale/station.json.bad"), "{\"discs\": [1, 2");
}

// A station killed (kill -9) while it writes its history, again and again: the file is always a
// whole history, the one before the write or the one after.
TEST_F(StationHistoryTest, AKillBetweenWritesNeverLeavesHalfAFile)
{
    const std::string path = Path("station.json");
    for (int round = 0; round < 8; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            TStationHistory history(path);
            std::string error;
            history.Load(error);
            for (int i = 0;; ++i) {  // a history that grows, written after each disc
                history.Add(Disc("mb" + std::to_string(i), "ripped"));
                history.Save(error);
            }
        }
        // Once it has written, let it go on a while (a different while each round): the kill
        // then falls anywhere in its work.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!std::filesystem::exists(path) && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(std::filesystem::exists(path)) << round;
        EXPECT_TRUE(TStationHistory::Parse(ReadFile("station.json")).has_value()) << "round " << round;
    }
}

}  // namespace
