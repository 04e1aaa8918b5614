#pragma once
// The log of a secure rip, written beside the tracks: what was read, how, and how sure the
// program is of it, ending in a checksum of the log itself.
//
// The last line is "Log checksum: " and the SHA-256 (hex) of every byte before that line. To
// verify a log: `head -n -1 "Artist - Album.log" | sha256sum` prints the same digits. The
// checksum tells a log edited by hand (or damaged) from the one Sonvale wrote; it is no
// signature: whoever edits a log can compute it again.

#include "AccurateRip.h"
#include "Ctdb.h"
#include "DriveOffsets.h"
#include "GlobalOptions.h"
#include "ripthread.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TRipLogTrack {
    int Number = 0;                // the track's number on the disc
    std::string File;              // the file made from it, from the output folder
    std::string Title;
    std::string Isrc;              // the disc's ISRC for it; empty: none
    bool PreEmphasis = false;      // the disc marks it pre-emphasised (the audio is kept as read)
    int32_t Status = 0;            // the extraction's end status
    // Not read at all, and why ("Track02.wav was already there and is kept"), with Status
    // esNotRead.
    std::string NotCopied;
    TTrackResult Result;
    std::string AccurateRip;       // the verdict's text
    std::string Ctdb;              // CTDB's verdict's text
};

struct TRipLog {
    std::string Date;              // "2026-12-10 15:04:05"
    std::string Drive;
    std::string Artist, Album;
    TSecureOptions Secure;
    TReadOffset Offset;            // the read offset used, and where it came from
    bool Normalized = false;
    TTOC Toc{};                    // in MSF mode
    std::vector<int32_t> Pregaps;  // [position - 1]: where the track's INDEX 00 begins; -1: none
    std::string Catalog;           // the disc's catalogue number (MCN); empty: none
    TAccurateRipDiscId DiscId;
    std::string CtdbId;            // the CTDB TOC ID
    bool CtdbAsked = false;        // the rip looked the disc up in CTDB
    // What CTDB says of the disc: "3 of 4 tracks accurate; disc CRC matches (confidence 7)".
    std::string CtdbDisc;
    std::vector<TRipLogTrack> Tracks;
    std::optional<TRipLogTrack> Hidden;  // the audio before the first track, when ripped (Number 0)
    // A whole-disc image rip: the one file (from the output folder) holding the disc from sector 0
    // to the lead-out, each track the range of it the table of contents gives; empty otherwise.
    std::string Image;
    std::string Path;              // where it was written; empty when it was not
    // A rip ended early: why, and which tracks the log covers ("by the user (Stop or Ctrl+C):
    // this log covers track 01 of the 3 chosen"); empty for a rip that ran to its end.
    std::string Stopped;
    // The tracks AccurateRip did not confirm match it at another read offset: what the user is
    // told ("AccurateRip matches this disc read with offset +667 (this rip used 0): ..."); empty
    // when not.
    std::string OffsetHint;
};

// The log's text, its checksum line last.
std::string RipLogText(const TRipLog& log);
// "3 tracks, 2 accurately ripped, 0 with unreadable sectors, 1 failed".
std::string RipLogSummary(const TRipLog& log);
// What the window's status line says when a secure rip is over, short enough for it: "Secure rip
// of 3 tracks: AccurateRip 2 accurate, CTDB 3 accurate, disc CRC matches" (a database that gave
// no verdict: "AccurateRip not checked", "CTDB not in database"; then "; 1 failed" when any did).
// RipLogEndDetail gives the summary and CTDB's line in full.
std::string RipLogEndText(const TRipLog& log);
std::string RipLogEndDetail(const TRipLog& log);
// Whether the last line is the checksum of everything before it.
bool RipLogIntact(std::string_view text);
// "<artist> - <album>.log", or "<disc key>.log" without names, named by the rules of the
// tracks' files (TrackFileName: "AC/DC" -> "AC-DC"; portable: without " * : < > ? \ |).
std::string RipLogFileName(const std::string& artist, const std::string& album, const std::string& discKey,
                           bool portable = true);
