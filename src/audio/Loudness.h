#pragma once
// Loudness by EBU R128 (libebur128) for ReplayGain: a track's integrated loudness and sample peak
// measured on its 16-bit stereo samples as they pass, and an album's over several tracks, without
// a second pass over any file. ReplayGain 2.0 puts the reference at -18 LUFS.

#include <ebur128.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TLoudness {
public:
    // channels of 16-bit samples at rate.
    TLoudness(unsigned channels = 2, unsigned long rate = 44100);
    ~TLoudness();
    TLoudness(const TLoudness&) = delete;
    TLoudness& operator=(const TLoudness&) = delete;

    // Interleaved little-endian 16-bit samples; bytes beyond whole frames are ignored.
    void Add(const uint8_t* bytes, std::size_t count);

    // Integrated loudness in LUFS (-HUGE_VAL for silence), and the highest sample as a share of
    // full scale (1.0 = 32768).
    double Lufs() const;
    double Peak() const;

    // The album: integrated loudness over the tracks together, and their highest peak.
    static double AlbumLufs(const std::vector<const TLoudness*>& tracks);
    static double AlbumPeak(const std::vector<const TLoudness*>& tracks);

private:
    ebur128_state* m_state = nullptr;
    unsigned m_channels;
    std::vector<int16_t> m_frames;
};

// The ReplayGain fields: the gain to -18 LUFS as "-6.52 dB" (silence: "+0.00 dB"), a peak as
// "0.988525".
std::string ReplayGainText(double lufs);
std::string ReplayPeakText(double peak);
