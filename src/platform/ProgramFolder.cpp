#include "ProgramFolder.h"

#include "FileSystem.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <system_error>

#ifndef SONVALE_BINDIR
#define SONVALE_BINDIR "bin"
#endif
#ifndef SONVALE_LIBEXECDIR
#define SONVALE_LIBEXECDIR "libexec/sonvale"
#endif
#ifndef SONVALE_DOCDIR
#define SONVALE_DOCDIR "share/doc/sonvale"
#endif
#ifndef SONVALE_INSTALLED
#define SONVALE_INSTALLED 0
#endif

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

std::string Home()
{
    const char* home = std::getenv("HOME");
    return home && home[0] != '\0' ? std::string(home) : std::string("/tmp");
}

// An XDG base folder: the variable when it holds an absolute path (a relative one is invalid and
// ignored), else its default under HOME, else /tmp; with a trailing "/".
std::string XdgFolder(const char* variable, const char* underHome)
{
    if (const char* xdg = std::getenv(variable); xdg && xdg[0] == '/')
        return WithSlash(xdg);
    if (const char* home = std::getenv("HOME"); home && home[0] != '\0')
        return WithSlash(std::string(home) + "/" + underHome);
    return "/tmp/";
}

std::string DataFolder() { return XdgFolder("XDG_DATA_HOME", ".local/share") + "sonvale/"; }

// Where a folder of the installation is: relative to the prefix, or absolute when configured so.
std::string UnderPrefix(const std::string& prefix, const std::string& folder)
{
    return WithSlash(folder.starts_with('/') ? folder : prefix + folder);
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

std::string MusicFolder()
{
    const std::string home = Home();
    std::ifstream dirs(XdgFolder("XDG_CONFIG_HOME", ".config") + "user-dirs.dirs");
    const std::string key = "XDG_MUSIC_DIR=\"";
    for (std::string line; std::getline(dirs, line);) {
        if (!line.starts_with(key) || line.size() < key.size() + 1 || line.back() != '"')
            continue;
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value.starts_with("$HOME/"))
            value = home + value.substr(5);
        // "$HOME" alone (or "$HOME/") turns the folder off; anything else must be absolute.
        while (value.size() > 1 && value.back() == '/')
            value.pop_back();
        if (value.starts_with('/') && value != home)
            return value;
    }
    return home + "/Music";
}

TProgramPlaces ChoosePlaces(const std::string& exeFolder, bool configuredForInstall)
{
    TProgramPlaces places;
    const std::string exe = WithSlash(exeFolder);
    const std::string bin = "/" + std::string(SONVALE_BINDIR) + "/";
    const bool inPrefix = exe.ends_with(bin);  // "/bin/" itself: the prefix "/"
    places.Installed = inPrefix || configuredForInstall;
    if (!places.Installed) {
        places.Data = places.Config = places.Cache = ChooseProgramFolder(exe);
        places.Output = places.Data + "Output";
        places.Browse = places.Data;
        return places;
    }
    places.Config = XdgFolder("XDG_CONFIG_HOME", ".config") + "sonvale/";
    places.Cache = XdgFolder("XDG_CACHE_HOME", ".cache") + "sonvale/";
    places.Data = DataFolder();
    // A folder of its own in the music folder, also where there is no music folder yet (it is
    // made with it; see MakeOutputFolder), so that the default stays the same from run to run.
    const std::string music = MusicFolder();
    std::error_code ec;
    const bool hasMusic = std::filesystem::is_directory(music, ec);
    places.Output = music + "/Sonvale";
    places.Browse = WithSlash(hasMusic ? music : Home());
    if (inPrefix) {
        const std::string prefix = exe.substr(0, exe.size() - bin.size() + 1);
        places.Helpers = UnderPrefix(prefix, SONVALE_LIBEXECDIR);
        places.Docs = UnderPrefix(prefix, SONVALE_DOCDIR);
    }
    return places;
}

std::string SettingsFolder(const TProgramPlaces& places)
{
    std::error_code ec;
    if (!places.Installed || places.Config == places.Data)
        return places.Config;
    std::filesystem::create_directories(places.Config, ec);
    const std::string settings = places.Config + "options.ini";
    const std::string old = places.Data + "options.ini";
    if (std::filesystem::exists(settings, ec) || !std::filesystem::is_regular_file(old, ec))
        return places.Config;
    std::filesystem::rename(old, settings, ec);
    if (ec == std::errc::cross_device_link) {
        // Another file system: a copy under a temporary name, renamed whole, then the old removed.
        const std::string temp = settings + ".moving";
        ec.clear();
        std::filesystem::copy_file(old, temp, std::filesystem::copy_options::overwrite_existing, ec);
        if (!ec)
            std::filesystem::rename(temp, settings, ec);
        if (ec) {
            std::error_code ignored;
            std::filesystem::remove(temp, ignored);
        } else {
            std::filesystem::remove(old, ec);
            ec.clear();  // both copies hold the same settings; the new place is read from now on
        }
    }
    return ec ? places.Data : places.Config;
}

namespace {

std::mutex folderMutex;
std::optional<TProgramPlaces> placesOverride;
std::string executableOverride;

struct TRunPlaces {
    TProgramPlaces Places;
    std::string Settings;
};

const TRunPlaces& RunPlaces()
{
    static const TRunPlaces run = [] {
        TRunPlaces r{ChoosePlaces(FindExecutableFolder(), SONVALE_INSTALLED != 0), {}};
        std::error_code ec;
        std::filesystem::create_directories(r.Places.Data, ec);  // a failure shows when a file is written there
        r.Settings = SettingsFolder(r.Places);
        return r;
    }();
    return run;
}

const TProgramPlaces& Places()
{
    {
        std::lock_guard lock(folderMutex);
        if (placesOverride)
            return *placesOverride;
    }
    return RunPlaces().Places;
}

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

const std::string& ProgramFolder() { return Places().Data; }
const std::string& HelperFolder() { return Places().Helpers; }
const std::string& DocFolder()
{
    const std::string& docs = Places().Docs;
    return docs.empty() ? ExecutableFolder() : docs;
}
const std::string& DefaultOutputFolder() { return Places().Output; }
const std::string& CacheFolder() { return Places().Cache; }

bool MakeOutputFolder(const std::string& folder, const std::string& defaultFolder)
{
    if (folder.empty())
        return false;
    std::error_code ec;
    if (folder == defaultFolder)
        std::filesystem::create_directories(folder, ec);
    else
        std::filesystem::create_directory(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}
const std::string& DialogStartFolder() { return Places().Browse; }

const std::string& ConfigFolder()
{
    {
        std::lock_guard lock(folderMutex);
        if (placesOverride)
            return placesOverride->Config;
    }
    return RunPlaces().Settings;
}

void SetProgramFolder(const std::string& folder)
{
    TProgramPlaces places;
    places.Data = places.Config = places.Cache = WithSlash(folder);
    places.Output = places.Data + "Output";
    places.Browse = places.Data;
    SetProgramPlaces(places);
}

void SetProgramPlaces(const TProgramPlaces& places)
{
    std::lock_guard lock(folderMutex);
    placesOverride = places;
}
