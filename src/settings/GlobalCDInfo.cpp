#include "GlobalOptions.h"
#include "GlobalRoutines.h"

#include "ProfileFile.h"
#include "ProgramFolder.h"

#include <algorithm>

std::string DefaultTrackTitle(int n)
{
    return "Track" + TwoDigits(n);
}

void LoadSaveCDInfo(const std::string& key, bool load)
{
    TCDInfo& info = Options.CDInfo;
    if (load) {
        // An empty key names no section, so everything takes its default.
        const TProfileFile ini(ProgramFolder() + "cdinfo.dat");
        info.Artist = ini.ReadString(key, "Artist", "");
        info.Album = ini.ReadString(key, "Album", "");
        info.Year = ini.ReadString(key, "Year", "");
        info.Genre = ini.ReadInteger(key, "Genre", -1);
        info.Comment = ini.ReadString(key, "Comment", "");
        info.TrackNumber = ini.ReadInteger(key, "TrackNumber", MaxTracks);
        // Titles above TrackNumber keep what they held.
        for (int n = 1; n <= std::min(info.TrackNumber, MaxTracks); ++n) {
            info.Tracks[n] = ini.ReadString(key, std::to_string(n), "");
            if (info.Tracks[n].empty())
                info.Tracks[n] = DefaultTrackTitle(n);
        }
        info.MusicBrainzRelease = ini.ReadString(key, "MusicBrainzRelease", "");
        return;
    }

    if (key.empty())
        return;
    TProfileFile ini(ProgramFolder() + "cdinfo.dat");
    ini.WriteString(key, "Artist", info.Artist);
    ini.WriteString(key, "Album", info.Album);
    ini.WriteString(key, "Year", info.Year);
    ini.WriteInteger(key, "Genre", info.Genre);
    ini.WriteString(key, "Comment", info.Comment);
    ini.WriteInteger(key, "TrackNumber", info.TrackNumber);
    // A count loaded from a damaged file may exceed the 100 titles there are.
    for (int n = 1; n <= std::min(info.TrackNumber, MaxTracks); ++n)
        ini.WriteString(key, std::to_string(n), info.Tracks[n]);
    // Only a disc looked up on MusicBrainz has the key, after the others.
    if (!info.MusicBrainzRelease.empty() || !ini.ReadString(key, "MusicBrainzRelease", "").empty())
        ini.WriteString(key, "MusicBrainzRelease", info.MusicBrainzRelease);
    ini.UpdateFile();
}

bool CDInfoStored(const std::string& key)
{
    if (key.empty())
        return false;
    const TProfileFile ini(ProgramFolder() + "cdinfo.dat");
    return !ini.ReadString(key, "TrackNumber", "").empty();
}
