#include "ProgramFolder.h"
#include "Process.h"

#include "TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using ProgramFolderTest = TempDirTest;

TEST_F(ProgramFolderTest, TheExecutablesFolderWhenWritableElseTheDataFolder)
{
    std::filesystem::create_directory(Path("bin"));
    EXPECT_EQ(ChooseProgramFolder(Path("bin/")), Path("bin/"));

    chmod(Path("bin").c_str(), 0555);
    {
        const TScopedEnv data("XDG_DATA_HOME", Path("data").c_str());
        EXPECT_EQ(ChooseProgramFolder(Path("bin/")), Path("data/sonvale/"));
        EXPECT_TRUE(std::filesystem::is_directory(Path("data/sonvale")));
    }
    // A relative XDG_DATA_HOME is not valid: the default under HOME is used.
    const TScopedEnv data("XDG_DATA_HOME", "relative");
    const TScopedEnv home("HOME", Path("home").c_str());
    EXPECT_EQ(ChooseProgramFolder(Path("bin/")), Path("home/.local/share/sonvale/"));
}

// An executable in the bin/ folder of a prefix is installed: its settings go to the user's XDG
// folders and its helpers and help pages are found in the prefix. Anywhere else it is a
// build-folder run and keeps everything beside itself.
TEST_F(ProgramFolderTest, InstalledProgramsUseTheUsersFoldersAndThePrefix)
{
    for (const char* folder : {"usr/bin", "build", "robin", "bin/sub"})
        std::filesystem::create_directories(Path(folder));
    const TScopedEnv home("HOME", Path("home").c_str());
    const TScopedEnv config("XDG_CONFIG_HOME", nullptr);
    const TScopedEnv data("XDG_DATA_HOME", Path("xdata").c_str());
    std::filesystem::create_directories(Path("home/Music"));
    const std::string music = Path("home/Music/Sonvale");
    const std::string userConfig = Path("home/.config/sonvale/");
    const std::string userData = Path("xdata/sonvale/");

    const struct {
        const char* exe;
        bool configured;
        bool installed;
        std::string config, data, helpers, docs, output;
    } cases[] = {
        {"usr/bin/", false, true, userConfig, userData, Path("usr/libexec/sonvale/"), Path("usr/share/doc/sonvale/"), music},
        {"usr/bin", false, true, userConfig, userData, Path("usr/libexec/sonvale/"), Path("usr/share/doc/sonvale/"), music},
        // Built to be installed, run before it is: the user's folders, the helpers beside it.
        {"build/", true, true, userConfig, userData, "", "", music},
        {"build/", false, false, Path("build/"), Path("build/"), "", "", Path("build/Output")},
        {"robin/", false, false, Path("robin/"), Path("robin/"), "", "", Path("robin/Output")},
        {"bin/sub/", false, false, Path("bin/sub/"), Path("bin/sub/"), "", "", Path("bin/sub/Output")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.exe) + (c.configured ? " configured for installing" : ""));
        const TProgramPlaces places = ChoosePlaces(Path(c.exe), c.configured);
        EXPECT_EQ(places.Installed, c.installed);
        EXPECT_EQ(places.Config, c.config);
        EXPECT_EQ(places.Data, c.data);
        EXPECT_EQ(places.Helpers, c.helpers);
        EXPECT_EQ(places.Docs, c.docs);
        EXPECT_EQ(places.Output, c.output);
        EXPECT_EQ(places.Browse, c.installed ? Path("home/Music/") : c.data);
    }
    // The root's own bin/: the prefix is "/".
    const TProgramPlaces root = ChoosePlaces("/bin/", false);
    EXPECT_TRUE(root.Installed);
    EXPECT_EQ(root.Helpers, "/libexec/sonvale/");
    EXPECT_EQ(root.Docs, "/share/doc/sonvale/");
    // Choosing creates nothing: the folders appear when the program first writes there.
    EXPECT_FALSE(std::filesystem::exists(Path("home/.config")));
    EXPECT_FALSE(std::filesystem::exists(Path("xdata")));
    EXPECT_FALSE(std::filesystem::exists(Path("home/Music/Sonvale")));
    // No music folder yet (a new account without the desktop's folders): the same folder, made
    // with the music folder when first needed, so that a second run does not write elsewhere.
    std::filesystem::remove(Path("home/Music"));
    const std::string output = ChoosePlaces(Path("usr/bin/"), false).Output;
    EXPECT_EQ(output, Path("home/Music/Sonvale"));
    EXPECT_EQ(ChoosePlaces(Path("usr/bin/"), false).Browse, Path("home/"));
    EXPECT_TRUE(MakeOutputFolder(output, output));
    EXPECT_EQ(ChoosePlaces(Path("usr/bin/"), false).Output, output);
    // A folder the user typed is made one level only: a mistyped path grows no tree.
    EXPECT_FALSE(MakeOutputFolder(Path("typo/deep/Output"), output));
    EXPECT_FALSE(std::filesystem::exists(Path("typo")));
    EXPECT_TRUE(MakeOutputFolder(Path("home/Other"), output));

    const TScopedEnv absoluteConfig("XDG_CONFIG_HOME", Path("conf").c_str());
    EXPECT_EQ(ChoosePlaces(Path("usr/bin/"), false).Config, Path("conf/sonvale/"));
    const TScopedEnv relativeConfig("XDG_CONFIG_HOME", "conf");
    EXPECT_EQ(ChoosePlaces(Path("usr/bin/"), false).Config, userConfig);

    // No HOME and no XDG variables (a service's environment): /tmp, as the data folder always was.
    const TScopedEnv noConfig("XDG_CONFIG_HOME", nullptr);
    const TScopedEnv noData("XDG_DATA_HOME", nullptr);
    const TScopedEnv noHome("HOME", nullptr);
    const TProgramPlaces homeless = ChoosePlaces(Path("usr/bin/"), false);
    EXPECT_EQ(homeless.Data, "/tmp/sonvale/");
    EXPECT_EQ(homeless.Config, "/tmp/sonvale/");
}

