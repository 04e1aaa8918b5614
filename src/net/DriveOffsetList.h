#pragma once
// The AccurateRip drive list, <AccurateRipServer>/accuraterip/DriveOffsets.bin, kept in the cache
// folder and fetched again when the copy is older than ten days. A copy that could not be
// refreshed is still used; without one and without the network there is no list, said once.

#include "DriveOffsets.h"

#include <chrono>
#include <string>
#include <vector>

struct TDriveOffsetList {
    std::vector<TDriveOffsetEntry> Entries;  // empty: no list
    // What the user is told once: the list could not be had, or an old copy stands in for it.
    std::string Note;
};

inline constexpr std::chrono::hours DriveListMaxAge{24 * 10};
inline constexpr const char* DriveListFileName = "DriveOffsets.bin";

// The list for this run. mayFetch: a copy missing or older than ten days is fetched from server
// (the window's rips do not wait for the network: they read the copy there is). The copy is
// written whole (a temporary name, then renamed) into folder.
TDriveOffsetList LoadDriveOffsetList(const std::string& server, const std::string& folder, bool mayFetch);
