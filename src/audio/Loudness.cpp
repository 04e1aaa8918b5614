#include "Loudness.h"

#include <ebur128.h>

#include <cmath>
#include <cstdio>
#include <cstring>

TLoudness::TLoudness(unsigned channels, unsigned long rate)
    : m_state(ebur128_init(channels, rate, EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK))
    , m_channels(channels)
{
}

TLoudness::~TLoudness()
{
    if (m_state)
        ebur128_destroy(&m_state);
}

void TLoudness::Add(const uint8_t* bytes, std::size_t count)
{
    if (!m_state)
        return;
    const std::size_t frames = count / (2 * m_channels);
    m_frames.resize(frames * m_channels);
    std::memcpy(m_frames.data(), bytes, frames * m_channels * 2);  // little-endian, as the machine
    ebur128_add_frames_short(m_state, m_frames.data(), frames);
}

double TLoudness::Lufs() const
{
    double lufs = -HUGE_VAL;
    if (m_state)
        ebur128_loudness_global(m_state, &lufs);
    return lufs;
}

double TLoudness::Peak() const
{
    double peak = 0;
    for (unsigned c = 0; m_state && c < m_channels; ++c) {
        double p = 0;
        if (ebur128_sample_peak(m_state, c, &p) == EBUR128_SUCCESS)
            peak = std::max(peak, p);
    }
    return peak;
}

double TLoudness::AlbumLufs(const std::vector<const TLoudness*>& tracks)
{
    std::vector<ebur128_state*> states;
    for (const TLoudness* t : tracks)
        if (t && t->m_state)
            states.push_back(t->m_state);
    double lufs = -HUGE_VAL;
    if (!states.empty())
        ebur128_loudness_global_multiple(states.data(), states.size(), &lufs);
    return lufs;
}

double TLoudness::AlbumPeak(const std::vector<const TLoudness*>& tracks)
{
    double peak = 0;
    for (const TLoudness* t : tracks)
        if (t)
            peak = std::max(peak, t->Peak());
    return peak;
}

std::string ReplayGainText(double lufs)
{
    const double gain = std::isfinite(lufs) ? -18.0 - lufs : 0.0;
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f dB", gain);
    return text;
}

std::string ReplayPeakText(double peak)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", peak);
    return text;
}