TEST_F(ProgramFolderTest, TheMusicFolderComesFromTheUsersFolderNames)
{
    const TScopedEnv home("HOME", Path("home").c_str());
    const TScopedEnv config("XDG_CONFIG_HOME", Path("conf").c_str());
    EXPECT_EQ(MusicFolder(), Path("home/Music"));  // no user-dirs.dirs
    std::filesystem::create_directories(Path("conf"));
    const struct {
        const char* file;
        std::string music;
    } cases[] = {
        {"XDG_MUSIC_DIR=\"$HOME/Tunes\"\n", Path("home/Tunes")},
        {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_MUSIC_DIR=\"$HOME/Musik/\"\n", Path("home/Musik")},
        {"XDG_MUSIC_DIR=\"/srv/music\"\n", "/srv/music"},
        // "$HOME" itself turns the folder off; a relative path is not valid.
        {"XDG_MUSIC_DIR=\"$HOME/\"\n", Path("home/Music")},
        {"XDG_MUSIC_DIR=\"$HOME\"\n", Path("home/Music")},
        {"XDG_MUSIC_DIR=\"Tunes\"\n", Path("home/Music")},
        {"XDG_MUSIC_DIR=\"$HOME/Tunes\n", Path("home/Music")},
        {"XDG_MUSIC_DIRS=\"/srv/other\"\nXDG_VIDEOS_DIR=\"/srv/video\"\n", Path("home/Music")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFile("conf/user-dirs.dirs", c.file);
        EXPECT_EQ(MusicFolder(), c.music);
    }
}

// An installed program reads options.ini from the config folder. One that an earlier version
// kept in the data folder is moved there, whole, once.
TEST_F(ProgramFolderTest, SettingsFromTheOldPlaceAreMovedOnce)
{
    TProgramPlaces places;
    places.Installed = true;
    places.Config = Path("config/sonvale/");
    places.Data = Path("data/sonvale/");
    std::filesystem::create_directories(places.Data);
    const std::string settings = "[CommonOptions]\nOutputFolder=/home/me/Rips\n";
    WriteFile("data/sonvale/options.ini", settings);

    EXPECT_EQ(SettingsFolder(places), places.Config);
    EXPECT_EQ(ReadFile("config/sonvale/options.ini"), settings);
    EXPECT_FALSE(std::filesystem::exists(Path("data/sonvale/options.ini")));
    // Later runs find it in place; an options.ini that appears in the old place again is not
    // moved over the user's settings.
    WriteFile("data/sonvale/options.ini", "[CommonOptions]\nOutputFolder=/elsewhere\n");
    EXPECT_EQ(SettingsFolder(places), places.Config);
    EXPECT_EQ(ReadFile("config/sonvale/options.ini"), settings);

    // A config folder that cannot take the file (a file of that name is in the way): the
    // settings are read where they are, and stay there.
    std::filesystem::remove_all(Path("config/sonvale"));
    WriteFile("config/sonvale", "");
    EXPECT_EQ(SettingsFolder(places), places.Data);
    EXPECT_EQ(ReadFile("data/sonvale/options.ini"), "[CommonOptions]\nOutputFolder=/elsewhere\n");

    // A build-folder run keeps options.ini beside the executable and moves nothing.
    places.Installed = false;
    places.Config = places.Data;
    EXPECT_EQ(SettingsFolder(places), places.Data);
}

// The config folder on another file system than the old place (a tmpfs here): copied, then the
// old one removed.
TEST_F(ProgramFolderTest, SettingsAreMovedAcrossFileSystems)
{
    struct stat here {}, shm {};
    if (stat(m_dir.c_str(), &here) != 0 || stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev ||
        access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second file system to move to";
    std::string other = "/dev/shm/sonvale-config-XXXXXX";
    ASSERT_NE(mkdtemp(other.data()), nullptr);
    TProgramPlaces places;
    places.Installed = true;
    places.Config = other + "/sonvale/";
    places.Data = Path("data/");
    std::filesystem::create_directories(places.Data);
    WriteFile("data/options.ini", "[JobOptions]\nEncoders=2\n");

    EXPECT_EQ(SettingsFolder(places), places.Config);
    EXPECT_FALSE(std::filesystem::exists(Path("data/options.ini")));
    std::ifstream moved(places.Config + "options.ini");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(moved), {}), "[JobOptions]\nEncoders=2\n");
    EXPECT_FALSE(std::filesystem::exists(places.Config + "options.ini.moving"));
    std::filesystem::remove_all(other);
}

// Installed in a folder the user may not write, the program keeps its files in the data folder,
// but a helper program placed beside the executable still comes before one on PATH, and PATH
// before anything in the data folder.
TEST_F(ProgramFolderTest, HelpersBesideTheExecutableComeFirstThenPath)
{
    for (const char* folder : {"bin", "path", "data"})
        std::filesystem::create_directory(Path(folder));
    for (const char* helper : {"bin/lame", "path/lame", "path/only-on-path", "data/only-in-data"})
        FakeProgram(helper, "");
    chmod(Path("bin").c_str(), 0555);
    SetExecutableFolder(Path("bin"));
    SetProgramFolder(Path("data"));
    const TScopedEnv path("PATH", (Path("nowhere") + ":" + Path("path")).c_str());

    EXPECT_EQ(FindProgram("lame"), Path("bin/lame"));
    EXPECT_EQ(FindProgram("only-on-path"), Path("path/only-on-path"));
    EXPECT_EQ(FindProgram("only-in-data"), "");
    chmod(Path("bin/lame").c_str(), 0644);  // not executable: passed over
    EXPECT_EQ(FindProgram("lame"), Path("path/lame"));
}

}  // namespace
