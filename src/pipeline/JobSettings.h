#pragma once
// The settings a job runs with, taken once when it is made: the window makes them from the
// options as they stand, the command line from the options and its flags. A running job, its
// extraction thread and its encoders read these and never the global options, so a job cannot
// change under its own feet and the command line never has to write the options for a run.

#include "DriveOffsets.h"
#include "GlobalOptions.h"

#include <map>
#include <optional>

struct TJobSettings {
    TCommonOptions Common;    // output folder, format, keep WAV, normalising
    TMp3Options Mp3;
    TOggOptions Ogg;
    TWMAOptions Wma;
    TFlacOptions Flac;
    TOpusOptions Opus;
    TTagOptions Tags;
    TNamingOptions Naming;
    TMusicBrainzOptions MusicBrainz;
    bool UseID3 = false;      // tags on ripped files (and the WMA author and description)
    TCDInfo Disc;             // the disc's artist, album, year, genre and comment for the tags
    TSecureOptions Secure;
    TCtdbOptions Ctdb;
    int Encoders = 1;         // items encoded at once, 1..MaxEncoders (1: read, encode, read...)
    // A rip: the formats each track is also encoded to (stored numbers, none the output format's).
    std::vector<int32_t> AlsoFormats;
    std::map<std::string, std::string> DriveOffsets;  // [DriveOffsets]
    // --offset N: the read offset of a secure rip whatever the drive (otherwise the job chooses
    // one when it starts; see ChooseReadOffset).
    std::optional<int> OffsetGiven;

    // The global options as they are now.
    static TJobSettings FromOptions();
};

// The formats of a list of keys ("flac,opus"; spaces allowed), in its order, each once; a key that
// names no format is left out and said in unknown (when given).
std::vector<int32_t> FormatsOfKeys(const std::string& keys, std::string* unknown = nullptr);

// The encoders a job runs at once for the setting n: n itself (at most MaxEncoders), or for 0 one
// per processor.
int EncodersAtOnce(int n);

// After the options are loaded: a naming template that cannot name files (hand-edited) is refused
// with the reason the Options dialog gives, and "%title%" used; the line joins OptionsLoadNotes.
void CheckLoadedNaming(TOptionsSetting& options);
