#include "CueSheet.h"

#include "DiscScan.h"
#include "Global.h"

#include <cstdio>

namespace {

std::string Msf(int32_t sectors)
{
    char s[16];
    std::snprintf(s, sizeof s, "%02d:%02d:%02d", sectors / 4500, sectors / 75 % 60, sectors % 75);
    return s;
}

// A quoted field: double quotes inside become single ones, line breaks spaces (a cue sheet has
// no way to escape them).
std::string Quoted(std::string text)
{
    for (char& c : text) {
        if (c == '"')
            c = '\'';
        else if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    }
    return "\"" + text + "\"";
}

// Where a track's INDEX 00 stands on the disc in an image rip (-1: none): as the disc tells it,
// and for a first track after sector 0 the disc's start (the audio before it is its gap).
int32_t ImagePregap(const TRipLog& log, int number, int32_t start)
{
    const auto p = static_cast<std::size_t>(number - 1);
    if (number == 1 && start > 0)
        return 0;
    return p < log.Pregaps.size() ? log.Pregaps[p] : -1;
}

}  // namespace

std::string CueSheetText(const TRipLog& log)
{
    std::string t;
    const auto line = [&t](const std::string& s) { t += s + "\n"; };
    line("REM COMMENT \"Sonvale 2.1\"");
    char id[32];
    std::snprintf(id, sizeof id, "REM DISCID %08X", log.DiscId.CddbId);
    line(id);
    if (!log.Catalog.empty())
        line("CATALOG " + log.Catalog);
    if (!log.Artist.empty())
        line("PERFORMER " + Quoted(log.Artist));
    if (!log.Album.empty())
        line("TITLE " + Quoted(log.Album));
    // A track's lines before its indexes.
    const auto head = [&](const TRipLogTrack& track) {
        line("  TRACK " + TwoDigits(track.Number) + " AUDIO");
        if (!track.Title.empty())
            line("    TITLE " + Quoted(track.Title));
        if (!log.Artist.empty())
            line("    PERFORMER " + Quoted(log.Artist));
        if (!track.Isrc.empty())
            line("    ISRC " + track.Isrc);
        if (track.PreEmphasis)
            line("    FLAGS PRE");
    };
    if (!log.Image.empty()) {
        // One file from sector 0: every index at its place on the disc.
        line("FILE " + Quoted(log.Image) + " WAVE");
        for (const TRipLogTrack& track : log.Tracks) {
            const int32_t start = TrackSectors(log.Toc, track.Number).Start;
            const int32_t pregap = ImagePregap(log, track.Number, start);
            head(track);
            if (pregap >= 0 && pregap < start)
                line("    INDEX 00 " + Msf(pregap));
            line("    INDEX 01 " + Msf(start));
        }
        return t;
    }
    int32_t previousStart = 0;
    for (std::size_t k = 0; k < log.Tracks.size(); ++k) {
        const TRipLogTrack& track = log.Tracks[k];
        const int position = track.Number;  // its entry in the table, from 1
        const int32_t start = TrackSectors(log.Toc, position).Start;
        const auto p = static_cast<std::size_t>(position - 1);
        const int32_t pregap = p < log.Pregaps.size() ? log.Pregaps[p] : -1;
        // The audio hidden before the first track: its INDEX 00, in a file of its own.
        const bool hidden = k == 0 && log.Hidden && log.Hidden->Status == 0 && start > 0;
        if (k == 0)
            line("FILE " + Quoted(hidden ? log.Hidden->File : track.File) + " WAVE");
        head(track);
        if (hidden) {
            line("    INDEX 00 00:00:00");
            line("FILE " + Quoted(track.File) + " WAVE");
        } else if (k == 0) {
            if (start > 0)
                line("    PREGAP " + Msf(start));
        } else {
            // The gap is the end of the previous track's file.
            if (pregap >= 0 && pregap >= previousStart && pregap < start)
                line("    INDEX 00 " + Msf(pregap - previousStart));
            line("FILE " + Quoted(track.File) + " WAVE");
        }
        line("    INDEX 01 00:00:00");
        previousStart = start;
    }
    return t;
}

TFlacCueSheet FlacCueSheetOf(const TRipLog& log)
{
    TFlacCueSheet sheet;
    sheet.Catalog = log.Catalog;
    for (const TRipLogTrack& track : log.Tracks) {
        const TTrackSectors s = TrackSectors(log.Toc, track.Number);
        const int32_t pregap = ImagePregap(log, track.Number, s.Start);
        TFlacCueTrack t;
        t.Number = track.Number;
        t.Index0 = pregap >= 0 && pregap < s.Start ? int64_t{pregap} * 588 : -1;
        t.Index1 = int64_t{s.Start} * 588;
        t.Isrc = track.Isrc;
        t.PreEmphasis = track.PreEmphasis;
        sheet.Tracks.push_back(t);
        sheet.LeadOut = int64_t{s.Start + s.Length} * 588;
    }
    return sheet;
}

std::string CueSheetFileName(const std::string& logFileName)
{
    const std::string stem = logFileName.size() > 4 && logFileName.ends_with(".log")
                                 ? logFileName.substr(0, logFileName.size() - 4)
                                 : logFileName;
    return stem + ".cue";
}
