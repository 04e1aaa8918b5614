#include "Global.h"
#include "ProfileFile.h"

#include "TestSupport.h"

#include <sys/stat.h>

namespace {

class OptionsTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
    }
};

// The file a first start and close writes: every key in order, every default.
std::string DefaultFile(const std::string& folder)
{
    return "[CommonOptions]\n"
           "OutputFolder=" + folder + "Output\n"
           "OutputFormat=0\n"
           "IsKeepWav=0\n"
           "IsNormalize=0\n"
           "NormalizePercent=95\n"
           "EnableRipTime=0\n"
           "RipTime=0\n"
           "[Mp3Options]\n"
           "IsSelectVBR=0\n"
           "IsVBRHead=0\n"
           "BitRate=128\n"
           "MaxBitRate=320\n"
           "MpegQuality=0\n"
           "VBRQuality=4\n"
           "StereoMode=1\n"
           "[OggOptions]\n"
           "IsUseCompress=1\n"
           "CompressPosition=30\n"
           "MaxBitRate=0\n"
           "NomalBitRate=0\n"
           "MinBitRate=0\n"
           "[WMAOptions]\n"
           "BitRate=8\n"
           "[CDOptions]\n"
           "Index=-1\n"
           "CDDb=0\n"
           "[RecordOptions]\n"
           "SaveMp3=0\n"
           "[QueryCDDB]\n"
           "Server=gnudb.gnudb.org\n"
           "Script=/~cddb/cddb.cgi\n"
           "UseProxy=0\n"
           "ProxyAddress=\n"
           "Port=80\n"
           "[ID3]\n"
           "Use=0\n"
           "[SecureOptions]\n"
           "SecureMode=0\n"
           "ReadOffset=0\n"
           "RefuseDamaged=0\n"
           "AccurateRip=1\n"
           "WriteLog=1\n"
           "AccurateRipServer=http://www.accuraterip.com\n"
           "BurstFirst=1\n"
           "MinConfidence=2\n"
           "WriteCue=1\n"
           "RipHiddenTrack=1\n"
           "Image=0\n"
           "[FlacOptions]\n"
           "Level=5\n"
           "[OpusOptions]\n"
           "BitRate=160\n"
           "[Tags]\n"
           "ReplayGain=0\n"
           "[Naming]\n"
           "Template=%title%\n"
           "PortableNames=1\n"
           "[MusicBrainz]\n"
           "Server=https://musicbrainz.org\n"
           "CoverArtServer=https://coverartarchive.org\n"
           "FetchCover=1\n"
           "[JobOptions]\n"
           "Encoders=1\n"
           "Formats=\n"
           "[CTDB]\n"
           "Server=http://db.cuetools.net\n"
           "Use=1\n"
           "[Station]\n"
           "OnDisc=\n";
}

TEST_F(OptionsTest, NoFileGivesDefaultsAndSavingWritesEveryKeyInOrder)
{
    LoadSaveOptions(true);
    EXPECT_EQ(Options.CommonOptions.OutputFolder, m_dir + "Output");
    EXPECT_EQ(Options.CommonOptions.NormalizePercent, 95);
    EXPECT_EQ(Options.Mp3Options.BitRate, 128);
    EXPECT_EQ(Options.Mp3Options.StereoMode, 1);
    EXPECT_TRUE(Options.OggOptions.IsUseCompress);
    EXPECT_EQ(Options.WMAOptions.BitRate, 8);
    EXPECT_EQ(Options.CDOptions.Index, -1);
    EXPECT_EQ(Options.QueryCDDB.Server, "gnudb.gnudb.org");
    EXPECT_EQ(Options.QueryCDDB.Port, "80");
    EXPECT_FALSE(Options.UseID3);

    LoadSaveOptions(false);
    EXPECT_EQ(ReadFile("options.ini"), DefaultFile(m_dir));
}

