#pragma once
// The formats a rip writes, one row each: what the options dialog lists, what options.ini stores,
// what the command line calls it, the file's extension, and how the job makes it. Every place
// that needs to know about a format asks this table; a new format is a row here and its encoder.

#include "JobKind.h"
#include "Tagging.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct TOutputFormat {
    std::string_view Key;        // "mp3": sonvale-cli's --format and --to
    std::string_view ListText;   // "MP3 file(*.MP3)": the options dialog's list, in table order
    int32_t Stored;              // CommonOptions.OutputFormat in options.ini
    std::string_view Extension;  // ".mp3"
    bool Encoded;                // made from the track's WAV by an encoder; WAV output is that WAV
    TTagFamily Tags;             // the tag its files get (MP3: when tags are on)
    TEncoderFactory MakeEncoder; // its encoder (Encoder.h); null for WAV
};

// Every format, in the order the options dialog lists them (the order of their stored numbers).
std::span<const TOutputFormat> OutputFormats();
// The format options.ini's number names; a number that names none is WAV, the file a rip always
// has.
const TOutputFormat& FormatOfStored(int32_t stored);
// The format of a key ("ogg"), or null.
const TOutputFormat* FormatOfKey(std::string_view key);
// The keys joined for a usage text: "mp3|wav|ogg|wma|flac|opus".
std::string FormatKeys();
