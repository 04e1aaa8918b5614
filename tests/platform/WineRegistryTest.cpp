#include "WineRegistry.h"

#include "TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

using WineRegistryTest = TempDirTest;

// user.reg as Wine writes it, with the keys of both players.
std::string UserReg(const std::vector<int>& clips, const std::vector<int>& files)
{
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n"
                       "[Control Panel\\\\Desktop] 1700000000\n#time=1da0b1c2d3e4f50\n\"Wallpaper\"=\"\"\n\n";
    for (const int n : clips)
        text += "[Software\\\\RealNetworks\\\\RealPlayer\\\\6.0\\\\Preferences\\\\MostRecentClips" + std::to_string(n) +
                "] 1700000001\n#time=1da0b1c2d3e4f51\n@=\"file://C:\\\\music\\\\clip" + std::to_string(n) + ".rm\"\n\n";
    if (!files.empty()) {
        text += "[Software\\\\Microsoft\\\\MediaPlayer\\\\Player\\\\RecentFileList] 1700000002\n#time=1da0b1c2d3e4f52\n";
        for (const int n : files)
            text += "\"File" + std::to_string(n) + "\"=\"C:\\\\music\\\\song" + std::to_string(n) + ".mp3\"\n";
        text += "\n";
    }
    text += "[Software\\\\Wine] 1700000003\n#time=1da0b1c2d3e4f53\n\"Version\"=\"win10\"\n";
    return text;
}

// RealPlayer keys 1, 2 and 4: 1 and 2 go, 4 stays, 2 reported; none: 0. The rest of the file is
// as it was.
TEST_F(WineRegistryTest, RealPlayerKeysStopAtTheFirstMissing)
{
    WriteFile("user.reg", UserReg({1, 2, 4}, {}));
    EXPECT_EQ(ClearRealPlayerHistory(Path("user.reg")), 2);
    EXPECT_EQ(ReadFile("user.reg"), UserReg({4}, {}));
    EXPECT_EQ(ClearRealPlayerHistory(Path("user.reg")), 0);
    EXPECT_EQ(ReadFile("user.reg"), UserReg({4}, {}));

    // All eight: every one goes (the list ends at the eighth; a ninth is not the player's).
    WriteFile("full.reg", UserReg({1, 2, 3, 4, 5, 6, 7, 8, 9}, {}));
    EXPECT_EQ(ClearRealPlayerHistory(Path("full.reg")), 8);
    EXPECT_EQ(ReadFile("full.reg"), UserReg({9}, {}));
}

// Windows Media Player: the values File0, File1... up to the first missing; a missing key gives 0.
TEST_F(WineRegistryTest, MediaPlayerValues)
{
    WriteFile("user.reg", UserReg({}, {0, 1, 3}));
    EXPECT_EQ(ClearMediaPlayerHistory(Path("user.reg")), 2);
    EXPECT_EQ(ReadFile("user.reg"), UserReg({}, {3}));
    WriteFile("none.reg", UserReg({1}, {}));
    EXPECT_EQ(ClearMediaPlayerHistory(Path("none.reg")), 0);
    EXPECT_EQ(ReadFile("none.reg"), UserReg({1}, {}));
}

// A file that is no registry, or cannot be written: left byte-identical, -1 reported; no file
// (no Wine) is nothing to clear.
TEST_F(WineRegistryTest, NothingIsCorrupted)
{
    const std::string broken = "WINE REGISTRY Version 2\n[Software\\\\RealNetworks\\\\RealPlayer\\\\6.0\\\\Preferences\\\\MostRecentClips1\n";
    WriteFile("broken.reg", broken);
    EXPECT_EQ(ClearRealPlayerHistory(Path("broken.reg")), -1);
    EXPECT_EQ(ReadFile("broken.reg"), broken);
    WriteFile("other.txt", "not a registry\n");
    EXPECT_EQ(ClearRealPlayerHistory(Path("other.txt")), -1);
    EXPECT_EQ(ClearRealPlayerHistory(Path("missing.reg")), 0);

    std::filesystem::create_directory(Path("ro"));
    const std::string text = UserReg({1, 2}, {0});
    WriteFile("ro/user.reg", text);
    chmod(Path("ro").c_str(), 0555);
    if (access(Path("ro").c_str(), W_OK) != 0) {  // a folder root can write anyway is no test
        EXPECT_EQ(ClearRealPlayerHistory(Path("ro/user.reg")), -1);
        EXPECT_EQ(ReadFile("ro/user.reg"), text);
    }
    chmod(Path("ro").c_str(), 0755);
}

// A key with subkeys is not deleted (as the registry refuses).
TEST_F(WineRegistryTest, AKeyWithSubkeysStays)
{
    std::string text = UserReg({1}, {});
    text += "\n[Software\\\\RealNetworks\\\\RealPlayer\\\\6.0\\\\Preferences\\\\MostRecentClips1\\\\Sub] 1700000004\n";
    WriteFile("user.reg", text);
    EXPECT_EQ(ClearRealPlayerHistory(Path("user.reg")), 0);
    EXPECT_EQ(ReadFile("user.reg"), text);
}

}  // namespace
