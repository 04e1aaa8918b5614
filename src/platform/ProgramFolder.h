#pragma once
// Where the program keeps what it writes and finds what it ships with.
//
// Run from its build folder (or any folder that is not the bin/ folder of a prefix), the program
// keeps options.ini, cdinfo.dat and the recorder's files beside the executable when the user may
// write there. Installed (/usr/bin/sonvale), it keeps options.ini in $XDG_CONFIG_HOME/sonvale, the
// rest in $XDG_DATA_HOME/sonvale, and finds its helper programs in <prefix>/libexec/sonvale and
// its help pages in <prefix>/share/doc/sonvale.

#include <string>

struct TProgramPlaces {
    bool Installed = false;
    std::string Config;   // options.ini
    std::string Data;     // cdinfo.dat, the recorder's working files: "the program's folder"
    std::string Helpers;  // the programs shipped with this one (WM8EUTIL); "" when beside the executable
    std::string Docs;     // the help pages; "" when beside the executable
    std::string Cache;    // what may be fetched again (the AccurateRip drive list): installed,
                          // $XDG_CACHE_HOME/sonvale/; otherwise beside options.ini
    std::string Output;   // the output folder of a fresh options.ini (no trailing "/"): installed,
                          // <music folder>/Sonvale, or the music folder while there is none
    std::string Browse;   // where the folder and file dialogs start: the program's folder, or
                          // installed, the music folder (the home folder while there is none)
};

// The places for an executable in exeFolder, from HOME, XDG_CONFIG_HOME and XDG_DATA_HOME.
// configuredForInstall: a build made to be installed keeps its settings in the user's folders
// even when run before it is installed. Every folder but Output ends in "/". Creates nothing.
TProgramPlaces ChoosePlaces(const std::string& exeFolder, bool configuredForInstall);

// The folder to read options.ini from this run. An installed program whose places.Config holds
// no options.ini moves the one an earlier version kept in places.Data there (once: afterwards
// there is none to move). Creates places.Config. When the move fails the settings are read
// where they are, so they are never lost; the move is tried again on the next run.
std::string SettingsFolder(const TProgramPlaces& places);

// The user's music folder: XDG_MUSIC_DIR of $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Music.
std::string MusicFolder();

// This run's places, decided once. Each folder ends in "/" (but DefaultOutputFolder()).
const std::string& ProgramFolder();        // Data, created on first use
const std::string& ConfigFolder();         // where options.ini is read and written
const std::string& HelperFolder();         // "" when the helpers sit beside the executable
const std::string& DocFolder();            // the help pages' folder, beside the executable or installed
const std::string& DefaultOutputFolder();
const std::string& CacheFolder();          // not created here
const std::string& DialogStartFolder();

// Makes a missing output folder: the program's own default with the folders above it (the music
// folder of an account that has none yet), any other folder one level only (its parent must
// exist, so that a mistyped path does not grow a tree). Whether it is a folder now.
bool MakeOutputFolder(const std::string& folder, const std::string& defaultFolder = DefaultOutputFolder());

// The folder of the running executable, with a trailing "/", writable or not.
const std::string& ExecutableFolder();
// Points ExecutableFolder() at another folder (tests). A trailing "/" is added when missing.
void SetExecutableFolder(const std::string& folder);

// The choice a build-folder run makes for the program's folder: exeFolder when the user may write
// there, otherwise $XDG_DATA_HOME/sonvale (created).
std::string ChooseProgramFolder(const std::string& exeFolder);

// Points the program at another folder for its settings, titles and files, as a build-folder run
// beside a writable executable (tests, and tools that run the program's parts). A trailing "/" is
// added when missing.
void SetProgramFolder(const std::string& folder);
// Points the program at a whole set of places (tests of an installed program).
void SetProgramPlaces(const TProgramPlaces& places);
