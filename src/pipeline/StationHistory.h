#pragma once
// A ripping station's history: one record per disc it was given, kept as JSON in
// $XDG_DATA_HOME/sonvale/station.json, written whole under a temporary name and renamed over the
// file (never half written, whatever ends the program between writes). The station skips a disc
// whose IDs are in it; its page lists it, newest first.
//
//   {"discs": [{"id": "3", "musicbrainz_id": "...", "ctdb_id": "...", "accuraterip_id": "003-...",
//               "drive": "...", "artist": "...", "album": "...", "release": "...", "folder": "...",
//               "formats": ["flac", "opus"], "log": "...", "cue": "...", "result": "ripped",
//               "note": "", "start": "2026-12-11T10:00:00", "end": "...",
//               "tracks": [{"number": 1, "result": "done", "accuraterip": "...", "ctdb": "..."}]}]}

#include <optional>
#include <string>
#include <vector>

struct TStationTrack {
    int Number = 0;
    std::string Result;             // "done", "failed", "not done" (per format: the worst)
    std::string AccurateRip, Ctdb;  // the verdicts
};

struct TStationDisc {
    std::string Id;                 // the history's own ("3"), for the page's links
    std::string MusicBrainzId, CtdbId, AccurateRipId;
    std::string Drive, Artist, Album, Release, Folder;
    std::vector<std::string> Formats;
    std::string Log, Cue;           // paths; empty: none written
    // "ripped", "ripped with errors", "failed", "stopped", "skipped" (ripped before)
    std::string Result;
    std::string Note;               // what the user should know ("release chosen without you: check")
    std::string Start, End;         // local time, "2026-12-11T10:00:00"
    std::vector<TStationTrack> Tracks;
};

class TStationHistory {
public:
    // The history at path (none read yet).
    explicit TStationHistory(std::string path);

    // Reads the file: a missing one is an empty history; one that is not a history is kept aside
    // as "<path>.bad" (said in error) and the history starts empty. False only for the latter.
    bool Load(std::string& error);
    // Writes the whole history; false (and why) when the system refuses.
    bool Save(std::string& error) const;

    const std::vector<TStationDisc>& Discs() const { return m_discs; }
    // A new record, given the next ID; its index.
    std::size_t Add(TStationDisc disc);
    TStationDisc& At(std::size_t index) { return m_discs[index]; }
    // The record of a disc ripped before with any of these IDs (empty IDs match nothing), or none.
    const TStationDisc* RippedBefore(const std::string& musicBrainzId, const std::string& ctdbId,
                                     const std::string& accurateRipId) const;
    const std::string& Path() const { return m_path; }

    // The history as JSON text, and read back (nothing for text that is not one).
    std::string Text() const;
    static std::optional<std::vector<TStationDisc>> Parse(const std::string& text);

private:
    std::string m_path;
    std::vector<TStationDisc> m_discs;
    int m_nextId = 1;
};

// $XDG_DATA_HOME/sonvale/station.json (~/.local/share/sonvale/station.json).
std::string DefaultStationHistoryPath();
