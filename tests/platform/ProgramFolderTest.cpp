#include "ProgramFolder.h"
#include "Process.h"

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

// Installed in a folder the user may not write, the program keeps its files in the data folder,
// but a helper program placed beside the executable still comes before one on PATH, and PATH
// before anything in the data folder.
TEST_F(ProgramFolderTest, HelpersBesideTheExecutableComeFirstThenPath)
{
    for (const char* folder : {"bin", "path", "data"})
        std::filesystem::create_directory(Path(folder));
    const auto helper = [this](const std::string& file) {
        WriteFile(file, "#!/bin/sh\n");
        chmod(Path(file).c_str(), 0755);
    };
    helper("bin/lame");
    helper("path/lame");
    helper("path/only-on-path");
    helper("data/only-in-data");
    chmod(Path("bin").c_str(), 0555);
    SetExecutableFolder(Path("bin"));
    SetProgramFolder(Path("data"));
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (Path("nowhere") + ":" + Path("path")).c_str(), 1);

    EXPECT_EQ(FindProgram("lame"), Path("bin/lame"));
    EXPECT_EQ(FindProgram("only-on-path"), Path("path/only-on-path"));
    EXPECT_EQ(FindProgram("only-in-data"), "");
    chmod(Path("bin/lame").c_str(), 0644);  // not executable: passed over
    EXPECT_EQ(FindProgram("lame"), Path("path/lame"));
    setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
