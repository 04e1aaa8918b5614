#pragma once
// Small routines shared across the program.

#include <cstdint>
#include <string>

// n with a leading 0 when it is 0..9: "07", "12", "100". Used for track numbers and time texts.
std::string TwoDigits(int n);

// Seconds as minutes and seconds, "MM:SS" (65 -> "01:05", 6000 -> "100:00").
std::string TimeText(int64_t seconds);

// The folder text with a trailing "/" added, unless empty or already there.
std::string IncludeBackslash(const std::string& folder);

// False when the file does not exist. Otherwise true when it cannot be opened for reading and
// writing, is read-only (no write permission bit), or another writer holds its write lock
// (TryLockForWriting): a file the user must not overwrite now.
bool IsFileLocked(const std::string& path);

// Blocks the calling thread for at least ms milliseconds without processing messages; returns at
// once for ms below 1. Sleeps rather than spinning.
void WaitMilliseconds(int ms);

// Size of the file in bytes (a folder counts 0), or -1 when there is none.
int64_t GetFileSize64(const std::string& path);
