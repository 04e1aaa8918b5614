#pragma once
// Reading a WAV file's header, and the two ADPCM codings WAV files use. Pure functions over
// bytes, shared by the WAV source, the WAV output and the fuzz targets.
//
// RIFF/WAVE: http://soundfile.sapp.org/doc/WaveFormat/ . IMA (DVI) ADPCM: the IMA Digital Audio
// Focus and Technical Working Groups' "Recommended Practices for Enhancing Digital Audio
// Compatibility in Multimedia Systems" (1992). Microsoft ADPCM: Microsoft's "Multimedia
// Standards Update" (1994), WAVE_FORMAT_ADPCM.

#include "ACS_Streams.h"

#include <cstdint>
#include <vector>

enum TWavType { wtUnsupported = 0, wtPCM = 1, wtDVIADPCM = 2, wtMSADPCM = 3, wtACM = 4 };

struct TMsCoefficients {
    int16_t First;
    int16_t Second;
};

// What the header walk learns. Fields stay as they were when the walk ends early.
struct TWavFormat {
    TWavType Kind = wtUnsupported;
    int32_t Channels = 0;
    int32_t SamplesPerSecond = 0;
    int32_t BitsPerSample = 0;
    uint16_t BlockAlign = 0;
    uint16_t SamplesPerBlock = 0;
    std::vector<TMsCoefficients> Coefficients;  // MS ADPCM
    int32_t FactSamples = 0;                    // samples per channel from "fact"
    int64_t FactOffset = -1;                    // where that value is in the stream
    int64_t DataSize = 0;                       // the "data" chunk's body size
    int64_t DataOffset = 0;                     // the first audio byte
};

// Walks the chunks from the stream's start to the first byte of "data" (where it leaves the
// stream): "RIFF" and "WAVE" found by a sliding search, then "fmt ", for coded kinds "fact",
// then "data", skipping other chunks and their pad byte. Identifiers match without regard to
// letter case. Gives up (Kind wtUnsupported) at the end of the stream, after 8192 bytes, or at a
// format tag other than 1 (PCM), 2 (MS ADPCM), 17 (IMA ADPCM) or 85 (MPEG Layer-3).
void WalkWavHeader(TStream& stream, TWavFormat& format);

// Whether the header values of an IMA or MS ADPCM file are ones the decoders can follow: mono or
// stereo, a block that holds its samples and decodes into bufferSize bytes, 1 to 32 coefficient
// pairs (MS). Files that fail are refused: they yield no data.
bool AdpcmFormatUsable(const TWavFormat& format, int32_t bufferSize);

// --- IMA ADPCM ---

struct TImaChannel {
    int32_t Predictor = 0;
    int32_t StepIndex = 0;
};

// Samples per channel in a block of blockSize bytes: 1 + 2 x (size - 4) mono, 1 + (size - 8)
// stereo. 0 for block sizes the decoder refuses (too small, stereo data not in 8-byte groups).
int32_t ImaSamplesPerBlock(int32_t blockSize, int32_t channels);

// Decodes one block into interleaved samples; the count per channel, or -1 when the block is not
// valid (a step index above 88). out holds ImaSamplesPerBlock x channels samples.
int32_t DecodeImaBlock(const uint8_t* block, int32_t blockSize, int32_t channels, int16_t* out);

// Encodes samplesPerChannel interleaved samples (at most ImaSamplesPerBlock) into one block of
// blockSize bytes; missing samples are silence. state carries each channel's step index.
void EncodeImaBlock(const int16_t* in, int32_t samplesPerChannel, int32_t channels, int32_t blockSize,
                    TImaChannel* state, uint8_t* out);

// --- Microsoft ADPCM ---

// Bytes a block needs for samplesPerBlock samples per channel: the header (7 per channel) and
// the 4-bit codes of all but the two header samples.
int32_t MsBlockBytesNeeded(int32_t samplesPerBlock, int32_t channels);

// Decodes one block into interleaved samples; samplesPerBlock per channel, or -1 when the block
// is not valid (a predictor index beyond the coefficients).
int32_t DecodeMsBlock(const uint8_t* block, int32_t blockSize, int32_t channels, int32_t samplesPerBlock,
                      const std::vector<TMsCoefficients>& coefficients, int16_t* out);
