#pragma once
// The program's folder: where options.ini, cdinfo.dat and the recorder's scratch files live and
// where the helper programs are looked for first.

#include <string>

// The folder with a trailing "/": the folder of the running executable when the user may write
// there, otherwise $XDG_DATA_HOME/sonvale (by default ~/.local/share/sonvale), created on first
// use. Decided once per run.
const std::string& ProgramFolder();

// The folder of the running executable, with a trailing "/", writable or not.
const std::string& ExecutableFolder();
// Points ExecutableFolder() at another folder (tests). A trailing "/" is added when missing.
void SetExecutableFolder(const std::string& folder);

// The choice ProgramFolder() makes for an executable in exeFolder.
std::string ChooseProgramFolder(const std::string& exeFolder);

// Points the program at another folder (tests, and tools that run the program's parts).
// A trailing "/" is added when missing.
void SetProgramFolder(const std::string& folder);
