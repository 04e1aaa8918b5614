#include "ACS_Converters.h"

#include <cmath>
#include <cstring>

namespace {

// The constants the filter design uses for 2 pi and 4 pi (not the exact values).
constexpr long double TwoPi = 6.28318530718L;
constexpr long double FourPi = 12.56637061436L;

// Rounds to nearest with halves to even, as nearbyint does in the default rounding mode: adding
// and taking away 1.5 x 2^52 leaves no fraction bits, and the addition rounds halves to even.
// Exact for |x| below 2^51, far beyond any value here.
inline double RoundEven(double x)
{
    constexpr double Shift = 6755399441055744.0;
    volatile double shifted = x + Shift;  // not folded away by the optimiser
    return shifted - Shift;
}

// numerator / denominator rounded to nearest, halves to even. The quotient of a 32-bit numerator
// and a denominator below 2^17 is never within 2^-34 (relative) of a half without being one, so
// the division in double precision and the rounding give the exact result.
inline int32_t RoundedQuotient(int32_t numerator, int32_t denominator)
{
    return static_cast<int32_t>(RoundEven(static_cast<double>(numerator) / denominator));
}

// A rounded value stored as a 16-bit sample keeps its low 16 bits.
inline int16_t Wrap16(double v)
{
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int64_t>(RoundEven(v))));
}

// The raising of one chunk: every input interval (from the last sample of the previous chunk to
// the first of this one, then between neighbours) interpolated onto the output grid, each value
// scattered over the next taps of the accumulator. The outputs made. Built twice, for AVX2 and
// for the baseline: the same operations in the same order, so the same bits either way.
#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer's runtime is not up yet when the loader picks a clone.
#define SONVALE_CLONES
#else
#define SONVALE_CLONES __attribute__((target_clones("avx2", "default")))
#endif
SONVALE_CLONES
int32_t RaiseFrames(double* acc, const double* spread, int32_t span, int32_t ch, const int16_t* last, const int16_t* in,
                    int32_t frames, int32_t out, int32_t rate, int32_t& phase)
{
    int32_t f = 0;
    const auto interval = [&](const int16_t* from, const int16_t* to) {
        while (phase < out) {
            double v[2] = {0, 0};
            for (int32_t c = 0; c < ch; ++c) {
                // The numerator stays within 32 bits: (out - phase) + phase = out.
                const int32_t numerator = (out - phase) * from[c] + phase * to[c];
                v[c] = RoundedQuotient(numerator, out);
            }
            double* a = acc + static_cast<std::size_t>(f) * ch;
            if (ch == 1) {
                for (int32_t j = 0; j < span; ++j)
                    a[j] += v[0] * spread[j];
            } else {
                for (int32_t j = 0; j < span; j += 2) {
                    a[j] += v[0] * spread[j];
                    a[j + 1] += v[1] * spread[j + 1];
                }
            }
            ++f;
            phase += rate;
        }
        phase -= out;
    };
    interval(last, in);
    for (int32_t i = 0; i + 1 < frames; ++i)
        interval(in + i * ch, in + (i + 1) * ch);
    return f;
}

}  // namespace

std::vector<double> BuildKernel(int32_t taps, float fc, TFilterWindowType window)
{
    std::vector<long double> h(static_cast<std::size_t>(taps));
    const long double n = taps;
    const int32_t centre = taps / 2;
    long double sum = 0;
    for (int32_t i = 0; i < taps; ++i) {
        long double w;
        switch (window) {
        case fwHamming: w = 0.54L - 0.46L * std::cos(TwoPi * i / n); break;
        case fwHann: w = (1.0L - std::cos(TwoPi * i / n)) / 2.0L; break;
        default: w = 0.42L - 0.5L * std::cos(TwoPi * i / n) + 0.08L * std::cos(FourPi * i / n); break;
        }
        const int32_t d = i - centre;
        h[i] = d == 0 ? TwoPi * fc * w : std::sin(TwoPi * fc * d) / d * w;
        sum += h[i];
    }
    std::vector<double> kernel(static_cast<std::size_t>(taps));
    for (int32_t i = 0; i < taps; ++i)
        kernel[i] = static_cast<double>(h[i] / sum);
    return kernel;
}

TRateConverter::TRateConverter() = default;

void TRateConverter::SetOutSampleRate(int32_t rate)
{
    if (rate > 0 && !Active)
        m_outRate = rate;
}

void TRateConverter::SetKernelWidth(int32_t taps)
{
    if (taps > 1 && !Active)
        m_kernelWidth = taps;
}

