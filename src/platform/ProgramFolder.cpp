#include "ProgramFolder.h"

#include "FileSystem.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace {

std::string WithSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::string FindExecutableFolder()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return WithSlash(std::filesystem::current_path(ec).string());
    return WithSlash(exe.parent_path().string());
}

std::string DataFolder()
{
    // XDG base directory rules: a relative $XDG_DATA_HOME is invalid and ignored.
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0] != '\0')
        base = std::string(home) + "/.local/share";
    else
        base = "/tmp";
    return WithSlash(base) + "sonvale/";
}

}  // namespace

std::string ChooseProgramFolder(const std::string& exeFolder)
{
    if (!IsReadOnlyFile(exeFolder))
        return exeFolder;
    const std::string data = DataFolder();
    std::error_code ec;
    std::filesystem::create_directories(data, ec);  // a failure shows when a file is written there
    return data;
}

namespace {

std::mutex folderMutex;
std::string folderOverride;
std::string executableOverride;

}  // namespace

const std::string& ExecutableFolder()
{
    static const std::string folder = FindExecutableFolder();
    std::lock_guard lock(folderMutex);
    return executableOverride.empty() ? folder : executableOverride;
}

void SetExecutableFolder(const std::string& folder)
{
    std::lock_guard lock(folderMutex);
    executableOverride = WithSlash(folder);
}

const std::string& ProgramFolder()
{
    static const std::string found = ChooseProgramFolder(FindExecutableFolder());
    std::lock_guard lock(folderMutex);
    return folderOverride.empty() ? found : folderOverride;
}

void SetProgramFolder(const std::string& folder)
{
    std::lock_guard lock(folderMutex);
    folderOverride = WithSlash(folder);
}
