#pragma once
// What a rip-and-convert job does with its items.

#include <cstdint>

enum TJobKind : uint8_t {
    jkRipTracks = 1,    // the checked tracks of the disc
    jkWavToMp3 = 2,
    jkMp3ToWav = 3,
    jkRecordToMp3 = 4,  // the recorder's MP3 copy, beside its WAV
    jkWavToOgg = 5,
    jkWavToWma = 6,
};
