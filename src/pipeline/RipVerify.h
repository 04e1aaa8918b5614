#pragma once
// Checking a secure rip later against its log: the log's own checksum, then each track's file
// decoded (WAV or FLAC) and its CRC32 and AccurateRip checksums computed again and compared with
// what the log says (and its CTDB CRC, for asking the database). Lossy files cannot be checked this way: they are said to be unverifiable.

#include "AccurateRip.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a rip log says that a check needs.
struct TLoggedTrack {
    int Number = 0;                // 0: the audio hidden before the first track
    std::string File;              // from the log's folder
    bool Copied = false;           // "Result: copied" (or "copied with damage")
    bool HasSums = false;
    uint32_t Crc32 = 0, V1 = 0, V2 = 0;
};

struct TLoggedRip {
    bool Normalized = false;       // the files were normalised after the checksums were taken
    // The table of contents: each track's number, first sector and length, and whether it is data.
    struct TTocRow {
        int Number = 0;
        int32_t Start = 0, Length = 0;
        bool Data = false;
    };
    std::vector<TTocRow> Toc;
    std::string DiscId;            // "003-0001a2b3-...": the AccurateRip disc ID as logged
    std::vector<TLoggedTrack> Tracks;
    // A whole-disc image rip: its one file (from sector 0; each track is its range of sectors).
    std::string Image;
};

// The log of a Sonvale rip read; nothing (and why, for the user) for a text that is not one.
std::optional<TLoggedRip> ParseRipLog(std::string_view text, std::string& why);

// One track's check.
struct TTrackCheck {
    int Number = 0;
    std::string File;
    enum class TResult { Match, Differs, Missing, Unreadable, Lossy, NotCopied } Result = TResult::Match;
    std::string Text;              // "matches", "differs: CRC32 1A2B3C4D, the log says ..."
    uint32_t Crc32 = 0, V1 = 0, V2 = 0;  // what the file gives (Match or Differs)
    uint32_t CtdbCrc = 0;          // and its CTDB CRC, of CtdbBytes bytes
    int64_t CtdbBytes = 0;
};

struct TRipCheck {
    bool Intact = false;           // the log's checksum line matches its text
    std::vector<TTrackCheck> Tracks;
    // Everything matches: the log is intact and every copied track's file gives its checksums.
    bool Ok() const;
    // "3 tracks: 2 match, 1 differs, 0 missing or unreadable, 0 unverifiable", then ", 1 not copied
    // in the rip" when the rip left tracks out.
    std::string Summary() const;
};

// Checks the files of log (read from logPath's folder) against it.
TRipCheck CheckRip(const TLoggedRip& log, std::string_view logText, const std::string& folder);