TEST_F(OptionsTest, StoredValuesAreReadByTheProfileRules)
{
    WriteFile("options.ini",
              "[OggOptions]\nCompressPosition=10\n"
              "[Mp3Options]\nBitRate=fast\nVBRQuality=0x9\n"
              "[CommonOptions]\nIsKeepWav=2\nOutputFolder=/music/rips\n"
              "[QueryCDDB]\nPort=8080\n");
    LoadSaveOptions(true);
    EXPECT_EQ(Options.OggOptions.CompressPosition, 30);
    EXPECT_EQ(Options.Mp3Options.BitRate, 128);
    EXPECT_EQ(Options.Mp3Options.VBRQuality, 9);
    EXPECT_TRUE(Options.CommonOptions.IsKeepWav);
    EXPECT_EQ(Options.CommonOptions.OutputFolder, "/music/rips");
    EXPECT_EQ(Options.QueryCDDB.Port, "8080");

    WriteFile("options.ini", "[OggOptions]\nCompressPosition=250\n");
    LoadSaveOptions(true);
    EXPECT_EQ(Options.OggOptions.CompressPosition, 100);

    // The FLAC level and the Opus bit rate are held to what their encoders take.
    const struct {
        int level, kbits, wantLevel, wantKbits;
    } ranges[] = {{-1, 5, 0, 6}, {0, 6, 0, 6}, {8, 256, 8, 256}, {9, 257, 8, 256}};
    for (const auto& r : ranges) {
        WriteFile("options.ini", "[FlacOptions]\nLevel=" + std::to_string(r.level) + "\n[OpusOptions]\nBitRate=" +
                                     std::to_string(r.kbits) + "\n");
        LoadSaveOptions(true);
        EXPECT_EQ(Options.FlacOptions.Level, r.wantLevel) << r.level;
        EXPECT_EQ(Options.OpusOptions.BitRate, r.wantKbits) << r.kbits;
    }

    // Encoders at once: 0 (one per processor) up to 16.
    for (const auto& [stored, read] :
         std::vector<std::pair<const char*, int>>{{"-1", 0}, {"0", 0}, {"1", 1}, {"16", 16}, {"17", 16}}) {
        WriteFile("options.ini", std::string("[JobOptions]\nEncoders=") + stored + "\n");
        LoadSaveOptions(true);
        EXPECT_EQ(Options.JobOptions.Encoders, read) << stored;
    }

    // The read offset: ten sectors (5880 samples) either way, kept at the edges, cut beyond.
    for (const auto& [stored, read] : std::vector<std::pair<const char*, int>>{
             {"5880", 5880}, {"5881", 5880}, {"-5880", -5880}, {"-5881", -5880}, {"667", 667}, {"-30", -30}}) {
        WriteFile("options.ini", std::string("[SecureOptions]\nReadOffset=") + stored + "\nSecureMode=1\n");
        LoadSaveOptions(true);
        EXPECT_EQ(Options.SecureOptions.ReadOffset, read) << stored;
        EXPECT_TRUE(Options.SecureOptions.SecureMode);
    }
}

// A value the settings cannot use is still held to its range (or its default), and now said, once
// a load: the value typed, the range, the value used. Values at the range's edges say nothing.
TEST_F(OptionsTest, ValuesChangedOnLoadingAreSaid)
{
    const struct {
        const char* file;
        std::vector<std::string> notes;
    } cases[] = {
        {"[OpusOptions]\nBitRate=-3\n[FlacOptions]\nLevel=99\n",
         {"options.ini: [FlacOptions] Level=99 is out of range (0 to 8): 8 is used.",
          "options.ini: [OpusOptions] BitRate=-3 is out of range (6 to 256): 6 is used."}},
        {"[JobOptions]\nEncoders=abc\n", {"options.ini: [JobOptions] Encoders=abc is not a number: 1 is used."}},
        {"[OpusOptions]\nBitRate=6\n[FlacOptions]\nLevel=8\n[JobOptions]\nEncoders=16\n", {}},
        {"[OpusOptions]\nBitRate=257\n", {"options.ini: [OpusOptions] BitRate=257 is out of range (6 to 256): 256 is used."}},
        {"[JobOptions]\nEncoders=\n[SecureOptions]\nReadOffset=0x10\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFile("options.ini", c.file);
        LoadSaveOptions(true);
        EXPECT_EQ(OptionsLoadNotes, c.notes);
    }
    EXPECT_EQ(Options.SecureOptions.ReadOffset, 16);
    EXPECT_EQ(Options.JobOptions.Encoders, 1);
}

TEST_F(OptionsTest, SavingUpdatesInPlaceAndKeepsForeignLines)
{
    WriteFile("options.ini", "; kept\n[Mp3Options]\nBitRate=192\nMyOwnKey=kept too\n[Unknown]\nx=1\n");
    LoadSaveOptions(true);
    EXPECT_EQ(Options.Mp3Options.BitRate, 192);
    Options.Mp3Options.BitRate = 256;
    LoadSaveOptions(false);

    const TProfileFile ini(Path("options.ini"));
    EXPECT_EQ(ini.ReadInteger("Mp3Options", "BitRate", 0), 256);
    EXPECT_EQ(ini.ReadString("Mp3Options", "MyOwnKey", ""), "kept too");
    EXPECT_EQ(ini.ReadInteger("Unknown", "x", 0), 1);
    EXPECT_EQ(ini.ReadString("ID3", "Use", "missing"), "0");  // keys missing before are added
    const std::string text = ReadFile("options.ini");
    EXPECT_EQ(text.rfind("; kept\n[Mp3Options]\nIsSelectVBR=0\n", 0), std::string::npos)
        << "existing keys stay where they were";
    EXPECT_EQ(text.rfind("; kept\n[Mp3Options]\nBitRate=256\nMyOwnKey=kept too\n", 0), 0u);
}

TEST_F(OptionsTest, ARefusedSaveThrowsAndKeepsTheOldFile)
{
    WriteFile("options.ini", "[Mp3Options]\nBitRate=192\n");
    chmod(Path("options.ini").c_str(), 0444);
    LoadSaveOptions(true);
    Options.Mp3Options.BitRate = 64;
    try {
        LoadSaveOptions(false);
        FAIL() << "a read-only options.ini was written";
    } catch (const EProfileWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path("options.ini"));
    }
    EXPECT_EQ(ReadFile("options.ini"), "[Mp3Options]\nBitRate=192\n");
}

}  // namespace
