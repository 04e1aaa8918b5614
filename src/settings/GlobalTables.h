#pragma once
// The genre names offered for ID3 tags and the WMA encoder profiles. Fixed at build time.

#include <array>
#include <cstdint>
#include <string_view>

struct TGenreName {
    const char* Name;
    uint8_t Code;  // ID3v1 genre code, 0..147
};

constexpr int GenreCount = 148;

// The ID3v1 genre list with its extensions up to code 147, sorted by name. A genre choice is a
// position in a list whose entry 0 is empty and whose entries 1..148 are these; -1 is no choice.
extern const std::array<TGenreName, GenreCount> GenreNames;

// Position of name in GenreNames counted from 0, by exact comparison; -1 when absent.
// GenreIndexOf("Rock") is 117, so its genre choice is 118.
int GenreIndexOf(std::string_view name);

struct TWMAProfile {
    const char* Setting;  // the encoder's -a_setting value: kbit/s _ kHz rounded down _ channels
    const char* Text;     // as the options dialog shows it
};

constexpr int WMAProfileCount = 33;
constexpr int DefaultWMAProfile = 8;  // 44.1 kHz, 64 kbit/s, stereo

extern const std::array<TWMAProfile, WMAProfileCount> WMAProfiles;

// Expected size of the source WAV over the size of the WMA file, times 1000, per profile:
// expected WMA bytes = WAV bytes * 1000 / ratio.
extern const std::array<int32_t, WMAProfileCount> WMASizeRatios;