int32_t TRateConverter::GetChannelCount()
{
    if (!m_input)
        throw EACSException("Input not assigned");
    return m_input->GetChannelCount();
}

void TRateConverter::OpenInput()
{
    if (!m_input)
        throw EACSException("Input not assigned");
    const int32_t channels = m_input->GetChannelCount();
    const int32_t bits = m_input->GetSampleBits();
    const int32_t inRate = m_input->GetSamplingRate();
    if (channels < 1 || channels > 2)
        throw EACSException("Cannot resample " + std::to_string(channels) + " channels: only mono and stereo");
    if (bits != 8 && bits != 16)
        throw EACSException("Cannot resample " + std::to_string(bits) + "-bit samples: only 8 and 16 bits");
    if (inRate <= 0)
        throw EACSException("Cannot resample from a rate of " + std::to_string(inRate) + " Hz");
    m_input->OpenInput();
    UnlockInput(InputLocked);
    Active = true;
    DeliveredBytes = 0;
    WindowStart = 1;
    WindowEnd = 0;
    InputEnded = false;
    m_channels = channels;
    m_widen = bits == 8;
    m_inRate = inRate;

    Ratio = static_cast<float>(static_cast<long double>(m_outRate) / inRate);
    ChunkBytes = Ratio > 1 ? static_cast<int32_t>(32768.0L / Ratio) & ~3 : 32768;
    const int32_t k = m_kernelWidth;
    m_in.assign(static_cast<std::size_t>(ChunkBytes / 2), 0);
    m_out.assign(OutputBytes, 0);
    if (Ratio >= 1) {
        m_acc.assign(static_cast<std::size_t>((k + 16384 / m_channels) * m_channels), 0.0);  // K + 16384 values or K + 8192 pairs
        m_carry.assign(static_cast<std::size_t>((k - 1) * m_channels), 0.0);
    } else {
        m_history.assign(static_cast<std::size_t>((k - 1) * m_channels), 0);
    }
    // 8-bit input is widened to 16 bits as it is read: the same chunk of samples.
    if (m_widen)
        m_raw.assign(static_cast<std::size_t>(ChunkBytes / 2), 0);
    TotalBytes = static_cast<int64_t>(std::nearbyint(static_cast<long double>(Ratio) *
                                                     (m_widen ? 2 * m_input->TotalBytes : m_input->TotalBytes)));
    Phase = -1;
    m_spread.clear();
    CutOff = Ratio > 1 ? static_cast<float>(0.4L * static_cast<float>(1.0L / Ratio)) : static_cast<float>(0.4L * Ratio);
    m_kernel = BuildKernel(k, CutOff, FilterWindow);
}

void TRateConverter::CloseInput()
{
    m_carry.clear();
    m_history.clear();
    if (m_input)
        m_input->CloseInput();
    m_in.clear();
    m_out.clear();
    m_raw.clear();
    Active = false;
}

int32_t TRateConverter::FillChunk()
{
    // Under the flag for each read, so the input can be swapped between reads.
    const int32_t want = m_widen ? ChunkBytes / 2 : ChunkBytes;
    auto* target = m_widen ? m_raw.data() : reinterpret_cast<uint8_t*>(m_in.data());
    int32_t have = 0;
    int32_t last = 0;
    do {
        LockInput(InputLocked);
        try {
            last = m_input ? m_input->ReadAudio(target + have, want - have) : 0;
        } catch (...) {
            UnlockInput(InputLocked);
            throw;
        }
        UnlockInput(InputLocked);
        have += std::max(last, 0);
    } while (last > 0 && have < want);
    if (last <= 0)
        InputEnded = true;
    if (!m_widen)
        return have;
    // 8-bit WAV samples are unsigned around 128.
    for (int32_t i = 0; i < have; ++i)
        m_in[i] = static_cast<int16_t>((m_raw[i] - 128) * 256);
    return have * 2;
}

