#pragma once
// What a rip-and-convert job does with its items.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

enum TJobKind : uint8_t {
    jkRipTracks = 1,    // the checked tracks of the disc
    jkWavToMp3 = 2,
    jkMp3ToWav = 3,
    jkRecordToMp3 = 4,  // the recorder's MP3 copy, beside its WAV
    jkWavToOgg = 5,
    jkWavToWma = 6,
    jkWavToFlac = 7,
    jkWavToOpus = 8,
    jkFlacToWav = 9,
};

// The fixed intermediate files of the conversions that resample, in the output folder.
inline constexpr const char* Mp3ResampleFile = "MyMP3ReTemp.wav";
inline constexpr const char* OggResampleFile = "MyReTemp.wav";

class TEncoder;
struct TEncoderParts;
using TEncoderFactory = std::unique_ptr<TEncoder> (*)(const TEncoderParts& parts);

struct TSourceKind;

// A job that converts files, one row each: what it makes and how the window names its stages.
struct TFileJob {
    TJobKind Kind;
    std::string_view Format;     // the output format's key ("wav" for decoding)
    bool Beside;                 // the output goes beside its source, not into the output folder
    const char* FirstStage;      // the group box while the first file is converted
    const char* NextStage;       // ... and after it
    const char* Prefix;          // the caption: "Encoding(", "Decoding("
    const char* ResampleFile;    // a source below 44100 Hz is first resampled into this file of
                                 // the output folder; null: sources go to the encoder as they are
    const struct TSourceKind* Source;  // its sources must be files of this kind; null: any
    bool ReadsWav;               // its encoder reads the WAV in the process: a kind it cannot read
                                 // is said before it starts
    TEncoderFactory Make;
};

// The row of a file job's kind; null for jkRipTracks.
const TFileJob* FileJobOf(TJobKind kind);
// A kind of file a conversion reads, known by its first bytes.
struct TSourceKind {
    const char* Phrase;                  // "an MP3 file": what a file that is not one is told
    bool (*Is)(const std::string& path);
};
