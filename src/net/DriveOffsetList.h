#pragma once
// The AccurateRip drive list, <AccurateRipServer>/accuraterip/DriveOffsets.bin, kept in the cache
// folder and fetched again when the copy is older than ten days. A copy that could not be
// refreshed is still used; without one and without the network there is no list, said once.

#include "DriveOffsets.h"
#include "akrip32.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <string>
#include <vector>

struct TDriveOffsetList {
    std::vector<TDriveOffsetEntry> Entries;  // empty: no list
    // What the user is told once: the list could not be had, or an old copy stands in for it.
    std::string Note;
};

inline constexpr std::chrono::hours DriveListMaxAge{24 * 10};
inline constexpr const char* DriveListFileName = "DriveOffsets.bin";

// offset find: a drive's read offset from a disc the AccurateRip database knows.
struct TOffsetFindResult {
    std::optional<int> Offset;                     // none: Failure says why
    std::vector<std::pair<int, int>> MatchedOn;    // (track number, confidence) where Offset matches
    std::vector<int> TracksRead;                   // track numbers
    std::string Failure;                           // the user's words, without a closing period
};

// The tracks the search reads when none are named: the two longest audio tracks after the disc's
// first (positions, from 1).
std::vector<int> DefaultOffsetTracks(const TTOC& toc);

// Reads each track of positions once (with five sectors beyond each end) and tests every offset
// from -2940 to +2940 against the entry of server for the disc: v1 at all of them, v2 at the
// offsets drives commonly have and those the drive list gives model. The offset found must match
// on every track read; a second track is read only to confirm what the first matched.
// progress(track number, percent); cancel, once true, ends the search (Failure "stopped").
TOffsetFindResult FindDriveOffset(HCDROM handle, const TTOC& toc, const std::vector<int>& positions,
                                  const std::string& server, const std::vector<int>& modelOffsets,
                                  const std::function<void(int, int)>& progress = {},
                                  const std::atomic<bool>* cancel = nullptr);

// The list for this run. mayFetch: a copy missing or older than ten days is fetched from server
// (the window's rips do not wait for the network: they read the copy there is). The copy is
// written whole (a temporary name, then renamed) into folder.
TDriveOffsetList LoadDriveOffsetList(const std::string& server, const std::string& folder, bool mayFetch);
