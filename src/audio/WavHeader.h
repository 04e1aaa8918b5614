#pragma once
// The canonical 44-byte header of a PCM WAV file (RIFF/WAVE with one "fmt " chunk of 16 bytes
// and the "data" chunk right after it; http://soundfile.sapp.org/doc/WaveFormat/). All numbers
// little-endian.
//
//   0 "RIFF"   4 data size + 36   8 "WAVE"   12 "fmt "   16 16   20 1 (PCM)   22 channels
//  24 samples per second   28 bytes per second   32 bytes per frame   34 bits per sample
//  36 "data"   40 data size

#include <array>
#include <cstdint>

constexpr int WavHeaderSize = 44;

using TWavHeader = std::array<uint8_t, WavHeaderSize>;

// A header for dataBytes of sample data; CD audio by default (16-bit stereo at 44100 Hz,
// 176400 bytes per second). A data size that does not fit the 32-bit fields is written as the
// largest that does.
TWavHeader CanonicalWavHeader(uint64_t dataBytes, uint16_t channels = 2, uint32_t samplesPerSecond = 44100,
                              uint16_t bitsPerSample = 16);

// Writes the header at the start of the open file (a new file, or one whose samples are all
// written, to give it its final sizes). False when the system refuses.
bool WriteWavHeader(int fd, const TWavHeader& header);
