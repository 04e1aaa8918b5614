#include "OutputFormats.h"

#include "OutputEncoders.h"
#include "ProcessEncoders.h"

#include <array>

namespace {

// The stored numbers are those of options.ini files written by every earlier version: they never
// change, and a new format takes the next one.
constexpr std::array<TOutputFormat, 6> Formats = {{
    {"mp3", "MP3 file(*.MP3)", 0, ".mp3", true, TTagFamily::Id3v2, MakeMp3Encoder},
    {"wav", "WAV file(*.WAV)", 1, ".wav", false, TTagFamily::None, nullptr},
    {"ogg", "OGG file(*.OGG)", 2, ".ogg", true, TTagFamily::OggVorbis, MakeOggEncoder},
    {"wma", "WMA file(*.WMA)", 3, ".wma", true, TTagFamily::None, MakeWmaEncoder},
    {"flac", "FLAC file(*.FLAC)", 4, ".flac", true, TTagFamily::FlacXiph, MakeFlacEncoder},
    {"opus", "OPUS file(*.OPUS)", 5, ".opus", true, TTagFamily::OggOpus, MakeOpusEncoder},
}};

constexpr const TOutputFormat& Wav = Formats[1];

}  // namespace

std::span<const TOutputFormat> OutputFormats()
{
    return Formats;
}

const TOutputFormat& FormatOfStored(int32_t stored)
{
    for (const TOutputFormat& f : Formats)
        if (f.Stored == stored)
            return f;
    return Wav;
}

const TOutputFormat* FormatOfKey(std::string_view key)
{
    for (const TOutputFormat& f : Formats)
        if (f.Key == key)
            return &f;
    return nullptr;
}

std::string FormatKeys()
{
    std::string keys;
    for (const TOutputFormat& f : Formats)
        keys += (keys.empty() ? "" : "|") + std::string(f.Key);
    return keys;
}
