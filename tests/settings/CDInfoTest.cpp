#include "Global.h"
#include "ProfileFile.h"

#include "TestSupport.h"

#include <sys/stat.h>

#include <filesystem>

namespace {

class CDInfoTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
    }
};

TEST_F(CDInfoTest, ANewDiscGetsDefaults)
{
    WriteFile("cdinfo.dat", "[111]\nArtist=Someone else\n");
    for (const std::string key : {"-12345", ""}) {
        Options.CDInfo.Tracks[7] = "left over";
        LoadSaveCDInfo(key, true);
        const TCDInfo& info = Options.CDInfo;
        EXPECT_EQ(info.Artist, "");
        EXPECT_EQ(info.Genre, -1);
        EXPECT_EQ(info.TrackNumber, 100);
        EXPECT_EQ(info.Tracks[1], "Track01");
        EXPECT_EQ(info.Tracks[7], "Track07");
        EXPECT_EQ(info.Tracks[100], "Track100");
    }
}

TEST_F(CDInfoTest, StoredTitlesLoadWithTheirRules)
{
    WriteFile("cdinfo.dat",
              "[-2041593582]\nArtist=Band\nAlbum=Record\nYear=1999\nGenre=118\nComment=c\n"
              "TrackNumber=3\n1=Opening\n2=\n3=Finale\n4=beyond the count\n");
    Options.CDInfo.Tracks[4] = "kept from before";
    LoadSaveCDInfo("-2041593582", true);
    const TCDInfo& info = Options.CDInfo;
    EXPECT_EQ(info.Artist, "Band");
    EXPECT_EQ(info.Album, "Record");
    EXPECT_EQ(info.Year, "1999");
    EXPECT_EQ(info.Genre, 118);
    EXPECT_EQ(info.TrackNumber, 3);
    EXPECT_EQ(info.Tracks[1], "Opening");
    EXPECT_EQ(info.Tracks[2], "Track02");  // an empty title takes the default
    EXPECT_EQ(info.Tracks[3], "Finale");
    EXPECT_EQ(info.Tracks[4], "kept from before");
}

TEST_F(CDInfoTest, ATrackNumberAboveAHundredLoadsAndSavesAHundredTitles)
{
    std::string section = "[5]\nTrackNumber=150\n";
    for (int n = 1; n <= 150; ++n)
        section += std::to_string(n) + "=T" + std::to_string(n) + "\n";
    WriteFile("cdinfo.dat", section);
    LoadSaveCDInfo("5", true);
    EXPECT_EQ(Options.CDInfo.TrackNumber, 150);
    EXPECT_EQ(Options.CDInfo.Tracks[100], "T100");
    Options.CDInfo.Tracks[100] = "changed";
    LoadSaveCDInfo("5", false);
    const TProfileFile ini(Path("cdinfo.dat"));
    EXPECT_EQ(ini.ReadString("5", "100", ""), "changed");
    EXPECT_EQ(ini.ReadString("5", "101", ""), "T101");
}

TEST_F(CDInfoTest, SavingWritesInOrderAndKeepsKeysBeyondAShorterSave)
{
    TCDInfo& info = Options.CDInfo;
    info.Artist = "A";
    info.Album = "B";
    info.Year = "2001";
    info.Genre = 0;
    info.Comment = "  spaced comment ";
    info.TrackNumber = 12;
    for (int n = 1; n <= 12; ++n)
        info.Tracks[n] = "Song " + std::to_string(n);
    LoadSaveCDInfo("77", false);
    EXPECT_EQ(ReadFile("cdinfo.dat").rfind("[77]\nArtist=A\nAlbum=B\nYear=2001\nGenre=0\n"
                                           "Comment=\"  spaced comment \"\nTrackNumber=12\n1=Song 1\n2=Song 2\n", 0),
              0u);

    info.TrackNumber = 10;
    info.Tracks[1] = "Renamed";
    LoadSaveCDInfo("77", false);
    Options = TOptionsSetting{};
    LoadSaveCDInfo("77", true);
    EXPECT_EQ(info.Comment, "  spaced comment ");
    EXPECT_EQ(info.TrackNumber, 10);
    EXPECT_EQ(info.Tracks[1], "Renamed");
    const TProfileFile ini(Path("cdinfo.dat"));
    EXPECT_EQ(ini.ReadString("77", "11", ""), "Song 11");
    EXPECT_EQ(ini.ReadString("77", "12", ""), "Song 12");
}

TEST_F(CDInfoTest, AnEmptyKeySavesNothingAndARefusedSaveThrows)
{
    Options.CDInfo.Artist = "x";
    LoadSaveCDInfo("", false);
    EXPECT_FALSE(std::filesystem::exists(Path("cdinfo.dat")));

    WriteFile("cdinfo.dat", "[1]\nArtist=old\n");
    chmod(Path("cdinfo.dat").c_str(), 0444);
    EXPECT_THROW(LoadSaveCDInfo("1", false), EProfileWriteError);
    EXPECT_EQ(ReadFile("cdinfo.dat"), "[1]\nArtist=old\n");
}

}  // namespace