int32_t TRateConverter::ReadAudio(void* buffer, int32_t bufferSize)
{
    if (!Active)
        throw EACSException("The Stream is not opened");
    if (WindowStart > WindowEnd) {
        if (InputEnded)
            return 0;
        const int32_t bytes = FillChunk();
        if (bytes == 0)
            return 0;
        const int32_t samples = bytes / 2;
        const int32_t produced = m_inRate <= m_outRate ? Raise(samples) : Lower(samples);
        WindowStart = 1;
        WindowEnd = produced;
        if (produced == 0)
            return 0;
    }
    const int32_t count = std::min(bufferSize, WindowEnd - WindowStart + 1);
    std::memcpy(buffer, m_out.data() + WindowStart - 1, static_cast<std::size_t>(count));
    WindowStart += count;
    // Progress follows the input's.
    if (m_input && m_input->TotalBytes > 0)
        DeliveredBytes = static_cast<int64_t>(std::nearbyint(static_cast<long double>(TotalBytes) /
                                                             m_input->TotalBytes * m_input->DeliveredBytes));
    else
        DeliveredBytes += count;
    return count;
}

int32_t TRateConverter::Raise(int32_t samples)
{
    const int32_t k = m_kernelWidth;
    const int32_t ch = m_channels;
    const int32_t frames = samples / ch;
    const int32_t out = m_outRate, in = m_inRate;
    if (frames == 0)
        return 0;  // a trailing part of a frame carries no sample
    // Room for the outputs of this chunk: at most 16384 samples or 8192 frames by the chunk's
    // sizing, plus the few a phase carried over may add.
    const std::size_t needed = static_cast<std::size_t>((k + static_cast<int64_t>(frames) * out / in + 2) * ch);
    if (m_acc.size() < needed)
        m_acc.resize(needed);
    std::fill(m_acc.begin(), m_acc.end(), 0.0);
    std::copy(m_carry.begin(), m_carry.end(), m_acc.begin());
    std::fill(m_carry.begin(), m_carry.end(), 0.0);
    if (Phase < 0)
        Phase = 0;
    // The kernel laid out for the accumulator's stride: one tap per channel slot, so the scatter
    // of both channels is one straight run the compiler can vectorise.
    if (m_spread.size() != static_cast<std::size_t>(k * ch)) {
        m_spread.resize(static_cast<std::size_t>(k * ch));
        for (int32_t i = 0; i < k; ++i)
            for (int32_t c = 0; c < ch; ++c)
                m_spread[static_cast<std::size_t>(i * ch + c)] = m_kernel[static_cast<std::size_t>(i)];
    }
    const int32_t f = RaiseFrames(m_acc.data(), m_spread.data(), k * ch, ch, m_last, m_in.data(), frames, out, in, Phase);
    for (int32_t c = 0; c < ch; ++c)
        m_last[c] = m_in[static_cast<std::size_t>((frames - 1) * ch + c)];

    const std::size_t outBytes = static_cast<std::size_t>(f) * ch * 2;
    if (m_out.size() < outBytes)
        m_out.resize(outBytes);
    auto* o = reinterpret_cast<int16_t*>(m_out.data());
    for (int32_t n = 0; n < f * ch; ++n)
        o[n] = Wrap16(m_acc[static_cast<std::size_t>(n)]);
    std::copy(m_acc.begin() + static_cast<std::ptrdiff_t>(f) * ch,
              m_acc.begin() + static_cast<std::ptrdiff_t>(f + k - 1) * ch, m_carry.begin());
    return static_cast<int32_t>(outBytes);
}

int32_t TRateConverter::Lower(int32_t samples)
{
    const int32_t k = m_kernelWidth;
    const int32_t ch = m_channels;
    const int32_t frames = samples / ch;
    const int32_t out = m_outRate, in = m_inRate;
    if (frames == 0)
        return 0;
    if (Phase < 0)
        Phase = out;
    // The carried samples followed by this chunk, so short chunks filter correctly too.
    std::vector<int16_t> s(m_history);
    s.insert(s.end(), m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(frames) * ch);
    auto* o = reinterpret_cast<int16_t*>(m_out.data());
    int32_t produced = 0;
    for (int32_t j = 0; j < frames; ++j) {
        if (Phase > out) {
            Phase -= out;
            continue;
        }
        for (int32_t c = 0; c < ch; ++c) {
            long double sum = 0;
            for (int32_t t = 0; t < k; ++t)  // s(j - t) sits at (k - 1 + j - t) in s
                sum += m_kernel[static_cast<std::size_t>(k - 1 - t)] *
                       static_cast<long double>(s[static_cast<std::size_t>((k - 1 + j - t) * ch + c)]);
            o[produced * ch + c] = Wrap16(static_cast<double>(sum));
        }
        ++produced;
        Phase += in - out;
    }
    std::copy(s.end() - static_cast<std::ptrdiff_t>(k - 1) * ch, s.end(), m_history.begin());
    return produced * ch * 2;
}
