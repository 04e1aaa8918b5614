#include "ProgramFolder.h"

#include "TestSupport.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace {

using ProgramFolderTest = TempDirTest;

TEST_F(ProgramFolderTest, TheExecutablesFolderWhenWritableElseTheDataFolder)
{
    std::filesystem::create_directory(Path("bin"));
    EXPECT_EQ(ChooseProgramFolder(Path("bin/")), Path("bin/"));

    chmod(Path("bin").c_str(), 0555);
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", Path("data").c_str(), 1);
    EXPECT_EQ(ChooseProgramFolder(Path("bin/")), Path("data/sonvale/"));
    EXPECT_TRUE(std::filesystem::is_directory(Path("data/sonvale")));

    // A relative XDG_DATA_HOME is not valid: the default under HOME is used.
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("XDG_DATA_HOME", "relative", 1);
    setenv("HOME", Path("home").c_str(), 1);
    EXPECT_EQ(ChooseProgramFolder(Path("bin/")), Path("home/.local/share/sonvale/"));
    setenv("HOME", savedHome.c_str(), 1);
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

}  // namespace
